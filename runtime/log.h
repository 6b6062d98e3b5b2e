// The run's log, for an administrator reading it on the PC or collecting it
// from a share: appended to one file, UTF-8 with a byte-order mark, Windows
// line ends, one line per event with the local date and time. Without an
// open log, writing to it does nothing.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace runtime {

// Opens path for appending, creating it if missing; false when it cannot.
// What earlier runs wrote is never rewritten: the file is opened to append only.
bool OpenLog(const std::wstring& path);
// The file /LOG alone writes to: in the user's temporary folder.
std::wstring DefaultLogPath();
bool LogIsOpen() noexcept;

// One line, with the date and time put before it.
void Log(std::wstring_view text) noexcept;
// A failed Windows call: its error number, the system's own text for it, and
// the file it concerns.
void LogSystemError(std::wstring_view what, DWORD error, std::wstring_view file) noexcept;

// The facts an administrator needs to read the rest: the program's version,
// the command line, Windows, administrator rights, the program's folder.
void LogRunStart(std::wstring_view modeName);

// Whole numbers for the log and the messages, spelled out here rather than
// with the C library's formatted output, which would double the program's size.
std::wstring NumberText(unsigned long long number, int width = 1);

}  // namespace runtime
