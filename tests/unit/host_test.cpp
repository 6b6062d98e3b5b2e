#include "gtest/gtest.h"
#include "host/host.h"
#include "runtime/error.h"
#include "tests/support/test_host.h"

TEST(UnhandledErrors, AreReportedInGalicianAndEndTheProgramWithCode3) {
    const struct {
        int number;
        std::wstring text;
    } cases[] = {
        {5, L"Erro de execuci\u00F3n 5:\n\nChamada a procedemento ou argumento non v\u00E1lido"},
        {9, L"Erro de execuci\u00F3n 9:\n\n\u00CDndice f\u00F3ra do intervalo"},
        {48, L"Erro de execuci\u00F3n 48:\n\nErro ao cargar a DLL"},
        {326, L"Erro de execuci\u00F3n 326:\n\nNon se atopou o recurso"},
        {380, L"Erro de execuci\u00F3n 380:\n\nValor de propiedade non v\u00E1lido"},
        {453, L"Erro de execuci\u00F3n 453:\n\nNon se atopou o punto de entrada da DLL"},
        {1234, L"Erro de execuci\u00F3n 1234:\n\nErro definido pola aplicaci\u00F3n ou polo obxecto"},
    };
    for (const auto& c : cases) {
        testing_support::TestHost host(L"C:\\");
        int exitCode = -1;
        try {
            host::ReportUnhandledError(c.number);
        } catch (const testing_support::ProgramEnded& ended) {
            exitCode = ended.exitCode;
        }
        EXPECT_EQ(3, exitCode);
        ASSERT_EQ(1u, host.messages.size());
        EXPECT_EQ(c.text, host.messages[0].text);
        EXPECT_EQ(16, host.messages[0].style);
        EXPECT_EQ(L"Instalador corrector de galego Brenca", host.messages[0].title);
    }
}

// The box must fit on the screen: ten names of one line each, then how many more.
TEST(InUseQuestion, NamesTenProgramsThenHowManyMore) {
    testing_support::TestHost host(L"C:\\");
    host.answer = [] { return host::kCancel; };
    std::vector<std::wstring> programs;
    for (int i = 1; i <= 60; ++i) programs.push_back(L"Programa " + std::to_wstring(i));
    programs[0] = L"Programa\r\n\u202E\n1";
    EXPECT_EQ(host::InUseAnswer::kCancel, host::AskAboutFilesInUse(programs, true));
    ASSERT_EQ(1u, host.messages.size());
    const std::wstring& text = host.messages[0].text;
    EXPECT_NE(std::wstring::npos, text.find(L"\nPrograma 10\ne 50 m\u00E1is\n\n")) << testing::PrintToString(text);
    EXPECT_EQ(std::wstring::npos, text.find(L"Programa 11")) << testing::PrintToString(text);
    EXPECT_NE(std::wstring::npos, text.find(L"\n\nPrograma 1\nPrograma 2\n")) << testing::PrintToString(text);
}
