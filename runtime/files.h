// Replacing installed files with new ones, all or nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/error.h"

namespace runtime {

struct FileReplacement {
    std::wstring source;
    std::wstring destination;
};

// An installed file is held open by another program: Windows refused to open
// it for writing, or the move over it, with a sharing or lock violation.
// Nothing was changed. Run-time error 70, as any refused access.
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

// Moves a file over another in one step; false, with the last error set,
// when it cannot.
bool MoveInPlace(const std::wstring& from, const std::wstring& to);
using MoveFunction = std::function<bool(const std::wstring& from, const std::wstring& to)>;

// Puts every source in place of its destination, or changes nothing:
// - every source must be readable, and every destination writable and not
//   read-only, before anything is touched;
// - each source is first copied in full to a temporary file beside its
//   destination, on disk, then moved over it in one step;
// - when a later move fails, the destinations already replaced get their
//   previous contents back, from copies on disk;
// - no temporary or backup file is left behind, except a copy of previous
//   contents that could not be put back: it is renamed to the destination's
//   name plus ".anterior" (".anterior2", ... when that name is taken) and
//   PartlyReplaced is raised.
// Other failures raise FileInUse, error 53 (a source is missing), 70 (access
// refused) or 75. Every step and failure is written to the log.
// Tests hand in a move of their own to make one fail.
void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move = MoveInPlace);

// Whether a replacement has begun to write beside the installed files: from
// then on, ending the program at once could leave them half done.
bool ReplacementStarted() noexcept;

}  // namespace runtime
