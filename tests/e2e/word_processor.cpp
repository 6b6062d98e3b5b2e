// Stands for a word processor that has the speller open: it loads the DLL
// given first and holds every other file given open as Windows holds a
// loaded DLL, readable by others but neither writable nor deletable (Wine
// would let a loaded DLL be replaced), until it is ended from outside. Once
// it holds them all, a file "<its own path>.ready" appears.
//
//   word_processor.exe <engine.dll> [file...]
#include <windows.h>

#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || LoadLibraryW(argv[1]) == nullptr) return 1;
    std::vector<HANDLE> held;
    for (int i = 2; i < argc; ++i) {
        // A test that looks whether the file is held yet opens it for a
        // moment: that is a sharing violation here, so it is tried again.
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int attempt = 0; attempt < 1000 && file == INVALID_HANDLE_VALUE; ++attempt) {
            file = CreateFileW(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) return 1;
            if (file == INVALID_HANDLE_VALUE) Sleep(10);
        }
        if (file == INVALID_HANDLE_VALUE) return 1;
        held.push_back(file);
    }
    wchar_t ready[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(nullptr, ready, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    lstrcatW(ready, L".ready");
    CloseHandle(CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (;;) Sleep(INFINITE);
}
