// The run's log, for an administrator reading it on the PC or collecting it
// from a share: appended to one file, UTF-8 with a byte-order mark, Windows
// line ends, one line per event with the local date and time and the process
// id. Without an open log, writing to it does nothing.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace host {

// Opens path for appending, creating it if missing; false when it cannot, or
// when the name is not a plain file of its own: a link of any kind is not
// followed but refused, and so are a folder and a file that has other names
// (hard links), for a log written as SYSTEM must not land on a file someone
// else chose. A relative path is taken from the current folder. What earlier
// runs wrote is never rewritten: the file is opened to append only.
bool OpenLog(const std::wstring& path);
// The log /LOG alone asks for: %TEMP%\actualizador-corrector-galego.log, or,
// when that name cannot be used (a folder or a link of that name, planted
// where anyone may write), one of this run's own beside it, with the process
// id in its name. Without either the run goes on with no log.
void OpenDefaultLog();
bool LogIsOpen() noexcept;

// One line: the local date and time with their offset from UTC, the process
// id, and the text escaped by EscapeLogText:
//   2026-12-07 15:23:08.110+01:00 [1234]  text
// A write that fails or is cut short (a full disk) ends the log: it is closed
// and no more is written, and the run goes on.
void Log(std::wstring_view text) noexcept;
// The text with every control character made visible, so that one call is
// one line and no text logged can forge or hide another: CR, LF and tab as
// \r, \n and \t; every other control character (below U+0020, DEL and
// U+0080 to U+009F) as \x and two hex digits (\x1B). Everything else stays
// as it is, backslashes too, so that a path reads as a path.
std::wstring EscapeLogText(std::wstring_view text);
// A failed Windows call: its error number, the system's own text for it, and
// the file it concerns.
void LogSystemError(std::wstring_view what, DWORD error, std::wstring_view file) noexcept;

// The facts an administrator needs to read the rest: the program's version,
// the log's full path, the command line, Windows, administrator rights, the
// program's folder (the host's AppPath).
void LogRunStart(std::wstring_view modeName, std::wstring_view programFolder);
// The last line: the exit code and what it tells (ExitCodeMeaning), or the
// meaning given, for a run whose code says less than what it did. The text
// serves the run's event too.
void LogRunEnd(int exitCode, std::wstring_view meaning);
std::wstring RunEndText(int exitCode, std::wstring_view meaning);
// Membership of the Administrators group that counts in the token: on
// Windows with UAC, only when the program runs elevated.
bool RunsAsAdministrator();

}  // namespace host
