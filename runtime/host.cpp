#include "runtime/host.h"

#include <windows.h>

#include <vector>

#include "resources/resource.h"
#include "runtime/resources.h"

namespace runtime {

namespace {

BOOL CALLBACK DestroyThreadWindow(HWND window, LPARAM) {
    DestroyWindow(window);
    return TRUE;
}

class WindowsHost final : public Host {
public:
    void MsgBox(const std::wstring& text, int style, const std::wstring& title) override {
        // Owned by the active window of the program, so that the box stays in
        // front of it; with no window shown the box stands alone.
        MessageBoxW(GetActiveWindow(), text.c_str(), title.c_str(),
                    static_cast<UINT>(style) | MB_OK | MB_SETFOREGROUND);
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

// Error numbers are small and positive; spelled out here rather than with
// the C library's formatted output, which would double the program's size.
std::wstring NumberText(int number) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
        number /= 10;
    } while (number > 0);
    return digits;
}
Host* currentHost = &windowsHost;

}  // namespace

Host& CurrentHost() { return *currentHost; }

Host* SetHost(Host* host) noexcept {
    Host* previous = currentHost;
    currentHost = host != nullptr ? host : &windowsHost;
    return previous;
}

void ReportUnhandledError(int errorNumber) {
    const std::wstring text = L"Erro de execuci\u00F3n " + NumberText(errorNumber) + L":\n\n" +
                              ErrorDescription(errorNumber);
    MsgBox(text, kCritical, LoadResStringOr(IDS_TITLE, std::wstring()));
    End(kExitRuntimeError);
}

void ReportUnexpectedException() noexcept {
    // An exception that is not a run-time error is a fault of the program;
    // it is reported the same way rather than crashing through Windows.
    ReportUnhandledError(kInternalError);
}

}  // namespace runtime
