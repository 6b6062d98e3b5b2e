// The update's rules: what is installed, what is new, what the restart
// already does and who holds the files decide how an update ends; the acts
// (update/replace.h) carry the decision out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/replace.h"

namespace update {

// How an update ended, when it did not fail.
enum class Outcome {
    kReplaced,          // the new files are in place
    kAlreadyThere,      // the installed files were the same: nothing was touched
    kInstalledIsNewer,  // an installed file has a higher version: nothing was touched
    kAtNextRestart,     // files in use: Windows puts the new ones in place when it next starts
    kBeingRemoved,      // the next restart deletes the installed engine: nothing was touched
};

// Puts the new files in place of the installed ones, deciding first, before
// anything is written:
// - nothing is touched when every installed file is the same as its new one
//   (SameContents), or when an installed file's version is higher than its
//   new one's (IsNewer);
// - nothing is queued again when the restart already puts these same new
//   files in place, last on each name;
// - where other programs queued work on the files' names for the restart,
//   nothing is touched when it deletes the engine (kBeingRemoved) or puts a
//   same or newer engine there; otherwise ours is queued to follow theirs;
// - installed files that another program holds (opened without sharing
//   writing or deletion, or loaded as a DLL) are named to the person, who
//   may try again, have them replaced at the next restart, or cancel
//   (FileInUse); an unattended run has them replaced at the next restart;
// - otherwise they are replaced now, together (ReplaceFilesTogether).
// A source that cannot be read raises its error, and new files that fail
// their checks (CheckNewFiles) raise DamagedFiles, or UnreadableList for
// their list, before any of that.
// Whatever is in place now, the restart is never left to undo it.
Outcome UpdateFiles(const std::vector<FileReplacement>& replacements);

// Whether installed holds what source holds: byte for byte, or, when another
// program holds installed so that it cannot even be read, the same size and
// last-write time (a copy keeps its source's time).
bool SameContents(const std::wstring& source, const std::wstring& installed);

// Whether an installed file's version is higher than its new one's; never
// when either has none.
bool IsNewer(std::optional<std::uint64_t> installed, std::optional<std::uint64_t> incoming);

}  // namespace update
