#include "msi/updater_exit.h"

#include <windows.h>

namespace msi {

InstallOutcome OutcomeOfUpdaterExit(unsigned long exitCode) noexcept {
    switch (exitCode) {
    case ERROR_SUCCESS: return {ERROR_SUCCESS, false};
    case ERROR_SUCCESS_REBOOT_REQUIRED: return {ERROR_SUCCESS, true};
    default: return {ERROR_INSTALL_FAILURE, false};
    }
}

}  // namespace msi
