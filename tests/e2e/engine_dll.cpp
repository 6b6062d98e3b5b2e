// A speller engine for the tests: a real DLL with a version resource (the
// build makes one of version 1.0 and one of 2.0), which a program can load
// and whose version the updater can read.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
