#include "tests/support/shared_dlls_sandbox.h"

#include <shlwapi.h>

namespace testing_support {

namespace {

constexpr wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

HKEY OpenForWriting() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

}  // namespace

SharedDllsSandbox::SharedDllsSandbox() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        existed_ = true;
        std::vector<wchar_t> name(16384);
        for (DWORD i = 0;; ++i) {
            DWORD nameSize = 16384, type = 0, size = 0;
            if (RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
            Saved value{std::wstring(name.data(), nameSize), type, std::vector<BYTE>(size)};
            nameSize = 16384;
            RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, value.data.data(), &size);
            saved_.push_back(std::move(value));
        }
        RegCloseKey(key);
    }
    Clear();
}

SharedDllsSandbox::~SharedDllsSandbox() {
    Clear();
    if (!existed_) return;
    const HKEY key = OpenForWriting();
    for (const Saved& value : saved_) {
        RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
    }
    RegCloseKey(key);
}

void SharedDllsSandbox::Clear() { SHDeleteKeyW(HKEY_LOCAL_MACHINE, kSharedDlls); }

void SharedDllsSandbox::Fill(const std::vector<std::wstring>& names) {
    const HKEY key = OpenForWriting();
    const DWORD one = 1;
    for (const auto& name : names) {
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
    RegCloseKey(key);
}

}  // namespace testing_support
