// The real program, started in the test's own folders and driven from
// outside as a user would: windows, texts, keys, buttons, messages, exit
// codes and the files left behind.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "host/single_instance.h"
#include "runtime/handles.h"
#include "runtime/strings.h"
#include "tests/e2e/automation.h"
#include "tests/support/restart_queue_sandbox.h"
#include "tests/support/shared_dlls_sandbox.h"
#include "tests/support/string_table.h"
#include "tests/support/temp_folder.h"
#include "update/replacement_lock.h"

namespace {

// The new engine that the tests install: a real DLL.
const std::string kNewEngine = testing_support::FakeEngine("new engine");

using automation::WindowInfo;
using testing_support::ReadFile;
using testing_support::WriteFile;

const std::wstring kTitle = L"Instalador corrector de galego Brenca";
const std::wstring kSuccess = L"O corrector foi actualizado";
const std::wstring kFailure = L"Non \u00E9 posible continuar a instalaci\u00F3n";
constexpr DWORD kTimeout = 15000;

std::wstring ScreenshotPath(const std::wstring& name) {
    const std::wstring folder = automation::ExeFolder() + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\" + name;
}

// One way a user can answer the welcome window.
struct UserAction {
    const char* how;
    void (*act)(const WindowInfo&);
};

bool IsMessageBox(const WindowInfo& window) { return window.visible && window.className == L"#32770"; }
bool IsProgramWindow(const WindowInfo& window) {
    return window.visible && window.className == L"ActualizadorForm" && window.title == kTitle;
}

// How wide a text is in a font of the system's, by the font's place in its metrics.
LONG TextWidth(const std::wstring& text, LOGFONTW NONCLIENTMETRICSW::*font) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return 0;
    const runtime::GdiObject created(CreateFontIndirectW(&(metrics.*font)));
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, created.Get());
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    return size.cx;
}

// Whether a button's caption fits inside it, in the font of message boxes.
bool CaptionFits(const automation::ControlInfo& button) {
    const LONG width = TextWidth(button.text, &NONCLIENTMETRICSW::lfMessageFont);
    return width > 0 && width + 8 <= button.rect.right - button.rect.left;
}

// Whether a window's whole title shows in its caption, beside the close button.
bool TitleFits(const automation::WindowInfo& window) {
    const LONG width = TextWidth(window.title, &NONCLIENTMETRICSW::lfCaptionFont);
    const LONG caption = window.clientRect.right - window.clientRect.left - GetSystemMetrics(SM_CXSIZE);
    return width > 0 && width + 8 <= caption;
}

std::optional<automation::ControlInfo> Control(const WindowInfo& window, const wchar_t* className,
                                               const std::wstring& text) {
    return automation::FindControl(window, className, text);
}

class EndToEnd : public testing::Test {
protected:
    EndToEnd() {
        for (const wchar_t* folder : {L"\\Descargas", L"\\Office", L"\\Office\\Microsoft Shared",
                                      L"\\Office\\Microsoft Shared\\PROOF"}) {
            CreateDirectoryW((work.Path() + folder).c_str(), nullptr);
        }
        CopyFileW((automation::ExeFolder() + L"\\actualizador.exe").c_str(), Program().c_str(), FALSE);
        WriteFile(work / L"Descargas\\QUENDOR.DLL", kNewEngine);
        WriteFile(work / L"Descargas\\QUENDOR.LEX", "new lexicon");
        WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
        WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        shared.Fill({L"C:\\APPS\\a.dll", work / L"Office\\Microsoft Shared\\Web\\X.DLL"});
    }

    std::wstring Program() const { return work / L"Descargas\\actualizador.exe"; }
    std::wstring Proof(const std::wstring& name) const { return work / (L"Office\\Microsoft Shared\\PROOF\\" + name); }

    // Starts the program and waits for its welcome window.
    WindowInfo Start() {
        process.emplace(automation::Launch(Program(), work / L"Descargas"));
        const auto welcome = automation::WaitForWindow(process->Id(), IsProgramWindow, kTimeout);
        if (!welcome) throw std::runtime_error("the welcome window did not appear");
        return *welcome;
    }

    DWORD ExitCode() {
        DWORD code = 0xDEAD;
        EXPECT_TRUE(process->WaitForExit(kTimeout, code)) << "the program did not end";
        return code;
    }

    void ExpectUnchanged() {
        EXPECT_EQ("old engine", ReadFile(Proof(L"QUENDOR.DLL")));
        EXPECT_EQ("old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
    }

    // Waits for the message box, checks its text, presses its OK button.
    WindowInfo AnswerMessage(const std::wstring& expected, const std::wstring& screenshot) {
        const auto box = automation::WaitForWindow(process->Id(), IsMessageBox, kTimeout);
        if (!box) throw std::runtime_error("no message box appeared");
        EXPECT_EQ(kTitle, box->title);
        EXPECT_TRUE(TitleFits(*box)) << "the whole title shows";
        EXPECT_TRUE(Control(*box, L"Static", expected).has_value()) << "message text";
        if (!screenshot.empty()) automation::SaveScreenshot(box->hwnd, ScreenshotPath(screenshot));
        const auto ok = automation::FindControl(*box, L"Button", L"OK");
        EXPECT_TRUE(ok.has_value());
        if (ok) automation::ClickButton(ok->hwnd);
        return *box;
    }

    // The control that has the focus once the program has handled a key:
    // the expected one as soon as it has it, else whatever has it after a while.
    HWND FocusAfterKey(HWND expected) {
        HWND focused = nullptr;
        for (int i = 0; i < 100 && focused != expected; ++i) {
            Sleep(20);
            focused = automation::FocusedControl(process->Id());
        }
        return focused;
    }

    void ExpectUpdated() {
        EXPECT_EQ(kNewEngine, ReadFile(Proof(L"QUENDOR.DLL")));
        EXPECT_EQ("new lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
    }

    // The names in the proofing folder.
    std::set<std::wstring> ProofFiles() const {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW found;
        const runtime::FindHandle search(FindFirstFileW(Proof(L"*").c_str(), &found));
        for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.Get(), &found)) {
            if (found.cFileName != std::wstring(L".") && found.cFileName != std::wstring(L"..")) {
                names.insert(found.cFileName);
            }
        }
        return names;
    }

    // Starts the program with the arguments, waiting for nothing.
    void Launch(const std::wstring& arguments) {
        process.emplace(automation::Launch(Program(), work / L"Descargas", arguments));
    }

    struct WatchedRun {
        DWORD exitCode = 0xDEAD;
        std::vector<std::wstring> shown;  // the class of each window shown
    };
    // Runs a copy of the program to its end, seeing every window it shows.
    // Not in `process`, which may hold another copy still running.
    WatchedRun RunWatched(const std::wstring& arguments) {
        automation::ShowWatcher watcher;
        const automation::Process copy = watcher.Launch(Program(), work / L"Descargas", arguments);
        WatchedRun run;
        EXPECT_TRUE(watcher.WaitForExit(copy, kTimeout, run.exitCode)) << "the program did not end";
        run.shown = watcher.Shown();
        return run;
    }

    // Entries that keep the installer window up while they are read: 10,000
    // for a tenth of a second or more, 20,000 for half a second or more.
    void FillLongList(int entries) {
        std::vector<std::wstring> names;
        for (int i = 0; i < entries; ++i) names.push_back(L"C:\\APPS\\" + std::to_wstring(i) + L".dll");
        shared.Fill(names);
    }

