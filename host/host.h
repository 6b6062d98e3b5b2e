// What the program asks of its surroundings: message boxes, the end of the
// program and the executable's folder, and how much of it a person sees.
// Tests put their own host in place to run real procedures without modal
// boxes and without ending the test process.
#pragma once

#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "host/event_log.h"
#include "host/exit_codes.h"
#include "host/log.h"
#include "runtime/error.h"

namespace host {

// How much of the program a person sees: everything; the installer window's
// progress only; nothing at all.
enum class RunMode { kInteractive, kPassive, kSilent };

// A message box's buttons and icon, added together.
enum MsgBoxStyle : int {
    kRetryCancel = 5,
    kCancelTryContinue = 6,
    kCritical = 16,
    kExclamation = 48,
    kInformation = 64,
};

// The button a person pressed.
enum MsgBoxAnswer : int {
    kOk = 1,
    kCancel = 2,
    kRetry = 4,
    kTryAgain = 10,
    kContinue = 11,
};

class Host {
public:
    virtual ~Host() = default;
    // A modal box with the buttons (one OK button unless the style names
    // others) and the icon of the style; returns the button pressed.
    virtual int MsgBox(const std::wstring& text, int style, const std::wstring& title) = 0;
    // Ends the program at once.
    [[noreturn]] virtual void End(int exitCode) = 0;
    // The executable's folder: no trailing backslash except for a drive root.
    virtual std::wstring AppPath() = 0;
    // Whether the run has administrator rights.
    virtual bool HasAdministratorRights() { return RunsAsAdministrator(); }
    // Whether Windows is older than Vista (XP, Server 2003), as the manifest
    // lets Windows tell of itself.
    virtual bool BeforeVista();
};

Host& CurrentHost();
// Puts another host in place and returns the one it replaces.
Host* SetHost(Host* host) noexcept;

RunMode CurrentRunMode() noexcept;
void SetRunMode(RunMode mode) noexcept;
// False when no person can see the program's windows, whatever the run
// mode: its window station is not the visible one, or, from Vista on (as
// the host tells), it runs in session 0, where the console user never is
// (on XP they are).
bool PersonCanSee() noexcept;
// False in a silent run: its windows are made but never shown.
inline bool ShowsWindows() noexcept { return CurrentRunMode() != RunMode::kSilent; }

// Shown only when a person runs the program; always written to the log.
// The button pressed; OK when no box is shown.
inline int MsgBox(const std::wstring& text, int style, const std::wstring& title) {
    const bool shown = CurrentRunMode() == RunMode::kInteractive;
    Log((shown ? L"Mensaxe: " : L"Mensaxe (non se mostra): ") + text);
    return shown ? CurrentHost().MsgBox(text, style, title) : kOk;
}

// What to do about installed files that other programs hold.
enum class InUseAnswer { kTryAgain, kAtNextRestart, kCancel };
// Names the programs (the first ten, then how many more; or says another
// program holds the files) and asks a person; without restartOffered only
// "Tentar de novo" and "Cancelar" are offered. An unattended run asks no one:
// the files are replaced at the next restart when that is offered, else it
// cancels.
InUseAnswer AskAboutFilesInUse(const std::vector<std::wstring>& programs, bool restartOffered);
// The last line and the run's event tell meaning, for an outcome that says
// more than its exit code; otherwise what the code tells. The event goes
// first, so that what it logs comes before the last line.
[[noreturn]] inline void End(int exitCode, std::wstring_view meaning) {
    ReportRunEvent(exitCode, meaning);
    LogRunEnd(exitCode, meaning);
    CurrentHost().End(exitCode);
    // A host's End never returns; the compiler cannot see that through the virtual call.
    std::terminate();
}
[[noreturn]] inline void End(int exitCode) { End(exitCode, ExitCodeMeaning(exitCode)); }
inline std::wstring AppPath() { return CurrentHost().AppPath(); }

// Whether a replacement has begun to write beside the installed files: from
// then on, ending the program at once could leave them half done. The update
// marks it; the window that hears the session end asks it.
bool ReplacementStarted() noexcept;
void MarkReplacementStarted() noexcept;

// Reports an error that no trap handled, the way the runtime does, and ends
// the program with kExitRuntimeError.
[[noreturn]] void ReportUnhandledError(int errorNumber);

// Reports an exception that is not a run-time error, a fault of the program.
[[noreturn]] void ReportUnexpectedException() noexcept;

// Runs an event handler so that no exception leaves it: run-time errors are
// reported as unhandled, anything else as the error it stands for.
template <typename Handler>
void RunHandler(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const runtime::RuntimeError& error) {
        ReportUnhandledError(error.Number());
    } catch (const std::bad_alloc&) {
        ReportUnhandledError(runtime::kOutOfMemory);
    } catch (...) {
        ReportUnexpectedException();
    }
}

}  // namespace host
