// What Windows would act on: the paths of the modules in the process and the
// version of the common controls that the windows get.
#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <utility>

#include "gtest/gtest.h"
#include "host/system_dlls.h"
#include "runtime/strings.h"

namespace {

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    return std::wstring(folder, GetSystemDirectoryW(folder, MAX_PATH));
}

std::wstring ModulePath(const wchar_t* name) {
    const HMODULE module = GetModuleHandleW(name);
    if (module == nullptr) return L"<not loaded>";
    wchar_t path[MAX_PATH];
    return runtime::LCase(std::wstring(path, GetModuleFileNameW(module, path, MAX_PATH)));
}

DWORD askedFor = 0;
BOOL WINAPI RefusingSetDefaultDllDirectories(DWORD flags) {
    askedFor = flags;
    return FALSE;
}

BOOL WINAPI AcceptingSetDefaultDllDirectories(DWORD) { return TRUE; }
DWORD loadedWith = 0;
HMODULE WINAPI NotingLoadLibraryEx(LPCWSTR path, HANDLE, DWORD flags) {
    loadedWith = path == SystemFolder() + L"\\imagehlp.dll" ? flags : 0xFFFFFFFF;
    return nullptr;
}

}  // namespace

// What Windows acts on: the flags of a load by full path. Without default
// directories its imports must come from beside it, not from the program's
// folder; with them the flag is not allowed.
TEST(RestrictDllSearch, DllsLoadedByFullPathTakeTheirImportsFromTheSystemFolder) {
    const std::pair<host::SetDefaultDllDirectoriesFunction, DWORD> systems[] = {
        {nullptr, LOAD_WITH_ALTERED_SEARCH_PATH},  // XP, Vista, 7 without KB2533623
        {RefusingSetDefaultDllDirectories, LOAD_WITH_ALTERED_SEARCH_PATH},
        {AcceptingSetDefaultDllDirectories, 0},
    };
    for (const auto& [setDefaultDllDirectories, flags] : systems) {
        host::RestrictDllSearch(setDefaultDllDirectories);
        host::LoadFromSystemFolder(L"imagehlp.dll", NotingLoadLibraryEx);
        EXPECT_EQ(flags, loadedWith);
    }
}

// Where the system has no default DLL directories, or refuses them, the DLLs
// that Windows loads later by name are already in the process, each from the
// system folder, so that a load by name finds them there.
TEST(RestrictDllSearch, WithoutDefaultDirectoriesTakesLaterDllsFromTheSystemFolder) {
    host::RestrictDllSearch(RefusingSetDefaultDllDirectories);
    EXPECT_EQ(0x800u, askedFor) << "LOAD_LIBRARY_SEARCH_SYSTEM32";
    host::RestrictDllSearch(nullptr);
    const std::wstring system = runtime::LCase(SystemFolder());
    // A name this system lacks cannot be planted over: Wine has no wdmaud.drv,
    // comres.dll or rpcrtremote.dll.
    int present = 0;
    for (const wchar_t* name : {
             L"uxtheme.dll", L"dwmapi.dll", L"msimg32.dll", L"oleacc.dll", L"version.dll", L"windowscodecs.dll",
             L"winmm.dll", L"userenv.dll", L"propsys.dll", L"setupapi.dll", L"comres.dll", L"rpcrtremote.dll",
             // the message box's sound: winmm's drivers and the compression manager's codecs
             L"wdmaud.drv", L"msacm32.drv", L"midimap.dll", L"imaadp32.acm", L"msadp32.acm", L"msg711.acm",
             L"msgsm32.acm", L"l3codeca.acm"}) {
        if (GetFileAttributesW((system + L'\\' + name).c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        ++present;
        EXPECT_EQ(system + L'\\' + name, ModulePath(name));
    }
    EXPECT_GE(present, 10) << "too few of the names found in " << testing::PrintToString(system);
}

TEST(CommonControls, AreVersionSixThroughTheManifest) {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(host::dll::InitCommonControlsEx(controls));
    const auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"comctl32.dll"), "DllGetVersion")));
    ASSERT_NE(nullptr, getVersion);
    DLLVERSIONINFO version{};
    version.cbSize = sizeof version;
    ASSERT_EQ(S_OK, getVersion(&version));
    // Loaded from the side-by-side assembly of version 6, not the system
    // folder's version 5. Wine's version 6 calls itself 5.81, a known difference.
    EXPECT_NE(std::wstring::npos, ModulePath(L"comctl32.dll").find(L"common-controls_6595b64144ccf1df_6.0."))
        << ModulePath(L"comctl32.dll");
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_EQ(wine ? 5u : 6u, version.dwMajorVersion);
}
