// The program's exit codes and what each tells.
#pragma once

namespace host {

// The same in every mode: deployment scripts tell the outcomes apart by them.
enum ExitCode : int {
    kExitUpdated = 0,
    kExitFailed = 1,
    kExitCancelled = 2,
    kExitRuntimeError = 3,
    kExitNothingToUpdate = 4,
    kExitFilesInUse = 5,
    // What Windows Installer gives while another installation runs, which
    // deployment tools retry by default.
    kExitAlreadyRunning = 1618,
    kExitPartlyReplaced = 7,
    kExitDamagedFiles = 8,
    // What Windows Installer gives when a restart finishes the work, which
    // deployment tools take as success with a restart pending.
    kExitAtNextRestart = 3010,
    // What Windows Installer gives for an invalid command line.
    kExitInvalidCommandLine = 1639,
};

// What an exit code tells, for the log.
const wchar_t* ExitCodeMeaning(int exitCode) noexcept;

}  // namespace host
