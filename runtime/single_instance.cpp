#include "runtime/single_instance.h"

#include "runtime/form.h"

namespace runtime {

namespace {

// Global: deployments run as SYSTEM in session 0, people in their own session.
constexpr wchar_t kInstanceName[] = L"Global\\ActualizadorCorrectorGalegoQUENDOR";

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
    if (std::wstring_view(className) != Form::kClassName) return TRUE;
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

}  // namespace

SingleInstance::SingleInstance() : name_(CreateMutexW(nullptr, FALSE, kInstanceName)) {
    // A name held by a copy running as another user may be refused to this
    // one: it is held all the same.
    first_ = static_cast<bool>(name_) && GetLastError() != ERROR_ALREADY_EXISTS;
}

void BringRunningCopyToFront() {
    RunningCopy copy;
    EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&copy));
    if (copy.processId == 0) return;
    EnumWindows(FindFrontWindow, reinterpret_cast<LPARAM>(&copy));
    if (copy.front != nullptr) SetForegroundWindow(copy.front);
}

}  // namespace runtime
