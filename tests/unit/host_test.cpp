#include <windows.h>

#include <algorithm>
#include <vector>

#include "gtest/gtest.h"
#include "host/host.h"
#include "host/message_box.h"
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

RECT workArea;  // of the monitor each box is on
RECT WorkAreaOfTheBox(HWND) { return workArea; }

// Boxes as each Windows lays out the in-use question, 75-pixel buttons: Vista
// to 11 at the right of a footer, 11 pixels in; XP and Wine in the middle
// (Wine of the outer width). The buttons grow to their Galician captions; the
// box by what the row needs with the margin Windows left, within the work
// area of its own monitor, which may lie left of the primary one.
TEST(MessageBoxLayout, ButtonsAndTitleFitAsEachWindowsPlacedThem) {
    const struct {
        const char* system;
        int left;
        int width;
        bool atTheRight;
        RECT area;
        bool title = false;  // a box too narrow for its title: the title is fitted, not the buttons
    } boxes[] = {
        {"Vista to 11", 200, 280, true, {0, 0, 1024, 768}},
        {"Vista to 11, a box wide enough", 200, 500, true, {0, 0, 1024, 768}},
        {"XP and Wine", 200, 280, false, {0, 0, 1024, 768}},
        {"Vista to 11, left of the primary monitor", -700, 280, true, {-1280, 0, 0, 1024}},
        {"a long title, left of the primary monitor", -700, 120, false, {-1280, 0, 0, 1024}, true},
        {"a long title, Vista to 11", 200, 280, true, {0, 0, 1024, 768}, true},
    };
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.system);
        workArea = b.area;
        const HWND box = CreateWindowExW(0, L"#32770", L"Instalador corrector de galego Brenca: ficheiros en uso",
                                         WS_POPUP | WS_CAPTION | WS_SYSMENU, b.left, 200, b.width, 150, nullptr,
                                         nullptr, nullptr, nullptr);
        RECT client, before, after, places[2];
        GetClientRect(box, &client);
        const LONG row = 3 * 75 + 2 * 6;
        LONG x = b.atTheRight ? client.right - 11 - row : (b.width - row) / 2;
        const LONG windowsMargin = std::min(x, client.right - x - row);
        const LONG offCentre = x - (client.right - x - row);
        HWND buttons[3];
        for (HWND& button : buttons) {
            button = CreateWindowExW(0, L"Button", L"Tentar de novo", WS_CHILD | WS_VISIBLE, x, 100, 75, 23, box,
                                     nullptr, nullptr, nullptr);
            SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
            x += 75 + 6;
        }
        GetWindowRect(box, &before);
        b.title ? host::FitTitle(box, WorkAreaOfTheBox) : host::FitButtons(box, WorkAreaOfTheBox);
        GetWindowRect(box, &after);
        GetClientRect(box, &client);
        GetWindowRect(buttons[0], &places[0]);
        GetWindowRect(buttons[2], &places[1]);
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(places), 4);
        DestroyWindow(box);
        EXPECT_TRUE(after.left >= b.area.left && after.right <= b.area.right) << after.left << ", " << after.right;
        EXPECT_NEAR(before.left + before.right, after.left + after.right, 1) << "the box's middle stays";
        const LONG right = client.right - places[1].right;
        if (b.title) {
            EXPECT_GT(after.right - after.left, before.right - before.left) << "widened to its title";
        } else {
            EXPECT_GT(places[1].right - places[0].left, row) << "the buttons grew to their captions";
            EXPECT_EQ(windowsMargin, std::min(places[0].left, right)) << "the margin Windows left";
        }
        // A centred row whose buttons were not fitted keeps Windows' own offset from the middle.
        const LONG centre = b.title ? offCentre : 0;
        EXPECT_NEAR(b.atTheRight ? 11 : places[0].left - centre, right, b.atTheRight ? 0 : 1) << "at the right, or centred";
    }
}
