// The custom actions' handle owners: one owner per handle, each with its own
// "no handle" and its own closer. The package's DLL uses none of the
// program's layers, so it has owners of its own.
#pragma once

#include <windows.h>

namespace msi {

template <typename Traits>
class Owner {
public:
    using Handle = typename Traits::Handle;

    explicit Owner(Handle handle = Traits::None()) noexcept : handle_(handle) {}
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    ~Owner() {
        if (handle_ != Traits::None()) Traits::Close(handle_);
    }
    Handle Get() const noexcept { return handle_; }
    Handle* Receive() noexcept { return &handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::None(); }

private:
    Handle handle_;
};

struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle None() noexcept { return nullptr; }
    static void Close(Handle object) noexcept { CloseHandle(object); }
};
using KernelObject = Owner<KernelObjectTraits>;

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle None() noexcept { return nullptr; }
    static void Close(Handle key) noexcept { RegCloseKey(key); }
};
using RegistryKey = Owner<RegistryKeyTraits>;

struct FileTraits {
    using Handle = HANDLE;
    static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle file) noexcept { CloseHandle(file); }
};
using File = Owner<FileTraits>;

}  // namespace msi
