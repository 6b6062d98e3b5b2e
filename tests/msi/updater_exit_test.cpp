#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "msi/updater_exit.h"
#include "msi/updater_log.h"
#include "tests/support/temp_folder.h"

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

// The run's closing line, and no other: Windows reuses process ids, so an
// earlier run's line may carry the run's id; another run may write after it.
TEST(UpdaterLog, OnlyTheRunsOwnClosingLine) {
    const std::string earlier = "2026-12-07 10:00:00.000+01:00 [1234]  Remata co c\xC3\xB3" "digo 0: actualizado\r\n";
    const std::string started = "2026-12-07 11:00:00.000+01:00 [1234]  Modo: silencioso\r\n";
    const std::string closing = "2026-12-07 11:00:01.000+01:00 [1234]  Remata co c\xC3\xB3" "digo 8: danados\r\n";
    const std::string other = "2026-12-07 11:00:02.000+01:00 [12345]  Remata co c\xC3\xB3" "digo 1618: outra\r\n";
    const std::string lines = std::string(5000, 'x') + "\r\n";  // past the 4 KB at the end
    const std::string theRuns = "Remata co c\xC3\xB3" "digo 8: danados";
    const std::string kNoLog = "<none>";
    const struct {
        const char* what;
        std::string before;
        std::string after;
        bool replaced;
        std::string line;  // empty: none found
    } cases[] = {
        {"after an earlier run's, before another's", earlier, earlier + started + closing + other, false, theRuns},
        {"none written: not the earlier run's", earlier, earlier + started, false, ""},
        {"more than 4 KB before the end", earlier, earlier + started + closing + lines, false, theRuns},
        {"in a log the run made", kNoLog, started + closing, false, theRuns},
        {"in a log put in the old one's place", earlier + lines, started + closing + lines + lines, true, theRuns},
        {"in a log the run cut short", earlier + lines, started + closing, false, theRuns},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const testing_support::TempFolder folder;
        const std::wstring log = folder / L"a.log";
        if (c.before != kNoLog) testing_support::WriteFile(log, c.before);
        const msi::LogMark mark = msi::MarkLog(log.c_str());
        const std::wstring written = c.replaced ? folder / L"new.log" : log;
        testing_support::WriteFile(written, c.after);
        if (c.replaced) {
            ASSERT_TRUE(MoveFileExW(written.c_str(), log.c_str(), MOVEFILE_REPLACE_EXISTING));
        }
        char line[256];
        unsigned long length = 0;
        EXPECT_EQ(!c.line.empty(), msi::ReadClosingLine(log.c_str(), mark, 1234, line, sizeof line, length));
        if (!c.line.empty()) {
            EXPECT_EQ(c.line, std::string(line, length));
        }
    }
}
