// The command line of an unattended run: how much a person sees, whether a
// log is kept, and whether only the help is asked for.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace host {

struct CommandLine {
    RunMode mode = RunMode::kInteractive;
    bool help = false;
    bool log = false;
    // The log's file; empty with log set: the default file.
    std::wstring logFile;
    // Switches of other installers that ask for what the program never does
    // (restart the computer, close programs, show boxes to suppress).
    std::vector<std::wstring> ignored;
    // The first argument that is not a switch of the program; empty when all are.
    std::wstring invalid;
    // The text after the program's name names an unattended switch somewhere,
    // however mistyped: no one may be there to close a help box.
    bool namesUnattended = false;
};

// The arguments of a whole command line, program name first, split as
// Windows programs split them: white space between arguments, quotes around
// spaces, 2n backslashes before a quote give n and the quote counts, 2n+1
// give n and a literal quote, "" inside quotes gives a literal quote.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);

// The switches, case-insensitive, with / or -:
//   /S, /VERYSILENT, /quiet, /q, /qn, /qn+               silent
//   /SILENT, /passive, /qb, /qb-, /qb!, /qb!-, /qr        progress only
//   /LOG, /LOG=file  a log;    /?, /HELP  the help
//   /norestart, /SUPPRESSMSGBOXES, /SP-, /NOCANCEL, /NOCLOSEAPPLICATIONS:
//   accepted and ignored, as administrators type them out of habit
// Silent wins over progress only, whatever their order: an administrator who
// asked anywhere for no window gets none. A repeated /LOG keeps the last file.
CommandLine ParseCommandLine(std::wstring_view commandLine);

// True when the text after the program's name holds a silent or
// progress-only switch (anything from /s or /q on, /VERYSILENT, /passive),
// with / or -, in any case, even glued to other text
// ("/S/LOG") or inside a quoted argument ("/S /LOG"). The mode is known only
// from switches split out cleanly; this tells that a script may have meant one.
bool NamesUnattendedSwitch(std::wstring_view commandLine);

}  // namespace host
