// The speller engine of the benchmarks: a real DLL of 300 KB, about the size
// of a speller's engine, with the version block of the test engines and the
// header checksum the linker writes, so that the updater checks it as it
// checks a real engine.
#include <windows.h>

// Stands for the engine's code and tables: bytes that the checks read.
extern "C" __declspec(dllexport) const unsigned char kTables[300 * 1024] = {1};

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
