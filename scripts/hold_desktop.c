/* Keeps the Wine prefix's desktop open for as long as it runs.
 *
 * The wineserver closes a desktop one second after the last program using
 * it has ended: it posts WM_CLOSE to the desktop's owner (explorer), which
 * then destroys the desktop's X window. A program that starts in that moment
 * is given the dying desktop's window as the parent of its own, and Xlib ends
 * it with BadWindow at its first window. With this program on the desktop,
 * the desktop always has a user and is never closed.
 *
 * It writes "ready" to standard output once it is on the desktop, then waits
 * for messages until it is killed or asked to quit. Its window is a
 * message-only one: no other program enumerates it or waits on it. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show)
{
    (void)previous;
    (void)command_line;
    (void)show;
    WNDCLASSW window_class = {0};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = instance;
    window_class.lpszClassName = L"HoldDesktop";
    if (!RegisterClassW(&window_class)) return 1;
    if (!CreateWindowExW(0, L"HoldDesktop", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, instance, NULL)) return 1;

    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\n", 6, &written, NULL);

    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
