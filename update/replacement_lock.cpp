#include "update/replacement_lock.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <utility>

#include "host/log.h"

namespace update {

namespace {

// The file's descriptor, read and changed through a handle of its own: such
// an open takes no part in sharing, so a handle that holds the file without
// sharing does not stop it.
runtime::FileHandle OpenDescriptor(const std::wstring& path) {
    return runtime::FileHandle(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
}

bool HasLockDescriptor(HANDLE file) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const runtime::LocalMemory owned(descriptor);
    return LetsInOnlyAdministrators(descriptor);
}

// Gives a file that was there before (left by an earlier version, or made by
// a log named onto it) the lock file's descriptor, which CreateFileW passes
// only to a file it makes. True when it had another one and now has ours.
bool Protect(const std::wstring& path, PSECURITY_DESCRIPTOR ours) {
    const runtime::FileHandle file = OpenDescriptor(path);
    if (file && HasLockDescriptor(file.Get())) return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(ours, &present, &dacl, &defaulted);
    const DWORD error = !file ? GetLastError()
                              : SetSecurityInfo(file.Get(), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                nullptr, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) {
        host::LogSystemError(L"Protexer o ficheiro de bloqueo", error, path);
        return false;
    }
    host::Log({L"O ficheiro de bloqueo deixaba entrar a outros usuarios; agora s\u00F3 ao sistema e aos "
               L"administradores: ", path});
    return true;
}

}  // namespace

runtime::LocalMemory LockFileDescriptor() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;PU)",
                                                              SDDL_REVISION_1, &descriptor, nullptr)) {
        return runtime::LocalMemory();
    }
    return runtime::LocalMemory(descriptor);
}

bool LetsInOnlyAdministrators(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
        return false;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) return false;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
        // Any other kind of entry may let someone in.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
        const bool administrator = IsWellKnownSid(sid, WinLocalSystemSid) ||
                                   IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
                                   IsWellKnownSid(sid, WinBuiltinPowerUsersSid);
        if (!administrator && (owner == nullptr || !EqualSid(sid, owner))) return false;
    }
    return true;
}

ReplacementLock::ReplacementLock(const std::wstring& folder) {
    const std::wstring path = folder + L"\\" + kLockFileName;
    const runtime::LocalMemory ours = LockFileDescriptor();
    if (!ours) {
        host::LogSystemError(L"Crear o descritor do ficheiro de bloqueo", GetLastError(), path);
        host::Log(L"Segue sen bloqueo");
        return;
    }
    SECURITY_ATTRIBUTES security{sizeof security, ours.Get(), FALSE};
    // Reading is all a byte-range lock needs, and a read-only file opens so.
    // The file stays: one deleted when its handle goes stays waiting to be
    // deleted while any other handle is open on it, and no one may open it then.
    runtime::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = GetLastError();
    if (!file) {
        // Only an earlier version of the updater opens the file without sharing.
        const runtime::FileHandle descriptor = OpenDescriptor(path);
        heldByAnotherCopy_ = error == ERROR_SHARING_VIOLATION && descriptor && HasLockDescriptor(descriptor.Get());
        if (!heldByAnotherCopy_) {
            host::LogSystemError(L"Crear o ficheiro de bloqueo", error, path);
            host::Log(L"Segue sen bloqueo");
            return;
        }
    } else {
        // A handle that a user opened before the descriptor was reset may hold
        // the range: on that run it tells nothing of another copy.
        const bool reset = error == ERROR_ALREADY_EXISTS && Protect(path, ours.Get());
        // A copy that ended lets go of the range, Windows a little after a crash.
        for (int attempt = 0; attempt <= 20; ++attempt) {
            if (attempt > 0) Sleep(50);
            OVERLAPPED start{};
            if (LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
                file_ = std::move(file);
                host::Log({L"Bloqueo para substitu\u00EDr os ficheiros: ", path});
                return;
            }
            error = GetLastError();
            if (error != ERROR_LOCK_VIOLATION) break;
        }
        heldByAnotherCopy_ = error == ERROR_LOCK_VIOLATION && !reset;
        if (!heldByAnotherCopy_) {
            host::LogSystemError(L"Bloquear o ficheiro de bloqueo", error, path);
            host::Log(L"Segue sen bloqueo");
            return;
        }
    }
    host::Log({L"Outra copia do actualizador est\u00E1 a substitu\u00EDr os ficheiros: ten o bloqueo ", path});
}

ReplacementLock::~ReplacementLock() {
    if (!file_) return;
    OVERLAPPED start{};
    UnlockFileEx(file_.Get(), 0, 1, 0, &start);
}

}  // namespace update
