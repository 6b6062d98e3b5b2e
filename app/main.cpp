#include <windows.h>

#include <cstdlib>

#include "app/frm_welcome.h"
#include "runtime/host.h"
#include "runtime/message_loop.h"
#include "runtime/system_dlls.h"

// The default handler of std::terminate describes the exception on the
// console, which a windowed program does not have, and brings a symbol
// demangler of some 40 KB with it. Every exception is caught before it could
// get there; should one escape all the same, the process just ends.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The program runs as administrator from a folder that may hold anything
    // a download folder holds, QUENDOR.DLL included.
    runtime::RestrictDllSearch();
    runtime::RunHandler([] {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        runtime::dll::InitCommonControlsEx(controls);
        // The pictures are decoded by the OLE picture loader.
        runtime::dll::OleInitialize();
        frmWelcome::Instance().Show();
    });
    return runtime::RunMessageLoop();
}
