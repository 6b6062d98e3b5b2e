// The DLLs the program takes from Windows beyond its import table.
//
// The loader resolves the import table before the program's first
// instruction, through a search that starts in the program's own folder, a
// folder that may hold anything a download folder holds. So the program
// imports only DLLs that Windows always takes from the system folder
// (kernel32, user32, gdi32, advapi32, msvcrt); the rest is loaded here, after
// the search has been restricted to the system folder.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <olectl.h>
#include <restartmanager.h>

namespace host {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The first thing the program does: DLLs are then taken from the system
// folder only, never from the program's folder or the current one.
void RestrictDllSearch();
// The same with the system's SetDefaultDllDirectories, or nullptr where the
// system has none (XP, Vista, 7 without its 2011 update).
void RestrictDllSearch(SetDefaultDllDirectoriesFunction setDefaultDllDirectories);

// Loads a DLL that is not a Known DLL on every system by its full path in
// the system folder (by name, where there are no default directories, it
// would be looked for in the program's folder first), its own imports from
// there too, through load: LoadLibraryExW, or a test's that notes the flags.
// Kept to the end of the program; nullptr when absent.
using LoadLibraryExFunction = HMODULE(WINAPI*)(LPCWSTR path, HANDLE reserved, DWORD flags);
HMODULE LoadFromSystemFolder(const wchar_t* name, LoadLibraryExFunction load);

// The functions of the DLLs loaded here. Each DLL is loaded on first use and
// kept to the end of the program; a DLL that cannot be loaded raises run-time
// error 48, a function that it lacks error 453.
namespace dll {

// comctl32: version 6, through the manifest.
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX& controls);
// ole32
HRESULT OleInitialize();
HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream);
// oleaut32
HRESULT OleLoadPicture(IStream* stream, LONG size, BOOL runMode, REFIID interfaceId, void** object);

// rstrtmgr, which names the programs that use a file: Vista and later, so
// nullptr where this Windows has none (or lacks one of the functions).
struct RestartManager {
    decltype(&::RmStartSession) StartSession;
    decltype(&::RmRegisterResources) RegisterResources;
    decltype(&::RmGetList) GetList;
    decltype(&::RmEndSession) EndSession;
};
const RestartManager* RestartManagerFunctions();

// imagehlp's CheckSumMappedFile, which computes a PE file's checksum over a
// view of it; nullptr where it cannot be had.
using CheckSumMappedFileFunction = PIMAGE_NT_HEADERS(WINAPI*)(PVOID base, DWORD length, PDWORD headerSum,
                                                                PDWORD checkSum);
CheckSumMappedFileFunction CheckSumMappedFile();

}  // namespace dll

}  // namespace host
