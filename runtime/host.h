// What the program asks of its surroundings: message boxes, the end of the
// program and the executable's folder, and how much of it a person sees.
// Tests put their own host in place to run real procedures without modal
// boxes and without ending the test process.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "runtime/error.h"
#include "runtime/log.h"

namespace runtime {

// The same in every mode: deployment scripts tell the outcomes apart by them.
enum ExitCode : int {
    kExitUpdated = 0,
    kExitFailed = 1,
    kExitCancelled = 2,
    kExitRuntimeError = 3,
    kExitNothingToUpdate = 4,
    kExitFilesInUse = 5,
    kExitAlreadyRunning = 6,
    kExitPartlyReplaced = 7,
    // What Windows Installer gives for an invalid command line.
    kExitInvalidCommandLine = 1639,
};

// How much of the program a person sees: everything; the installer window's
// progress only; nothing at all.
enum class RunMode { kInteractive, kPassive, kSilent };

enum MsgBoxStyle : int {
    kCritical = 16,
    kInformation = 64,
};

class Host {
public:
    virtual ~Host() = default;
    // A modal box with one OK button and the icon of the style; returns when dismissed.
    virtual void MsgBox(const std::wstring& text, int style, const std::wstring& title) = 0;
    // Ends the program at once.
    [[noreturn]] virtual void End(int exitCode) = 0;
    // The executable's folder: no trailing backslash except for a drive root.
    virtual std::wstring AppPath() = 0;
};

Host& CurrentHost();
// Puts another host in place and returns the one it replaces.
Host* SetHost(Host* host) noexcept;

RunMode CurrentRunMode() noexcept;
void SetRunMode(RunMode mode) noexcept;
// False in a silent run: its windows are made but never shown.
inline bool ShowsWindows() noexcept { return CurrentRunMode() != RunMode::kSilent; }

// Shown only when a person runs the program; always written to the log.
inline void MsgBox(const std::wstring& text, int style, const std::wstring& title) {
    const bool shown = CurrentRunMode() == RunMode::kInteractive;
    Log((shown ? L"Mensaxe: " : L"Mensaxe (non se mostra): ") + text);
    if (shown) CurrentHost().MsgBox(text, style, title);
}
// What an exit code tells, for the log.
const wchar_t* ExitCodeMeaning(int exitCode) noexcept;
[[noreturn]] inline void End(int exitCode) {
    Log(L"Remata co c\u00F3digo " + NumberText(static_cast<unsigned>(exitCode)) + L": " + ExitCodeMeaning(exitCode));
    CurrentHost().End(exitCode);
    // A host's End never returns; the compiler cannot see that through the virtual call.
    std::terminate();
}
inline std::wstring AppPath() { return CurrentHost().AppPath(); }

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
    } catch (const RuntimeError& error) {
        ReportUnhandledError(error.Number());
    } catch (const std::bad_alloc&) {
        ReportUnhandledError(kOutOfMemory);
    } catch (...) {
        ReportUnexpectedException();
    }
}

}  // namespace runtime
