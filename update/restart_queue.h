// The renames Windows carries out when it next starts, before any program
// runs (PendingFileRenameOperations, then PendingFileRenameOperations2, which
// some systems write as well). Other programs' entries, and any entry the
// program does not understand, are kept byte for byte; only the updater's
// own entries are ever taken out, and only from a value that is whole pairs
// closed by one empty string, the one shape whose pairs are certain.
#pragma once

#include <string>
#include <vector>

namespace update {

// The first value's strings as they stand, in order: a source, then its
// destination ("!" before it: replace what is there; empty: delete the
// source), and so on.
std::vector<std::wstring> QueuedRenames();

// A rename queued onto a file.
struct QueuedRename {
    std::wstring source;
    bool ours = false;  // from one of the updater's own copies beside the file
};
// The renames queued onto destination, in the order the restart carries
// them out: the last one leaves its file there. A queued destination is
// destination when it names a file of that name in the same folder, known by
// the folder's identity on its volume, however the path is written (short
// names, other case, "\??\" or "\\?\"); one on another computer never is.
std::vector<QueuedRename> RenamesOnto(const std::wstring& destination);

// Queues each copy to replace its destination at the next restart, in order,
// after whatever is queued. Only when both values are absent or whole pairs
// closed by one empty string, where appending cannot shift or glue pairs;
// and ours must read back whole and in order, or they are taken out again.
// False when nothing of ours is left queued; the reason is logged.
bool QueueRenames(const std::vector<std::wstring>& copies, const std::vector<std::wstring>& destinations);

// Takes the updater's own renames onto the destinations out of the queue,
// but for those of the copies kept, so that the next restart cannot undo
// what is in place now; their copies are deleted. A value that cannot be
// split into whole pairs is left as it is, but our copies named in it are
// still deleted: their renames then fail harmlessly. Best effort: failures
// are logged.
void Unqueue(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& kept = {});

}  // namespace update
