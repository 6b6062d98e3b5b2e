#include "tests/e2e/automation.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <map>
#include <system_error>

// The only place that holds the PNG writer's code.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace automation {

namespace {

// Long enough for a busy program, short enough that a hung one fails fast.
constexpr UINT kAnswerTimeoutMs = 2000;
constexpr DWORD kPollMs = 20;
constexpr DWORD kKillWaitMs = 5000;
constexpr DWORD kForegroundWaitMs = 1000;
// Where a window's showing is not reported, a window shown for the few
// milliseconds of some work is still seen.
constexpr DWORD kShowPollMs = 1;

struct MemoryDcTraits {
    using Handle = HDC;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle dc) noexcept { DeleteDC(dc); }
};
using MemoryDc = runtime::UniqueHandle<MemoryDcTraits>;

struct ScreenDcTraits {
    using Handle = HDC;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle dc) noexcept { ReleaseDC(nullptr, dc); }
};
using ScreenDc = runtime::UniqueHandle<ScreenDcTraits>;

// Puts the DC's previous object back, so the bitmap can be deleted.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The watcher of each hook of this thread: a WinEvent callback is told only its hook.
std::map<HWINEVENTHOOK, ShowWatcher*> showWatchers;

bool Elapsed(DWORD start, DWORD timeoutMs) { return GetTickCount() - start >= timeoutMs; }

RECT ScreenRectOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

ControlInfo DescribeControl(HWND control) {
    return ControlInfo{
        .hwnd = control,
        .className = ClassName(control),
        .text = WindowText(control),
        .rect = ScreenRectOf(control),
        .visible = IsWindowVisible(control) != FALSE,
        .enabled = IsWindowEnabled(control) != FALSE,
        .id = GetDlgCtrlID(control),
        .style = GetWindowLongW(control, GWL_STYLE),
    };
}

BOOL CALLBACK CollectChild(HWND child, LPARAM collected) {
    reinterpret_cast<std::vector<HWND>*>(collected)->push_back(child);
    return TRUE;
}

struct TopLevelSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM search) {
    auto& state = *reinterpret_cast<TopLevelSearch*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == state.processId) state.found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
    TopLevelSearch search{processId, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

bool IsExtendedKey(WORD virtualKey) {
    switch (virtualKey) {
        case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
        case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
        case VK_INSERT: case VK_DELETE:
            return true;
        default:
            return false;
    }
}

WORD ScanCode(WORD virtualKey) { return static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)); }

bool BringToForeground(HWND window) {
    const HWND root = GetAncestor(window, GA_ROOT);
    const DWORD start = GetTickCount();
    while (GetForegroundWindow() != root) {
        if (Elapsed(start, kForegroundWaitMs)) return false;
        SetForegroundWindow(root);
        Sleep(kPollMs);
    }
    return true;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    const runtime::FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Copies the screen rectangle; when it comes out all black and printSource is
// given, lets that window paint itself instead (a window that is covered or
// off the screen).
bool Capture(const RECT& rect, HWND printSource, const std::wstring& pngPath) {
    const LONG width = rect.right - rect.left;
    const LONG height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    const ScreenDc screen(GetDC(nullptr));
    if (!screen) return false;
    const MemoryDc memory(CreateCompatibleDC(screen.Get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first, as PNG wants
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const runtime::GdiObject bitmap(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !bitmap || bits == nullptr) return false;
    const Selection selected(memory.Get(), bitmap.Get());

    if (!BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY | CAPTUREBLT)) {
        return false;
    }
    GdiFlush();

    const auto columns = static_cast<std::size_t>(width);
    const auto rows = static_cast<std::size_t>(height);
    const std::size_t stride = (columns * 3 + 3) & ~std::size_t{3};  // DIB rows end on 4 bytes
    const auto* dib = static_cast<const std::uint8_t*>(bits);
    const bool black = std::all_of(dib, dib + stride * rows, [](std::uint8_t byte) { return byte == 0; });
    if (black && printSource != nullptr) {
        PrintWindow(printSource, memory.Get(), 0);
        GdiFlush();
    }

    std::vector<std::uint8_t> rgb;
    rgb.reserve(columns * rows * 3);
    for (std::size_t y = 0; y < rows; ++y) {
        const std::uint8_t* pixel = dib + y * stride;
        for (std::size_t x = 0; x < columns; ++x, pixel += 3) {
            rgb.insert(rgb.end(), {pixel[2], pixel[1], pixel[0]});  // the DIB holds BGR
        }
    }
    // The writer hands the file over in pieces.
    std::string png;
    const auto append = [](void* context, void* data, int size) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
    };
    return stbi_write_png_to_func(append, &png, width, height, 3, rgb.data(), width * 3) && WriteBytes(pngPath, png);
}

}  // namespace

