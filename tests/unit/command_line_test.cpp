#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "host/command_line.h"
#include "host/log.h"

using host::RunMode;

TEST(CommandLine, SplitsAsWindowsProgramsDo) {
    const struct {
        const wchar_t* line;
        std::vector<std::wstring> arguments;
    } cases[] = {
        {L"actualizador.exe", {L"actualizador.exe"}},
        {L"\"C:\\Carpeta con espazos\\actualizador.exe\"  /S\t/LOG", {L"C:\\Carpeta con espazos\\actualizador.exe", L"/S", L"/LOG"}},
        {L"a.exe /LOG=\"C:\\Carpeta con espazos\\a.log\"", {L"a.exe", L"/LOG=C:\\Carpeta con espazos\\a.log"}},
        {L"a.exe \"/LOG=C:\\x y\\a.log\" /S", {L"a.exe", L"/LOG=C:\\x y\\a.log", L"/S"}},
        // Backslashes count only before a quote: 2n give n, 2n+1 give n and a quote.
        {L"a.exe C:\\a\\\\b \"C:\\dir\\\\\" x\\\\\\\"y", {L"a.exe", L"C:\\a\\\\b", L"C:\\dir\\", L"x\\\"y"}},
        {L"a.exe \"say \"\"hi\"\"\" \"\"", {L"a.exe", L"say \"hi\"", L""}},
        {L"a.exe \"unclosed quote", {L"a.exe", L"unclosed quote"}},
        {L"\"C:\\a b\\x.exe\"/S", {L"C:\\a b\\x.exe", L"/S"}},
        {L"a.exe   ", {L"a.exe"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.arguments, host::SplitCommandLine(c.line)) << testing::PrintToString(std::wstring(c.line));
    }
}

TEST(CommandLine, SwitchesInEverySpelling) {
    const struct {
        const wchar_t* arguments;
        RunMode mode;
        bool help;
        bool log;
        const wchar_t* logFile;
        const wchar_t* invalid;
    } cases[] = {
        {L"", RunMode::kInteractive, false, false, L"", L""},
        {L"/S", RunMode::kSilent, false, false, L"", L""},
        {L"-s", RunMode::kSilent, false, false, L"", L""},
        {L"/VERYSILENT", RunMode::kSilent, false, false, L"", L""},
        {L"/Quiet", RunMode::kSilent, false, false, L"", L""},
        {L"/SILENT", RunMode::kPassive, false, false, L"", L""},
        {L"-passive", RunMode::kPassive, false, false, L"", L""},
        // Other installers' switches, typed out of habit; the no-ops are kept for the log.
        {L"/q /qn /QN+", RunMode::kSilent, false, false, L"", L""},
        {L"/qb /qb- /QB! /qb!- /qr", RunMode::kPassive, false, false, L"", L""},
        {L"/norestart /SUPPRESSMSGBOXES /SP- /NOCANCEL -NOCLOSEAPPLICATIONS", RunMode::kInteractive, false, false, L"", L""},
        {L"/qb+ /qn-", RunMode::kInteractive, false, false, L"", L"/qb+"},
        // Silent wins over progress only, in either order; repeats change nothing.
        {L"/S /passive", RunMode::kSilent, false, false, L"", L""},
        {L"/SILENT /VERYSILENT /SILENT", RunMode::kSilent, false, false, L"", L""},
        {L"/S /S", RunMode::kSilent, false, false, L"", L""},
        {L"/LOG", RunMode::kInteractive, false, true, L"", L""},
        {L"/log=\"C:\\Carpeta con espazos\\A.log\" /S", RunMode::kSilent, false, true, L"C:\\Carpeta con espazos\\A.log", L""},
        {L"/LOG=a.log /LOG=b.log", RunMode::kInteractive, false, true, L"b.log", L""},
        {L"/LOG=a.log /LOG", RunMode::kInteractive, false, true, L"", L""},
        {L"/?", RunMode::kInteractive, true, false, L"", L""},
        {L"-HELP /S", RunMode::kSilent, true, false, L"", L""},
        // Anything else is kept, the first of it, to be named in the log.
        {L"/X /S", RunMode::kSilent, false, false, L"", L"/X"},
        {L"/S extra /Y", RunMode::kSilent, false, false, L"", L"extra"},
        {L"/LOG=", RunMode::kInteractive, false, false, L"", L"/LOG="},
        {L"/LOGGING", RunMode::kInteractive, false, false, L"", L"/LOGGING"},
        {L"/ S", RunMode::kInteractive, false, false, L"", L"/"},
        {L"//S", RunMode::kInteractive, false, false, L"", L"//S"},
        {L"\"\"", RunMode::kInteractive, false, false, L"", L"\"\""},
        {L"/quiet=yes", RunMode::kInteractive, false, false, L"", L"/quiet=yes"},
    };
    for (const auto& c : cases) {
        const std::wstring line = std::wstring(L"\"C:\\Descargas\\actualizador.exe\" ") + c.arguments;
        const host::CommandLine parsed = host::ParseCommandLine(line);
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.arguments)));
        EXPECT_EQ(c.mode, parsed.mode);
        EXPECT_EQ(c.help, parsed.help);
        EXPECT_EQ(c.log, parsed.log);
        EXPECT_EQ(c.logFile, parsed.logFile);
        EXPECT_EQ(c.invalid, parsed.invalid);
        EXPECT_EQ(std::wstring(c.arguments).starts_with(L"/norestart") ? 5u : 0u, parsed.ignored.size());
    }
}

