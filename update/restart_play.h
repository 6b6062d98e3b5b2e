// What the next restart leaves on the update's names: the queue's renames
// played in order, as the restart plays them, over every name whose file
// can end on one of ours.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "update/queued_names.h"

namespace update {

struct AfterRestart {
    enum class Holds {
        kUnchanged,  // no entry changes what the name holds now
        kOurCopy,    // one of the updater's own copies, untouched before its rename
        kTheirs,     // another program's local file that is there now, untouched before its rename
        kNothing,    // deleted, or moved elsewhere
        kUnknown,    // anything the restart may or may not do: never left to chance
    };
    Holds holds = Holds::kUnchanged;
    bool deleted = false;     // kNothing: by a delete
    std::wstring file;        // kOurCopy, kTheirs: the NT path of the file that lands there
    std::size_t order = 0;    // kOurCopy: where the rename that puts it there stands in the queue
    bool unconfirmed = false;  // kOurCopy: Windows kept a path as passed ("*2"): it may not be carried out
};

struct PlayedQueue {
    std::vector<AfterRestart> names;  // one for each destination, in order
    // Other programs' entries on the names, as the log names them.
    std::vector<std::wstring> others;
    // Strings of no form the program understands, as they stand.
    std::vector<std::wstring> notUnderstood;
    // Some string's last part has the name of one of the updater's copies.
    bool copyNamed = false;
};

// values: each value's strings in order (a source, then its destination,
// empty to delete it), the one the restart carries out first first.
PlayedQueue Play(std::span<const std::vector<std::wstring_view>> values, const std::vector<std::wstring>& destinations,
                 FileSystemView& view);

// Whether the restart puts one of the updater's own copies on each name, the
// first name's before the second's.
bool OurCopiesInOrder(const PlayedQueue& played);

}  // namespace update
