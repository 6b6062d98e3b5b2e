// The new files are checked before they are put in place: a half-copied,
// foreign or empty file must never replace a working speller.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "runtime/error.h"
#include "update/rules.h"

namespace update {

// The list that a release carries beside the new files: one line per file,
// its SHA-256 in hex, its size in bytes and its name, separated by spaces:
//   <64 hex digits> <size> QUENDOR.DLL
// In UTF-8, with or without its mark, or UTF-16LE with its mark, as editors
// and PowerShell save it; lines end in CRLF or LF, blanks before that allowed.
inline constexpr wchar_t kIntegrityListName[] = L"QUENDOR.LST";

// A new file failed a check: nothing was touched. Run-time error 75, as a
// file that cannot be used.
class DamagedFiles : public runtime::RuntimeError {
public:
    DamagedFiles() noexcept : runtime::RuntimeError(runtime::kPathFileAccessError) {}
};

// The list beside the new files cannot be opened, read or parsed: nothing was
// touched. Its own fault, since the files themselves may well be sound.
class UnreadableList : public runtime::RuntimeError {
public:
    UnreadableList() noexcept : runtime::RuntimeError(runtime::kPathFileAccessError) {}
};

// This Windows cannot compute SHA-256 (XP SP2 and earlier): the provider
// type or the algorithm is missing, or the provider's DLL cannot be loaded.
// Nothing was touched.
class NoSha256 : public runtime::RuntimeError {
public:
    NoSha256() noexcept : runtime::RuntimeError(runtime::kPathFileAccessError) {}
};

// How the SHA-256 provider is had: CryptAcquireContextW, or a test's that
// stands in for a Windows without it. Returns the one it replaces.
using AcquireContextFunction = BOOL(WINAPI*)(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR name, DWORD type,
                                             DWORD flags);
AcquireContextFunction SetAcquireContext(AcquireContextFunction acquire) noexcept;

// Checks the new files. Each file's source holds the contents to check; the
// name of its destination says which file it is. With kIntegrityListName in
// listFolder, every file must match its line there (size and SHA-256) and
// nothing else is asked (a Windows that cannot compute SHA-256 raises
// NoSha256); a list that cannot be opened, read or parsed, in any of its
// lines, is logged and raises UnreadableList. Without it, the
// engine (the name ending in .DLL) must be a whole 32-bit Windows DLL whose
// section table and sections lie inside the file and whose header checksum,
// when not 0, is the file's; any other file must not be empty. The first
// check that fails is logged with its file and raises DamagedFiles; a file
// that cannot be read raises its error.
void CheckNewFiles(const std::vector<FileReplacement>& files, const std::wstring& listFolder);

}  // namespace update
