// The automation library checked against windows of this test's own and
// against a small system program, so the end-to-end tests can trust it.
#include "tests/e2e/automation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// A PNG reader, to look into the screenshots.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace {

using automation::ControlInfo;
using automation::WindowInfo;

std::wstring Lower(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    return lower;
}

bool EndsWith(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && Lower(text.substr(text.size() - end.size())) == Lower(end);
}

struct DecodedPng {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

DecodedPng DecodePng(const std::string& png) {
    DecodedPng decoded;
    int channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()),
                                            &decoded.width, &decoded.height, &channels, 3);
    if (pixels == nullptr) {
        ADD_FAILURE() << "not a PNG: " << stbi_failure_reason();
        return decoded;
    }
    decoded.rgb.assign(pixels, pixels + static_cast<std::size_t>(decoded.width) * decoded.height * 3);
    stbi_image_free(pixels);
    return decoded;
}

std::string ReadWholeFile(const std::wstring& path) {
    const runtime::FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

std::wstring TempPngPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name + std::to_wstring(GetCurrentProcessId()) + L".png";
}

TEST(WithoutMnemonics, DropsSingleAmpersandsAndHalvesDoubleOnes) {
    const struct {
        std::wstring_view caption;
        std::wstring_view plain;
    } cases[] = {
        {L"&Aceptar", L"Aceptar"}, {L"Sa&ír", L"Saír"},     {L"Gardar && saír", L"Gardar & saír"},
        {L"&&&x", L"&x"},          {L"fin&", L"fin&"},      {L"sen marcas", L"sen marcas"},
    };
    for (const auto& c : cases) EXPECT_EQ(automation::WithoutMnemonics(c.caption), c.plain);
}

// ---- windows of this process ----

constexpr COLORREF kBackground = RGB(200, 30, 60);
constexpr int kLabelId = 10;
constexpr int kHiddenId = 3;

