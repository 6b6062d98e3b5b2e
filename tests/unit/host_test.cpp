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
            runtime::ReportUnhandledError(c.number);
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
