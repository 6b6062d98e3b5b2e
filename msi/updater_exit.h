// What the package makes of the updater's exit code.
#pragma once

namespace msi {

struct InstallOutcome {
    // What the custom action gives back to Windows Installer.
    unsigned int actionResult;
    // Whether the package asks for a restart at its end (msiexec then ends 3010).
    bool restartRequested;
};

// 0 installs; 3010 installs and asks for the restart that finishes the
// update; every other code fails the install, which Windows Installer then
// rolls back, so that a deployment tool tries it again. Even 4 (no speller
// installed) fails: a package that "installed" where nothing was updated
// would report a failure as a success.
InstallOutcome OutcomeOfUpdaterExit(unsigned long exitCode) noexcept;

}  // namespace msi
