/* A stand-in for Windows' Restart Manager (rstrtmgr.dll) for the tests of
 * "who holds this file": the four functions the updater calls, with their
 * documented sessions, arguments and ERROR_MORE_DATA protocol. Nothing can
 * tell a stand-in who holds a file, so it names whoever the test wrote into
 * "rstrtmgr.answers" beside it, one line each:
 *
 *   app <pid> <type> <name>         a program that holds the files; <type> is
 *                                   an RM_APP_TYPE value, <name> UTF-8
 *   grow                            each RmGetList of a session sees one
 *                                   program more than the one before, as when
 *                                   programs open the files between two calls
 *   fail <function> <error> [<n>]   <function> returns <error> from its n-th
 *                                   call in the process on (first by default)
 *
 * Every call is appended to "rstrtmgr.calls" beside it, for the test to see
 * how the program used the contract. */
#include <windows.h>
#include <restartmanager.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT __declspec(dllexport)
#define MAX_APPS 64
#define MAX_SESSIONS 64 /* the most a user may have open at once */
#ifndef ERROR_MAX_SESSIONS_REACHED
#define ERROR_MAX_SESSIONS_REACHED 353
#endif

typedef struct {
    const char* function;
    DWORD error;
    unsigned from;
    unsigned calls;
} Failure;

enum { kStart, kRegister, kGetList, kEnd };
static Failure failures[] = {{"RmStartSession", 0, 0, 0}, {"RmRegisterResources", 0, 0, 0},
                             {"RmGetList", 0, 0, 0}, {"RmEndSession", 0, 0, 0}};
static HINSTANCE self;
static BOOL loaded;
static RM_PROCESS_INFO apps[MAX_APPS];
static UINT appCount;
static BOOL grow;
static struct {
    BOOL open;
    UINT lists;
} sessions[MAX_SESSIONS];
static DWORD started;

/* The file beside this DLL whose name ends in ending. */
static void Beside(const wchar_t* ending, wchar_t* path) {
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    wchar_t* dot = wcsrchr(path, L'.');
    if (length == 0 || length >= MAX_PATH || dot == NULL || (size_t)(dot - path) + wcslen(ending) >= MAX_PATH) {
        path[0] = L'\0';
        return;
    }
    wcscpy(dot, ending);
}