    // A run no one is there to see: not one window may show, at any moment.
    DWORD RunUnseen(const std::wstring& arguments) {
        const WatchedRun run = RunWatched(arguments);
        EXPECT_TRUE(run.shown.empty()) << "windows shown: " << testing::PrintToString(run.shown);
        return run.exitCode;
    }

    // Each installed file has one rename queued for the next restart, in
    // this order, from a copy that holds its new contents.
    void ExpectQueuedOnce(const std::vector<std::pair<std::wstring, std::string>>& files) {
        const std::vector<std::wstring> queued = testing_support::RestartQueueSandbox::Queued();
        std::ptrdiff_t previous = -1;
        for (const auto& [name, contents] : files) {
            const std::wstring destination = L"!\\??\\" + Proof(name);
            EXPECT_EQ(1, std::ranges::count(queued, destination)) << testing::PrintToString(queued);
            const auto at = std::ranges::find(queued, destination);
            if (at == queued.end() || at == queued.begin()) continue;
            EXPECT_LT(previous, at - queued.begin()) << "the engine first";
            previous = at - queued.begin();
            EXPECT_EQ(contents, ReadFile((at - 1)->substr(4))) << testing::PrintToString(*(at - 1));
        }
    }

    testing_support::TempFolder work;
    testing_support::SharedDllsSandbox shared;
    std::optional<automation::Process> process;
};

// The file names, lower case, of the modules of a process mapped from the folder.
std::set<std::wstring> ModulesIn(const std::wstring& folder, DWORD processId) {
    std::set<std::wstring> names;
    for (const std::wstring& module : automation::ListModules(processId)) {
        const std::size_t slash = module.find_last_of(L'\\');
        if (runtime::LCase(module.substr(0, slash)) == runtime::LCase(folder)) {
            names.insert(runtime::LCase(module.substr(slash + 1)));
        }
    }
    return names;
}

}  // namespace

