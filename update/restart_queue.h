// The renames Windows carries out when it next starts, before any program
// runs: PendingFileRenameOperations, then PendingFileRenameOperations2 where
// it exists. Other programs' entries, and any entry the program does not
// understand, are kept byte for byte; only the updater's own entries are
// ever taken out, and only from a value that is whole pairs closed by one
// empty string, the one shape whose pairs are certain.
//
// A queued string is an optional mark ("*" and the character after it, which
// Windows 10 and 11 now write before each string), an optional "!" or "@"
// (replace what is there), then "\??\" or "\\?\" and the path. The mark is
// kept wherever the value is kept and ignored wherever a path is compared.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace update {

// The first value's strings as they stand, in order: a source, then its
// destination ("!" before it: replace what is there; empty: delete the
// source), and so on.
std::vector<std::wstring> QueuedRenames();

// What the restart does to one file's name, the queue played in order over
// both values: a rename without "!" puts a file there only where the name is
// free at that point, after the deletes and moves before it. A queued path
// names the file when it names a file of that name in the same folder, known
// by the folder's identity on its volume, however the path is written (short
// names, other case, "\??\" or "\\?\", a mark or none); one on another
// computer never does.
struct WorkAtRestart {
    enum class Last { kNothing, kRenamedOnto, kDeleted, kMovedAway };
    Last last = Last::kNothing;  // the last work that changes what the name holds
    std::wstring source;         // what kRenamedOnto puts there
    bool ours = false;           // that work is a rename from one of the updater's own copies
    // That work is written as the restart surely carries it out: "\\?\" is
    // an NT path to it, and what it does with one is not documented.
    bool certain = true;
    std::size_t order = 0;  // where that work stands in the queue
    // Other programs' entries that touch the name, from it or onto it, as the log names them.
    std::vector<std::wstring> others;
};
struct PlayedQueue {
    std::vector<WorkAtRestart> names;  // one for each destination, in order
    // Strings of no form the program understands, as they stand.
    std::vector<std::wstring> notUnderstood;
};
PlayedQueue PlayQueue(const std::vector<std::wstring>& destinations);

// Queues each copy to replace its destination at the next restart, in order,
// after whatever is queued. Only when both values are absent or whole pairs
// closed by one empty string, where appending cannot shift or glue pairs;
// ours must then read back whole, in order and after every other entry that
// touches the destinations, or they are taken out again. A junction or
// symbolic link on the way to the destinations, beside which the copies
// are, is logged: Windows may refuse a marked rename through one at the
// restart.
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
