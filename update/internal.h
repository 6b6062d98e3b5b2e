// What the update's rules and its acts both need: how Windows' refusals
// are told and raised, and how an installed file is asked whether it can be
// replaced. Private to update/.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "runtime/handles.h"
#include "update/replace.h"

namespace update {

// A refusal that means another program holds the file.
inline bool InUse(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// The run-time error that stands for a Windows error.
inline int ErrorNumberFor(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return runtime::kFileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return runtime::kPermissionDenied;
    default:
        return runtime::kPathFileAccessError;
    }
}
[[noreturn]] void RaiseSystemError(DWORD error);
// An installed file that Windows refused for a sharing or lock violation is
// held by another program; any other refusal is raised as it is.
[[noreturn]] void RaiseForInstalledFile(DWORD error);
// Logs the last error with what was being done and to which file, then raises it.
[[noreturn]] void RaiseLastError(std::wstring_view what, const std::wstring& file);

// A file's size for the log.
std::wstring SizeText(HANDLE file);

// Opened only to ask, for writing and deletion, as the move over it will
// need: a program that holds the file without sharing either, or has it
// loaded as a DLL, makes Windows refuse with a sharing violation.
runtime::FileHandle OpenToReplace(const std::wstring& destination);

// The new files come from one folder, which holds their list when there is one.
std::wstring SourceFolder(const std::vector<FileReplacement>& replacements);
std::vector<std::wstring> Destinations(const std::vector<FileReplacement>& replacements);

}  // namespace update
