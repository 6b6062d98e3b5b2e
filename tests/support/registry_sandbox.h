// A key of the test's own under HKEY_LOCAL_MACHINE\SOFTWARE, removed before and after.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

class RegistrySandbox {
public:
    explicit RegistrySandbox(const std::wstring& name);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // The path below HKEY_LOCAL_MACHINE.
    const std::wstring& Subkey() const { return subkey_; }
    // Creates the key (values are added with the calls below).
    void Create();
    void SetString(const std::wstring& name, const std::wstring& data);
    void SetBinary(const std::wstring& name, std::size_t bytes);
    void SetDword(const std::wstring& name, DWORD data);

private:
    std::wstring subkey_;
};

}  // namespace testing_support
