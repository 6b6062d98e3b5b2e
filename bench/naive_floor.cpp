// The floor of the installation benchmark: the updater's steps after
// "Seguinte" done the plainest way, with none of its checks. A window with a
// "Seguinte" button; pressed, it reads every name of the shared-DLL key,
// takes the first under "microsoft shared" for the proofing folder, looks
// for the engine there, copies both new files from its own folder over the
// installed ones and shows the success message. What the updater takes
// beyond this is what its checks, staging, window and message box cost.
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr int kNext = 1;
constexpr wchar_t kSharedDllKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::vector<std::wstring> SharedDllNames() {
    std::vector<std::wstring> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDllKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    std::vector<wchar_t> name(16384);
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(name.size());
        if (RegEnumValueW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name.data(), length);
    }
    RegCloseKey(key);
    return names;
}

std::wstring ProofingFolder() {
    for (const std::wstring& name : SharedDllNames()) {
        std::wstring lower = name;
        CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
        const std::size_t at = lower.find(L"microsoft shared");
        if (at != std::wstring::npos) return name.substr(0, at) + L"Microsoft Shared\\PROOF";
    }
    return std::wstring();
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return self.substr(0, self.find_last_of(L'\\'));
}

// True when both files were copied.
bool Install() {
    const std::wstring proof = ProofingFolder();
    const std::wstring from = ProgramFolder();
    if (proof.empty() || GetFileAttributesW((proof + L"\\QUENDOR.DLL").c_str()) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    return CopyFileW((from + L"\\QUENDOR.DLL").c_str(), (proof + L"\\QUENDOR.DLL").c_str(), FALSE) &&
           CopyFileW((from + L"\\QUENDOR.LEX").c_str(), (proof + L"\\QUENDOR.LEX").c_str(), FALSE);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == kNext) {
        const bool installed = Install();
        MessageBoxW(window, installed ? L"O corrector foi actualizado" : L"Non \u00E9 posible continuar a instalaci\u00F3n",
                    L"Naive floor", MB_OK | (installed ? MB_ICONINFORMATION : MB_ICONERROR));
        DestroyWindow(window);
        PostQuitMessage(installed ? 0 : 1);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"NaiveFloor";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(0, L"NaiveFloor", L"Naive floor", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 435, 246, nullptr, nullptr, instance, nullptr);
    CreateWindowExW(0, L"Button", L"Seguinte", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 98, 177, 96, 28, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNext)), instance, nullptr);
    // Shown with its button, so that whoever sees the window finds the button.
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