// Whether a help box may wait for a person: not when the line names an
// unattended switch anywhere after the program's name, however mistyped.
TEST(CommandLine, NamesAnUnattendedSwitchAnywhereAfterTheProgramName) {
    const struct {
        const wchar_t* line;
        bool names;
    } cases[] = {
        {L"a.exe /S/LOG", true},
        {L"a.exe \"/S /LOG\"", true},
        {L"a.exe /LOG=\"C:\\Logs\\\" /S", true},
        {L"a.exe /LOG=x.log-VERYSILENT", true},
        {L"a.exe /X -Quiet", true},
        {L"a.exe word/PASSIVE", true},
        {L"\"C:\\a b\\x.exe\"/silent", true},
        {L"a.exe /qn /norestrat", true},
        {L"a.exe -QB!-/X", true},
        {L"a.exe /qr", true},
        {L"a.exe", false},
        {L"a.exe /X word", false},
        {L"a.exe /LOG=C:\\Logs\\a.log /?", false},
        {L"a.exe verysilent quiet passive", false},
        // The program's own name is no switch, whatever its folder is called.
        {L"\"C:\\my-stuff\\a.exe\" /X", false},
        {L"C:\\x-s\\a.exe /X", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.names, host::ParseCommandLine(c.line).namesUnattended)
            << testing::PrintToString(std::wstring(c.line));
    }
}

TEST(Log, ControlCharactersAreEscapedSoThatOneCallIsOneLine) {
    const struct {
        std::wstring text;
        const wchar_t* logged;
    } cases[] = {
        {L"Substitu\u00EDdo C:\\Program Files\\new\\QUENDOR.DLL", L"Substitu\u00EDdo C:\\Program Files\\new\\QUENDOR.DLL"},
        {L"a\r\n2026-12-07 15:23:08.110+01:00 [1]  forged", L"a\\r\\n2026-12-07 15:23:08.110+01:00 [1]  forged"},
        {L"tab\there", L"tab\\there"},
        {L"\x1B[2Khidden", L"\\x1B[2Khidden"},
        {std::wstring(L"nul\0end", 7), L"nul\\x00end"},
        {L"\x1F\x20\x7E\x7F", L"\\x1F ~\\x7F"},
        {L"\u0085next\u009F\u00A0", L"\\x85next\\x9F\u00A0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.logged, host::EscapeLogText(c.text)) << testing::PrintToString(c.text);
    }
}
