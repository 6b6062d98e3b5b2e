#include "host/message_box.h"

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "host/host.h"
#include "resources/resource.h"
#include "runtime/handles.h"
#include "runtime/resources.h"
#include "runtime/strings.h"

namespace host {

namespace {

// Windows writes a box's buttons in its own language; these are Galician,
// like the rest of the program. Read by the hook while the box comes up.
std::vector<std::pair<int, std::wstring>> buttonTexts;

// How wide a text is in a font, on the window's screen; 0 when it cannot be measured.
LONG TextWidth(HWND window, HGDIOBJ font, const wchar_t* text, int length) noexcept {
    const HDC dc = GetDC(window);
    if (dc == nullptr) return 0;
    const HGDIOBJ previous = SelectObject(dc, font);
    SIZE size{};
    if (!GetTextExtentPoint32W(dc, text, length, &size)) size.cx = 0;
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return size.cx;
}

// Makes the box wider by grow, as far as the work area of its monitor
// allows, keeping its middle where it was; returns how much wider it became.
LONG Widen(HWND box, LONG grow, WorkAreaFunction workArea) noexcept {
    RECT frame;
    if (!GetWindowRect(box, &frame)) return 0;
    const RECT screen = workArea(box);
    const LONG width = frame.right - frame.left;
    grow = std::min(grow, (screen.right - screen.left) - width);
    if (grow <= 0) return 0;
    const LONG left = std::clamp(frame.left - grow / 2, screen.left, screen.right - width - grow);
    SetWindowPos(box, nullptr, left, frame.top, width + grow, frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return grow;
}

}  // namespace

RECT MonitorWorkArea(HWND window) noexcept {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) return RECT{};
    return monitor.rcWork;
}

// Where a control of the box stands in the box's client area.
RECT PlaceIn(HWND box, HWND child) noexcept {
    RECT place;
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

bool VisibleButton(HWND child) noexcept {
    wchar_t className[8];
    // Some systems' boxes hold every kind of button and hide those not asked for.
    return (GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0 && GetClassNameW(child, className, 8) != 0 &&
           lstrcmpiW(className, L"Button") == 0;
}

// Vista and later put the row of buttons, from left to right, at the right of
// a footer; XP and Wine in the middle (Wine of the outer width, so off by up
// to the borders).
bool AtTheRight(HWND box, LONG left, LONG right) noexcept {
    RECT frame;
    RECT client;
    GetWindowRect(box, &frame);
    GetClientRect(box, &client);
    return left - (client.right - right) > (frame.right - frame.left) - client.right + 1;
}

// Windows sized the buttons for its own captions, which may be shorter
// ("Retry" against "Tentar de novo"): every button gets the width of the
// widest caption and the box grows if the row would not fit. Nothing here
// allocates: it runs inside a hook.
void FitButtons(HWND box, WorkAreaFunction workArea) noexcept {
    constexpr std::size_t kMost = 8;  // a box has at most four
    HWND buttons[kMost];
    RECT places[kMost];
    std::size_t count = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr && count < kMost;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!VisibleButton(child)) continue;
        buttons[count] = child;
        places[count] = PlaceIn(box, child);
        ++count;
    }
    if (count == 0) return;
    // Left to right, as they stand.
    std::size_t order[kMost];
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order, order + count, [&](std::size_t a, std::size_t b) { return places[a].left < places[b].left; });

    const LONG height = places[0].bottom - places[0].top;
    LONG width = places[0].right - places[0].left;
    const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(buttons[0], WM_GETFONT, 0, 0));
    for (std::size_t i = 0; i < count; ++i) {
        wchar_t caption[64];
        const int length = GetWindowTextW(buttons[i], caption, 64);
        const LONG captionWidth = TextWidth(box, font, caption, length);
        // Half the button's height of room on either side of the caption.
        if (captionWidth > 0) width = std::max(width, captionWidth + height);
    }
    if (width == places[0].right - places[0].left) return;

    RECT client;
    GetClientRect(box, &client);
    // The margin Windows left is the smaller side, and a row at the right
    // keeps its right edge.
    const LONG leftMargin = places[order[0]].left;
    const LONG rightMargin = client.right - places[order[count - 1]].right;
    const bool atTheRight = AtTheRight(box, places[order[0]].left, places[order[count - 1]].right);
    const LONG gap = count > 1 ? places[order[1]].left - places[order[0]].right : height / 2;
    const LONG row = static_cast<LONG>(count) * width + static_cast<LONG>(count - 1) * gap;
    client.right += Widen(box, row + 2 * std::min(leftMargin, rightMargin) - client.right, workArea);
    LONG x = atTheRight ? client.right - rightMargin - row : (client.right - row) / 2;
    for (std::size_t i = 0; i < count; ++i) {
        SetWindowPos(buttons[order[i]], nullptr, x, places[order[i]].top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        x += width + gap;
    }
}

