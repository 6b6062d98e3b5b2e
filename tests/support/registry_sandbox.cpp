#include "tests/support/registry_sandbox.h"

#include <aclapi.h>
#include <shlwapi.h>

#include <vector>

#include "gtest/gtest.h"

namespace testing_support {

namespace {

void SetValue(const std::wstring& subkey, const std::wstring& name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_SET_VALUE, &key));
    const LONG result = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, result) << "value of " << name.size() << " characters";
}

// A test may deny reading its key, and a key that cannot be read cannot be
// deleted: the key is opened to everyone first (a null DACL).
void RemoveKey(const std::wstring& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
    }
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, subkey.c_str());
}

}  // namespace

RegistrySandbox::RegistrySandbox(const std::wstring& name) : subkey_(L"SOFTWARE\\ActualizadorTests\\" + name) {
    RemoveKey(subkey_);
}

RegistrySandbox::~RegistrySandbox() {
    RemoveKey(subkey_);
    SHDeleteEmptyKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ActualizadorTests");
}

void RegistrySandbox::Create() {
    HKEY key = nullptr;
    LONG result = ERROR_KEY_DELETED;
    // Cases run two at a time: another one ending may be deleting the shared
    // parent key just then, and the next attempt makes it again.
    for (int attempt = 0; result == ERROR_KEY_DELETED && attempt < 10; ++attempt) {
        result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr);
    }
    ASSERT_EQ(ERROR_SUCCESS, result);
    RegCloseKey(key);
}

void RegistrySandbox::SetString(const std::wstring& name, const std::wstring& data) {
    SetValue(subkey_, name, REG_SZ, data.c_str(), static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

void RegistrySandbox::SetBinary(const std::wstring& name, std::size_t bytes) {
    const std::vector<BYTE> data(bytes, 0x5A);
    SetValue(subkey_, name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

void RegistrySandbox::SetDword(const std::wstring& name, DWORD data) {
    SetValue(subkey_, name, REG_DWORD, &data, sizeof data);
}

}  // namespace testing_support
