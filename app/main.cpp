#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <cstdlib>

#include "app/frm_welcome.h"
#include "runtime/host.h"
#include "runtime/message_loop.h"

// The default handler of std::terminate describes the exception on the
// console, which a windowed program does not have, and brings a symbol
// demangler of some 40 KB with it. Every exception is caught before it could
// get there; should one escape all the same, the process just ends.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The pictures are decoded by the OLE picture loader.
    OleInitialize(nullptr);

    runtime::RunHandler([] { frmWelcome::Instance().Show(); });
    return runtime::RunMessageLoop();
}