TEST_F(EndToEnd, WelcomeWindowIsCentredWithEveryTextFromTheTable) {
    const WindowInfo welcome = Start();
    automation::SaveScreenshot(welcome.hwnd, ScreenshotPath(L"welcome.png"));

    EXPECT_EQ(429, welcome.clientRect.right - welcome.clientRect.left);
    EXPECT_EQ(217, welcome.clientRect.bottom - welcome.clientRect.top);
    const int width = welcome.rect.right - welcome.rect.left;
    const int height = welcome.rect.bottom - welcome.rect.top;
    EXPECT_NEAR((GetSystemMetrics(SM_CXSCREEN) - width) / 2, welcome.rect.left, 1);
    EXPECT_NEAR((GetSystemMetrics(SM_CYSCREEN) - height) / 2, welcome.rect.top, 1);
    EXPECT_FALSE(welcome.style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

    for (const auto& [className, text] : {
             std::pair{L"Button", std::wstring(L"Seguinte")},
             std::pair{L"Button", std::wstring(L"Cancelar")},
             std::pair{L"Static", std::wstring(L"Benvido ao instalador do corrector de galego")},
             std::pair{L"Static", std::wstring(L"Corrector de galego para Office 2000, Office XP e Office 2003. "
                                              L"Para continuar prema seguinte.")},
             std::pair{L"Static", std::wstring(L"Brenca")},
         }) {
        EXPECT_TRUE(Control(welcome, className, text).has_value()) << testing::PrintToString(text);
    }
    for (const auto& control : welcome.controls) EXPECT_NE(L"#", control.text) << "a control still shows #";

    // The buttons where the layout puts them, in client pixels at 96 DPI.
    const auto next = Control(welcome, L"Button", L"Seguinte");
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(98, next->rect.left - welcome.clientRect.left);
    EXPECT_EQ(177, next->rect.top - welcome.clientRect.top);
    EXPECT_EQ(96, next->rect.right - next->rect.left);
    EXPECT_EQ(28, next->rect.bottom - next->rect.top);
    EXPECT_EQ(next->hwnd, automation::FocusedControl(process->Id())) << "the focus starts on Seguinte";

    automation::ClickButton(Control(welcome, L"Button", L"Cancelar")->hwnd);
    EXPECT_EQ(2u, ExitCode());
}

TEST_F(EndToEnd, TabMovesBetweenTheButtonsAndEnterPressesTheFocusedOne) {
    const WindowInfo welcome = Start();
    const HWND next = Control(welcome, L"Button", L"Seguinte")->hwnd;
    const HWND cancel = Control(welcome, L"Button", L"Cancelar")->hwnd;
    const auto isDefault = [](HWND button) { return (GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON; };
    EXPECT_TRUE(isDefault(next));
    automation::PressKey(welcome.hwnd, VK_TAB);
    EXPECT_EQ(cancel, FocusAfterKey(cancel));
    EXPECT_TRUE(isDefault(cancel)) << "the focused button is the one Enter presses";
    EXPECT_FALSE(isDefault(next));
    automation::PressKey(welcome.hwnd, VK_TAB);
    EXPECT_EQ(next, FocusAfterKey(next)) << "labels and the image take no focus";
    automation::PressKey(welcome.hwnd, VK_TAB);
    automation::PressKey(welcome.hwnd, VK_RETURN);
    EXPECT_EQ(2u, ExitCode());
    ExpectUnchanged();
}

TEST_F(EndToEnd, CancellingInAnyWayEndsWithoutTouchingAnything) {
    const UserAction ways[] = {
        {"Cancelar", [](const WindowInfo& w) { automation::ClickButton(automation::FindControl(w, L"Button", L"Cancelar")->hwnd); }},
        {"Esc", [](const WindowInfo& w) { automation::PressKey(w.hwnd, VK_ESCAPE); }},
        {"close request", [](const WindowInfo& w) { automation::CloseWindow(w.hwnd); }},
        {"close box", [](const WindowInfo& w) { automation::PostSysCommandClose(w.hwnd); }},
        // Handled inside the program's wait for messages, with nothing posted after it.
        {"sent close", [](const WindowInfo& w) { EXPECT_TRUE(automation::SendCloseWindow(w.hwnd, 5000)); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        way.act(Start());
        DWORD code = 0;
        EXPECT_TRUE(process->WaitForExit(1000, code)) << "still running a second later";
        EXPECT_EQ(2u, ExitCode());
        EXPECT_TRUE(automation::ListWindows(process->Id()).empty());
        ExpectUnchanged();
    }
}

TEST_F(EndToEnd, SeguinteInstallsAndReportsSuccessWithTheWindowHidden) {
    const UserAction ways[] = {
        {"Seguinte", [](const WindowInfo& w) { automation::ClickButton(automation::FindControl(w, L"Button", L"Seguinte")->hwnd); }},
        {"Enter", [](const WindowInfo& w) { automation::PressKey(w.hwnd, VK_RETURN); }},
        {"Space", [](const WindowInfo& w) { automation::PressKey(w.hwnd, VK_SPACE); }},
    };
    bool first = true;
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
        WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        way.act(Start());
        AnswerMessage(kSuccess, first ? L"success.png" : L"");
        first = false;
        EXPECT_EQ(0u, ExitCode());
        EXPECT_EQ(kNewEngine, ReadFile(Proof(L"QUENDOR.DLL")));
        EXPECT_EQ("new lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
    }
}

TEST_F(EndToEnd, WithoutTheEngineTheFailureShowsOverTheInstallerWindow) {
    DeleteFileW(Proof(L"QUENDOR.DLL").c_str());
    automation::ClickButton(automation::FindControl(Start(), L"Button", L"Seguinte")->hwnd);

    const auto box = automation::WaitForWindow(process->Id(), IsMessageBox, kTimeout);
    ASSERT_TRUE(box.has_value());
    const auto installer = automation::WaitForWindow(process->Id(), IsProgramWindow, kTimeout);
    ASSERT_TRUE(installer.has_value()) << "the installer window stays visible behind the message";
    // The box stands centred over the window; moved below it, both can be seen.
    RECT boxRect = box->rect;
    OffsetRect(&boxRect, 0, installer->rect.bottom + 8 - boxRect.top);
    SetWindowPos(box->hwnd, nullptr, boxRect.left, boxRect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Sleep(300);
    RECT both;
    UnionRect(&both, &installer->rect, &boxRect);
    automation::SaveScreenshotRect(both, ScreenshotPath(L"failure.png"));

    EXPECT_EQ(329, installer->clientRect.right - installer->clientRect.left);
    EXPECT_EQ(86, installer->clientRect.bottom - installer->clientRect.top);
    EXPECT_TRUE(Control(*installer, L"Static", L"Instalando compo\u00F1entes").has_value());
    const auto bar = Control(*installer, L"msctls_progress32", L"");
    ASSERT_TRUE(bar.has_value());
    // Without an engine the message comes before the last fill: the bar stands
    // at the start of its restart on the list's range.
    EXPECT_EQ(0, SendMessageW(bar->hwnd, PBM_GETPOS, 0, 0));
    // The bar passes half-way too fast to be caught: for the picture of the
    // window at work it is put there.
    SendMessageW(bar->hwnd, PBM_SETPOS, static_cast<WPARAM>(SendMessageW(bar->hwnd, PBM_GETRANGE, FALSE, 0) / 2), 0);
    Sleep(300);
    automation::SaveScreenshot(installer->hwnd, ScreenshotPath(L"installer.png"));

    // The user cannot close the installer window while it works.
    automation::CloseWindow(installer->hwnd);
    automation::PostSysCommandClose(installer->hwnd);
    Sleep(300);
    EXPECT_TRUE(IsWindow(installer->hwnd));

    AnswerMessage(kFailure, L"");
    EXPECT_EQ(4u, ExitCode()) << "nothing to update";
    EXPECT_EQ("<missing>", ReadFile(Proof(L"QUENDOR.DLL")));
    EXPECT_EQ("old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
}

// A logoff while the key is read: Windows may end the process at any moment
// once the program has heard of it, so it ends at once, touching nothing.
TEST_F(EndToEnd, ALogoffWhileTheKeyIsReadEndsWithoutTouchingAnything) {
    std::vector<std::wstring> names;
    for (int i = 0; i < 30000; ++i) names.push_back(L"C:\\APPS\\" + std::to_wstring(i) + L".dll");
    names.push_back(work / L"Office\\Microsoft Shared\\Web\\X.DLL");
    shared.Fill(names);
    automation::ClickButton(Control(Start(), L"Button", L"Seguinte")->hwnd);
    const auto installer = automation::WaitForWindow(
        process->Id(), [](const WindowInfo& w) { return IsProgramWindow(w) && Control(w, L"msctls_progress32", L"").has_value(); },
        kTimeout);
    ASSERT_TRUE(installer.has_value());
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(installer->hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
    EXPECT_EQ(TRUE, static_cast<BOOL>(answer)) << "the logoff is not refused";
    SendMessageTimeoutW(installer->hwnd, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer);
    DWORD code = 0xDEAD;
    EXPECT_TRUE(process->WaitForExit(1000, code)) << "still running a second after the session ended";
    EXPECT_EQ(2u, ExitCode());
    ExpectUnchanged();
    WIN32_FIND_DATAW entry;
    EXPECT_FALSE(runtime::FindHandle(FindFirstFileW(Proof(L"QND*").c_str(), &entry))) << "a temporary file was left";
}

namespace {

// The display scaling of the programs started from now on (Wine reads it at start).
class DisplayScaling {
public:
    explicit DisplayScaling(DWORD dpi) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        DWORD size = sizeof previous_;
        had_ = RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&previous_), &size) ==
               ERROR_SUCCESS;
        RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
        RegCloseKey(key);
    }
    ~DisplayScaling() {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_ALL_ACCESS, &key);
        if (had_) {
            RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_), sizeof previous_);
        } else {
            RegDeleteValueW(key, L"LogPixels");
        }
        RegCloseKey(key);
    }
    DisplayScaling(const DisplayScaling&) = delete;
    DisplayScaling& operator=(const DisplayScaling&) = delete;

private:
    DWORD previous_ = 96;
    bool had_ = false;
};

int Scaled(int twips, int dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

}  // namespace

TEST_F(EndToEnd, WindowsScaleWithTheDisplay) {
    DeleteFileW(Proof(L"QUENDOR.DLL").c_str());
    for (const int dpi : {96, 120, 144}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        const DisplayScaling scaling(static_cast<DWORD>(dpi));
        const WindowInfo welcome = Start();
        const std::wstring suffix = L"-" + std::to_wstring(dpi) + L"dpi.png";
        automation::SaveScreenshot(welcome.hwnd, ScreenshotPath(L"welcome" + suffix));
        EXPECT_EQ(Scaled(6435, dpi), welcome.clientRect.right - welcome.clientRect.left);
        EXPECT_EQ(Scaled(3255, dpi), welcome.clientRect.bottom - welcome.clientRect.top);
        const auto next = Control(welcome, L"Button", L"Seguinte");
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(Scaled(1440, dpi), next->rect.right - next->rect.left);
        EXPECT_EQ(Scaled(2655, dpi), next->rect.top - welcome.clientRect.top);

        automation::ClickButton(next->hwnd);
        const auto box = automation::WaitForWindow(process->Id(), IsMessageBox, kTimeout);
        ASSERT_TRUE(box.has_value());
        const auto installer = automation::WaitForWindow(process->Id(), IsProgramWindow, kTimeout);
        ASSERT_TRUE(installer.has_value());
        EXPECT_EQ(Scaled(4935, dpi), installer->clientRect.right - installer->clientRect.left);
        EXPECT_EQ(Scaled(1290, dpi), installer->clientRect.bottom - installer->clientRect.top);
        SetWindowPos(box->hwnd, nullptr, box->rect.left, installer->rect.bottom + 8, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Sleep(300);
        automation::SaveScreenshot(installer->hwnd, ScreenshotPath(L"installer" + suffix));
        AnswerMessage(kFailure, L"");
        EXPECT_EQ(4u, ExitCode()) << "nothing to update";

        // The window tests' test window, with its label and a half-full bar, at this scaling.
        const automation::Process windowTests =
            automation::Launch(automation::ExeFolder() + L"\\window_tests.exe", automation::ExeFolder(),
                               L"--gtest_filter=Form.TestWindowWithPictureLabelAndHalfFullBar");
        DWORD code = 0xDEAD;
        EXPECT_TRUE(windowTests.WaitForExit(kTimeout, code));
        EXPECT_EQ(0u, code);
    }
}

TEST_F(EndToEnd, DllsBesideTheProgramAreNeverLoaded) {
    // Every DLL the program loads on a normal run, and the names that Windows
    // programs are known to look for in their own folder.
    std::vector<std::wstring> names = {
        L"QUENDOR.DLL", L"version.dll", L"uxtheme.dll", L"dwmapi.dll", L"comctl32.dll", L"oleaut32.dll",
        L"ole32.dll", L"msimg32.dll", L"winmm.dll", L"cryptbase.dll", L"profapi.dll", L"propsys.dll",
        L"windowscodecs.dll", L"userenv.dll", L"textshaping.dll", L"riched20.dll", L"imm32.dll", L"shfolder.dll",
        L"sspicli.dll"};
    const auto addLoaded = [&] {
        for (const std::wstring& module : automation::ListModules(process->Id())) {
            names.push_back(module.substr(module.find_last_of(L'\\') + 1));
        }
    };
    const std::wstring folder = work / L"Descargas";
    const WindowInfo first = Start();
    addLoaded();
    automation::ClickButton(Control(first, L"Button", L"Seguinte")->hwnd);
    automation::WaitForWindow(process->Id(), IsMessageBox, kTimeout);
    addLoaded();
    AnswerMessage(kSuccess, L"");
    ASSERT_EQ(0u, ExitCode());
    ASSERT_GT(names.size(), 40u) << "the modules of the running program were listed";

    // The mark works: a copy loaded on purpose leaves it.
    const std::wstring planted = automation::ExeFolder() + L"\\planted.dll";
    const std::wstring probe = work / L"probe.dll";
    ASSERT_TRUE(CopyFileW(planted.c_str(), probe.c_str(), FALSE));
    const HMODULE loaded = LoadLibraryW(probe.c_str());
    ASSERT_NE(nullptr, loaded);
    FreeLibrary(loaded);
    ASSERT_EQ("", ReadFile(probe + L".loaded"));

    // A marked DLL under each of those names beside the program.
    for (const std::wstring& name : names) {
        ASSERT_TRUE(CopyFileW(planted.c_str(), (folder + L"\\" + name).c_str(), FALSE)) << testing::PrintToString(name);
    }

    // The control: a program that imports kernel32 and user32 only, run the
    // same way, shows what Wine maps from a program's folder whatever the
    // program does. Windows maps none of it from there.
    const std::wstring bare = folder + L"\\bare_window.exe";
    ASSERT_TRUE(CopyFileW((automation::ExeFolder() + L"\\bare_window.exe").c_str(), bare.c_str(), FALSE));
    process.emplace(automation::Launch(bare, folder));
    ASSERT_TRUE(automation::WaitForWindow(process->Id(), automation::VisibleWithTitle(L"Bare window"), kTimeout));
    const std::set<std::wstring> everyProgram = ModulesIn(folder, process->Id());
    process->Kill();

    // The same run again: at the welcome window and at the message, nothing
    // more comes from the program's folder, and never a DLL the program loads itself.
    WriteFile(folder + L"\\QUENDOR.LEX", "new lexicon");
    WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
    const WindowInfo welcome = Start();
    const std::set<std::wstring> atWelcome = ModulesIn(folder, process->Id());
    automation::ClickButton(Control(welcome, L"Button", L"Seguinte")->hwnd);
    automation::WaitForWindow(process->Id(), IsMessageBox, kTimeout);
    const std::set<std::wstring> atMessage = ModulesIn(folder, process->Id());
    AnswerMessage(kSuccess, L"");
    EXPECT_EQ(0u, ExitCode());
    for (const auto& [when, mapped] : {std::pair{"at the welcome window", atWelcome}, {"at the message", atMessage}}) {
        for (const std::wstring& name : mapped) {
            EXPECT_TRUE(everyProgram.contains(name)) << testing::PrintToString(name) << " mapped from the program's folder " << when;
        }
        for (const wchar_t* own : {L"comctl32.dll", L"ole32.dll", L"oleaut32.dll", L"msimg32.dll"}) {
            EXPECT_FALSE(mapped.contains(own)) << testing::PrintToString(own) << " mapped from the program's folder " << when;
        }
    }
    for (const std::wstring& name : names) {
        EXPECT_EQ("<missing>", ReadFile(folder + L"\\" + name + L".loaded"))
            << testing::PrintToString(name) << " was loaded from the program's folder";
    }
}

namespace {

// Holds the file open, as a program that has it in use: without sharing it,
// unless told otherwise.
runtime::FileHandle HoldOpen(const std::wstring& path, DWORD sharing = 0) {
    return runtime::FileHandle(
        CreateFileW(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Opens every new file that the pattern matches, sharing everything, and
// holds it for 300 ms, as a virus scanner does with each new file.
class Scanner {
public:
    explicit Scanner(std::wstring folder) : folder_(std::move(folder)), thread_(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}
    ~Scanner() {
        stop_ = true;
        WaitForSingleObject(thread_.Get(), INFINITE);
    }
    int Opened() const { return opened_; }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<Scanner*>(self)->Scan();
        return 0;
    }
    void Scan() {
        std::set<std::wstring> seen;
        std::vector<std::pair<runtime::FileHandle, DWORD>> held;
        while (!stop_) {
            WIN32_FIND_DATAW found;
            const runtime::FindHandle search(FindFirstFileW((folder_ + L"\\QND*").c_str(), &found));
            for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.Get(), &found)) {
                if (!seen.insert(found.cFileName).second) continue;
                runtime::FileHandle file = HoldOpen(folder_ + L"\\" + found.cFileName,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
                if (file) ++opened_, held.emplace_back(std::move(file), GetTickCount());
            }
            std::erase_if(held, [](const auto& file) { return GetTickCount() - file.second >= 300; });
            Sleep(0);
        }
    }

    std::wstring folder_;
    std::atomic<bool> stop_ = false;
    std::atomic<int> opened_ = 0;
    runtime::KernelObject thread_;
};

FILETIME LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool Holds(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::ranges::find(names, name) != names.end();
}

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// What holds a name before the run: the single copy's, or the default log's.
enum class Taken { kNothing, kInstanceNameByAnEvent, kDefaultLogByAFolder };
// The new pair beside the program: a whole one; one cut short in a copy;
// texts that a list beside them vouches for (sha256sum of each); a whole one
// beside a list with a line that is not the list's.
enum class NewPair { kWhole, kCut, kListed, kUnreadableList };
constexpr char kList[] = "5205f280ab2d55aee713991c1ada97c0043d2f3652b0f297b8156c6a7cc95823 10 QUENDOR.DLL\r\n"
                         "f7438be067622fef5ee1c29b702d1983c9ee95f9dc3c225179088eaca613ceda 11 QUENDOR.LEX\r\n";

std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const runtime::FindHandle search(FindFirstFileW((folder + pattern).c_str(), &found));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.Get(), &found)) {
        names.push_back(found.cFileName);
    }
    return names;
}

bool BecomesForeground(HWND window) {
    for (DWORD waited = 0; GetForegroundWindow() != window; waited += 20) {
        if (waited >= kTimeout) return false;
        Sleep(20);
    }
    return true;
}

}  // namespace

TEST_F(EndToEnd, SilentRunsShowNothingAndTellTheOutcomeByTheirExitCode) {
    // A window shown by mistake would stay up long enough to be seen.
    FillLongList(10000);
    const std::wstring missingFolder = work / L"no such folder";
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    constexpr DWORD kShareNone = 0;
    // A file of this test's and another name of it, which the log must never write to.
    const std::wstring linked = work / L"linked.txt";
    WriteFile(linked, "someone else's file");
    ASSERT_TRUE(CreateHardLinkW((work / L"hard link.log").c_str(), linked.c_str(), nullptr));
    wchar_t temp[MAX_PATH + 1];
    const std::wstring tempFolder(temp, GetTempPathW(MAX_PATH + 1, temp));
    const std::wstring defaultLog = tempFolder + L"actualizador-corrector-galego.log";
    const struct {
        const char* how;
        std::wstring arguments;
        const wchar_t* held;     // an installed file held open by another program
        DWORD sharing;           // what that program shares
        const wchar_t* removed;  // an installed file that is not there
        bool installedAsNew;     // the installed files are copies of the new ones
        bool scanned;            // a virus scanner opens each new file beside them
        DWORD exitCode;
        std::string engine;
        const char* lexicon;
        Taken taken = Taken::kNothing;
        NewPair newPair = NewPair::kWhole;
    } runs[] = {
        {"updated", L"/S", nullptr, kShareAll, nullptr, false, false, 0, kNewEngine, "new lexicon"},
        {"other spelling", L"/VERYSILENT", nullptr, kShareAll, nullptr, false, false, 0, kNewEngine, "new lexicon"},
        {"dash and lower case", L"-quiet", nullptr, kShareAll, nullptr, false, false, 0, kNewEngine, "new lexicon"},
        // Other installers' switches, typed out of habit.
        {"habitual /q /norestart", L"/q /norestart", nullptr, kShareAll, nullptr, false, false, 0, kNewEngine, "new lexicon"},
        {"habitual /S /NORESTART /SUPPRESSMSGBOXES", L"/S /NORESTART /SUPPRESSMSGBOXES", nullptr, kShareAll, nullptr, false,
         false, 0, kNewEngine, "new lexicon"},
        {"habitual, mistyped", L"/qn /norestrat", nullptr, kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"silent wins over progress only", L"/SILENT /s", nullptr, kShareAll, nullptr, false, false, 0, kNewEngine, "new lexicon"},
        {"a scanner opens each new file", L"/S", nullptr, kShareAll, nullptr, false, true, 0, kNewEngine, "new lexicon"},
        {"no engine installed", L"/S", nullptr, kShareAll, L"QUENDOR.DLL", false, false, 4, "<missing>", "old lexicon"},
        // Put off to the next restart: both new files wait beside the old ones.
        {"engine in use", L"/S", L"QUENDOR.DLL", FILE_SHARE_READ, nullptr, false, false, 3010, "old engine", "old lexicon"},
        // Its version unknown, it may be newer: never replaced, now or at the restart.
        {"engine held exclusively", L"/S", L"QUENDOR.DLL", kShareNone, nullptr, false, false, 5, "old engine", "old lexicon"},
        {"lexicon in use", L"/S", L"QUENDOR.LEX", kShareNone, nullptr, false, false, 3010, "old engine", "old lexicon"},
        // Such a reader makes Windows refuse the move over the file, not the copy.
        {"lexicon read without sharing deletion", L"/S", L"QUENDOR.LEX", FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
         false, false, 3010, "old engine", "old lexicon"},
        {"already the new files, the lexicon in use", L"/S", L"QUENDOR.LEX", FILE_SHARE_READ, nullptr, true, false, 0,
         kNewEngine, "new lexicon"},
        {"unknown switch", L"/S /X", nullptr, kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"unknown switch first", L"/X /VERYSILENT", nullptr, kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"stray word", L"/S word", nullptr, kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"log in a missing folder", L"/S \"/LOG=" + missingFolder + L"\\a.log\"", nullptr, kShareAll, nullptr, false, false,
         1639, "old engine", "old lexicon"},
        {"log that is a folder", L"/S \"/LOG=" + work.Path() + L"\"", nullptr, kShareAll, nullptr, false, false, 1639,
         "old engine", "old lexicon"},
        {"log that is a hard link", L"/S \"/LOG=" + work / L"hard link.log\"", nullptr, kShareAll, nullptr, false, false, 1639, "old engine",
         "old lexicon"},
        // A script's mistyped line shows no help box, which would wait for a person forever.
        {"switches glued together", L"/S/LOG", nullptr, kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"switches in one argument", L"\"/S /LOG\"", nullptr, kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"\\\" before the log's closing quote takes in /S", L"/LOG=\"" + work.Path() + L"\\\" /S", nullptr, kShareAll, nullptr, false, false,
         1639, "old engine", "old lexicon"},
        // However it is named, the installed engine is never the log.
        {"log onto the installed engine", L"/S \"/LOG=\\\\?\\" + runtime::LCase(Proof(L"QUENDOR.DLL")) + L"\"", nullptr,
         kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        // Nor the lexicon, though the run ends before it finds the proofing folder; nor the lock file.
        {"log onto the installed lexicon, mistyped", L"/S \"/LOG=" + Proof(L"QUENDOR.LEX") + L"\" /norestrat", nullptr,
         kShareAll, nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"log onto the installed lexicon, help", L"/S /? \"/LOG=" + Proof(L"QUENDOR.LEX") + L"\"", nullptr, kShareAll,
         nullptr, false, false, 0, "old engine", "old lexicon"},
        {"log onto the lock file", L"/S \"/LOG=" + Proof(update::kLockFileName) + L"\"", nullptr, kShareAll, nullptr,
         false, false, 1639, "old engine", "old lexicon"},
        // A name that merely starts as the updater's copies do is no file of the speller's.
        {"log beside the pair", L"/S \"/LOG=" + Proof(L"qnd-notes.log") + L"\"", nullptr, kShareAll, nullptr, false,
         false, 0, kNewEngine, "new lexicon"},
        {"progress only, log in a missing folder", L"/passive \"/LOG=" + missingFolder + L"\\a.log\"", nullptr, kShareAll,
         nullptr, false, false, 1639, "old engine", "old lexicon"},
        {"default log's name taken by a folder", L"/S /LOG", nullptr, kShareAll, nullptr, false, false, 0, kNewEngine, "new lexicon",
         Taken::kDefaultLogByAFolder},
        {"single copy's name taken by an event", L"/S", nullptr, kShareAll, nullptr, false, false, 0, kNewEngine, "new lexicon",
         Taken::kInstanceNameByAnEvent},
        {"help", L"/S /?", nullptr, kShareAll, nullptr, false, false, 0, "old engine", "old lexicon"},
        {"a new pair cut short", L"/S", nullptr, kShareAll, nullptr, false, false, 8, "old engine", "old lexicon",
         Taken::kNothing, NewPair::kCut},
        {"a new pair that matches its list", L"/S", nullptr, kShareAll, nullptr, false, false, 0, "new engine",
         "new lexicon", Taken::kNothing, NewPair::kListed},
        {"a list that cannot be read", L"/S \"/LOG=" + work / L"list.log\"", nullptr, kShareAll, nullptr, false, false, 8,
         "old engine", "old lexicon", Taken::kNothing, NewPair::kUnreadableList},
        {"help, other spelling", L"-help /quiet", nullptr, kShareAll, nullptr, false, false, 0, "old engine", "old lexicon"},
        // Progress only: the help goes to the log, never into a box that waits.
        {"help, progress only", L"/SILENT /?", nullptr, kShareAll, nullptr, false, false, 0, "old engine", "old lexicon"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.how);
        testing_support::RestartQueueSandbox queue;
        WriteFile(work / L"Descargas\\QUENDOR.DLL", run.newPair == NewPair::kCut      ? kNewEngine.substr(0, 1000)
                                                     : run.newPair == NewPair::kListed ? "new engine"
                                                                                       : kNewEngine);
        DeleteFileW((work / L"Descargas\\QUENDOR.LST").c_str());
        if (run.newPair == NewPair::kListed) WriteFile(work / L"Descargas\\QUENDOR.LST", kList);
        if (run.newPair == NewPair::kUnreadableList) {
            WriteFile(work / L"Descargas\\QUENDOR.LST", kList + std::string("QUENDOR.DLL\r\n"));
        }
        if (run.installedAsNew) {
            // As an earlier run leaves them: copies keep their source's time.
            for (const wchar_t* name : {L"QUENDOR.DLL", L"QUENDOR.LEX"}) {
                ASSERT_TRUE(CopyFileW((work / (L"Descargas\\" + std::wstring(name))).c_str(), Proof(name).c_str(), FALSE));
            }
        } else {
            WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
            WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        }
        if (run.removed != nullptr) {
            ASSERT_TRUE(DeleteFileW(Proof(run.removed).c_str()));
        }
        const FILETIME engineTime = LastWriteTime(Proof(L"QUENDOR.DLL"));
        runtime::FileHandle held;
        if (run.held != nullptr) {
            held = HoldOpen(Proof(run.held), run.sharing);
            ASSERT_TRUE(held);
        }
        const runtime::KernelObject event(run.taken == Taken::kInstanceNameByAnEvent
                                              ? CreateEventW(nullptr, TRUE, FALSE, L"Global\\ActualizadorCorrectorGalegoQUENDOR")
                                              : nullptr);
        if (run.taken == Taken::kDefaultLogByAFolder) {
            for (const std::wstring& name : FilesIn(tempFolder, L"actualizador-corrector-galego-*.log")) {
                DeleteFileW((tempFolder + name).c_str());
            }
            // Runs that refused the log they were given wrote why there.
            DeleteFileW(defaultLog.c_str());
            ASSERT_TRUE(CreateDirectoryW(defaultLog.c_str(), nullptr));
        }
        std::optional<Scanner> scanner;
        if (run.scanned) scanner.emplace(work / L"Office\\Microsoft Shared\\PROOF");
        EXPECT_EQ(run.exitCode, RunUnseen(run.arguments));
        if (scanner) {
            EXPECT_LE(1, scanner->Opened()) << "new files opened by the scanner";
        }
        scanner.reset();
        if (run.taken == Taken::kDefaultLogByAFolder) {
            EXPECT_TRUE(RemoveDirectoryW(defaultLog.c_str()));
            // The run logged to a name of its own beside it, with its process id.
            const std::vector<std::wstring> own = FilesIn(tempFolder, L"actualizador-corrector-galego-*.log");
            EXPECT_EQ(1u, own.size());
            for (const std::wstring& name : own) {
                EXPECT_NE(std::string::npos, ReadFile(tempFolder + name).find(Utf8(L"Remata co c\u00F3digo 0")));
                DeleteFileW((tempFolder + name).c_str());
            }
        }
        if (run.newPair == NewPair::kUnreadableList) {
            // The person would be told of the list, not of damaged files, and so is the last line.
            const std::string log = ReadFile(work / L"list.log");
            using testing_support::ExpectedString;
            const std::wstring message(std::ranges::find(testing_support::kStrings, 129u, &ExpectedString::id)->text);
            EXPECT_NE(std::string::npos, log.find(Utf8(L"Mensaxe (non se mostra): " + message)));
            EXPECT_NE(std::string::npos, log.find(Utf8(L"Remata co c\u00F3digo 8: non se pode ler a lista QUENDOR.LST")));
        }
        held.Reset();
        EXPECT_EQ(run.engine, ReadFile(Proof(L"QUENDOR.DLL")));
        EXPECT_EQ(run.lexicon, ReadFile(Proof(L"QUENDOR.LEX")));
        std::set<std::wstring> left = {L"QUENDOR.LEX"};
        if (run.removed == nullptr) left.insert(L"QUENDOR.DLL");
        std::set<std::wstring> staged = ProofFiles();
        for (const std::wstring& name : left) staged.erase(name);
        // A log beside the pair holds the run, to its last line.
        if (staged.erase(L"qnd-notes.log") > 0) {
            EXPECT_NE(std::string::npos, ReadFile(Proof(L"qnd-notes.log")).find("Remata co c"));
            DeleteFileW(Proof(L"qnd-notes.log").c_str());
        }
        // The lock file stays, empty.
        if (staged.erase(update::kLockFileName) > 0) { EXPECT_EQ("", ReadFile(Proof(update::kLockFileName))); }
        if (run.exitCode == 3010) {
            // Each new file waits beside its installed one, queued to be moved over it.
            const FILETIME after = LastWriteTime(Proof(L"QUENDOR.DLL"));
            EXPECT_EQ(0, CompareFileTime(&engineTime, &after)) << "the engine untouched";
            EXPECT_EQ(2u, staged.size()) << testing::PrintToString(staged);
            ExpectQueuedOnce({{L"QUENDOR.DLL", kNewEngine}, {L"QUENDOR.LEX", "new lexicon"}});
            continue;
        }
        if (run.installedAsNew) {
            const FILETIME after = LastWriteTime(Proof(L"QUENDOR.DLL"));
            EXPECT_EQ(0, CompareFileTime(&engineTime, &after)) << "nothing rewritten";
        }
        EXPECT_TRUE(staged.empty()) << "left in the proofing folder: " << testing::PrintToString(staged);
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missingFolder.c_str()));
    EXPECT_EQ("someone else's file", ReadFile(linked));
}

// A word processor has the engine loaded and the lexicon open: the person
// is told who, and chooses. An engine held so that not even its version can
// be read may be newer: the person may only try again or cancel.
TEST_F(EndToEnd, AWordProcessorHoldingTheSpellerIsNamedAndThePersonChooses) {
    const std::wstring engineV1 = automation::ExeFolder() + L"\\engine_v1.dll";
    const struct {
        const wchar_t* button;
        bool closedFirst;  // the person closes the word processor before pressing
        DWORD exitCode;
        std::wstring outcome;
        bool updated;
        bool exclusive = false;  // the engine held without sharing reading, by this test
        // Any user's event holds the single copy's name, and a second copy /S runs while the person is asked.
        bool squatted = false;
    } choices[] = {
        {L"Tentar de novo", true, 0, kSuccess, true},
        {L"Continuar", false, 3010, L"O corrector actualizarase cando se reinicie o ordenador.", false},
        {L"Cancelar", false, 5, kFailure, false},
        {L"Cancelar", false, 5, kFailure, false, true},
        {L"Continuar", false, 3010, L"O corrector actualizarase cando se reinicie o ordenador.", false, false, true},
    };
    for (const auto& choice : choices) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(choice.button) + (choice.exclusive ? L", held exclusively" : L"") +
                                            (choice.squatted ? L", a second copy meanwhile" : L"")));
        testing_support::RestartQueueSandbox queue;
        ASSERT_TRUE(CopyFileW(engineV1.c_str(), Proof(L"QUENDOR.DLL").c_str(), FALSE));
        WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        runtime::FileHandle held;
        std::optional<automation::Process> word;
        if (choice.exclusive) {
            held = HoldOpen(Proof(L"QUENDOR.DLL"));
        } else {
            word = automation::Launch(automation::ExeFolder() + L"\\word_processor.exe", work.Path(),
                                      L"\"" + Proof(L"QUENDOR.DLL") + L"\" \"" + Proof(L"QUENDOR.LEX") + L"\"");
            // It shares reading: only a handle that refuses to share reading waits for it.
            for (int i = 0; i < 500 && HoldOpen(Proof(L"QUENDOR.LEX"), FILE_SHARE_WRITE | FILE_SHARE_DELETE); ++i) Sleep(10);
            ASSERT_TRUE(word->Running());
        }

        const runtime::KernelObject squatter(choice.squatted ? CreateEventW(nullptr, TRUE, FALSE, host::kInstanceName)
                                                             : nullptr);
        automation::ClickButton(Control(Start(), L"Button", L"Seguinte")->hwnd);
        const auto box = automation::WaitForWindow(process->Id(), IsMessageBox, kTimeout);
        ASSERT_TRUE(box.has_value());
        if (choice.squatted) {
            EXPECT_EQ(1618u, RunUnseen(L"/S")) << "the second copy";
            EXPECT_TRUE(queue.Queued().empty()) << testing::PrintToString(queue.Queued());
            EXPECT_EQ((std::set<std::wstring>{L"QUENDOR.DLL", L"QUENDOR.LEX", update::kLockFileName}), ProofFiles());
        }
        const auto text = std::ranges::find_if(box->controls, [](const automation::ControlInfo& control) {
            return control.text.find(L"Procesador de textos de proba") != std::wstring::npos;
        });
        EXPECT_EQ(!choice.exclusive, text != box->controls.end()) << "the word processor by its description";
        EXPECT_EQ(!choice.exclusive, Control(*box, L"Button", L"Continuar").has_value()) << "Continuar";
        for (const wchar_t* button : {L"Cancelar", L"Tentar de novo"}) {
            EXPECT_TRUE(Control(*box, L"Button", button).has_value()) << testing::PrintToString(std::wstring(button));
        }
        for (const automation::ControlInfo& control : box->controls) {
            if (control.className == L"Button" && control.visible) {
                EXPECT_TRUE(CaptionFits(control)) << testing::PrintToString(control.text);
            }
        }
        if (choice.closedFirst) {
            automation::SaveScreenshot(box->hwnd, ScreenshotPath(L"in-use.png"));
            word->Kill();
        }
        automation::ClickButton(Control(*box, L"Button", choice.button)->hwnd);
        for (int i = 0; i < 500 && IsWindow(box->hwnd); ++i) Sleep(10);
        AnswerMessage(choice.outcome, L"");
        EXPECT_EQ(choice.exitCode, ExitCode());
        if (word) word->Kill();
        held.Reset();
        if (choice.updated) {
            ExpectUpdated();
        } else {
            EXPECT_EQ(ReadFile(engineV1), ReadFile(Proof(L"QUENDOR.DLL")));
            EXPECT_EQ("old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
        }
        if (choice.exitCode == 3010) {
            ExpectQueuedOnce({{L"QUENDOR.DLL", kNewEngine}, {L"QUENDOR.LEX", "new lexicon"}});
        } else {
            EXPECT_EQ((std::set<std::wstring>{L"QUENDOR.DLL", L"QUENDOR.LEX", update::kLockFileName}), ProofFiles());
        }
    }
}