static void Trace(const char* line) {
    wchar_t path[MAX_PATH];
    DWORD written = 0;
    HANDLE file;
    Beside(L".calls", path);
    file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteFile(file, line, (DWORD)strlen(line), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
}

static void ReadAnswer(char* line) {
    char* end = NULL;
    size_t i;
    if (strncmp(line, "app ", 4) == 0 && appCount < MAX_APPS) {
        RM_PROCESS_INFO* app = &apps[appCount++];
        app->Process.dwProcessId = strtoul(line + 4, &end, 10);
        app->ApplicationType = (RM_APP_TYPE)strtoul(end, &end, 10);
        app->AppStatus = RmStatusRunning;
        app->TSSessionId = (DWORD)RM_INVALID_TS_SESSION;
        MultiByteToWideChar(CP_UTF8, 0, *end == ' ' ? end + 1 : end, -1, app->strAppName, CCH_RM_MAX_APP_NAME);
        return;
    }
    if (strcmp(line, "grow") == 0) {
        grow = TRUE;
        return;
    }
    for (i = 0; i < sizeof failures / sizeof *failures; ++i) {
        const size_t length = strlen(failures[i].function);
        if (strncmp(line, "fail ", 5) == 0 && strncmp(line + 5, failures[i].function, length) == 0 &&
            line[5 + length] == ' ') {
            failures[i].error = strtoul(line + 6 + length, &end, 10);
            failures[i].from = *end == ' ' ? (unsigned)strtoul(end, NULL, 10) : 1;
            return;
        }
    }
    if (line[0] != '\0') {
        char text[600];
        _snprintf(text, sizeof text, "unknown answer: %.500s", line);
        text[sizeof text - 1] = '\0';
        Trace(text);
    }
}

static void Load(void) {
    static char text[32768];
    wchar_t path[MAX_PATH];
    DWORD size = 0;
    char* line;
    HANDLE file;
    if (loaded) return;
    loaded = TRUE;
    Beside(L".answers", path);
    file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    ReadFile(file, text, sizeof text - 1, &size, NULL);
    CloseHandle(file);
    text[size] = '\0';
    for (line = strtok(text, "\r\n"); line != NULL; line = strtok(NULL, "\r\n")) ReadAnswer(line);
}

/* The injected error of this call, or ERROR_SUCCESS. */
static DWORD Injected(int function) {
    Failure* failure = &failures[function];
    ++failure->calls;
    return failure->error != ERROR_SUCCESS && failure->calls >= failure->from ? failure->error : ERROR_SUCCESS;
}

static BOOL Open(DWORD session) { return session >= 1 && session <= MAX_SESSIONS && sessions[session - 1].open; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

EXPORT DWORD WINAPI RmStartSession(DWORD* pSessionHandle, DWORD dwSessionFlags, WCHAR strSessionKey[]) {
    DWORD result = pSessionHandle != NULL && strSessionKey != NULL ? ERROR_SUCCESS : ERROR_BAD_ARGUMENTS;
    DWORD session = 0;
    char line[80];
    (void)dwSessionFlags;
    Load();
    if (result == ERROR_SUCCESS) result = Injected(kStart);
    while (result == ERROR_SUCCESS && session < MAX_SESSIONS && sessions[session].open) ++session;
    if (result == ERROR_SUCCESS && session == MAX_SESSIONS) result = ERROR_MAX_SESSIONS_REACHED;
    if (result == ERROR_SUCCESS) {
        /* A key no other session of this machine has: process, count, time. */
        const DWORD parts[4] = {GetCurrentProcessId(), ++started, GetTickCount(), session};
        unsigned i;
        for (i = 0; i < CCH_RM_SESSION_KEY; ++i) {
            strSessionKey[i] = L"0123456789ABCDEF"[(parts[i / 8] >> (28 - 4 * (i % 8))) & 15];
        }
        strSessionKey[CCH_RM_SESSION_KEY] = L'\0';
        sessions[session].open = TRUE;
        sessions[session].lists = 0;
        *pSessionHandle = ++session;
    }
    _snprintf(line, sizeof line, "RmStartSession -> %lu %lu", result, session);
    Trace(line);
    return result;
}

EXPORT DWORD WINAPI RmRegisterResources(DWORD dwSessionHandle, UINT nFiles, LPCWSTR rgsFileNames[],
                                        UINT nApplications, RM_UNIQUE_PROCESS rgApplications[], UINT nServices,
                                        LPCWSTR rgsServiceNames[]) {
    DWORD result = ERROR_SUCCESS;
    char line[MAX_PATH * 3 + 16];
    UINT i;
    Load();
    if (!Open(dwSessionHandle)) {
        result = ERROR_INVALID_HANDLE;
    } else if ((nFiles > 0 && rgsFileNames == NULL) || (nApplications > 0 && rgApplications == NULL) ||
               (nServices > 0 && rgsServiceNames == NULL)) {
        result = ERROR_BAD_ARGUMENTS;
    } else {
        result = Injected(kRegister);
    }
    _snprintf(line, sizeof line, "RmRegisterResources %lu %u %u %u -> %lu", dwSessionHandle, nFiles, nApplications,
              nServices, result);
    Trace(line);
    for (i = 0; rgsFileNames != NULL && i < nFiles; ++i) {
        strcpy(line, "  file ");
        if (WideCharToMultiByte(CP_UTF8, 0, rgsFileNames[i], -1, line + 7, (int)sizeof line - 7, NULL, NULL) == 0) {
            strcpy(line + 7, "?");
        }
        Trace(line);
    }
    return result;
}

EXPORT DWORD WINAPI RmGetList(DWORD dwSessionHandle, UINT* pnProcInfoNeeded, UINT* pnProcInfo,
                              RM_PROCESS_INFO rgAffectedApps[], LPDWORD lpdwRebootReasons) {
    const UINT given = pnProcInfo != NULL ? *pnProcInfo : 0;
    DWORD result = ERROR_SUCCESS;
    UINT listed = 0;
    char line[80];
    Load();
    if (!Open(dwSessionHandle)) {
        result = ERROR_INVALID_HANDLE;
    } else if (pnProcInfoNeeded == NULL || pnProcInfo == NULL || lpdwRebootReasons == NULL ||
               (given > 0 && rgAffectedApps == NULL)) {
        result = ERROR_BAD_ARGUMENTS;
    } else {
        const UINT call = ++sessions[dwSessionHandle - 1].lists;
        result = Injected(kGetList);
        if (result == ERROR_SUCCESS) {
            listed = grow && call < appCount ? call : appCount;
            *pnProcInfoNeeded = listed;
            *lpdwRebootReasons = RmRebootReasonNone;
            if (given < listed) {
                *pnProcInfo = 0;
                result = ERROR_MORE_DATA;
            } else {
                if (listed > 0) memcpy(rgAffectedApps, apps, listed * sizeof *apps);
                *pnProcInfo = listed;
            }
        }
    }
    _snprintf(line, sizeof line, "RmGetList %lu %u -> %lu %u", dwSessionHandle, given, result, listed);
    Trace(line);
    return result;
}

EXPORT DWORD WINAPI RmEndSession(DWORD dwSessionHandle) {
    DWORD result = Open(dwSessionHandle) ? Injected(kEnd) : ERROR_INVALID_HANDLE;
    char line[80];
    Load();
    if (result == ERROR_SUCCESS) sessions[dwSessionHandle - 1].open = FALSE;
    _snprintf(line, sizeof line, "RmEndSession %lu -> %lu", dwSessionHandle, result);
    Trace(line);
    return result;
}