struct Received {
    std::vector<std::pair<WORD, WORD>> commands;  // control id, notification
    std::vector<MSG> keys;
    int closes = 0;
    int sysCloses = 0;
};
Received g_received;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            g_received.commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_KEYDOWN:
        case WM_KEYUP:
            g_received.keys.push_back(MSG{window, message, wParam, lParam, 0, {}});
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) ++g_received.sysCloses;
            break;
        case WM_CLOSE:
            ++g_received.closes;
            return 0;  // counted only; the fixture destroys the window
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Everything already posted to this thread, handled as a plain message loop.
void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class OwnWindows : public testing::Test {
protected:
    static constexpr wchar_t kClassName[] = L"AutomationTestWindow";

    void SetUp() override {
        g_received = {};
        brush_.Reset(CreateSolidBrush(kBackground));
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        windowClass.hbrBackground = static_cast<HBRUSH>(brush_.Get());
        ASSERT_NE(RegisterClassW(&windowClass), 0);

        title_ = L"Proba de automatización " + std::to_wstring(GetCurrentProcessId());
        main_.Reset(CreateWindowExW(0, kClassName, title_.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 40, 40,
                                    420, 260, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(main_);
        label_ = Child(L"STATIC", L"Olá, mundo — ñ", WS_VISIBLE, 10, 10, kLabelId);
        ok_ = Child(L"BUTTON", L"&Aceptar", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 40, IDOK);
        hidden_ = Child(L"BUTTON", L"&Pechar", WS_DISABLED | BS_PUSHBUTTON, 120, 40, kHiddenId);
        ShowWindow(main_.Get(), SW_SHOW);
        SetWindowPos(main_.Get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        UpdateWindow(main_.Get());
        Pump();
    }

    void TearDown() override {
        second_.Reset();
        main_.Reset();
        Pump();
        UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
    }

    HWND Child(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int id) {
        return CreateWindowExW(0, className, text, WS_CHILD | style, x, y, 100, 24, main_.Get(),
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    }

    std::optional<WindowInfo> Listed(HWND window) const {
        for (WindowInfo& info : automation::ListWindows(GetCurrentProcessId())) {
            if (info.hwnd == window) return std::move(info);
        }
        return std::nullopt;
    }

    runtime::GdiObject brush_;
    runtime::Window main_;
    runtime::Window second_;
    std::wstring title_;
    HWND label_ = nullptr;
    HWND ok_ = nullptr;
    HWND hidden_ = nullptr;
};

TEST_F(OwnWindows, ListsTheWindowWithEveryControlInCreationOrder) {
    const auto window = Listed(main_.Get());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->title, title_);
    EXPECT_EQ(window->className, kClassName);
    EXPECT_TRUE(window->visible);
    EXPECT_TRUE(window->enabled);
    EXPECT_EQ(window->style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(window->exStyle & WS_EX_TOPMOST, WS_EX_TOPMOST);

    const struct {
        HWND hwnd;
        std::wstring_view className;
        std::wstring_view text;
        int id;
        bool visible;
        bool enabled;
    } expected[] = {
        {label_, L"static", L"Olá, mundo — ñ", kLabelId, true, true},
        {ok_, L"button", L"&Aceptar", IDOK, true, true},
        {hidden_, L"button", L"&Pechar", kHiddenId, false, false},
    };
    ASSERT_EQ(window->controls.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const ControlInfo& control = window->controls[i];
        EXPECT_EQ(control.hwnd, expected[i].hwnd) << i;
        EXPECT_EQ(Lower(control.className), expected[i].className) << i;
        EXPECT_EQ(control.text, expected[i].text) << i;
        EXPECT_EQ(control.id, expected[i].id) << i;
        EXPECT_EQ(control.visible, expected[i].visible) << i;
        EXPECT_EQ(control.enabled, expected[i].enabled) << i;
    }
    EXPECT_EQ(window->controls[1].style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
}

TEST_F(OwnWindows, GivesRectanglesInScreenCoordinates) {
    const auto window = Listed(main_.Get());
    ASSERT_TRUE(window);
    RECT outer{};
    GetWindowRect(main_.Get(), &outer);
    EXPECT_TRUE(EqualRect(&window->rect, &outer));

    POINT origin{0, 0};
    ClientToScreen(main_.Get(), &origin);
    RECT client{};
    GetClientRect(main_.Get(), &client);
    EXPECT_EQ(window->clientRect.left, origin.x);
    EXPECT_EQ(window->clientRect.top, origin.y);
    EXPECT_EQ(window->clientRect.right - window->clientRect.left, client.right);
    EXPECT_EQ(window->clientRect.bottom - window->clientRect.top, client.bottom);

    // The OK button sits at (10, 40) in the client area, 100 by 24.
    const RECT& button = window->controls.at(1).rect;
    EXPECT_EQ(button.left, origin.x + 10);
    EXPECT_EQ(button.top, origin.y + 40);
    EXPECT_EQ(button.right - button.left, 100);
    EXPECT_EQ(button.bottom - button.top, 24);
}

TEST_F(OwnWindows, ListsHiddenWindowsTooAndReadsLongTextsWhole) {
    const std::wstring longTitle(5000, L'ñ');
    second_.Reset(CreateWindowExW(0, kClassName, longTitle.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                         nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(second_);
    const auto window = Listed(second_.Get());
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->visible);
    EXPECT_EQ(window->title, longTitle);
}

TEST_F(OwnWindows, WaitsForAWindowByTitleOrClassAndGivesUpAfterTheTimeout) {
    const DWORD process = GetCurrentProcessId();
    const auto byTitle = automation::WaitForWindow(process, automation::VisibleWithTitle(title_), 1000);
    ASSERT_TRUE(byTitle);
    EXPECT_EQ(byTitle->hwnd, main_.Get());
    const auto byClass = automation::WaitForWindow(process, automation::VisibleWithClass(Lower(kClassName)), 1000);
    ASSERT_TRUE(byClass);
    EXPECT_EQ(byClass->hwnd, main_.Get());

    const DWORD start = GetTickCount();
    EXPECT_FALSE(automation::WaitForWindow(process, automation::VisibleWithTitle(title_ + L" "), 300));
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 300u);
    EXPECT_LT(waited, 3000u);

    ShowWindow(main_.Get(), SW_HIDE);
    EXPECT_FALSE(automation::WaitForWindow(process, automation::VisibleWithTitle(title_), 100))
        << "a hidden window does not count";
}

TEST_F(OwnWindows, WaitsUntilNoVisibleWindowMatches) {
    const DWORD process = GetCurrentProcessId();
    EXPECT_FALSE(automation::WaitForNoVisibleWindow(process, automation::VisibleWithTitle(title_), 200));
    ShowWindow(main_.Get(), SW_HIDE);
    EXPECT_TRUE(automation::WaitForNoVisibleWindow(process, automation::VisibleWithTitle(title_), 200));
}

TEST_F(OwnWindows, FindsControlsByCaptionWithOrWithoutMnemonicAndById) {
    const auto window = Listed(main_.Get());
    ASSERT_TRUE(window);
    const struct {
        std::wstring_view className;
        std::wstring_view text;
        HWND found;
    } cases[] = {
        {L"Button", L"&Aceptar", ok_}, {L"button", L"Aceptar", ok_}, {L"BUTTON", L"Pechar", hidden_},
        {L"Static", L"Olá, mundo — ñ", label_}, {L"Static", L"Aceptar", nullptr}, {L"Button", L"aceptar", nullptr},
        {L"Button", L"Acepta", nullptr},
    };
    for (const auto& c : cases) {
        const auto control = automation::FindControl(*window, c.className, c.text);
        EXPECT_EQ(control ? control->hwnd : nullptr, c.found);
    }
    EXPECT_EQ(automation::FindControlById(*window, kHiddenId)->hwnd, hidden_);
    EXPECT_FALSE(automation::FindControlById(*window, 999));
}

TEST_F(OwnWindows, ClickButtonPostsTheClickInsteadOfWaitingForIt) {
    ASSERT_TRUE(automation::ClickButton(ok_));
    EXPECT_TRUE(g_received.commands.empty()) << "the handler ran inside the call";
    Pump();
    EXPECT_EQ(g_received.commands, (std::vector<std::pair<WORD, WORD>>{{IDOK, BN_CLICKED}}));
}

TEST_F(OwnWindows, PostKeySendsDownAndUpWithTheirKeyboardFlags) {
    for (const WORD key : {WORD{VK_RETURN}, WORD{VK_ESCAPE}, WORD{VK_TAB}, WORD{VK_SPACE}}) {
        g_received.keys.clear();
        ASSERT_TRUE(automation::PostKey(main_.Get(), key));
        Pump();
        ASSERT_EQ(g_received.keys.size(), 2u) << key;
        const auto scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
        const MSG& down = g_received.keys[0];
        const MSG& up = g_received.keys[1];
        EXPECT_EQ(down.message, static_cast<UINT>(WM_KEYDOWN)) << key;
        EXPECT_EQ(up.message, static_cast<UINT>(WM_KEYUP)) << key;
        EXPECT_EQ(down.wParam, key);
        EXPECT_EQ(up.wParam, key);
        const auto downBits = static_cast<UINT>(down.lParam);
        const auto upBits = static_cast<UINT>(up.lParam);
        EXPECT_EQ(downBits & 0xFFFFu, 1u) << "repeat count";
        EXPECT_EQ((downBits >> 16) & 0xFFu, scan) << key;
        EXPECT_EQ(downBits >> 30, 0u) << "a key going down was up before";
        EXPECT_EQ((upBits >> 16) & 0xFFu, scan) << key;
        EXPECT_EQ(upBits >> 30, 3u) << "a key going up was down before";
    }
}

TEST_F(OwnWindows, PostedSpaceClicksTheButtonItReaches) {
    ASSERT_TRUE(automation::PostKey(ok_, VK_SPACE));
    Pump();
    EXPECT_EQ(g_received.commands, (std::vector<std::pair<WORD, WORD>>{{IDOK, BN_CLICKED}}));
}

TEST_F(OwnWindows, CloseRequestsArePostedAsCloseAndSysCommand) {
    ASSERT_TRUE(automation::CloseWindow(main_.Get()));
    EXPECT_EQ(g_received.closes, 0);
    Pump();
    EXPECT_EQ(g_received.closes, 1);
    EXPECT_EQ(g_received.sysCloses, 0);

    ASSERT_TRUE(automation::PostSysCommandClose(main_.Get()));
    Pump();
    EXPECT_EQ(g_received.sysCloses, 1);
    EXPECT_EQ(g_received.closes, 2) << "SC_CLOSE goes on to WM_CLOSE";
}

TEST_F(OwnWindows, FocusedControlFollowsTheFocus) {
    SetForegroundWindow(main_.Get());
    SetFocus(ok_);
    EXPECT_EQ(automation::FocusedControl(GetCurrentProcessId()), ok_);
    SetFocus(main_.Get());
    EXPECT_EQ(automation::FocusedControl(GetCurrentProcessId()), main_.Get());
}

TEST_F(OwnWindows, ScreenshotShowsTheWholeWindowInItsColours) {
    const std::wstring path = TempPngPath(L"automation-shot-");
    ASSERT_TRUE(automation::SaveScreenshot(main_.Get(), path));
    const DecodedPng png = DecodePng(ReadWholeFile(path));
    DeleteFileW(path.c_str());

    RECT outer{};
    GetWindowRect(main_.Get(), &outer);
    ASSERT_EQ(png.width, outer.right - outer.left);
    ASSERT_EQ(png.height, outer.bottom - outer.top);
    // The lower right of the client area holds no control: background only.
    POINT sample{380, 200};
    ClientToScreen(main_.Get(), &sample);
    const std::size_t at = (static_cast<std::size_t>(sample.y - outer.top) * static_cast<std::size_t>(png.width) +
                            static_cast<std::size_t>(sample.x - outer.left)) * 3;
    ASSERT_LT(at + 2, png.rgb.size());
    EXPECT_EQ(png.rgb[at], GetRValue(kBackground));
    EXPECT_EQ(png.rgb[at + 1], GetGValue(kBackground));
    EXPECT_EQ(png.rgb[at + 2], GetBValue(kBackground));
}

TEST_F(OwnWindows, RectangleScreenshotOfTheClientAreaIsBackgroundAtItsCorners) {
    RECT client{};
    GetClientRect(main_.Get(), &client);
    MapWindowPoints(main_.Get(), nullptr, reinterpret_cast<POINT*>(&client), 2);
    // Below the controls only.
    client.top += 80;
    const std::wstring path = TempPngPath(L"automation-rect-");
    ASSERT_TRUE(automation::SaveScreenshotRect(client, path));
    const DecodedPng png = DecodePng(ReadWholeFile(path));
    DeleteFileW(path.c_str());
    ASSERT_EQ(png.width, client.right - client.left);
    ASSERT_EQ(png.height, client.bottom - client.top);
    const auto rowEnd = static_cast<std::size_t>(png.width - 1) * 3;
    const std::size_t last = png.rgb.size() - 3;
    for (const std::size_t at : {std::size_t{0}, rowEnd, last - rowEnd, last}) {
        EXPECT_EQ(png.rgb[at], GetRValue(kBackground)) << at;
        EXPECT_EQ(png.rgb[at + 1], GetGValue(kBackground)) << at;
        EXPECT_EQ(png.rgb[at + 2], GetBValue(kBackground)) << at;
    }
    EXPECT_FALSE(automation::SaveScreenshotRect(RECT{10, 10, 10, 50}, path)) << "an empty rectangle";
}

TEST(OwnProcess, ModulesAreFullDllPathsWithoutTheExecutable) {
    const auto modules = automation::ListModules(GetCurrentProcessId());
    ASSERT_FALSE(modules.empty());
    EXPECT_TRUE(std::ranges::any_of(modules, [](const std::wstring& m) { return EndsWith(m, L"\\user32.dll"); }));
    EXPECT_TRUE(std::ranges::any_of(modules, [](const std::wstring& m) { return EndsWith(m, L"\\kernel32.dll"); }));
    for (const auto& module : modules) {
        EXPECT_FALSE(EndsWith(module, L".exe")) << module;
        EXPECT_EQ(module.find(L":\\"), 1u) << "not a full path";
    }
}

TEST(OwnProcess, ExeFolderHoldsThisProgram) {
    const std::wstring folder = automation::ExeFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), L'\\');
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring_view path = self;
    ASSERT_EQ(Lower(path.substr(0, folder.size() + 1)), Lower(folder + L"\\"));
    EXPECT_EQ(path.find(L'\\', folder.size() + 1), std::wstring_view::npos);
}

// ---- another program: the system's Notepad ----

std::wstring SystemProgram(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}

automation::Process LaunchNotepad() {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return automation::Launch(SystemProgram(L"notepad.exe"), folder);
}

automation::ProcessHandle OpenAgain(DWORD id) {
    return automation::ProcessHandle(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id));
}

// Polls the text of a control of another process until it reads text.
bool WaitForText(HWND control, const std::wstring& text) {
    for (int i = 0; i < 100; ++i) {
        if (automation::WindowText(control) == text) return true;
        Sleep(20);
    }
    return false;
}

TEST(OtherProcess, LaunchRefusesAProgramThatDoesNotExist) {
    try {
        automation::Launch(SystemProgram(L"non-existent-program.exe"), L"");
        ADD_FAILURE() << "no exception";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ERROR_FILE_NOT_FOUND);
    }
}

TEST(OtherProcess, WindowCloseEndsTheProgramWithItsOwnExitCode) {
    auto notepad = LaunchNotepad();
    EXPECT_NE(notepad.Id(), 0u);
    EXPECT_NE(notepad.Id(), GetCurrentProcessId());
    const auto window = automation::WaitForWindow(notepad.Id(), automation::VisibleWithClass(L"Notepad"), 10000);
    ASSERT_TRUE(window);
    EXPECT_TRUE(notepad.Running());
    ASSERT_TRUE(automation::CloseWindow(window->hwnd));
    DWORD exitCode = 99;
    ASSERT_TRUE(notepad.WaitForExit(10000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(notepad.Running());
    EXPECT_TRUE(automation::WaitForNoVisibleWindow(notepad.Id(), automation::VisibleWithClass(L"Notepad"), 1000));
}

TEST(OtherProcess, KillEndsTheProgramWithTheKilledExitCode) {
    auto notepad = LaunchNotepad();
    ASSERT_TRUE(automation::WaitForWindow(notepad.Id(), automation::VisibleWithClass(L"Notepad"), 10000));
    DWORD exitCode = 0;
    EXPECT_FALSE(notepad.WaitForExit(50, exitCode)) << "ended by itself";
    notepad.Kill();
    EXPECT_FALSE(notepad.Running());
    ASSERT_TRUE(notepad.WaitForExit(0, exitCode));
    EXPECT_EQ(exitCode, automation::kKilledExitCode);
}

TEST(OtherProcess, DestructorKillsAProgramThatStillRuns) {
    automation::ProcessHandle watcher;
    {
        auto notepad = LaunchNotepad();
        watcher = OpenAgain(notepad.Id());
        ASSERT_TRUE(watcher);
        ASSERT_EQ(WaitForSingleObject(watcher.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    DWORD exitCode = 0;
    ASSERT_TRUE(automation::WaitForExit(watcher.Get(), 0, exitCode)) << "still running after its owner";
    EXPECT_EQ(exitCode, automation::kKilledExitCode);
}

TEST(OtherProcess, DetachedProgramOutlivesItsOwner) {
    automation::ProcessHandle watcher;
    {
        auto notepad = LaunchNotepad();
        watcher = OpenAgain(notepad.Id());
        ASSERT_TRUE(watcher);
        notepad.Detach();
    }
    EXPECT_EQ(WaitForSingleObject(watcher.Get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(watcher.Get(), 0);
    WaitForSingleObject(watcher.Get(), 5000);
}

TEST(OtherProcess, ListsTheDllsOfAnotherProcess) {
    auto notepad = LaunchNotepad();
    ASSERT_TRUE(automation::WaitForWindow(notepad.Id(), automation::VisibleWithClass(L"Notepad"), 10000));
    const auto modules = automation::ListModules(notepad.Id());
    EXPECT_TRUE(std::ranges::any_of(modules, [](const std::wstring& m) { return EndsWith(m, L"\\user32.dll"); }));
    EXPECT_TRUE(std::ranges::none_of(modules, [](const std::wstring& m) { return EndsWith(m, L"notepad.exe"); }));
}

TEST(OtherProcess, KeysReachTheFocusedEditEitherTypedOrPosted) {
    auto notepad = LaunchNotepad();
    const auto window = automation::WaitForWindow(notepad.Id(), automation::VisibleWithClass(L"Notepad"), 10000);
    ASSERT_TRUE(window);
    const auto edit = std::ranges::find_if(window->controls,
                                           [](const ControlInfo& c) { return Lower(c.className) == L"edit"; });
    ASSERT_NE(edit, window->controls.end());

    ASSERT_TRUE(automation::PressKey(window->hwnd, 'A'));
    EXPECT_TRUE(WaitForText(edit->hwnd, L"a"));
    EXPECT_EQ(automation::FocusedControl(notepad.Id()), edit->hwnd);

    ASSERT_TRUE(automation::PostKey(automation::FocusedControl(notepad.Id()), 'B'));
    EXPECT_TRUE(WaitForText(edit->hwnd, L"ab"));
}

}  // namespace
