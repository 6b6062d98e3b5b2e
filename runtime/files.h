// Replacing installed files with new ones, all or nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace runtime {

struct FileReplacement {
    std::wstring source;
    std::wstring destination;
};

// Moves a file over another in one step; false, with the last error set,
// when it cannot.
bool MoveInPlace(const std::wstring& from, const std::wstring& to);
using MoveFunction = std::function<bool(const std::wstring& from, const std::wstring& to)>;

// Puts every source in place of its destination, or changes nothing:
// - every source must be readable and no destination read-only, before
//   anything is touched;
// - each source is first copied in full to a temporary file beside its
//   destination, then moved over it in one step;
// - when a later move fails, the destinations already replaced get their
//   previous contents back;
// - no temporary or backup file is left behind, except a backup that could
//   not be put back: it holds the only copy of the previous contents.
// A failure raises error 53 (a source is missing), 70 (access refused) or 75.
// Tests hand in a move of their own to make one fail.
void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move = MoveInPlace);

}  // namespace runtime
