// One copy of the updater at a time on a PC: an administrator's deployment
// and a user's double click must not interleave their moves and undos.
#pragma once

#include "runtime/handles.h"

namespace host {

// Global: deployments run as SYSTEM in session 0, people in their own session.
inline constexpr wchar_t kInstanceName[] = L"Global\\ActualizadorCorrectorGalegoQUENDOR";
// The window class of every window of the program, by which another copy finds them.
inline constexpr wchar_t kWindowClassName[] = L"ActualizadorForm";

// Holds a name that every copy of the program asks for, in every session,
// for as long as this copy runs. Windows lets the name go with the process,
// so a copy that crashed or was killed blocks nothing. Any user may take the
// name first: only a mutex owned by SYSTEM or the Administrators group counts
// as another copy, for a copy always runs as one of them; anything else of
// that name is logged and passed by, so that no one can stop every update.
// Such a name answers early only: what keeps two copies from replacing the
// files at once is the lock in the proofing folder (update/replacement_lock.h).
class SingleInstance {
public:
    // Tests give a name of their own.
    explicit SingleInstance(const wchar_t* name = kInstanceName);
    // False when another copy held the name first.
    bool First() const noexcept { return first_; }

private:
    runtime::KernelObject name_;
    bool first_ = false;
};

// Brings the visible window of the copy already running on this desktop to
// the front: its message box when one is up, else its window. False when it
// has none here: it runs unseen, or in another session.
bool BringRunningCopyToFront();

}  // namespace host
