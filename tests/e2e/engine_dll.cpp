// A speller engine for the tests: a real DLL with a version resource (the
// build makes one of version 1.0 and one of 2.0), which a program can load
// and whose version the updater can read.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

#ifdef TEST_ENGINE
// A version block's signature and version 1.5 in the engine's data, before
// its resources: only the version resource tells the engine's version.
extern "C" __declspec(dllexport) const DWORD kNotTheVersion[] = {0xFEEF04BD, 0x00010000, 0x00010005, 0};
#endif
