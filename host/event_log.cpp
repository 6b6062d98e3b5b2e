#include "host/event_log.h"

#include <new>
#include <vector>

#include "host/exit_codes.h"
#include "host/log.h"
#include "runtime/handles.h"

namespace host {

namespace {

constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Actualizador corrector galego";
// The message file that Windows' own eventcreate gives the sources it
// creates, for its IDs 1 to 1000, where each ID shows the text it is given.
// Our executable runs from a share or a deployment cache and goes away: it is
// never the message file.
constexpr wchar_t kMessageFile[] = L"%SystemRoot%\\System32\\EventCreate.exe";

std::vector<std::wstring> details;
bool wanted = false;

struct EventSourceTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle source) noexcept { DeregisterEventSource(source); }
};

void RegisterSourceWhereMissing() {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, KEY_QUERY_VALUE, &opened) == ERROR_SUCCESS) {
        RegCloseKey(opened);
        return;
    }
    if (!RunsAsAdministrator()) return;
    LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
    const runtime::RegistryKey key(error == ERROR_SUCCESS ? opened : nullptr);
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    if (error == ERROR_SUCCESS) {
        error = RegSetValueExW(key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(kMessageFile),
                               sizeof kMessageFile);
    }
    if (error == ERROR_SUCCESS) {
        error = RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                               sizeof types);
    }
    if (error != ERROR_SUCCESS) {
        LogSystemError(L"Rexistrar a orixe de eventos", static_cast<DWORD>(error), L"HKLM\\" + std::wstring(kSourceKey));
    } else {
        Log({L"Rexistrada a orixe de eventos: HKLM\\", kSourceKey});
    }
}

}  // namespace

RunEvent EventForRun(int exitCode, std::wstring_view meaning) {
    constexpr WORD kInformation = EVENTLOG_INFORMATION_TYPE;
    constexpr WORD kWarning = EVENTLOG_WARNING_TYPE;
    constexpr WORD kError = EVENTLOG_ERROR_TYPE;
    RunEvent event{0, kError, RunEndText(exitCode, meaning)};
    for (const std::wstring& detail : details) event.text += L"\r\n" + detail;
    switch (exitCode) {
    case kExitUpdated: event.id = 100, event.type = kInformation; break;
    case kExitFailed: event.id = 101; break;
    case kExitCancelled: event.id = 102, event.type = kWarning; break;
    case kExitRuntimeError: event.id = 103; break;
    case kExitNothingToUpdate: event.id = 104, event.type = kInformation; break;
    case kExitFilesInUse: event.id = 105, event.type = kWarning; break;
    case kExitPartlyReplaced: event.id = 107; break;
    case kExitDamagedFiles: event.id = 108; break;
    case kExitAlreadyRunning: event.id = 118, event.type = kWarning; break;
    case kExitInvalidCommandLine: event.id = 139; break;
    case kExitAtNextRestart: event.id = 130, event.type = kWarning; break;
    default: event.id = 199; break;
    }
    return event;
}

void NoteForEvent(const std::wstring& detail) {
    try {
        details.push_back(detail);
    } catch (const std::bad_alloc&) {
        // The event goes without it.
    }
}

void SetRunEventWanted(bool wantedNow) noexcept { wanted = wantedNow; }

void ReportRunEvent(int exitCode, std::wstring_view meaning) noexcept {
    if (!wanted) return;
    try {
        RegisterSourceWhereMissing();
        const RunEvent event = EventForRun(exitCode, meaning);
        const runtime::UniqueHandle<EventSourceTraits> source(RegisterEventSourceW(nullptr, kEventSource));
        const wchar_t* strings[] = {event.text.c_str()};
        if (!source || !ReportEventW(source.Get(), event.type, 0, event.id, nullptr, 1, 0, strings, nullptr)) {
            LogSystemError(L"Escribir o evento no rexistro de aplicaci\u00F3ns", GetLastError(), kEventSource);
        }
    } catch (const std::bad_alloc&) {
        Log(L"Non se escribiu o evento: sen memoria");
    }
}

}  // namespace host
