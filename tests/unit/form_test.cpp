#include "forms/form.h"

#include <commctrl.h>

#include <limits>
#include <string>

#include "forms/progress_bar.h"
#include "forms/screen.h"
#include "host/log.h"
#include "resources/resource.h"
#include "runtime/resources.h"
#include "tests/e2e/automation.h"
#include "tests/support/string_table.h"
#include "tests/support/temp_folder.h"
#include "tests/unit/error_matchers.h"

namespace {

class TestForm final : public forms::Form {
public:
    TestForm()
        : Form(forms::FormLayout{4935, 1290, IDR_INSTALLER_PICTURE, IDI_PROGRAM, true}),
          caption(*this, {240, 75, 3855, 255}, forms::kDefaultFont, forms::Label::Sizing::kFixed),
          wrapped(*this, {435, 400, 1500, 195}, forms::kDefaultFont, forms::Label::Sizing::kAutoSizeWrap),
          bar(*this, {240, 480, 4455, 495}) {}

    int loads = 0;
    bool visibleDuringLoad = true;
    forms::Label caption;
    forms::Label wrapped;
    forms::ProgressBar bar;

private:
    void Form_Load() override {
        ++loads;
        visibleDuringLoad = Visible();
        forms::CenterForm(*this);
    }
};

RECT ClientRect(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return client;
}

RECT RectInParent(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring WindowText(HWND window) {
    wchar_t text[512];
    GetWindowTextW(window, text, 512);
    return text;
}

}  // namespace

TEST(Centring, DifferenceRoundsHalvesToEvenThenHalvesTowardZero) {
    const struct {
        float screen;
        float window;
        std::int32_t expected;
    } cases[] = {
        {107.0f, 100.0f, 3},    {100.0f, 107.0f, -3},   {102.5f, 100.0f, 1},     {103.5f, 100.0f, 2},
        {15360.0f, 6525.0f, 4417}, {4000.0f, 6525.0f, -1262}, {100.0f, 100.0f, 0}, {101.0f, 100.0f, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, forms::CenteredOffset(c.screen, c.window)) << c.screen << " - " << c.window;
    }
}

TEST(Centring, FloatingPointFaultsRaiseOverflow) {
    EXPECT_RUNTIME_ERROR(forms::CenteredOffset(std::numeric_limits<float>::infinity(), 1.0f), 6);
    EXPECT_RUNTIME_ERROR(forms::CenteredOffset(3e10f, 0.0f), 6);
}

TEST(Twips, FifteenTwipsMakeOnePixelAtTheSystemDpi) {
    if (forms::ScreenDpi() != 96) GTEST_SKIP() << "run at another display scaling";
    EXPECT_EQ(429, forms::TwipsToPixels(6435));
    EXPECT_EQ(217, forms::TwipsToPixels(3255));
    EXPECT_FLOAT_EQ(static_cast<float>(GetSystemMetrics(SM_CXSCREEN) * 15), forms::Screen::Width());
    EXPECT_FLOAT_EQ(static_cast<float>(GetSystemMetrics(SM_CYSCREEN) * 15), forms::Screen::Height());
}

TEST(Form, ShowLoadsOnceRunsLoadBeforeVisibleAndCentres) {
    TestForm form;
    EXPECT_FALSE(form.Loaded());
    form.Show();
    ASSERT_TRUE(form.Loaded());
    EXPECT_EQ(1, form.loads);
    EXPECT_FALSE(form.visibleDuringLoad);
    EXPECT_TRUE(form.Visible());

    RECT outer;
    GetWindowRect(form.Hwnd(), &outer);
    EXPECT_EQ(forms::TwipsToPixels(forms::CenteredOffset(forms::Screen::Width(), form.Width())), outer.left);
    EXPECT_EQ(forms::TwipsToPixels(forms::CenteredOffset(forms::Screen::Height(), form.Height())), outer.top);

    form.Hide();
    EXPECT_TRUE(form.Loaded());
    EXPECT_FALSE(form.Visible());
    form.Show();
    EXPECT_EQ(1, form.loads) << "showing a loaded window does not load it again";
}

TEST(Form, TestWindowWithPictureLabelAndHalfFullBar) {
    TestForm form;
    form.Show();
    form.SetCaption(L"Instalador corrector de galego Brenca");
    form.caption.SetCaption(L"Instalando compo\u00F1entes");
    form.wrapped.SetVisible(false);
    form.bar.SetMax(10000.0f);
    form.bar.SetValue(5000.0f);
    UpdateWindow(form.Hwnd());
    EXPECT_EQ(form.bar.Steps() / 2, SendMessageW(form.bar.Hwnd(), PBM_GETPOS, 0, 0));
    const std::wstring folder = automation::ExeFolder() + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring name = L"test-window-" + std::to_wstring(forms::ScreenDpi()) + L"dpi.png";
    EXPECT_TRUE(automation::SaveScreenshot(form.Hwnd(), folder + L"\\" + name));
}

TEST(Form, FixedDialogFrameWithTheClientSizeOfTheLayout) {
    TestForm form;
    form.Load();
    const LONG_PTR style = GetWindowLongPtrW(form.Hwnd(), GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongPtrW(form.Hwnd(), GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    const RECT client = ClientRect(form.Hwnd());
    EXPECT_EQ(329, client.right);
    EXPECT_EQ(86, client.bottom);
    EXPECT_NE(0, SendMessageW(form.Hwnd(), WM_GETICON, ICON_BIG, 0));
    EXPECT_NE(0, SendMessageW(form.Hwnd(), WM_GETICON, ICON_SMALL, 0));
}

TEST(Form, MoveAndSizeAreInTwipsOfTheOuterWindow) {
    TestForm form;
    form.Load();
    form.Move(1500.0f, -300.0f);
    RECT outer;
    GetWindowRect(form.Hwnd(), &outer);
    EXPECT_EQ(100, outer.left);
    EXPECT_EQ(-20, outer.top);
    EXPECT_FLOAT_EQ(static_cast<float>((outer.right - outer.left) * 15), form.Width());
    EXPECT_FLOAT_EQ(static_cast<float>((outer.bottom - outer.top) * 15), form.Height());
    EXPECT_GT(form.Width(), 4935.0f) << "the frame is included";
}

TEST(Form, UnloadDestroysTheWindowAndTheObjectLoadsAgain) {
    TestForm form;
    const int before = forms::Form::LoadedCount();
    form.Load();
    const HWND first = form.Hwnd();
    EXPECT_EQ(before + 1, forms::Form::LoadedCount());
    form.Unload();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(form.Loaded());
    EXPECT_EQ(nullptr, form.caption.Hwnd());
    EXPECT_EQ(before, forms::Form::LoadedCount());
    form.caption.SetCaption(L"kept while unloaded");
    form.Load();
    EXPECT_EQ(2, form.loads);
    EXPECT_EQ(L"kept while unloaded", WindowText(form.caption.Hwnd()));
}

// Windows would not make the window (a display that has gone; here a hook
// refuses it): the error says so, and the log gives Windows' reason.
namespace {
LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
    return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, wParam, lParam);
}
}  // namespace

TEST(Form, AWindowThatCannotBeMadeIsItsOwnError) {
    const testing_support::TempFolder folder;
    ASSERT_TRUE(host::OpenLog(folder / L"a.log"));
    const HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseWindows, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    TestForm form;
    EXPECT_RUNTIME_ERROR(form.Load(), runtime::kWindowNotCreated);
    UnhookWindowsHookEx(hook);
    host::WriteHeldLog();
    EXPECT_NE(std::string::npos, testing_support::ReadFile(folder / L"a.log").find("Crear unha xanela: "));
}

TEST(Form, CloseRequestsFollowTheLayout) {
    TestForm form;
    form.Load();
    SendMessageW(form.Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(form.Loaded()) << "a closable window unloads";
}

TEST(Labels, AreRealChildWindowsWithTheirText) {
    TestForm form;
    form.Load();
    EXPECT_EQ(L"#", WindowText(form.caption.Hwnd()));
    form.caption.SetCaption(L"Instalando compo\u00F1entes");
    EXPECT_EQ(L"Instalando compo\u00F1entes", WindowText(form.caption.Hwnd()));
    wchar_t className[32];
    GetClassNameW(form.caption.Hwnd(), className, 32);
    EXPECT_STREQ(L"Static", className);
    form.caption.SetVisible(false);
    EXPECT_FALSE(IsWindowVisible(form.caption.Hwnd()));
}

TEST(Labels, AutoSizeGrowsDownwardKeepingLeftAndWidth) {
    TestForm form;
    form.Load();
    const RECT before = RectInParent(form.wrapped.Hwnd());
    form.wrapped.SetCaption(L"Corrector de galego para Office 2000, Office XP e Office 2003. Para continuar prema seguinte.");
    const RECT after = RectInParent(form.wrapped.Hwnd());
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);
    EXPECT_EQ(before.right, after.right);
    EXPECT_GE(after.bottom - after.top, 3 * 13) << "the text wraps over several lines";
    form.wrapped.SetCaption(L"one line");
    const RECT single = RectInParent(form.wrapped.Hwnd());
    EXPECT_LT(single.bottom - single.top, 2 * 13);
}

namespace {

class TwoButtons final : public forms::Form {
public:
    TwoButtons()
        : Form(forms::FormLayout{4935, 1290, IDR_INSTALLER_PICTURE, IDI_PROGRAM, true}),
          first(*this, {100, 100, 1440, 420}, forms::kDefaultFont, [this] { ++firstPresses; }),
          second(*this, {2000, 100, 1440, 420}, forms::kDefaultFont, [this] { ++secondPresses; }) {
        SetDefaultButton(first);
        SetCancelButton(second);
    }
    forms::Button first;
    forms::Button second;
    int firstPresses = 0;
    int secondPresses = 0;

private:
    void Form_Load() override {}
};

bool IsDefault(HWND button) { return (GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON; }

}  // namespace

TEST(Buttons, TheFocusedButtonIsTheDefaultOne) {
    TwoButtons form;
    form.Show();
    EXPECT_EQ(form.first.Hwnd(), GetFocus());
    EXPECT_TRUE(IsDefault(form.first.Hwnd()));
    SetFocus(form.second.Hwnd());
    EXPECT_TRUE(IsDefault(form.second.Hwnd()));
    EXPECT_FALSE(IsDefault(form.first.Hwnd()));
    SetFocus(form.first.Hwnd());
    EXPECT_TRUE(IsDefault(form.first.Hwnd()));
    EXPECT_FALSE(IsDefault(form.second.Hwnd()));
}

TEST(Buttons, OkAndCancelCommandsPressTheDefaultAndCancelButtons) {
    TwoButtons form;
    form.Load();
    SendMessageW(form.Hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageW(form.Hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    SendMessageW(form.Hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(1, form.firstPresses);
    EXPECT_EQ(2, form.secondPresses);
    SendMessageW(form.second.Hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(3, form.secondPresses);
}

TEST(LoadResString, EveryEntryOfTheTableAndNothingElse) {
    for (const auto& entry : testing_support::kStrings) {
        EXPECT_EQ(entry.text, runtime::LoadResString(static_cast<int>(entry.id))) << entry.id;
    }
    for (const int missing : {0, 99, 111, 30001}) EXPECT_RUNTIME_ERROR(runtime::LoadResString(missing), 326);
}
