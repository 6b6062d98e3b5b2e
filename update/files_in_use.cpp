#include "update/files_in_use.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>

#include "host/system_dlls.h"
#include "runtime/handles.h"
#include "runtime/paths.h"
#include "runtime/strings.h"
#include "update/file_version.h"

namespace update {

namespace {

void AddOnce(std::vector<std::wstring>& names, const std::wstring& name) {
    if (!name.empty() && std::ranges::find(names, name) == names.end()) names.push_back(name);
}


std::vector<std::wstring> RestartManagerNames(const std::vector<std::wstring>& files) {
    const host::dll::RestartManager* rm = host::dll::RestartManagerFunctions();
    if (rm == nullptr) return {};
    DWORD session = 0;
    wchar_t key[CCH_RM_SESSION_KEY + 1] = {};
    if (rm->StartSession(&session, 0, key) != ERROR_SUCCESS) return {};
    struct Session {
        const host::dll::RestartManager* rm;
        DWORD handle;
        ~Session() { rm->EndSession(handle); }
    } const owner{rm, session};

    std::vector<const wchar_t*> paths;
    for (const std::wstring& file : files) paths.push_back(file.c_str());
    std::vector<std::wstring> names;
    if (rm->RegisterResources(session, static_cast<UINT>(paths.size()), paths.data(), 0, nullptr, 0, nullptr) !=
        ERROR_SUCCESS) {
        return names;
    }
    std::vector<RM_PROCESS_INFO> programs;
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;  // some systems leave it unwritten
    DWORD result = rm->GetList(session, &needed, &count, nullptr, &reasons);
    // The list may grow between the two calls.
    for (int attempt = 0; result == ERROR_MORE_DATA && attempt < 5; ++attempt) {
        programs.resize(needed);
        count = needed;
        result = rm->GetList(session, &needed, &count, programs.data(), &reasons);
    }
    if (result != ERROR_SUCCESS) return names;
    for (UINT i = 0; i < count && i < programs.size(); ++i) {
        programs[i].strAppName[CCH_RM_MAX_APP_NAME] = L'\0';
        AddOnce(names, programs[i].strAppName);
    }
    return names;
}

// Whether path lies on another computer: reading it there, as SYSTEM, would
// make this one authenticate to it.
bool OnNetwork(const std::wstring& path) {
    if (path.starts_with(L"\\\\")) return true;
    return path.size() > 2 && path[1] == L':' && GetDriveTypeW(path.substr(0, 3).c_str()) == DRIVE_REMOTE;
}

// The name a person knows a program by: its description, else its file
// name. Naming a program never stops the update.
std::wstring ProgramName(const std::wstring& executable, const wchar_t* fileName) {
    try {
        if (!OnNetwork(executable)) {
            std::wstring description = FileDescription(executable);
            if (!description.empty()) return description;
        }
    } catch (...) {  // out of memory, say: the file name will do
    }
    return fileName;
}

}  // namespace

std::vector<std::wstring> ProgramsWithModule(const std::vector<std::wstring>& modules) {
    std::vector<std::wstring> names;
    std::vector<std::wstring> wanted;
    for (const std::wstring& module : modules) wanted.push_back(runtime::ComparablePath(module));
    const runtime::FileHandle processes(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes) return names;
    PROCESSENTRY32W process{};
    process.dwSize = sizeof process;
    for (BOOL more = Process32FirstW(processes.Get(), &process); more; more = Process32NextW(processes.Get(), &process)) {
        if (process.th32ProcessID == 0 || process.th32ProcessID == GetCurrentProcessId()) continue;
        // Refused for processes of other users or of the other bitness.
        const runtime::FileHandle loaded(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
        if (!loaded) continue;
        MODULEENTRY32W entry{};
        entry.dwSize = sizeof entry;
        std::wstring executable;  // the first module listed is the program itself
        for (BOOL next = Module32FirstW(loaded.Get(), &entry); next; next = Module32NextW(loaded.Get(), &entry)) {
            if (executable.empty()) executable = entry.szExePath;
            if (std::ranges::find(wanted, runtime::LCase(entry.szExePath)) != wanted.end()) {
                AddOnce(names, ProgramName(executable, process.szExeFile));
                break;
            }
        }
    }
    return names;
}

std::vector<std::wstring> ProgramsUsing(const std::vector<std::wstring>& files) {
    std::vector<std::wstring> names = RestartManagerNames(files);
    return names.empty() ? ProgramsWithModule(files) : names;
}

}  // namespace update
