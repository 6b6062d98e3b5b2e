// The renames Windows carries out when it next starts, before any program
// runs (PendingFileRenameOperations). Other programs' entries are read and
// kept as they are; only entries for the files asked about are changed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace runtime {

// The queue as it stands, in order: a source, then its destination ("!"
// before it: replace what is there; empty: delete the source), and so on.
std::vector<std::wstring> QueuedRenames();
// Writes the queue; an empty one is removed. The last error on failure.
bool SetQueuedRenames(const std::vector<std::wstring>& strings);

// The file that the last queued rename puts in place of destination, when
// one is queued: it is the one the restart leaves there.
std::optional<std::wstring> QueuedSource(const std::wstring& destination);

// Queues from to replace to at the next restart; false, with the last error
// set, when Windows refuses (it needs an administrator, and a local disk).
bool QueueRename(const std::wstring& from, const std::wstring& to);

// Takes every queued rename onto one of the destinations out of the queue,
// so that the next restart cannot undo what is in place; a file that such a
// rename would have moved is deleted when it is one of the updater's own
// copies beside its destination. Best effort: failures are logged.
void Unqueue(const std::vector<std::wstring>& destinations);

}  // namespace runtime
