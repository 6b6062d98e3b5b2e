#include "host/system_dlls.h"

#include <optional>
#include <span>
#include <string>

#include "runtime/error.h"

namespace host {

namespace {

constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32, not in XP's headers

// Whether SetDefaultDllDirectories took: the imports of a DLL loaded by full
// path are then looked for in the system folder only.
bool defaultDirectories = false;

// The DLLs that Windows loads by name on behalf of a windowed program, later
// than the program could protect the load: visual styles and their drawing
// (uxtheme, dwmapi, msimg32), accessibility (oleacc), the COM catalogue
// (clbcatq), picture decoding (windowscodecs), the message box's sound
// (winmm), and what advapi32, ole32 and the shell pull in on Vista and 7
// (version, userenv, profapi, cryptbase, sspicli, apphelp, propsys, setupapi).
// For that sound winmm loads its drivers by the bare names of the Drivers32
// key (wdmaud.drv, the wave mapper msacm32.drv, the MIDI mapper midimap.dll),
// and the compression manager loads Windows' own codecs from the same key
// when a sound has to be converted for the device (the .acm files). COM
// loads by name its resources on XP (comres) and its remote-call helper on 7
// (rpcrtremote).
constexpr const wchar_t* kLoadedLaterByName[] = {
    L"uxtheme.dll",  L"dwmapi.dll",  L"msimg32.dll",  L"oleacc.dll",  L"clbcatq.dll",   L"windowscodecs.dll",
    L"winmm.dll",    L"version.dll", L"userenv.dll",  L"profapi.dll", L"cryptbase.dll", L"sspicli.dll",
    L"apphelp.dll",  L"propsys.dll", L"setupapi.dll", L"comres.dll",  L"rpcrtremote.dll",
    L"wdmaud.drv",   L"msacm32.drv", L"midimap.dll",
    L"imaadp32.acm", L"msadp32.acm", L"msg711.acm",   L"msgsm32.acm", L"l3codeca.acm",
};
// uxtheme takes msimg32 through a delay load, which some loaders resolve
// through the standard search whatever the default directories say (Wine's
// does): it is loaded first on every system.
constexpr const wchar_t* kDelayLoaded[] = {L"msimg32.dll"};

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// Each loaded by full path, so that later loads by name find it already in
// the process. Kept to the end of the program on purpose. A DLL this Windows
// lacks is simply not there to be planted over.
void PreloadFromSystemFolder(std::span<const wchar_t* const> names, DWORD flags) {
    const std::wstring folder = SystemFolder();
    if (folder.empty()) return;
    for (const wchar_t* name : names) {
        LoadLibraryExW((folder + L'\\' + name).c_str(), nullptr, flags);
    }
}

// By name: comctl32 then goes through the manifest's side-by-side
// redirection to version 6 (its full path would give version 5), and ole32
// and oleaut32 are Known DLLs on every Windows since XP.
HMODULE LoadOrRaise(const wchar_t* name) {
    const HMODULE module = LoadLibraryW(name);
    if (module == nullptr) runtime::Raise(runtime::kDllNotLoaded);
    return module;
}

template <typename Function>
Function Find(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

template <typename Function>
Function Entry(HMODULE module, const char* name) {
    const Function function = Find<Function>(module, name);
    if (function == nullptr) runtime::Raise(runtime::kDllFunctionNotFound);
    return function;
}

HMODULE Comctl32() {
    static const HMODULE module = LoadOrRaise(L"comctl32.dll");
    return module;
}
HMODULE Ole32() {
    static const HMODULE module = LoadOrRaise(L"ole32.dll");
    return module;
}
HMODULE Oleaut32() {
    static const HMODULE module = LoadOrRaise(L"oleaut32.dll");
    return module;
}

}  // namespace

void RestrictDllSearch() {
    RestrictDllSearch(reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"))));
}

void RestrictDllSearch(SetDefaultDllDirectoriesFunction setDefaultDllDirectories) {
    // Not the current folder either, on every system.
    SetDllDirectoryW(L"");
    defaultDirectories = setDefaultDllDirectories != nullptr && setDefaultDllDirectories(kSearchSystem32);
    if (defaultDirectories) {
        PreloadFromSystemFolder(kDelayLoaded, 0);
    } else {
        // Without default directories, the preloaded DLLs' own imports are
        // looked for beside them, in the system folder.
        PreloadFromSystemFolder(kLoadedLaterByName, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}

HMODULE LoadFromSystemFolder(const wchar_t* name, LoadLibraryExFunction load) {
    const std::wstring folder = SystemFolder();
    if (folder.empty()) return nullptr;
    // Without default directories, the DLL's own imports would be looked for
    // as if loaded by name: in the program's folder first. The flag may not
    // be combined with the default directories' own.
    return load((folder + L'\\' + name).c_str(), nullptr, defaultDirectories ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace dll {

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX& controls) {
    static const auto function = Entry<decltype(&::InitCommonControlsEx)>(Comctl32(), "InitCommonControlsEx");
    return function(&controls);
}

HRESULT OleInitialize() {
    static const auto function = Entry<decltype(&::OleInitialize)>(Ole32(), "OleInitialize");
    return function(nullptr);
}

HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream) {
    static const auto function = Entry<decltype(&::CreateStreamOnHGlobal)>(Ole32(), "CreateStreamOnHGlobal");
    return function(memory, deleteOnRelease, stream);
}

HRESULT OleLoadPicture(IStream* stream, LONG size, BOOL runMode, REFIID interfaceId, void** object) {
    static const auto function = Entry<decltype(&::OleLoadPicture)>(Oleaut32(), "OleLoadPicture");
    return function(stream, size, runMode, interfaceId, object);
}

const RestartManager* RestartManagerFunctions() {
    static const std::optional<RestartManager> functions = []() -> std::optional<RestartManager> {
        const HMODULE module = LoadFromSystemFolder(L"rstrtmgr.dll", LoadLibraryExW);
        if (module == nullptr) return std::nullopt;
        const RestartManager found{Find<decltype(&::RmStartSession)>(module, "RmStartSession"),
                                   Find<decltype(&::RmRegisterResources)>(module, "RmRegisterResources"),
                                   Find<decltype(&::RmGetList)>(module, "RmGetList"),
                                   Find<decltype(&::RmEndSession)>(module, "RmEndSession")};
        if (!found.StartSession || !found.RegisterResources || !found.GetList || !found.EndSession) return std::nullopt;
        return found;
    }();
    return functions ? &*functions : nullptr;
}

CheckSumMappedFileFunction CheckSumMappedFile() {
    static const CheckSumMappedFileFunction function = [] {
        const HMODULE module = LoadFromSystemFolder(L"imagehlp.dll", LoadLibraryExW);
        return module == nullptr ? nullptr : Find<CheckSumMappedFileFunction>(module, "CheckSumMappedFile");
    }();
    return function;
}

}  // namespace dll

}  // namespace host