// Never older: the installed engine of version 2.0 stays, and the person is told.
TEST_F(EndToEnd, ANewerInstalledEngineIsLeftAsItIs) {
    const std::wstring engineV2 = automation::ExeFolder() + L"\\engine_v2.dll";
    ASSERT_TRUE(CopyFileW(engineV2.c_str(), Proof(L"QUENDOR.DLL").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((automation::ExeFolder() + L"\\engine_v1.dll").c_str(),
                          (work / L"Descargas\\QUENDOR.DLL").c_str(), FALSE));
    automation::ClickButton(Control(Start(), L"Button", L"Seguinte")->hwnd);
    AnswerMessage(L"O corrector instalado \u00E9 m\u00E1is novo ca este: non se cambiou nada.", L"");
    EXPECT_EQ(0u, ExitCode());
    EXPECT_EQ(ReadFile(engineV2), ReadFile(Proof(L"QUENDOR.DLL")));
    EXPECT_EQ("old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
    EXPECT_EQ((std::set<std::wstring>{L"QUENDOR.DLL", L"QUENDOR.LEX", update::kLockFileName}), ProofFiles());
}

// Also the control for the watcher of the silent runs: here it must see windows.
TEST_F(EndToEnd, PassiveRunsShowTheInstallerWindowAndNoMessage) {
    // Under Wine the watcher looks every millisecond: a window up for half a
    // second is seen even while other programs keep this one waiting.
    FillLongList(20000);
    for (const wchar_t* arguments : {L"/passive", L"/SILENT", L"/qb!-"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(arguments)));
        WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
        WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        const WatchedRun run = RunWatched(arguments);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(Holds(run.shown, L"ActualizadorForm")) << testing::PrintToString(run.shown);
        EXPECT_TRUE(Holds(run.shown, L"msctls_progress32")) << testing::PrintToString(run.shown);
        EXPECT_FALSE(Holds(run.shown, L"Button")) << "the welcome window's buttons";
        EXPECT_FALSE(Holds(run.shown, L"#32770")) << "a message box";
        ExpectUpdated();
    }
}

// A window station of its own is one no person can see: a run there without
// /S (a startup script that forgot it) would wait for ever on the welcome
// window, so it ends at once.
TEST_F(EndToEnd, ARunNoPersonCanSeeEndsAtOnceWith1639) {
    const std::unique_ptr<HWINSTA__, decltype(&CloseWindowStation)> station(
        CreateWindowStationW(L"actualizador-sen-ninguen", 0, WINSTA_ALL_ACCESS, nullptr), CloseWindowStation);
    ASSERT_TRUE(station);
    std::wstring desktop = L"actualizador-sen-ninguen\\Default";
    std::wstring line = L"\"" + Program() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(CreateProcessW(Program().c_str(), line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                               nullptr, &startup, &started));
    const runtime::KernelObject run(started.hProcess);
    const runtime::KernelObject thread(started.hThread);
    const bool ended = WaitForSingleObject(run.Get(), 30000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(run.Get(), 0);
    DWORD code = 0;
    GetExitCodeProcess(run.Get(), &code);
    EXPECT_TRUE(ended) << "it waited for a person";
    EXPECT_EQ(1639u, code);
    ExpectUnchanged();
}

TEST_F(EndToEnd, OneCopyRunsAtATimeAndAKilledCopyBlocksNothing) {
    const WindowInfo welcome = Start();
    EXPECT_EQ(1618u, RunUnseen(L"/S"));

    // Another window in front, for the next copy to bring the running one before it.
    const automation::Process other =
        automation::Launch(automation::ExeFolder() + L"\\bare_window.exe", automation::ExeFolder());
    const auto bare = automation::WaitForWindow(other.Id(), automation::VisibleWithTitle(L"Bare window"), kTimeout);
    ASSERT_TRUE(bare.has_value());
    SetForegroundWindow(bare->hwnd);
    ASSERT_TRUE(BecomesForeground(bare->hwnd));
    EXPECT_EQ(1618u, RunUnseen(L"")) << "a second copy a person started";
    EXPECT_TRUE(BecomesForeground(welcome.hwnd)) << "the running copy's welcome window comes to the front";
    ExpectUnchanged();

    automation::ClickButton(Control(welcome, L"Button", L"Cancelar")->hwnd);
    EXPECT_EQ(2u, ExitCode());
    ExpectUnchanged();
    {
        // A copy that shows nothing (the test holds the name as it would): a
        // person who starts another is told, not left with nothing on screen.
        const host::SingleInstance unseen;
        ASSERT_TRUE(unseen.First());
        Launch(L"");
        AnswerMessage(L"O actualizador do corrector xa se est\u00E1 a executar.", L"already-running.png");
        EXPECT_EQ(1618u, ExitCode());
    }

    Start();
    process->Kill();
    EXPECT_EQ(0u, RunUnseen(L"/S")) << "after a copy that was killed";
    ExpectUpdated();
}

TEST_F(EndToEnd, HelpBoxListsTheSwitchesAndExitCodesForAPersonWhoAsksOrMistypes) {
    const struct {
        const wchar_t* arguments;
        DWORD exitCode;
    } runs[] = {{L"/?", 0}, {L"/HELP", 0}, {L"/X", 1639}, {L"word", 1639}};
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(run.arguments)));
        Launch(run.arguments);
        const auto box = automation::WaitForWindow(process->Id(), IsMessageBox, kTimeout);
        ASSERT_TRUE(box.has_value()) << "the help box";
        EXPECT_EQ(kTitle, box->title);
        const auto text = std::ranges::find_if(box->controls, [](const automation::ControlInfo& control) {
            return control.className == L"Static" && control.text.find(L"/S") != std::wstring::npos &&
                   control.text.find(L"1639") != std::wstring::npos;
        });
        EXPECT_NE(box->controls.end(), text) << "a text that lists /S and 1639";
        if (run.exitCode == 0) automation::SaveScreenshot(box->hwnd, ScreenshotPath(L"help.png"));
        EXPECT_FALSE(automation::WaitForWindow(process->Id(), IsProgramWindow, 0)) << "no welcome window";
        const auto ok = automation::FindControl(*box, L"Button", L"OK");
        ASSERT_TRUE(ok.has_value());
        automation::ClickButton(ok->hwnd);
        EXPECT_EQ(run.exitCode, ExitCode());
        ExpectUnchanged();
    }
}

