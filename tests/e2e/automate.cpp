// automate: drives a GUI program from scripts, one action per run.
//
//   automate launch <exe> [--wait-title TITLE] [--timeout MS]
//   automate list <pid>
//   automate click <pid> <window-title> <button-text> [--wait-exit MS]
//   automate key <pid> <window-title> <enter|esc|tab|space> [--wait-exit MS]
//   automate shot <pid> <window-title|#32770> <file.png>
//   automate modules <pid>
//   automate wait-exit <pid> <timeout-ms>
//
// A process that has ended and that nobody holds open has no exit code left to
// read, so an action that ends the program takes --wait-exit to report it.
// Waiting for an exit prints the exit code and returns it; timeouts return 124,
// other failures 1, wrong arguments 2.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "tests/e2e/automation.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kTimedOut = 124;
constexpr DWORD kDefaultTimeoutMs = 10000;

constexpr wchar_t kUsageText[] =
    L"usage: automate launch <exe> [--wait-title TITLE] [--timeout MS]\n"
    L"       automate list <pid>\n"
    L"       automate click <pid> <window-title> <button-text> [--wait-exit MS]\n"
    L"       automate key <pid> <window-title> <enter|esc|tab|space> [--wait-exit MS]\n"
    L"       automate shot <pid> <window-title|#32770> <file.png>\n"
    L"       automate modules <pid>\n"
    L"       automate wait-exit <pid> <timeout-ms>\n";

// Straight to the console when there is one; otherwise UTF-8 bytes, which is
// what a script reading a pipe expects.
void Write(DWORD which, FILE* stream, std::wstring_view text) {
    const HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), bytes, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

void Print(const std::wstring& line) { Write(STD_OUTPUT_HANDLE, stdout, line + L"\n"); }

int Fail(const std::wstring& message, int code = kFailed) {
    Write(STD_ERROR_HANDLE, stderr, L"automate: " + message + L"\n");
    return code;
}

int Usage() {
    Write(STD_ERROR_HANDLE, stderr, kUsageText);
    return kUsage;
}

std::optional<DWORD> ParseNumber(const wchar_t* text) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, 10);
    if (end == text || *end != L'\0' || value > MAXDWORD) return std::nullopt;
    return static_cast<DWORD>(value);
}

std::wstring Quoted(std::wstring_view text) {
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        switch (c) {
            case L'"': quoted += L"\\\""; break;
            case L'\\': quoted += L"\\\\"; break;
            case L'\n': quoted += L"\\n"; break;
            case L'\r': quoted += L"\\r"; break;
            case L'\t': quoted += L"\\t"; break;
            default: quoted.push_back(c);
        }
    }
    return quoted + L"\"";
}

std::wstring Hex(std::uintptr_t value) {
    wchar_t text[16];
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring Rect(const RECT& rect) {
    return L"[" + std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L"," +
           std::to_wstring(rect.right) + L"," + std::to_wstring(rect.bottom) + L"]";
}

std::wstring States(bool visible, bool enabled) {
    return std::wstring(visible ? L"visible" : L"hidden") + (enabled ? L" enabled" : L" disabled");
}

// "#32770" finds a message box; anything else is a window title.
automation::WindowPredicate WindowNamed(const std::wstring& name) {
    return name == L"#32770" ? automation::VisibleWithClass(name) : automation::VisibleWithTitle(name);
}

// Reads an optional trailing "<flag> MS"; false when the arguments are wrong.
bool TrailingTimeout(int argc, wchar_t** argv, int first, const wchar_t* flag, std::optional<DWORD>& timeoutMs) {
    if (argc == first) return true;
    if (argc != first + 2 || std::wcscmp(argv[first], flag) != 0) return false;
    timeoutMs = ParseNumber(argv[first + 1]);
    return timeoutMs.has_value();
}

int ReportExit(HANDLE process, DWORD timeoutMs) {
    DWORD exitCode = 0;
    if (!automation::WaitForExit(process, timeoutMs, exitCode)) return Fail(L"the program is still running", kTimedOut);
    Print(std::to_wstring(exitCode));
    return static_cast<int>(exitCode);
}

automation::ProcessHandle OpenForWait(DWORD processId) {
    return automation::ProcessHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId));
}

int Launch(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    std::optional<std::wstring> waitTitle;
    DWORD timeoutMs = kDefaultTimeoutMs;
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage();
        if (std::wcscmp(argv[i], L"--wait-title") == 0) {
            waitTitle = argv[i + 1];
        } else if (std::wcscmp(argv[i], L"--timeout") == 0 && ParseNumber(argv[i + 1])) {
            timeoutMs = *ParseNumber(argv[i + 1]);
        } else {
            return Usage();
        }
    }
    wchar_t exePath[MAX_PATH];
    wchar_t* fileName = nullptr;
    const DWORD length = GetFullPathNameW(argv[2], MAX_PATH, exePath, &fileName);
    if (length == 0 || length >= MAX_PATH || fileName == nullptr) return Fail(L"bad program path");
    const std::wstring folder(exePath, static_cast<std::size_t>(fileName - exePath - 1));

    try {
        automation::Process process = automation::Launch(exePath, folder);
        Print(std::to_wstring(process.Id()));
        if (waitTitle &&
            !automation::WaitForWindow(process.Id(), automation::VisibleWithTitle(*waitTitle), timeoutMs)) {
            // The process object kills the program on the way out.
            return Fail(L"no visible window " + Quoted(*waitTitle) + L" appeared", kTimedOut);
        }
        process.Detach();
        return 0;
    } catch (const std::system_error& error) {
        return Fail(L"cannot start " + Quoted(exePath) + L": error " + std::to_wstring(error.code().value()));
    }
}

