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

namespace {

// The program runs as administrator from a folder that may hold anything a
// download folder holds, QUENDOR.DLL included: DLLs are taken from the
// system folder only, never from the program's own folder or the current one.
void RestrictDllSearch() {
    SetDllDirectoryW(L"");
    // Windows 7 with its updates and later: the system folder alone.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr) setDefaultDllDirectories(0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The pictures are decoded by the OLE picture loader.
    OleInitialize(nullptr);

    runtime::RunHandler([] { frmWelcome::Instance().Show(); });
    return runtime::RunMessageLoop();
}
