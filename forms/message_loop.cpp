#include "forms/message_loop.h"

#include "host/exit_codes.h"

namespace forms {

namespace {

// A quit request that a yield took from the queue, for the message loop. It
// is not posted again meanwhile: a message box would see it and close at
// once, before the user could read it.
bool quitRequested = false;

int loadedWindows = 0;

// Makes the message loop look again whether a window is left.
void WakeMessageLoop() {
    // A window closed by a message sent from another program goes inside
    // GetMessageW, which goes on waiting when nothing is posted after it. A
    // message for no window wakes it and does nothing else; a quit request
    // would close the next message box, should a window be shown meanwhile in
    // the same request (Seguinte shows the installer's).
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

}  // namespace

void WindowLoaded() noexcept { ++loadedWindows; }

void WindowUnloaded() noexcept {
    if (--loadedWindows == 0) WakeMessageLoop();
}

int LoadedWindowCount() noexcept { return loadedWindows; }

void DispatchProgramMessage(MSG& message) {
    const HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsDialogMessageW(root, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

int RunMessageLoop() {
    MSG message;
    while (loadedWindows > 0 && !quitRequested) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        DispatchProgramMessage(message);
    }
    return host::kExitCancelled;
}

void DoEvents() {
    // Looking at the queue costs a round trip to the window system, as much
    // as the registry read that the yield follows; more often than every
    // 10 ms, the time a repaint or a click may wait unnoticed, it would
    // double the cost of a long list.
    static DWORD lastLook = GetTickCount() - 1000;
    const DWORD now = GetTickCount();
    if (now - lastLook < 10) return;
    lastLook = now;

    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quitRequested = true;
        } else {
            DispatchProgramMessage(message);
        }
    }
}

}  // namespace forms