int List(DWORD processId) {
    const auto windows = automation::ListWindows(processId);
    if (windows.empty()) return Fail(L"process " + std::to_wstring(processId) + L" has no windows");
    for (const auto& window : windows) {
        Print(L"window " + Hex(reinterpret_cast<std::uintptr_t>(window.hwnd)) + L" " + window.className + L" " +
              Quoted(window.title) + L" rect=" + Rect(window.rect) + L" client=" + Rect(window.clientRect) + L" " +
              States(window.visible, window.enabled) + L" style=" + Hex(static_cast<DWORD>(window.style)) +
              L" exstyle=" + Hex(static_cast<DWORD>(window.exStyle)));
        for (const auto& control : window.controls) {
            Print(L"  " + control.className + L" id=" + std::to_wstring(control.id) + L" " + Quoted(control.text) +
                  L" rect=" + Rect(control.rect) + L" " + States(control.visible, control.enabled));
        }
    }
    return 0;
}

int Click(DWORD processId, const std::wstring& title, const std::wstring& buttonText,
          std::optional<DWORD> waitExitMs) {
    const auto named = WindowNamed(title);
    const auto window = automation::WaitForWindow(
        processId,
        [&](const automation::WindowInfo& candidate) {
            const auto button = automation::FindControl(candidate, L"Button", buttonText);
            return named(candidate) && button && button->visible && button->enabled;
        },
        kDefaultTimeoutMs);
    if (!window) {
        return Fail(L"no visible window " + Quoted(title) + L" with an enabled button " + Quoted(buttonText),
                    kTimedOut);
    }
    // Opened before the click, so the exit code is still there when it ends the program.
    const auto process = OpenForWait(processId);
    automation::ClickButton(automation::FindControl(*window, L"Button", buttonText)->hwnd);
    return waitExitMs ? ReportExit(process.Get(), *waitExitMs) : 0;
}

int Key(DWORD processId, const std::wstring& title, std::wstring_view keyName, std::optional<DWORD> waitExitMs) {
    WORD virtualKey = 0;
    if (keyName == L"enter") {
        virtualKey = VK_RETURN;
    } else if (keyName == L"esc") {
        virtualKey = VK_ESCAPE;
    } else if (keyName == L"tab") {
        virtualKey = VK_TAB;
    } else if (keyName == L"space") {
        virtualKey = VK_SPACE;
    } else {
        return Usage();
    }
    const auto window = automation::WaitForWindow(processId, WindowNamed(title), kDefaultTimeoutMs);
    if (!window) return Fail(L"no visible window " + Quoted(title), kTimedOut);
    const auto process = OpenForWait(processId);
    if (!automation::PressKey(window->hwnd, virtualKey)) return Fail(L"cannot bring the window to the foreground");
    return waitExitMs ? ReportExit(process.Get(), *waitExitMs) : 0;
}

int Shot(DWORD processId, const std::wstring& name, const std::wstring& pngPath) {
    const auto window = automation::WaitForWindow(processId, WindowNamed(name), kDefaultTimeoutMs);
    if (!window) return Fail(L"no visible window " + Quoted(name), kTimedOut);
    bool saved = false;
    const HWND owner = GetWindow(window->hwnd, GW_OWNER);
    if (name == L"#32770" && owner != nullptr && IsWindowVisible(owner)) {
        // A message box is shown together with the window it belongs to.
        RECT ownerRect{};
        RECT both{};
        GetWindowRect(owner, &ownerRect);
        UnionRect(&both, &ownerRect, &window->rect);
        saved = automation::SaveScreenshotRect(both, pngPath);
    } else {
        saved = automation::SaveScreenshot(window->hwnd, pngPath);
    }
    return saved ? 0 : Fail(L"cannot write " + Quoted(pngPath));
}

int Modules(DWORD processId) {
    const auto modules = automation::ListModules(processId);
    if (modules.empty()) return Fail(L"no modules for process " + std::to_wstring(processId));
    for (const auto& module : modules) Print(module);
    return 0;
}

int WaitExit(DWORD processId, DWORD timeoutMs) {
    const auto process = OpenForWait(processId);
    if (!process) return Fail(L"process " + std::to_wstring(processId) + L" is not running");
    return ReportExit(process.Get(), timeoutMs);
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring_view command = argv[1];
    if (command == L"launch") return Launch(argc, argv);
    if (argc < 3) return Usage();
    const auto processId = ParseNumber(argv[2]);
    if (!processId) return Usage();

    if (command == L"list" && argc == 3) return List(*processId);
    if (command == L"modules" && argc == 3) return Modules(*processId);
    if (command == L"wait-exit" && argc == 4) {
        const auto timeoutMs = ParseNumber(argv[3]);
        return timeoutMs ? WaitExit(*processId, *timeoutMs) : Usage();
    }
    if (command == L"shot" && argc == 5) return Shot(*processId, argv[3], argv[4]);
    if ((command == L"click" || command == L"key") && argc >= 5) {
        std::optional<DWORD> waitExitMs;
        if (!TrailingTimeout(argc, argv, 5, L"--wait-exit", waitExitMs)) return Usage();
        return command == L"click" ? Click(*processId, argv[3], argv[4], waitExitMs)
                                   : Key(*processId, argv[3], argv[4], waitExitMs);
    }
    return Usage();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Plain "\n" line ends for the scripts that read the output.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return Run(argc, argv);
}
