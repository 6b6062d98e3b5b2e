#include <windows.h>

// The program starts here; the welcome window arrives with its own change.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
