// Replacing installed files with new ones, all or nothing, now or at the
// next restart, and never when what is installed is already as new.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runtime/error.h"

namespace runtime {

struct FileReplacement {
    std::wstring source;
    std::wstring destination;
};

// An installed file is held open by another program: Windows refused to open
// it for writing and deletion, or the move over it, and the update was not
// put off to the next restart. Nothing was changed. Run-time error 70, as
// any refused access.
class FileInUse : public RuntimeError {
public:
    FileInUse() noexcept : RuntimeError(kPermissionDenied) {}
};

// A later file failed and an earlier one could not be put back: it keeps the
// new contents, and its previous contents are kept beside it under a name
// that says so (see ReplaceFilesTogether).
class PartlyReplaced : public RuntimeError {
public:
    explicit PartlyReplaced(int number) noexcept : RuntimeError(number) {}
};

// How an update ended, when it did not fail.
enum class Update {
    kReplaced,          // the new files are in place
    kAlreadyThere,      // the installed files were the same: nothing was touched
    kInstalledIsNewer,  // an installed file has a higher version: nothing was touched
    kAtNextRestart,     // files in use: Windows puts the new ones in place when it next starts
};

// Puts the new files in place of the installed ones, deciding first, before
// anything is written:
// - nothing is touched when every installed file is the same as its new one
//   (SameContents), or when an installed file's version is higher than its
//   new one's (IsNewer);
// - nothing is queued again when the restart already puts these same new
//   files in place;
// - installed files that another program holds (opened without sharing
//   writing or deletion, or loaded as a DLL) are named to the person, who
//   may try again, have them replaced at the next restart, or cancel
//   (FileInUse); an unattended run has them replaced at the next restart;
// - otherwise they are replaced now, together (ReplaceFilesTogether).
// A source that cannot be read raises its error, and new files that fail
// their checks (CheckNewFiles) raise DamagedFiles, before any of that.
// Whatever is in place now, the restart is never left to undo it.
Update UpdateFiles(const std::vector<FileReplacement>& replacements);

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
// Other failures raise FileInUse, error 53 (a source is missing), 70 (access
// refused) or 75. Every step and failure is written to the log.
// The staged copies are checked again (CheckNewFiles) before any move.
// Tests hand in a move of their own to make one fail, and a function that
// sees each staged copy once it is on disk, to change it.
using StagedFunction = std::function<void(const std::wstring& staged)>;
void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move = MoveInPlace,
                          const StagedFunction& staged = nullptr);

// Whether installed holds what source holds: byte for byte, or, when another
// program holds installed so that it cannot even be read, the same size and
// last-write time (a copy keeps its source's time).
bool SameContents(const std::wstring& source, const std::wstring& installed);

// Whether an installed file's version is higher than its new one's; never
// when either has none.
bool IsNewer(std::optional<std::uint64_t> installed, std::optional<std::uint64_t> incoming);

}  // namespace runtime
