#include "tests/support/restart_queue_sandbox.h"

#include <windows.h>

#include <algorithm>

#include "runtime/handles.h"

namespace testing_support {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

}  // namespace

std::optional<std::string> RestartQueueSandbox::Value(const wchar_t* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return {};
    const runtime::RegistryKey key(opened);
    DWORD bytes = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return {};
    std::string data(bytes, '\0');
    const LONG read = RegQueryValueExW(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &bytes);
    data.resize(bytes);
    return read == ERROR_SUCCESS ? std::optional(data) : std::nullopt;
}

std::string RestartQueueSandbox::Bytes(const std::vector<std::wstring>& strings) {
    std::wstring text;
    for (const std::wstring& string : strings) text += string + L'\0';
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void RestartQueueSandbox::SetValue(const wchar_t* name, const std::optional<std::string>& bytes) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &opened) != ERROR_SUCCESS) return;
    const runtime::RegistryKey key(opened);
    if (!bytes) {
        RegDeleteValueW(key.Get(), name);
        return;
    }
    RegSetValueExW(key.Get(), name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(bytes->data()),
                   static_cast<DWORD>(bytes->size()));
}

void RestartQueueSandbox::Restore() {
    for (const std::wstring& queued : Queued()) {
        if (queued.starts_with(L"\\??\\") && std::ranges::find(queued_, queued) == queued_.end()) {
            DeleteFileW(queued.substr(4).c_str());
        }
    }
    SetValue(kPendingRenames, saved_[0]);
    SetValue(kPendingRenames2, saved_[1]);
    update::QueueCallsInUse() = calls_;
}

}  // namespace testing_support
