#include "host/host.h"

#include <windows.h>

#include <vector>

#include "host/message_box.h"
#include "resources/resource.h"
#include "runtime/resources.h"
#include "runtime/strings.h"

namespace host {

namespace {

BOOL CALLBACK DestroyThreadWindow(HWND window, LPARAM) {
    DestroyWindow(window);
    return TRUE;
}

class WindowsHost final : public Host {
public:
    int MsgBox(const std::wstring& text, int style, const std::wstring& title) override {
        return ShowMessageBox(text, style, title);
    }

    [[noreturn]] void End(int exitCode) override {
        EnumThreadWindows(GetCurrentThreadId(), DestroyThreadWindow, 0);
        ExitProcess(static_cast<UINT>(exitCode));
    }

    std::wstring AppPath() override {
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (length == 0) return std::wstring();
            if (length < buffer.size()) {
                std::wstring path(buffer.data(), length);
                const std::size_t slash = path.find_last_of(L'\\');
                if (slash == std::wstring::npos) return std::wstring();
                // A drive root keeps its backslash: "D:\" rather than "D:".
                const bool driveRoot = slash == 2 && path[1] == L':';
                return path.substr(0, driveRoot ? slash + 1 : slash);
            }
            buffer.resize(buffer.size() * 2);
        }
    }
};

WindowsHost windowsHost;

Host* currentHost = &windowsHost;
RunMode runMode = RunMode::kInteractive;
bool replacementStarted = false;

}  // namespace

Host& CurrentHost() { return *currentHost; }

Host* SetHost(Host* host) noexcept {
    Host* previous = currentHost;
    currentHost = host != nullptr ? host : &windowsHost;
    return previous;
}

bool Host::BeforeVista() { return LOBYTE(GetVersion()) < 6; }

bool PersonCanSee() noexcept {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    if (station != nullptr && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        (flags.dwFlags & WSF_VISIBLE) == 0) {
        return false;
    }
    if (CurrentHost().BeforeVista()) return true;
    // Looked up: documented from Vista on, the only systems that ask.
    using SessionOf = BOOL(WINAPI*)(DWORD, DWORD*);
    const auto sessionOf = reinterpret_cast<SessionOf>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ProcessIdToSessionId")));
    DWORD session = 0;
    return sessionOf == nullptr || !sessionOf(GetCurrentProcessId(), &session) || session != 0;
}

RunMode CurrentRunMode() noexcept { return runMode; }
void SetRunMode(RunMode mode) noexcept { runMode = mode; }

bool ReplacementStarted() noexcept { return replacementStarted; }
void MarkReplacementStarted() noexcept { replacementStarted = true; }

void ReportUnhandledError(int errorNumber) {
    const std::wstring text = L"Erro de execuci\u00F3n " + runtime::NumberText(static_cast<unsigned>(errorNumber)) +
                              L":\n\n" + runtime::ErrorDescription(errorNumber);
    MsgBox(text, kCritical, runtime::LoadResStringOr(IDS_TITLE, std::wstring()));
    End(kExitRuntimeError);
}

void ReportUnexpectedException() noexcept {
    // An exception that is not a run-time error is a fault of the program;
    // it is reported the same way rather than crashing through Windows.
    ReportUnhandledError(runtime::kInternalError);
}

}  // namespace host
