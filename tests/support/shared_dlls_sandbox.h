// The machine's shared-DLL key, filled by a test: its values are kept aside
// while the test runs and put back afterwards.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

class SharedDllsSandbox {
public:
    SharedDllsSandbox();
    ~SharedDllsSandbox();
    SharedDllsSandbox(const SharedDllsSandbox&) = delete;
    SharedDllsSandbox& operator=(const SharedDllsSandbox&) = delete;

    // Creates the key if needed and adds these value names, in this order.
    void Fill(const std::vector<std::wstring>& names);
    // Removes the key and everything in it.
    void Clear();

private:
    struct Saved {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool existed_ = false;
    std::vector<Saved> saved_;
};

}  // namespace testing_support
