#include "update/replacement_lock.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <utility>

#include "host/host.h"
#include "host/log.h"

namespace update {

namespace {

// The file's descriptor, read and changed (its owner too) through a handle of
// its own: such an open takes no part in sharing, so a handle that holds the
// file without sharing does not stop it.
runtime::FileHandle OpenDescriptor(const std::wstring& path) {
    return runtime::FileHandle(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
}

bool HasLockDescriptor(HANDLE file, bool powerUsers) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const runtime::LocalMemory owned(descriptor);
    return LetsInOnlyAdministrators(descriptor, powerUsers);
}

// Gives a file that was there before (left by an earlier version, or made by
// a log named onto it) the lock file's owner and DACL, which CreateFileW
// gives only to a file it makes. The error when it cannot (on XP a Power
// User's run may not make Administrators the owner); reset tells whether the
// file had another descriptor.
DWORD Protect(const std::wstring& path, PSECURITY_DESCRIPTOR ours, bool powerUsers, bool& reset) {
    const runtime::FileHandle file = OpenDescriptor(path);
    reset = !file || !HasLockDescriptor(file.Get(), powerUsers);
    if (!reset) return ERROR_SUCCESS;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    GetSecurityDescriptorDacl(ours, &present, &dacl, &defaulted);
    GetSecurityDescriptorOwner(ours, &owner, &defaulted);
    const DWORD error =
        !file ? GetLastError()
              : SetSecurityInfo(file.Get(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    PROTECTED_DACL_SECURITY_INFORMATION,
                                owner, nullptr, dacl, nullptr);
    if (error == ERROR_SUCCESS) {
        host::Log({L"O ficheiro de bloqueo deixaba entrar a outros usuarios; agora s\u00F3 ao sistema e aos "
                   L"administradores: ", path});
    }
    return error;
}

// Whether the folder's volume keeps descriptors (FAT32 and exFAT keep none);
// yes when it cannot be told.
bool KeepsDescriptors(const std::wstring& folder) {
    wchar_t root[MAX_PATH + 1];
    DWORD flags = FILE_PERSISTENT_ACLS;
    if (GetVolumePathNameW(folder.c_str(), root, MAX_PATH + 1)) {
        GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0);
    }
    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

}  // namespace

runtime::LocalMemory LockFileDescriptor(bool powerUsers) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            powerUsers ? L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;PU)" : L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)",
            SDDL_REVISION_1, &descriptor, nullptr)) {
        return runtime::LocalMemory();
    }
    return runtime::LocalMemory(descriptor);
}

bool LetsInOnlyAdministrators(PSECURITY_DESCRIPTOR descriptor, bool powerUsers) {
    // This run's account: where policy gives an administrator's new files to
    // the account rather than the group (and under Wine, always), the file
    // it made before is still its own.
    alignas(TOKEN_USER) BYTE account[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE]{};
    HANDLE opened = nullptr;
    DWORD length = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
        const runtime::KernelObject token(opened);
        GetTokenInformation(token.Get(), TokenUser, account, sizeof account, &length);
    }
    const PSID self = reinterpret_cast<TOKEN_USER*>(account)->User.Sid;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
        return false;
    }
    // The owner, then each entry that lets someone in.
    for (DWORD i = 0; i <= dacl->AceCount; ++i) {
        PSID sid = owner;
        if (i > 0) {
            void* entry = nullptr;
            if (!GetAce(dacl, i - 1, &entry)) return false;
            const auto* header = static_cast<const ACE_HEADER*>(entry);
            if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
            // Any other kind of entry may let someone in.
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
            sid = &static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart;
        }
        if (!IsWellKnownSid(sid, WinLocalSystemSid) && !IsWellKnownSid(sid, WinBuiltinAdministratorsSid) &&
            !(powerUsers && IsWellKnownSid(sid, WinBuiltinPowerUsersSid)) && !(self != nullptr && EqualSid(sid, self))) {
            return false;
        }
    }
    return true;
}

ReplacementLock::ReplacementLock(const std::wstring& folder) {
    const std::wstring path = folder + L"\\" + kLockFileName;
    // On XP Power Users may write to Program Files; from Vista on they are
    // no more than users, and schools put pupils in the group.
    const bool powerUsers = host::CurrentHost().BeforeVista();
    // Any lock that cannot be had is gone without.
    const auto goWithout = [&path](const wchar_t* what, DWORD error) {
        host::LogSystemError(what, error, path);
        host::Log(L"Segue sen bloqueo");
    };
    const runtime::LocalMemory ours = LockFileDescriptor(powerUsers);
    if (!ours) {
        goWithout(L"Crear o descritor do ficheiro de bloqueo", GetLastError());
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
        // Only an earlier version of the updater opens the file without
        // sharing; that file was made by an administrator's run, with Power
        // Users let in on any Windows.
        const runtime::FileHandle descriptor = OpenDescriptor(path);
        heldByAnotherCopy_ = error == ERROR_SHARING_VIOLATION && descriptor && HasLockDescriptor(descriptor.Get(), true);
        if (!heldByAnotherCopy_) {
            goWithout(L"Crear o ficheiro de bloqueo", error);
            return;
        }
    } else {
        // A handle that a user opened before the descriptor was reset may hold
        // the range: on that run it tells nothing of another copy. A volume
        // without descriptors has nothing to reset, and cannot keep users out.
        bool reset = false;
        if (!KeepsDescriptors(folder)) {
            host::Log(L"O volume non garda permisos: calquera usuario pode ter o bloqueo");
        } else if (error == ERROR_ALREADY_EXISTS && (error = Protect(path, ours.Get(), powerUsers, reset)) != 0) {
            goWithout(L"Protexer o ficheiro de bloqueo", error);
            return;
        }
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
            goWithout(L"Bloquear o ficheiro de bloqueo", error);
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
