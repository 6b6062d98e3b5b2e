#include "runtime/paths.h"

#include <windows.h>

#include "runtime/strings.h"

namespace runtime {

std::wstring FullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) return path;
        if (length < full.size()) return full.substr(0, length);
        full.resize(length);
    }
}

std::wstring ComparablePath(const std::wstring& path) { return LCase(FullPath(path)); }

std::wstring ParentFolder(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring FolderPrefix(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

}  // namespace runtime
