#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "app/frm_welcome.h"
#include "runtime/host.h"
#include "runtime/message_loop.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The pictures are decoded by the OLE picture loader.
    OleInitialize(nullptr);

    runtime::RunHandler([] { frmWelcome::Instance().Show(); });
    return runtime::RunMessageLoop();
}
