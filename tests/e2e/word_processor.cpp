// Stands for a word processor that has the speller open: it loads the DLL
// given first and holds every other file given open without sharing it,
// until it is ended from outside.
//
//   word_processor.exe <engine.dll> [file...]
#include <windows.h>

#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || LoadLibraryW(argv[1]) == nullptr) return 1;
    std::vector<HANDLE> held;
    for (int i = 2; i < argc; ++i) {
        held.push_back(CreateFileW(argv[i], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (held.back() == INVALID_HANDLE_VALUE) return 1;
    }
    for (;;) Sleep(INFINITE);
}