bool WaitForExit(HANDLE process, DWORD timeoutMs, DWORD& exitCode) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(process, &exitCode) != FALSE;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Kill();
        job_ = std::move(other.job_);
        handle_ = std::move(other.handle_);
        id_ = other.id_;
    }
    return *this;
}

Process::~Process() { Kill(); }

bool Process::Running() const { return handle_ && WaitForSingleObject(handle_.Get(), 0) == WAIT_TIMEOUT; }

bool Process::WaitForExit(DWORD timeoutMs, DWORD& exitCode) const {
    return handle_ && automation::WaitForExit(handle_.Get(), timeoutMs, exitCode);
}

void Process::Kill() {
    if (!Running()) return;
    TerminateProcess(handle_.Get(), kKilledExitCode);
    WaitForSingleObject(handle_.Get(), kKillWaitMs);
}

void Process::Detach() noexcept {
    if (job_) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    job_.Reset();
    handle_.Reset();
}

Process Launch(const std::wstring& exePath, const std::wstring& workingFolder, const std::wstring& arguments,
               const std::function<void(DWORD processId)>& beforeStart) {
    JobHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        job.Reset();
    }

    // The program's own quoted path, then the arguments, if any.
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // Detached: under Wine the program then gets no Unix standard output, so
    // it cannot keep a script's pipe open after the launcher has ended.
    // Suspended until it is in the job, so nothing it starts escapes the job.
    if (!CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_SUSPENDED, nullptr,
                        workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &started)) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateProcessW");
    }
    const ThreadHandle thread(started.hThread);
    // Before Windows 8 a process belongs to one job at most: when the tests
    // themselves run in a job the assignment fails and the destructor alone
    // cleans up.
    if (job && !AssignProcessToJobObject(job.Get(), started.hProcess)) job.Reset();
    Process process(ProcessHandle(started.hProcess), started.dwProcessId, std::move(job));
    if (beforeStart) beforeStart(started.dwProcessId);
    ResumeThread(thread.Get());
    return process;
}

ShowWatcher::~ShowWatcher() {
    if (hook_ == nullptr) return;
    UnhookWinEvent(hook_);
    showWatchers.erase(hook_);
}

Process ShowWatcher::Launch(const std::wstring& exePath, const std::wstring& workingFolder,
                            const std::wstring& arguments) {
    return automation::Launch(exePath, workingFolder, arguments, [this](DWORD processId) {
        processId_ = processId;
        hook_ = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, nullptr, OnEvent, processId, 0,
                                WINEVENT_OUTOFCONTEXT);
        if (hook_ == nullptr) {
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "SetWinEventHook");
        }
        showWatchers[hook_] = this;
    });
}

bool ShowWatcher::WaitForExit(const Process& process, DWORD timeoutMs, DWORD& exitCode) {
    const HANDLE handle = process.Handle();
    const DWORD start = GetTickCount();
    bool ended = false;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        for (const HWND window : made_) LookAt(window);
        // Every event of the program was queued here before it ended.
        if (ended) break;
        if (Elapsed(start, timeoutMs)) return false;
        ended = MsgWaitForMultipleObjects(1, &handle, FALSE, kShowPollMs, QS_ALLINPUT) == WAIT_OBJECT_0;
    }
    return GetExitCodeProcess(handle, &exitCode) != FALSE;
}

void CALLBACK ShowWatcher::OnEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child, DWORD,
                                   DWORD) {
    const auto watcher = showWatchers.find(hook);
    if (watcher == showWatchers.end() || object != OBJID_WINDOW || child != CHILDID_SELF) return;
    if (event == EVENT_OBJECT_SHOW) watcher->second->Record(window);
    if (event != EVENT_OBJECT_CREATE) return;
    watcher->second->made_.push_back(window);
    watcher->second->LookAt(window);
}

void ShowWatcher::LookAt(HWND window) {
    DWORD owner = 0;
    // A handle of a window gone may already name another program's window.
    if (IsWindowVisible(window) && GetWindowThreadProcessId(window, &owner) && owner == processId_) Record(window);
}

void ShowWatcher::Record(HWND window) {
    if (std::ranges::find(seen_, window) != seen_.end()) return;
    seen_.push_back(window);
    shown_.push_back(ClassName(window));
}

std::wstring WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &copied)) {
        return {};
    }
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256];  // class names are at most 256 characters
    const int length = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return std::wstring(name, static_cast<std::size_t>(std::max(length, 0)));
}

WindowInfo DescribeWindow(HWND window) {
    WindowInfo info{
        .hwnd = window,
        .title = WindowText(window),
        .className = ClassName(window),
        .rect = ScreenRectOf(window),
        .clientRect = {},
        .visible = IsWindowVisible(window) != FALSE,
        .enabled = IsWindowEnabled(window) != FALSE,
        .style = GetWindowLongW(window, GWL_STYLE),
        .exStyle = GetWindowLongW(window, GWL_EXSTYLE),
        .controls = {},
    };
    GetClientRect(window, &info.clientRect);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&info.clientRect), 2);

    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    info.controls.reserve(children.size());
    for (const HWND child : children) info.controls.push_back(DescribeControl(child));
    return info;
}

