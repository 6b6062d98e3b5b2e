// One owner per Windows handle: each closes its handle once, with its own closer.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace runtime {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }
    Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Handle handle = Traits::Invalid()) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    Handle handle_ = Traits::Invalid();
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle key) noexcept { RegCloseKey(key); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

struct FindTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle search) noexcept { FindClose(search); }
};
using FindHandle = UniqueHandle<FindTraits>;

struct FileTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle file) noexcept { CloseHandle(file); }
};
using FileHandle = UniqueHandle<FileTraits>;

// Kernel objects whose "no handle" is null: mutexes, events, processes.
struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle object) noexcept { CloseHandle(object); }
};
using KernelObject = UniqueHandle<KernelObjectTraits>;

struct LibraryTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle module) noexcept { FreeLibrary(module); }
};
using Library = UniqueHandle<LibraryTraits>;
// A view of a file mapping.
struct MappedViewTraits {
    using Handle = const void*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle view) noexcept { UnmapViewOfFile(view); }
};
using MappedView = UniqueHandle<MappedViewTraits>;

// The CryptoAPI's provider context and hash objects.
struct CryptProviderTraits {
    using Handle = ULONG_PTR;
    static Handle Invalid() noexcept { return 0; }
    static void Close(Handle provider) noexcept { CryptReleaseContext(provider, 0); }
};
using CryptProvider = UniqueHandle<CryptProviderTraits>;
struct CryptHashTraits {
    using Handle = ULONG_PTR;
    static Handle Invalid() noexcept { return 0; }
    static void Close(Handle hash) noexcept { CryptDestroyHash(hash); }
};
using CryptHash = UniqueHandle<CryptHashTraits>;

// Memory that Windows allocated for the caller with LocalAlloc: security descriptors, SID texts.
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle memory) noexcept { LocalFree(memory); }
};
using LocalMemory = UniqueHandle<LocalMemoryTraits>;

// A SID made by AllocateAndInitializeSid.
struct SidTraits {
    using Handle = PSID;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle sid) noexcept { FreeSid(sid); }
};
using AllocatedSid = UniqueHandle<SidTraits>;

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle object) noexcept { DeleteObject(object); }
};
using GdiObject = UniqueHandle<GdiObjectTraits>;

struct GlobalMemoryTraits {
    using Handle = HGLOBAL;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle memory) noexcept { GlobalFree(memory); }
};
using GlobalMemory = UniqueHandle<GlobalMemoryTraits>;

struct IconTraits {
    using Handle = HICON;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle icon) noexcept { DestroyIcon(icon); }
};
using Icon = UniqueHandle<IconTraits>;

struct WindowTraits {
    using Handle = HWND;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle window) noexcept { DestroyWindow(window); }
};
using Window = UniqueHandle<WindowTraits>;

}  // namespace runtime