TEST_F(EndToEnd, LogOfUnattendedRunsIsAppendedInUtf8WithATimeOnEveryLine) {
    const std::wstring proof = work / L"Arquivos de programa com\u00FAns\\Microsoft Shared\\PROOF";
    for (const std::wstring& folder : {work / L"Arquivos de programa com\u00FAns",
                                       work / L"Arquivos de programa com\u00FAns\\Microsoft Shared", proof,
                                       work / L"rexistro con espazos"}) {
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    shared.Clear();
    shared.Fill({work / L"Arquivos de programa com\u00FAns\\Microsoft Shared\\Web\\X.DLL"});
    const std::wstring log = work / L"rexistro con espazos\\a.log";
    const std::wstring logArgument = L"\"/LOG=" + log + L"\"";
    // The same file, from the program's folder: the log gives its full path.
    const std::wstring relativeLogArgument = L"\"/LOG=..\\rexistro con espazos\\a.log\"";
    const std::wstring engine = proof + L"\\QUENDOR.DLL";
    WriteFile(engine, "old engine");
    WriteFile(proof + L"\\QUENDOR.LEX", "old lexicon");

    EXPECT_EQ(0u, RunUnseen(L"/S " + logArgument));
    EXPECT_EQ(kNewEngine, ReadFile(engine));
    const std::string first = ReadFile(log);
    {
        testing_support::RestartQueueSandbox queue;
        WriteFile(engine, "old engine");
        const runtime::FileHandle held = HoldOpen(engine, FILE_SHARE_READ);
        ASSERT_TRUE(held);
        EXPECT_EQ(3010u, RunUnseen(L"/S " + relativeLogArgument));
    }
    EXPECT_EQ("old engine", ReadFile(engine));
    const std::string both = ReadFile(log);
    ASSERT_EQ(first, both.substr(0, first.size())) << "the first run's lines are kept as they were";
    const std::string second = both.substr(first.size());

    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(bom, both.substr(0, 3));
    EXPECT_EQ(std::string::npos, both.find(bom, 3)) << "one byte-order mark, at the start";
    ASSERT_TRUE(both.ends_with("\r\n"));
    // Every line ends in CRLF: split at them, no CR or LF is left.
    std::vector<std::string> lines;
    for (std::size_t start = bom.size(), end; start < both.size(); start = end + 2) {
        end = both.find("\r\n", start);
        lines.push_back(both.substr(start, end - start));
    }
    // The local time with its offset from UTC, and the process id, the same all through one run.
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d \[(\d+)\]  [^\r\n]+)");
    std::set<std::string> pids[2];
    for (const std::string& text : lines) {
        std::smatch parts;
        EXPECT_TRUE(std::regex_match(text, parts, stamped)) << text;
        if (!parts.empty()) pids[first.find(text) == std::string::npos].insert(parts[1]);
    }
    EXPECT_EQ(1u, pids[0].size()) << "the first run's";
    EXPECT_EQ(1u, pids[1].size()) << "the second run's";

    const auto holds = [](const std::string& text, const std::wstring& part) {
        return text.find(Utf8(part)) != std::string::npos;
    };
    for (const auto& [run, text, argument, outcome] :
         {std::tuple{"first run", first, logArgument, L"Remata co c\u00F3digo 0"},
          std::tuple{"second run", second, relativeLogArgument, L"Remata co c\u00F3digo 3010"}}) {
        SCOPED_TRACE(run);
        EXPECT_TRUE(std::regex_search(text, std::regex(R"(  Actualizador do corrector de galego \d+\.\d+\r\n)")));
        EXPECT_TRUE(holds(text, L"  Ficheiro de rexistro: " + log + L"\r\n"));
        EXPECT_TRUE(holds(text, L"/S " + argument + L"\r\n")) << "the command line, quotes and all";
        EXPECT_TRUE(holds(text, L"  Modo: silencioso\r\n"));
        EXPECT_TRUE(holds(text, L"  Cartafol de correcci\u00F3n: " + proof + L"\r\n"));
        EXPECT_TRUE(holds(text, std::wstring(L"  ") + outcome));
    }
    // The in-use run names the Windows error, a sharing violation, and the file.
    const auto refusal = std::ranges::find_if(lines, [&](const std::string& text) {
        return text.find(Utf8(L": erro de Windows 32 (")) != std::string::npos;
    });
    ASSERT_NE(lines.end(), refusal);
    EXPECT_TRUE(refusal->ends_with(Utf8(L": " + engine))) << *refusal;
    EXPECT_NE(std::string::npos, second.find(*refusal + "\r\n")) << "in the second run";

    // A power cut's zeros after a run's lines leave the file our log.
    WriteFile(log, first + std::string(512, '\0'));
    EXPECT_EQ(0u, RunUnseen(L"/S " + logArgument));
    EXPECT_NE(std::string::npos, ReadFile(log).find(Utf8(L"  Remata co c\u00F3digo 0"), first.size()));
}
