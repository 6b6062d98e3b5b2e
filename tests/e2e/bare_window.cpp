// The least a windowed program can be: a window the size of the welcome
// window, importing kernel32 and user32 only, with no C runtime, that
// restricts the DLL search first thing as the updater does. It shows which
// DLLs every program gets before its first instruction, how fast a window
// can appear at all and, with "/close", how fast a window program can start,
// show its window and end.
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

// "/close" as the last argument; there is no C runtime to split the line.
bool ClosesOnceShown() {
    const wchar_t* last = GetCommandLineW();
    for (const wchar_t* at = last; *at != L'\0'; ++at) {
        if (*at == L' ') last = at + 1;
    }
    return lstrcmpiW(last, L"/close") == 0;
}

}  // namespace

extern "C" void WINAPI BareStart() {
    SetDllDirectoryW(L"");
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32

    WNDCLASSW windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = nullptr;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = L"BareWindow";
    RegisterClassW(&windowClass);

    // The welcome window's client area at 96 DPI, in a fixed dialog frame.
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    RECT frame = {0, 0, 429, 217};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    const HWND window =
        CreateWindowExW(WS_EX_DLGMODALFRAME, L"BareWindow", L"Bare window", style, CW_USEDEFAULT, CW_USEDEFAULT,
                        frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, windowClass.hInstance,
                        nullptr);
    if (ClosesOnceShown()) {
        // Painted once, then closed through the message loop as a person would.
        UpdateWindow(window);
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    ExitProcess(0);
}
