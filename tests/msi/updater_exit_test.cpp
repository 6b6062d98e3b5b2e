#include <windows.h>

#include "gtest/gtest.h"
#include "msi/updater_exit.h"

TEST(UpdaterExit, OnlyAnUpdateDoneOrQueuedInstalls) {
    const struct {
        unsigned long exitCode;
        unsigned int actionResult;
        bool restartRequested;
    } cases[] = {
        {0, ERROR_SUCCESS, false},
        {3010, ERROR_SUCCESS, true},
        {1, ERROR_INSTALL_FAILURE, false},
        {2, ERROR_INSTALL_FAILURE, false},
        {3, ERROR_INSTALL_FAILURE, false},
        // Nothing updated is no success: the deployment tool must try again.
        {4, ERROR_INSTALL_FAILURE, false},
        {5, ERROR_INSTALL_FAILURE, false},
        {7, ERROR_INSTALL_FAILURE, false},
        {8, ERROR_INSTALL_FAILURE, false},
        {1618, ERROR_INSTALL_FAILURE, false},
        {1639, ERROR_INSTALL_FAILURE, false},
        // Codes the updater never gives: a restart it did not ask for, a crash.
        {1641, ERROR_INSTALL_FAILURE, false},
        {0xC0000005, ERROR_INSTALL_FAILURE, false},
    };
    for (const auto& c : cases) {
        const msi::InstallOutcome outcome = msi::OutcomeOfUpdaterExit(c.exitCode);
        EXPECT_EQ(c.actionResult, outcome.actionResult) << "exit code " << c.exitCode;
        EXPECT_EQ(c.restartRequested, outcome.restartRequested) << "exit code " << c.exitCode;
    }
}
