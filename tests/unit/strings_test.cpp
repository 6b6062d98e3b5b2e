#include <string>

#include "runtime/strings.h"
#include "tests/unit/error_matchers.h"

using namespace runtime;

TEST(Strings, LowerCasingKeepsEverythingButLetters) {
    EXPECT_EQ(L"c:\\program files\\microsoft shared\\x.dll", LCase(L"C:\\Program Files\\Microsoft Shared\\X.DLL"));
    EXPECT_EQ(L"compo\u00F1entes \u00E1\u00E9\u00ED\u00F3\u00FA 123 !?", LCase(L"COMPO\u00D1ENTES \u00C1\u00C9\u00CD\u00D3\u00DA 123 !?"));
    EXPECT_EQ(L"", LCase(L""));
}

TEST(Strings, InStrIsOneBasedAndExact) {
    const struct {
        int start;
        const wchar_t* text;
        const wchar_t* sought;
        int expected;
    } cases[] = {
        {1, L"abcabc", L"abc", 1},  {2, L"abcabc", L"abc", 4}, {5, L"abcabc", L"abc", 0},
        {1, L"abc", L"ABC", 0},     {1, L"", L"a", 0},         {1, L"abc", L"c", 3},
        {7, L"abcabc", L"", 0},     {1, L"abc", L"", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, InStr(c.start, c.text, c.sought))
            << "InStr(" << c.start << ", \"" << testing::PrintToString(std::wstring(c.text)) << "\")";
    }
    EXPECT_RUNTIME_ERROR(InStr(0, L"abc", L"a"), 5);
}

TEST(Strings, LeftAndMidTakeWhatThereIs) {
    EXPECT_EQ(L"ab", Left(L"abc", 2));
    EXPECT_EQ(L"abc", Left(L"abc", 10));
    EXPECT_EQ(L"", Left(L"abc", 0));
    EXPECT_RUNTIME_ERROR(Left(L"abc", -1), 5);

    EXPECT_EQ(L"bc", Mid(L"abcd", 2, 2));
    EXPECT_EQ(L"cd", Mid(L"abcd", 3, 99));
    EXPECT_EQ(L"", Mid(L"abcd", 5, 1));
    EXPECT_RUNTIME_ERROR(Mid(L"abcd", 0, 1), 5);
    EXPECT_RUNTIME_ERROR(Mid(L"abcd", 1, -1), 5);
}

TEST(Strings, ReplaceEveryOccurrence) {
    EXPECT_EQ(L"D:", Replace(L"D:\\", L"\\", L""));
    EXPECT_EQ(L"a-b-c", Replace(L"a\\b\\c", L"\\", L"-"));
    EXPECT_EQ(L"xx", Replace(L"aaaa", L"aa", L"x"));
    EXPECT_EQ(L"abc", Replace(L"abc", L"", L"x"));
}

TEST(Strings, LengthCountsEveryUnitIncludingNul) {
    EXPECT_EQ(0, Len(L""));
    EXPECT_EQ(3, Len(std::wstring(L"a\0b", 3)));
}

TEST(Strings, AnotherProgramsNameIsShownOnOneLineOfAtMost80Characters) {
    // Characters beyond the BMP count one each, and are never cut in two.
    std::wstring smiles;
    for (int i = 0; i < 100; ++i) smiles += L"\U0001F600";
    const struct {
        std::wstring name;
        std::wstring shown;
    } cases[] = {
        {L"Procesador" + std::wstring(60, L'\n') + L"de\r\ntextos", L"Procesador de textos"},
        {L"\tA\x1B[2J\x7F\x85 B ", L"A [2J B"},  {L"\n\u200E\n", L""},
        {L"\u2066a\u2069 \u200Bb\uFEFF\u2060c\u202Eexe.txt\u200F", L"a b c exe.txt"},
        {std::wstring(80, L'x'), std::wstring(80, L'x')},  {std::wstring(81, L'x'), std::wstring(79, L'x') + L"\u2026"},
        {std::wstring(78, L'x') + L" yyy", std::wstring(78, L'x') + L"\u2026"},
        {L"x" + smiles, L"x" + smiles.substr(0, 2 * 78) + L"\u2026"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shown, ShownName(c.name)) << testing::PrintToString(c.name);
}