// Some systems size a box for its message and buttons only, and a short
// message ("O corrector foi actualizado") then cuts the program's name off in
// the caption. The box grows to show its whole title, within the screen;
// in a box laid out in the middle everything moves to stay there, and in one
// with its buttons at the right they stay at the right, the rest where it is.
void FitTitle(HWND box, WorkAreaFunction workArea) noexcept {
    wchar_t title[128];
    const int length = GetWindowTextW(box, title, 128);
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (length == 0 || !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return;
    const runtime::GdiObject font(CreateFontIndirectW(&metrics.lfCaptionFont));
    const LONG titleWidth = font ? TextWidth(box, font.Get(), title, length) : 0;
    if (titleWidth == 0) return;

    LONG rowLeft = LONG_MAX;
    LONG rowRight = LONG_MIN;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!VisibleButton(child)) continue;
        const RECT place = PlaceIn(box, child);
        rowLeft = std::min(rowLeft, place.left);
        rowRight = std::max(rowRight, place.right);
    }
    const bool atTheRight = rowLeft < rowRight && AtTheRight(box, rowLeft, rowRight);
    RECT frame;
    RECT client;
    GetWindowRect(box, &frame);
    GetClientRect(box, &client);
    // The borders, the close button, and a caption's height of room.
    const LONG needed =
        titleWidth + metrics.iCaptionWidth + metrics.iCaptionHeight + (frame.right - frame.left) - client.right;
    const LONG grow = Widen(box, needed - (frame.right - frame.left), workArea);
    if (grow == 0) return;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG move = !atTheRight ? grow / 2 : VisibleButton(child) ? grow : 0;
        const RECT place = PlaceIn(box, child);
        SetWindowPos(child, nullptr, place.left + move, place.top, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

namespace {

struct HookTraits {
    using Handle = HHOOK;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle hook) noexcept { UnhookWindowsHookEx(hook); }
};

// Set for the box about to be made, and gone once it is made.
runtime::UniqueHandle<HookTraits> boxHook;
// The box's own window procedure, which FitBox stands in front of.
WNDPROC boxProcedure = nullptr;

// Once the box has laid itself out, before it shows.
LRESULT CALLBACK FitBox(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CallWindowProcW(boxProcedure, box, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        for (const auto& [id, text] : buttonTexts) SetDlgItemTextW(box, id, text.c_str());
        if (!buttonTexts.empty()) FitButtons(box, MonitorWorkArea);
        FitTitle(box, MonitorWorkArea);
    }
    return result;
}

// Puts FitBox in front of the box as the box is made, and goes: a hook that
// saw every message of the box instead costs Wine a call to its server for
// each of the box's hundreds of messages.
LRESULT CALLBACK CatchBox(int code, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CallNextHookEx(nullptr, code, wParam, lParam);
    const auto window = reinterpret_cast<HWND>(wParam);
    wchar_t className[8];
    if (code == HCBT_CREATEWND && GetClassNameW(window, className, 8) && lstrcmpiW(className, L"#32770") == 0) {
        boxProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FitBox)));
        boxHook.Reset();
    }
    return result;
}

}  // namespace

int ShowMessageBox(const std::wstring& text, int style, const std::wstring& title) {
    const UINT buttons = static_cast<UINT>(style) & MB_TYPEMASK;
    buttonTexts.clear();
    if (buttons == MB_CANCELTRYCONTINUE || buttons == MB_RETRYCANCEL) {
        buttonTexts = {{IDCANCEL, runtime::LoadResString(IDS_CANCEL)},
                       {IDTRYAGAIN, runtime::LoadResString(IDS_TRY_AGAIN)},
                       {IDRETRY, runtime::LoadResString(IDS_TRY_AGAIN)},
                       {IDCONTINUE, runtime::LoadResString(IDS_CONTINUE)}};
    }
    // Should the hook fail, the box still works, as the system lays it out.
    boxHook.Reset(SetWindowsHookExW(WH_CBT, CatchBox, nullptr, GetCurrentThreadId()));
    // Owned by the active window of the program, so that the box stays in
    // front of it; with no window shown the box stands alone.
    const int answer =
        MessageBoxW(GetActiveWindow(), text.c_str(), title.c_str(), static_cast<UINT>(style) | MB_SETFOREGROUND);
    // Where no box could be made.
    boxHook.Reset();
    return answer;
}

InUseAnswer AskAboutFilesInUse(const std::vector<std::wstring>& programs, bool restartOffered) {
    if (CurrentRunMode() != RunMode::kInteractive) {
        return restartOffered ? InUseAnswer::kAtNextRestart : InUseAnswer::kCancel;
    }
    // The box must fit on the screen, its buttons too.
    constexpr std::size_t kNamesShown = 10;
    std::wstring text = runtime::LoadResString(programs.empty() ? IDS_IN_USE_BY_ANOTHER : IDS_IN_USE_BY);
    if (!programs.empty()) text += L"\n";
    // Each name on one line, whoever wrote it; the log has them as they are.
    for (std::size_t i = 0; i < programs.size() && i < kNamesShown; ++i) {
        text += L"\n" + runtime::ShownName(programs[i]);
    }
    if (programs.size() > kNamesShown) {
        text += L"\ne " + runtime::NumberText(programs.size() - kNamesShown) + L" m\u00E1is";
    }
    text += L"\n\n" + runtime::LoadResString(restartOffered ? IDS_IN_USE_CHOICE : IDS_IN_USE_RETRY_ONLY);
    const int buttons = restartOffered ? kCancelTryContinue : kRetryCancel;
    switch (MsgBox(text, kExclamation | buttons, runtime::LoadResString(IDS_TITLE))) {
    case kTryAgain:
    case kRetry:
        Log(L"Resposta: tentar de novo");
        return InUseAnswer::kTryAgain;
    case kContinue:
        Log(L"Resposta: continuar ao reiniciar");
        return InUseAnswer::kAtNextRestart;
    default:
        Log(L"Resposta: cancelar");
        return InUseAnswer::kCancel;
    }
}

}  // namespace host
