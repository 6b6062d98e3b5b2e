// The renames Windows carries out when it next starts, before any program
// runs: PendingFileRenameOperations, then PendingFileRenameOperations2 where
// it exists. Other programs' entries, and any entry the program does not
// understand, are kept byte for byte; only the updater's own entries are
// ever taken out, and only from a value that is whole pairs closed by one
// empty string, the one shape whose pairs are certain.
// The updater's own entries are known by what they are, not by their text:
// Windows 10 and 11 store a rename's final path, with a mark, rather than
// the path passed (update/queued_names.h).
#pragma once

#include <string>
#include <vector>

#include "update/restart_play.h"

namespace update {

// The first value's strings as they stand, in order: a source, then its
// destination ("!" before it: replace what is there; empty: delete the
// source), and so on.
std::vector<std::wstring> QueuedRenames();

// What the next restart leaves on each destination, both values played as
// they stand now.
PlayedQueue PlayQueue(const std::vector<std::wstring>& destinations);

// Logs that Windows kept the path of our queued renames as passed ("*2"):
// whether the restart carries them out is not confirmed.
void LogUnconfirmed();

// Queues each copy to replace its destination at the next restart, in order,
// after whatever is queued. Only when both values are absent or whole pairs
// closed by one empty string, where appending cannot shift or glue pairs;
// the restart must then leave each copy, known by its identity, on its
// destination, in order, or ours are taken out again. A junction or
// symbolic link on the way to the destinations, beside which the copies
// are, is logged: Windows stores the path it leads to, and the rename at
// the restart depends on its still leading there.
// False when nothing of ours is left queued; the reason is logged.
bool QueueRenames(const std::vector<std::wstring>& copies, const std::vector<std::wstring>& destinations);

// Takes the updater's own renames onto the destinations out of the queue,
// but for those of the copies kept, so that the next restart cannot undo
// what is in place now; their copies are deleted. A value is written only
// while it still holds the bytes it was read with; one that another program
// keeps changing, or that cannot be split into whole pairs, is left as it
// is, but our copies named in it are still deleted: their renames then fail
// harmlessly. Best effort: failures are logged.
void Unqueue(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& kept = {});

// The Windows calls and moments that tests stand in for, to give what other
// Windows versions and other programs do there.
struct QueueCalls {
    // Queues one rename for the restart (MoveFileExW, delayed, replacing).
    bool (*queue)(const std::wstring& from, const std::wstring& to);
    // Between reading a value to take renames out of it and writing it back.
    void (*beforeWrite)(const wchar_t* value);
};
// The calls in use, which a test replaces and puts back.
QueueCalls& QueueCallsInUse();

}  // namespace update
