#include "tests/support/restart_queue_sandbox.h"

#include <algorithm>

namespace testing_support {

namespace {

constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kValue[] = L"PendingFileRenameOperations";

std::optional<std::vector<std::wstring>> Read() {
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, L'\0');
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<std::wstring> strings;
    for (std::size_t at = 0; at + 1 < bytes / sizeof(wchar_t);) {
        strings.emplace_back(data.data() + at);
        at += strings.back().size() + 1;
    }
    return strings;
}

}  // namespace

RestartQueueSandbox::RestartQueueSandbox() : saved_(Read()) {}

std::vector<std::wstring> RestartQueueSandbox::Queued() { return Read().value_or(std::vector<std::wstring>()); }

void RestartQueueSandbox::Restore() {
    const std::vector<std::wstring> before = saved_.value_or(std::vector<std::wstring>());
    for (const std::wstring& queued : Queued()) {
        if (queued.starts_with(L"\\??\\") && std::ranges::find(before, queued) == before.end()) {
            DeleteFileW(queued.substr(4).c_str());
        }
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (saved_) {
        std::wstring data;
        for (const std::wstring& text : *saved_) data += text + L'\0';
        data += L'\0';
        RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, kValue);
    }
    RegCloseKey(key);
}

}  // namespace testing_support
