// Two copies of the updater never replace the pair at once, whoever started
// them (a startup script as SYSTEM, an administrator's double click): the
// single-copy name (host/single_instance.h) answers early, but any user may
// take that name first. The lock lives where only administrators may write
// (on XP, Power Users too; from Vista on they are no more than users): the
// proofing folder itself.
#pragma once

#include <string>

#include "runtime/handles.h"

namespace update {

// Beside the pair. Not QND…, which names the updater's staged copies.
inline constexpr wchar_t kLockFileName[] = L"actualizador-corrector-galego.lock";

// A byte range of a file that stays in the proofing folder, locked through
// a handle that shares reading and writing: Windows lets go of the range of
// a copy that crashed or was killed, and no other handle on the file (a
// user's, a virus scanner's) keeps the next run from locking it. Only
// SYSTEM and administrators may open the file, so that no other user can
// lock the range first; on a volume that keeps no descriptors (FAT32,
// exFAT) any user may, and the log says so.
class ReplacementLock {
public:
    // Takes the lock in folder, trying for about a second while another
    // handle has the range. A lock that cannot be had for any other reason
    // (a folder of its name, read-only media, a file whose descriptor this
    // run may not reset) is logged and gone without: it never stops an update.
    explicit ReplacementLock(const std::wstring& folder);
    ReplacementLock(const ReplacementLock&) = delete;
    ReplacementLock& operator=(const ReplacementLock&) = delete;
    ~ReplacementLock();
    // Another copy holds it: this one must change nothing.
    bool HeldByAnotherCopy() const noexcept { return heldByAnotherCopy_; }

private:
    // Open only while the range is locked.
    runtime::FileHandle file_;
    bool heldByAnotherCopy_ = false;
};

// The descriptor the lock file is made with: owned by Administrators,
// protected from what the folder passes on, and only SYSTEM, Administrators
// and, with powerUsers (XP), Power Users may open it. Empty when Windows
// cannot make it.
runtime::LocalMemory LockFileDescriptor(bool powerUsers);
// Whether a file's descriptor is owned by, and lets in, no one but SYSTEM,
// Administrators, with powerUsers Power Users, and the account this run is
// (which may do anyway whatever the file lets it): an owner may always
// change the descriptor. False without a DACL, which lets everyone in.
bool LetsInOnlyAdministrators(PSECURITY_DESCRIPTOR descriptor, bool powerUsers);

}  // namespace update
