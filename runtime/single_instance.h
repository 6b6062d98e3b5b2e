// One copy of the updater at a time on a PC: an administrator's deployment
// and a user's double click must not interleave their moves and undos.
#pragma once

#include "runtime/handles.h"

namespace runtime {

// Holds a name that every copy of the program asks for, in every session,
// for as long as this copy runs. Windows lets the name go with the process,
// so a copy that crashed or was killed blocks nothing.
class SingleInstance {
public:
    SingleInstance();
    // False when another copy held the name first.
    bool First() const noexcept { return first_; }

private:
    KernelObject name_;
    bool first_ = false;
};

// Brings the visible window of the copy already running on this desktop to
// the front: its message box when one is up, else its window.
void BringRunningCopyToFront();

}  // namespace runtime
