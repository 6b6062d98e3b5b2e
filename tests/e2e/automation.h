// Drives a GUI program from outside, for the end-to-end tests: starts it, reads
// its windows and controls, clicks, types, takes screenshots. Everything that
// talks to the program either posts or sends with a timeout, so a hung program
// fails a test instead of hanging it.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/handles.h"

namespace automation {

// Process, thread and job handles: null when absent, closed with CloseHandle.
struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle object) noexcept { CloseHandle(object); }
};
using ProcessHandle = runtime::UniqueHandle<KernelObjectTraits>;
using ThreadHandle = runtime::UniqueHandle<KernelObjectTraits>;
using JobHandle = runtime::UniqueHandle<KernelObjectTraits>;

// The exit code Kill gives a process.
inline constexpr UINT kKilledExitCode = 143;

// True when the process ended within the time; exitCode is then its exit code.
bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD& exitCode);

// A started program. The destructor kills it when it is still running, so a
// failed test never leaves it behind; a job that kills on close does the same
// when the test itself crashes. Detach lets it run on.
class Process {
public:
    Process(ProcessHandle handle, DWORD id, JobHandle killOnClose = {}) noexcept
        : job_(std::move(killOnClose)), handle_(std::move(handle)), id_(id) {}
    Process(Process&&) noexcept = default;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    DWORD Id() const noexcept { return id_; }
    HANDLE Handle() const noexcept { return handle_.Get(); }
    bool Running() const;
    bool WaitForExit(DWORD timeoutMs, DWORD& exitCode) const;
    // Terminates the process and waits for it to be gone.
    void Kill();
    // Gives up ownership: the process runs on after this object.
    void Detach() noexcept;

private:
    JobHandle job_;
    ProcessHandle handle_;
    DWORD id_;
};

// Starts exePath (a full path) with the arguments in workingFolder. Throws
// std::system_error when the program cannot be started. beforeStart, when
// given, is called with the process id before the program's first instruction.
Process Launch(const std::wstring& exePath, const std::wstring& workingFolder,
               const std::wstring& arguments = std::wstring(),
               const std::function<void(DWORD processId)>& beforeStart = {});

// Every window of one started program that is shown, seen through an
// out-of-context WinEvent hook set before the program runs. Windows reports
// each window shown, even for an instant; Wine 8 reports only the windows
// made, so those are also looked at every millisecond. The events reach this
// thread only while it handles its messages, as WaitForExit does.
class ShowWatcher {
public:
    ShowWatcher() = default;
    ~ShowWatcher();
    ShowWatcher(const ShowWatcher&) = delete;
    ShowWatcher& operator=(const ShowWatcher&) = delete;

    // Starts the program as Launch does, watched from its start.
    Process Launch(const std::wstring& exePath, const std::wstring& workingFolder, const std::wstring& arguments);
    // As Process::WaitForExit, watching meanwhile and handling the events left at the exit.
    bool WaitForExit(const Process& process, DWORD timeoutMs, DWORD& exitCode);
    // The class of each window seen shown, once each, in order; empty for a
    // window gone before its event was handled.
    const std::vector<std::wstring>& Shown() const noexcept { return shown_; }

private:
    static void CALLBACK OnEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child,
                                 DWORD thread, DWORD time);
    void LookAt(HWND window);
    void Record(HWND window);

    HWINEVENTHOOK hook_ = nullptr;
    DWORD processId_ = 0;
    std::vector<HWND> made_;
    std::vector<HWND> seen_;
    std::vector<std::wstring> shown_;
};

struct ControlInfo {
    HWND hwnd;
    std::wstring className;
    std::wstring text;
    RECT rect;  // screen coordinates
    bool visible;
    bool enabled;
    int id;
    LONG style;
};

struct WindowInfo {
    HWND hwnd;
    std::wstring title;
    std::wstring className;
    RECT rect;
    RECT clientRect;  // client area in screen coordinates
    bool visible;
    bool enabled;
    LONG style;
    LONG exStyle;
    std::vector<ControlInfo> controls;  // every descendant, in EnumChildWindows order
};

// The text of a window of any process, via WM_GETTEXT with a timeout; empty
// when the window does not answer in time.
std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
WindowInfo DescribeWindow(HWND window);

// Every top-level window of the process, visible or not, with its controls.
std::vector<WindowInfo> ListWindows(DWORD processId);

using WindowPredicate = std::function<bool(const WindowInfo&)>;
WindowPredicate VisibleWithTitle(std::wstring title);
// Message boxes are "#32770".
WindowPredicate VisibleWithClass(std::wstring className);

// Polls until a window of the process satisfies the predicate.
std::optional<WindowInfo> WaitForWindow(DWORD processId, const WindowPredicate& predicate, DWORD timeoutMs);
// Polls until no visible window of the process satisfies the predicate.
bool WaitForNoVisibleWindow(DWORD processId, const WindowPredicate& predicate, DWORD timeoutMs);

// A caption without its mnemonic ampersands: "&Save && exit" -> "Save & exit".
std::wstring WithoutMnemonics(std::wstring_view text);
// The first control of that class (case-insensitive) whose text is text,
// either exactly or without its mnemonic ampersands.
std::optional<ControlInfo> FindControl(const WindowInfo& window, std::wstring_view className,
                                       std::wstring_view text);
std::optional<ControlInfo> FindControlById(const WindowInfo& window, int id);

// Posts BM_CLICK. Never sent: a sent click would block until the program's
// handler returns, and a handler may run for the whole installation.
bool ClickButton(HWND button);

// Brings window to the foreground and types the key with SendInput. False
// when the window did not become the foreground window.
bool PressKey(HWND window, WORD virtualKey);
// Posts WM_KEYDOWN and WM_KEYUP to target, which should be the focused control.
bool PostKey(HWND target, WORD virtualKey);

bool CloseWindow(HWND window);
bool PostSysCommandClose(HWND window);
// Sends WM_CLOSE, as another program may: the window handles it inside its
// wait for messages, and nothing is posted. True when it was handled in time.
bool SendCloseWindow(HWND window, DWORD timeoutMs);

// The control with the keyboard focus in the GUI thread of the process's first
// visible top-level window; null when there is none.
HWND FocusedControl(DWORD processId);

// Writes the window's outer rectangle as shown on screen to a PNG file; when
// the screen gives only black, asks the window to paint itself instead.
bool SaveScreenshot(HWND window, const std::wstring& pngPath);
bool SaveScreenshotRect(const RECT& screenRect, const std::wstring& pngPath);

// Full paths of the DLLs the process has loaded (not the executable itself).
std::vector<std::wstring> ListModules(DWORD processId);

// The running executable's folder, without a trailing backslash.
std::wstring ExeFolder();

}  // namespace automation
