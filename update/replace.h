// The acts of an update, which change the disk: the new files are staged
// beside the installed ones and checked again, then moved over them all or
// nothing, or queued to be moved when Windows next starts.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/error.h"

namespace update {

struct FileReplacement {
    std::wstring source;
    std::wstring destination;
};

// An installed file is held open by another program: Windows refused to open
// it for writing and deletion, or the move over it, and the update was not
// put off to the next restart. Nothing was changed. Run-time error 70, as
// any refused access.
class FileInUse : public runtime::RuntimeError {
public:
    FileInUse() noexcept : runtime::RuntimeError(runtime::kPermissionDenied) {}
};

// Windows refused to let the run write into the proofing folder (access
// denied) and the run has no administrator rights: XP runs the program with
// the rights of whoever starts it, whatever the manifest asks. Nothing was
// changed. Run-time error 70.
class NeedsAdministrator : public runtime::RuntimeError {
public:
    NeedsAdministrator() noexcept : runtime::RuntimeError(runtime::kPermissionDenied) {}
};

// How a copy gets its file in the proofing folder: GetTempFileNameW, or a
// test's that stands in for a folder the run may not write to, which Wine,
// enforcing no ACLs, never refuses. Returns the one it replaces.
using TempFileNameFunction = UINT(WINAPI*)(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name);
TempFileNameFunction SetTempFileName(TempFileNameFunction make) noexcept;

// A later file failed and an earlier one could not be put back: it keeps the
// new contents, and its previous contents are kept beside it under a name
// that says so (see ReplaceFilesTogether).
class PartlyReplaced : public runtime::RuntimeError {
public:
    explicit PartlyReplaced(int number) noexcept : runtime::RuntimeError(number) {}
};

// Moves a file over another in one step; false, with the last error set,
// when it cannot.
bool MoveInPlace(const std::wstring& from, const std::wstring& to);
using MoveFunction = std::function<bool(const std::wstring& from, const std::wstring& to)>;

// Puts every source in place of its destination, or changes nothing:
// - every destination must be writable and not read-only before anything is
//   touched (UpdateFiles has checked that every source can be read);
// - each source is first copied in full to a temporary file beside its
//   destination, on disk, then moved over it in one step; a move refused
//   (another program has just opened the file) is tried for a second;
// - when a later move fails, the destinations already replaced get their
//   previous contents back, from copies on disk;
// - no temporary or backup file is left behind, except a copy of previous
//   contents that could not be put back: it is renamed to the destination's
//   name plus ".anterior" (".anterior2", ... when that name is taken) and
//   PartlyReplaced is raised.
// A destination or copy that Windows refuses to let a run without
// administrator rights write raises NeedsAdministrator before anything else.
// Other failures raise FileInUse, error 53 (a source is missing), 70 (access
// refused) or 75. Every step and failure is written to the log.
// The staged copies are checked again (CheckNewFiles) before any move.
// Tests hand in a move of their own to make one fail, and a function that
// sees each staged copy once it is on disk, to change it.
using StagedFunction = std::function<void(const std::wstring& staged)>;
void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move = MoveInPlace,
                          const StagedFunction& staged = nullptr);

// Full copies beside the installed files, checked again, queued to be moved
// over them when Windows next starts, in order, before any program can hold
// them, after whatever is queued already. All or nothing (FileInUse): nothing
// is queued onto a value whose pairs are not certain, and what was queued is
// taken out again when a later one is refused or ours do not read back whole
// and in order (see QueueRenames). Only then are the updater's earlier copies
// for these files taken out: a failed run leaves them waiting.
void QueueForRestart(const std::vector<FileReplacement>& replacements);

}  // namespace update
