#include <windows.h>

#include "gtest/gtest.h"
#include "host/log.h"
#include "runtime/strings.h"
#include "tests/support/temp_folder.h"

using testing_support::ReadFile;
using testing_support::WriteFile;

// Linux's /dev/full, which Wine shows as Z:\dev\full: every write to it fails
// as on a full disk.
TEST(Log, AWriteThatFailsClosesTheLog) {
    ASSERT_TRUE(host::OpenLog(L"Z:\\dev\\full"));
    ASSERT_TRUE(host::LogIsOpen());
    host::Log(L"a line that does not fit");
    host::WriteHeldLog();
    EXPECT_FALSE(host::LogIsOpen());
}

// Nothing is ever written into a file that is plainly no text log, nor into
// one of the files given, however its name is written; an administrator's
// own text log, with no byte-order mark, is appended to. A log whose last
// line was cut (a power cut's zeros count as cut) is appended to on a new line.
TEST(Log, ANamedLogIsNeverWrittenIntoAProgramDataOrOneOfTheFiles) {
    const testing_support::TempFolder folder;
    const std::wstring log = folder / L"a.log";
    const std::wstring ours = folder / L"ours.log";
    const std::wstring ours16 = folder / L"ours16.log";
    const std::wstring pair = folder / L"QUENDOR.LEX";  // one of the files the log must never be
    wchar_t shortName[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW(folder.Path().c_str(), shortName, MAX_PATH));
    constexpr char kMissing[] = "<missing>";  // what ReadFile tells of no file
    const std::string kOurLine = "\xEF\xBB\xBF" "2026-12-07 15:23:08.110-01:00 [1234]  a line\r\n";
    const struct {
        const char* how;
        std::wstring file;
        std::string before;
        std::wstring named;  // as /LOG names it
        bool refused;
        bool newLine = false;  // a line end comes before this run's lines
    } cases[] = {
        {"a program", log, std::string("MZ\x90\0\3\0", 6), log, true},
        {"a NUL in the first 4 KB", log, std::string(4095, 'x') + '\0', log, true},
        {"our mark without our line before a NUL", log, std::string("\xEF\xBB\xBF" "2026-12-07 [1]  x\0", 21), log, true},
        // Our own log, whatever followed our lines: a power cut's zeros, a line appended in UTF-16.
        {"our log with a zero-filled tail", ours, kOurLine + std::string(512, '\0'), ours, false, true},
        {"our log with a UTF-16 line", ours16, kOurLine + std::string("\xFF\xFEl\0i\0", 6), ours16, false, true},
        {"our log cut mid-line", ours, kOurLine + "2026-12-07 15:2", ours, false, true},
        {"an administrator's text log without our mark", log, "echo >>\r\n", log, false},
        {"one of the files, in other case", pair, "lexicon", runtime::LCase(pair), true},
        {"one of the files, by its short name", pair, "lexicon", shortName + std::wstring(L"\\QUENDOR.LEX"), true},
        {"one of the files, with \\\\?\\", pair, "lexicon", L"\\\\?\\" + pair, true},
        {"one of the files, not there yet", pair, kMissing, pair, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        DeleteFileW(c.file.c_str());
        if (c.before != kMissing) WriteFile(c.file, c.before);
        const bool opened = host::OpenLog(c.named);
        const bool isOne = opened && host::LogIsOneOf({pair});
        if (isOne) host::RefuseLog(L"one of the files");
        EXPECT_EQ(c.refused, !opened || isOne);
        host::Log(L"a line");
        host::WriteHeldLog();
        const std::string after = ReadFile(c.file);
        if (c.refused) {
            EXPECT_EQ(c.before, after) << "left as it was";
        } else {
            // Then this run's first line, which starts with the year.
            const std::string start = c.before + (c.newLine ? "\r\n2" : "2");
            EXPECT_EQ(start, after.substr(0, start.size()));
            EXPECT_TRUE(after.ends_with("  a line\r\n")) << after;
        }
    }
    // The last case let its file go.
    EXPECT_FALSE(host::LogIsOpen());
}

// A run that ends before the named log was checked against the proofing
// folder writes nothing into it, for it may be one of the files there: its
// lines and why go to the default log.
TEST(Log, ARunEndingBeforeTheCheckWritesToTheDefaultLog) {
    const testing_support::TempFolder folder;
    const std::wstring named = folder / L"QUENDOR.LEX";
    WriteFile(named, "lexicon");
    ASSERT_TRUE(host::OpenLog(named));
    host::LogRunEnd(1639, L"ended early");
    EXPECT_EQ("lexicon", ReadFile(named));
    wchar_t temp[MAX_PATH + 1];
    const std::wstring temporary(temp, GetTempPathW(MAX_PATH + 1, temp));
    const std::string lines = ReadFile(temporary + L"actualizador-corrector-galego.log");
    const std::string path(named.begin(), named.end());  // the test's folder is named in ASCII, with the process id
    EXPECT_NE(std::string::npos, lines.find("Non se pode usar o ficheiro de rexistro " + path + ": a execuci")) << lines;
    EXPECT_NE(std::string::npos, lines.find("digo 1639: ended early", lines.find(path))) << "after it, the last line";
}
