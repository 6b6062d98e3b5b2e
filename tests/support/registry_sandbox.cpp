#include "tests/support/registry_sandbox.h"

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

}  // namespace

RegistrySandbox::RegistrySandbox(const std::wstring& name) : subkey_(L"SOFTWARE\\ActualizadorTests\\" + name) {
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, subkey_.c_str());
}

RegistrySandbox::~RegistrySandbox() {
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, subkey_.c_str());
    SHDeleteEmptyKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ActualizadorTests");
}

void RegistrySandbox::Create() {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
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
