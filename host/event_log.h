// One Application event per unattended run, for administrators who collect
// events from many PCs (Event Viewer, Get-WinEvent, event forwarding) rather
// than a log file left on each.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace host {

inline constexpr wchar_t kEventSource[] = L"Actualizador corrector galego";

struct RunEvent {
    DWORD id;
    WORD type;  // EVENTLOG_INFORMATION_TYPE, _WARNING_TYPE or _ERROR_TYPE
    std::wstring text;
};

// The event of a run that ends with exitCode: an ID and type fixed for each
// code, stable from release to release, and one text: the log's last line,
// which tells meaning, then the details noted during the run.
RunEvent EventForRun(int exitCode, std::wstring_view meaning);
// A fact for the event's text: the proofing folder, an engine's version.
void NoteForEvent(const std::wstring& detail);
// Only runs started with switches write an event.
void SetRunEventWanted(bool wanted) noexcept;
// Writes the run's event, when wanted, first registering the source when the
// run is elevated and the source is missing. A failure only logs one line.
void ReportRunEvent(int exitCode, std::wstring_view meaning) noexcept;

}  // namespace host
