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

namespace {

RECT workArea;  // of the monitor each box is on
RECT WorkAreaOfTheBox(HWND) { return workArea; }

LONG CaptionWidth(HWND button) {
    wchar_t caption[64];
    const int length = GetWindowTextW(button, caption, 64);
    const HDC dc = GetDC(button);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(button, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, caption, length, &size);
    SelectObject(dc, previous);
    ReleaseDC(button, dc);
    return size.cx;
}

RECT InBox(HWND window, HWND box) {
    RECT place;
    GetWindowRect(window, &place);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

}  // namespace

// Boxes made as each Windows lays out the in-use question, 75-pixel buttons
// 6 apart: Vista to 11 at the right of a footer, 11 pixels from its edge; XP
// and Wine in the middle. The buttons grow to their Galician captions, the
// box only by what the row needs with the margin Windows left, within the
// work area of the monitor the box is on, which may lie left of the primary.
TEST(MessageBoxLayout, ButtonsAndTitleFitAsEachWindowsPlacedThem) {
    const RECT primary{0, 0, 1024, 768};
    const RECT leftOfPrimary{-1280, 0, 0, 1024};
    const struct {
        const char* system;
        int left;
        int clientWidth;
        bool atTheRight;
        RECT area;
        bool titleOnly = false;
    } boxes[] = {
        {"Vista to 11", 200, 280, true, primary},
        {"Vista to 11, a box wide enough", 200, 500, true, primary},
        {"XP and Wine", 200, 280, false, primary},
        {"Vista to 11, left of the primary monitor", -700, 280, true, leftOfPrimary},
        {"a long title, left of the primary monitor", -700, 120, false, leftOfPrimary, true},
    };
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.system);
        workArea = b.area;
        const HWND box = CreateWindowExW(0, L"#32770", L"Instalador corrector de galego Brenca",
                                         WS_POPUP | WS_CAPTION | WS_SYSMENU, b.left, 200, b.clientWidth, 150, nullptr,
                                         nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, box);
        RECT client;
        GetClientRect(box, &client);
        const int row = 3 * 75 + 2 * 6;
        int x = b.atTheRight ? client.right - 11 - row : (client.right - row) / 2;
        std::vector<HWND> buttons;
        for (const wchar_t* caption : {L"Cancelar", L"Tentar de novo", L"Continuar"}) {
            buttons.push_back(CreateWindowExW(0, L"Button", caption, WS_CHILD | WS_VISIBLE, x, 100, 75, 23, box,
                                              nullptr, nullptr, nullptr));
            SendMessageW(buttons.back(), WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
            x += 75 + 6;
        }
        const LONG leftMargin = InBox(buttons.front(), box).left;
        const LONG rightMargin = client.right - InBox(buttons.back(), box).right;
        RECT before;
        GetWindowRect(box, &before);

        if (b.titleOnly) {
            host::FitTitle(box, WorkAreaOfTheBox);
        } else {
            host::FitButtons(box, WorkAreaOfTheBox);
        }
        RECT after;
        GetWindowRect(box, &after);
        GetClientRect(box, &client);
        EXPECT_GE(after.left, b.area.left);
        EXPECT_LE(after.right, b.area.right);
        EXPECT_NEAR(before.left + before.right, after.left + after.right, 1) << "the box's middle stays";
        if (b.titleOnly) {
            EXPECT_GT(after.right - after.left, before.right - before.left);
        } else {
            const LONG width = InBox(buttons[0], box).right - InBox(buttons[0], box).left;
            for (std::size_t i = 0; i < buttons.size(); ++i) {
                EXPECT_LT(CaptionWidth(buttons[i]), InBox(buttons[i], box).right - InBox(buttons[i], box).left);
                EXPECT_EQ(width, InBox(buttons[i], box).right - InBox(buttons[i], box).left);
                if (i > 0) {
                    EXPECT_EQ(6, InBox(buttons[i], box).left - InBox(buttons[i - 1], box).right);
                }
            }
            const LONG newLeft = InBox(buttons.front(), box).left;
            const LONG newRight = client.right - InBox(buttons.back(), box).right;
            EXPECT_EQ(std::min(leftMargin, rightMargin), std::min(newLeft, newRight)) << "the margin Windows left";
            if (b.atTheRight) {
                EXPECT_EQ(11, newRight) << "the row stays at the right";
            } else {
                EXPECT_NEAR(newLeft, newRight, 1) << "the row stays in the middle";
            }
        }
        DestroyWindow(box);
    }
}
