// Two copies of the updater never replace the pair at once, whoever started
// them (a startup script as SYSTEM, an administrator's double click): the
// single-copy name (host/single_instance.h) answers early, but any user may
// take that name first. The lock lives where only administrators may write
// (on XP, Power Users too): the proofing folder itself.
#pragma once

#include <string>

#include "runtime/handles.h"

namespace update {

// Beside the pair. Not QND…, which names the updater's staged copies.
inline constexpr wchar_t kLockFileName[] = L"actualizador-corrector-galego.lock";

// A file held open without sharing, which Windows deletes when its handle
// goes: a copy that crashed or was killed leaves nothing that blocks.
class ReplacementLock {
public:
    // Takes the lock in folder, trying for about a second while another
    // handle has it. A lock that cannot be had for any other reason (a stale
    // file that may not be deleted, read-only media) is logged and gone
    // without: it never stops an update.
    explicit ReplacementLock(const std::wstring& folder);
    // Another copy holds it: this one must change nothing.
    bool HeldByAnotherCopy() const noexcept { return heldByAnotherCopy_; }

private:
    runtime::FileHandle file_;
    bool heldByAnotherCopy_ = false;
};

}  // namespace update