std::vector<WindowInfo> ListWindows(DWORD processId) {
    std::vector<WindowInfo> windows;
    for (const HWND window : TopLevelWindows(processId)) windows.push_back(DescribeWindow(window));
    return windows;
}

WindowPredicate VisibleWithTitle(std::wstring title) {
    return [title = std::move(title)](const WindowInfo& window) { return window.visible && window.title == title; };
}

WindowPredicate VisibleWithClass(std::wstring className) {
    return [className = std::move(className)](const WindowInfo& window) {
        return window.visible && EqualsIgnoringCase(window.className, className);
    };
}

std::optional<WindowInfo> WaitForWindow(DWORD processId, const WindowPredicate& predicate, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        for (WindowInfo& window : ListWindows(processId)) {
            if (predicate(window)) return std::move(window);
        }
        if (Elapsed(start, timeoutMs)) return std::nullopt;
        Sleep(kPollMs);
    }
}

bool WaitForNoVisibleWindow(DWORD processId, const WindowPredicate& predicate, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        const auto windows = ListWindows(processId);
        if (std::ranges::none_of(windows, [&](const WindowInfo& w) { return w.visible && predicate(w); })) {
            return true;
        }
        if (Elapsed(start, timeoutMs)) return false;
        Sleep(kPollMs);
    }
}

std::wstring WithoutMnemonics(std::wstring_view text) {
    std::wstring plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;  // "&&" stands for one ampersand
        plain.push_back(text[i]);
    }
    return plain;
}

std::optional<ControlInfo> FindControl(const WindowInfo& window, std::wstring_view className,
                                       std::wstring_view text) {
    for (const ControlInfo& control : window.controls) {
        if (EqualsIgnoringCase(control.className, className) &&
            (control.text == text || WithoutMnemonics(control.text) == text)) {
            return control;
        }
    }
    return std::nullopt;
}

std::optional<ControlInfo> FindControlById(const WindowInfo& window, int id) {
    for (const ControlInfo& control : window.controls) {
        if (control.id == id) return control;
    }
    return std::nullopt;
}

bool ClickButton(HWND button) { return PostMessageW(button, BM_CLICK, 0, 0) != FALSE; }

bool PressKey(HWND window, WORD virtualKey) {
    if (!BringToForeground(window)) return false;
    INPUT inputs[2]{};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.wScan = ScanCode(virtualKey);
        input.ki.dwFlags = IsExtendedKey(virtualKey) ? KEYEVENTF_EXTENDEDKEY : 0;
    }
    inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

bool PostKey(HWND target, WORD virtualKey) {
    // Repeat count 1, the scan code, the extended-key bit; key up adds the
    // previous-state and transition bits.
    const UINT down = 1u | (UINT{ScanCode(virtualKey)} << 16) | (IsExtendedKey(virtualKey) ? 1u << 24 : 0u);
    const UINT up = down | (1u << 30) | (1u << 31);
    return PostMessageW(target, WM_KEYDOWN, virtualKey, static_cast<LPARAM>(down)) &&
           PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(up));
}

bool CloseWindow(HWND window) { return PostMessageW(window, WM_CLOSE, 0, 0) != FALSE; }

bool PostSysCommandClose(HWND window) { return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) != FALSE; }

bool SendCloseWindow(HWND window, DWORD timeoutMs) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &result) != 0;
}

HWND FocusedControl(DWORD processId) {
    for (const HWND window : TopLevelWindows(processId)) {
        if (!IsWindowVisible(window)) continue;
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
        return info.hwndFocus;
    }
    return nullptr;
}

bool SaveScreenshot(HWND window, const std::wstring& pngPath) {
    RECT rect{};
    return GetWindowRect(window, &rect) && Capture(rect, window, pngPath);
}

bool SaveScreenshotRect(const RECT& screenRect, const std::wstring& pngPath) {
    return Capture(screenRect, nullptr, pngPath);
}

std::vector<std::wstring> ListModules(DWORD processId) {
    // A snapshot handle is closed with CloseHandle and is invalid as
    // INVALID_HANDLE_VALUE, like a file handle.
    runtime::FileHandle snapshot;
    // ERROR_BAD_LENGTH means the module list changed while it was read.
    for (int attempt = 0; attempt < 10 && !snapshot; ++attempt) {
        snapshot.Reset(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
        if (!snapshot && GetLastError() != ERROR_BAD_LENGTH) break;
    }
    std::vector<std::wstring> modules;
    if (!snapshot) return modules;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    // The snapshot lists the executable first, then the DLLs.
    if (!Module32FirstW(snapshot.Get(), &entry)) return modules;
    while (Module32NextW(snapshot.Get(), &entry)) modules.emplace_back(entry.szExePath);
    return modules;
}

std::wstring ExeFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace automation
