// The renames Windows carries out when it next starts, before any program
// runs (PendingFileRenameOperations, then PendingFileRenameOperations2, which
// some systems write as well). Other programs' entries, and any entry the
// program does not understand, are read and kept exactly as they are; only
// the updater's own entries are ever taken out.
#pragma once

#include <string>
#include <vector>

namespace update {

// The first value as it stands, in order: a source, then its destination ("!"
// before it: replace what is there; empty: delete the source), and so on.
std::vector<std::wstring> QueuedRenames();
// Writes the first value; an empty one is removed. The last error on failure.
bool SetQueuedRenames(const std::vector<std::wstring>& strings);

// A rename queued onto a file.
struct QueuedRename {
    std::wstring source;
    bool ours = false;  // from one of the updater's own copies beside the file
};
// The renames queued onto destination, in the order the restart carries
// them out: the last one leaves its file there.
std::vector<QueuedRename> RenamesOnto(const std::wstring& destination);

// Queues from to replace to at the next restart; false, with the last error
// set, when Windows refuses (it needs an administrator, and a local disk).
bool QueueRename(const std::wstring& from, const std::wstring& to);

// Takes the updater's own renames onto the destinations out of the queue,
// but for those of the copies kept, so that the next restart cannot undo
// what is in place now; their copies are deleted. Best effort: failures are
// logged.
void Unqueue(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& kept = {});
// Takes the renames of these copies of the updater's out, and deletes them.
void UnqueueCopies(const std::vector<std::wstring>& copies);

}  // namespace update
