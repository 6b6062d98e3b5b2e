#include "host/single_instance.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "host/log.h"

namespace host {

namespace {

struct RunningCopy {
    DWORD processId = 0;
    HWND front = nullptr;
};

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM found) {
    auto& copy = *reinterpret_cast<RunningCopy*>(found);
    wchar_t className[64];
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == GetCurrentProcessId() || GetClassNameW(window, className, 64) == 0) return TRUE;
    if (std::wstring_view(className) != kWindowClassName) return TRUE;
    copy.processId = processId;
    return FALSE;
}

// A message box disables the window it stands over: the enabled one is in front.
BOOL CALLBACK FindFrontWindow(HWND window, LPARAM found) {
    auto& copy = *reinterpret_cast<RunningCopy*>(found);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != copy.processId || !IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
    copy.front = window;
    return FALSE;
}

// S-1-5-18 (SYSTEM) with one sub-authority, S-1-5-32-544 (Administrators) with two.
runtime::AllocatedSid NtAuthoritySid(BYTE count, DWORD first, DWORD second) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, count, first, second, 0, 0, 0, 0, 0, 0, &sid)) sid = nullptr;
    return runtime::AllocatedSid(sid);
}

// Owned by the Administrators group whoever runs it, since that is what a
// later copy looks for: Windows gives an elevated administrator's objects
// that owner by default, but XP may give them the user, and Wine none.
HANDLE CreateInstanceMutex(const wchar_t* name, PSID administrators) {
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, administrators, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, FALSE, name);
    // A user without administrator rights (on XP, which does not ask for
    // them) may not give that owner; such a copy cannot update anything.
    if (mutex == nullptr && GetLastError() == ERROR_INVALID_OWNER) mutex = CreateMutexW(nullptr, FALSE, name);
    return mutex;
}

// The holder of the name, for the log, when it is not another copy; empty when it is.
std::wstring Stranger(const wchar_t* name, DWORD error) {
    if (error == ERROR_INVALID_HANDLE) return L"un obxecto que non \u00E9 un mutex";
    // A copy running as SYSTEM lets another administrator read its mutex's
    // owner, not take the whole of it.
    const runtime::KernelObject held(OpenMutexW(READ_CONTROL, FALSE, name));
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!held || GetSecurityInfo(held.Get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                 nullptr, &descriptor) != ERROR_SUCCESS) {
        return L"un mutex de propietario desco\u00F1ecido";
    }
    const runtime::LocalMemory ownedDescriptor(descriptor);
    const runtime::AllocatedSid system = NtAuthoritySid(1, SECURITY_LOCAL_SYSTEM_RID, 0);
    const runtime::AllocatedSid administrators =
        NtAuthoritySid(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    const auto is = [owner](const runtime::AllocatedSid& sid) { return sid && EqualSid(owner, sid.Get()); };
    if (owner != nullptr && (is(system) || is(administrators))) return std::wstring();
    wchar_t* text = nullptr;
    if (owner == nullptr || !ConvertSidToStringSidW(owner, &text)) return L"un mutex de propietario desco\u00F1ecido";
    const runtime::LocalMemory ownedText(text);
    return L"un mutex de " + std::wstring(text) + L", que non \u00E9 SYSTEM nin o grupo Administradores";
}

}  // namespace

SingleInstance::SingleInstance(const wchar_t* name) {
    const runtime::AllocatedSid administrators =
        NtAuthoritySid(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
    name_.Reset(CreateInstanceMutex(name, administrators.Get()));
    const DWORD error = GetLastError();
    if (name_ && error != ERROR_ALREADY_EXISTS) {
        first_ = true;
        return;
    }
    name_.Reset();
    const std::wstring stranger = Stranger(name, error);
    first_ = !stranger.empty();
    if (first_) {
        Log({L"O nome ", name, L" xa o ten ", stranger, L": non \u00E9 outra copia do actualizador; segue"});
    }
}

bool BringRunningCopyToFront() {
    RunningCopy copy;
    EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&copy));
    if (copy.processId == 0) return false;
    EnumWindows(FindFrontWindow, reinterpret_cast<LPARAM>(&copy));
    if (copy.front == nullptr) return false;
    SetForegroundWindow(copy.front);
    return true;
}

}  // namespace host
