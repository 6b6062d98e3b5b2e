#include "runtime/message_loop.h"

namespace runtime {

void DispatchProgramMessage(MSG& message) {
    const HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsDialogMessageW(root, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void DoEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The quit request belongs to the outer loop: leave it waiting there.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        DispatchProgramMessage(message);
    }
}

}  // namespace runtime
