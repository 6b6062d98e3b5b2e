// Paths as Windows takes them: made full, compared, and split at the folder.
#pragma once

#include <string>

namespace runtime {

// The path made full (GetFullPathNameW), or as it is when it cannot be.
std::wstring FullPath(const std::wstring& path);
// The full path in lower case: the same file whatever the form of its name.
std::wstring ComparablePath(const std::wstring& path);

// The folder that holds path, as a path of its own to hand to Windows: no
// trailing backslash, and "." (the current folder) for a bare name. Either
// slash ends the folder.
std::wstring ParentFolder(const std::wstring& path);
// The text before path's name: its folder with the trailing backslash, or
// nothing for a bare name, so that the name starts at its length.
std::wstring FolderPrefix(const std::wstring& path);

}  // namespace runtime
