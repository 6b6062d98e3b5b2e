// The run's log, for an administrator reading it on the PC or collecting it
// from a share: appended to one file, UTF-8 with a byte-order mark, Windows
// line ends, one line per event with the local date and time and the process
// id. Without an open log, writing to it does nothing.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Opens path for appending, creating it if missing; false when it cannot, or
// when the name is not a plain file of its own: a link of any kind is not
// followed but refused, and so are a folder and a file that has other names
// (hard links), for a log written as SYSTEM must not land on a file someone
// else chose. So is a file that is plainly no text log: a program (it starts
// with "MZ") or data (a NUL in its first 4 KB); an administrator's own text
// log, appended to with echo >>, has no byte-order mark and is welcome.
// A relative path is taken from the current folder. What earlier runs wrote
// is never rewritten: the file is opened to append only. Why a path was
// refused is kept for the log opened instead (LogRunStart writes it).
bool OpenLog(const std::wstring& path);
// The log /LOG alone asks for: %TEMP%\actualizador-corrector-galego.log, or,
// when that name cannot be used (a folder or a link of that name, planted
// where anyone may write), one of this run's own beside it, with the process
// id in its name. Without either the run goes on with no log.
void OpenDefaultLog();
bool LogIsOpen() noexcept;

// A log may be named onto a file of the update's that only the install
// procedure can tell, once it has found the proofing folder: until then the
// log's lines are held in memory, and nothing is written to the file.
// Whether the open log is one of the files: the same volume and file index,
// however either name is written (short name, other case, \\?\). A file
// that cannot be opened is none of them.
bool LogIsOneOf(const std::vector<std::wstring>& files);
// Lets go of a log that must not be written into, before WriteHeldLog: it
// is left as it was found, and taken away again when this run created it.
// Its lines, and one more with its name and the reason, wait for the next log
// opened (OpenDefaultLog).
void RefuseLog(std::wstring_view reason);
// Writes the lines held so far; every line after goes straight to the file.
// The run's last line does it too (LogRunEnd).
void WriteHeldLog() noexcept;

// One line: the local date and time with their offset from UTC, the process
// id, and the text escaped by EscapeLogText:
//   2026-12-07 15:23:08.110+01:00 [1234]  text
// A write that fails or is cut short (a full disk) ends the log: it is closed
// and no more is written, and the run goes on.
void Log(std::wstring_view text) noexcept;
// The parts of one line, joined: as Log(text), without a string made at each
// join by the caller.
void Log(std::initializer_list<std::wstring_view> parts) noexcept;
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
// the log's full path and why a log named could not be used, the command
// line, Windows, administrator rights, the program's folder (the host's
// AppPath).
void LogRunStart(std::wstring_view modeName, std::wstring_view programFolder);
// The last line: the exit code and what it tells (ExitCodeMeaning), or the
// meaning given, for a run whose code says less than what it did. What is
// still held is written out with it: into a log /LOG named only once it has
// passed LogIsOneOf (WriteHeldLog); a run that ends before refuses it
// (RefuseLog) and writes to the default log. The text serves the run's event too.
void LogRunEnd(int exitCode, std::wstring_view meaning);
std::wstring RunEndText(int exitCode, std::wstring_view meaning);
// Membership of the Administrators group that counts in the token: on
// Windows with UAC, only when the program runs elevated.
bool RunsAsAdministrator();

}  // namespace host
