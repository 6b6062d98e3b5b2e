#include "forms/form.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "forms/message_loop.h"
#include "forms/screen.h"
#include "host/host.h"
#include "host/log.h"
#include "host/single_instance.h"

namespace forms {

namespace {

constexpr int kFirstControlId = 100;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

void RegisterFormClass(WNDPROC windowProc) {
    static const bool registered = [windowProc] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = Instance();
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        windowClass.lpszClassName = host::kWindowClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) runtime::Raise(runtime::kOutOfMemory);
}

runtime::Icon LoadProgramIcon(int id, int size) {
    return runtime::Icon(static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0)));
}

HWND CreateChild(const wchar_t* windowClass, const wchar_t* text, DWORD style, const RECT& place, HWND parent, int id) {
    const HWND child = CreateWindowExW(0, windowClass, text, WS_CHILD | style, place.left, place.top,
                                       place.right - place.left, place.bottom - place.top, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    if (child == nullptr) RaiseWindowNotCreated(windowClass);
    return child;
}

// "MS Sans Serif", with which the windows were designed, is a bitmap font of
// a few fixed sizes: on a scaled display Windows would draw its nearest size,
// unsmoothed, instead of the scaled height. There its scalable twin, which
// Windows has carried since Windows 2000, scales with the windows.
const wchar_t* FaceAtScreenDpi(const wchar_t* face) {
    if (ScreenDpi() != 96 && std::wstring_view(face) == L"MS Sans Serif") return L"Microsoft Sans Serif";
    return face;
}

}  // namespace

void RaiseWindowNotCreated(const wchar_t* windowClass) {
    host::LogSystemError(L"Crear unha xanela", GetLastError(), windowClass);
    runtime::Raise(runtime::kWindowNotCreated);
}

// ---- Control -------------------------------------------------------------

Control::Control(Form& form, TwipsRect place) : form_(form), place_(place) { form.controls_.push_back(this); }

RECT Control::PixelRect() const {
    const int left = TwipsToPixels(place_.left);
    const int top = TwipsToPixels(place_.top);
    return RECT{left, top, left + TwipsToPixels(place_.width), top + TwipsToPixels(place_.height)};
}

HFONT Control::FontOf(const FontSpec& kind) const { return form_.Font(kind); }

void Control::Attach(HWND parent, int id) {
    hwnd_ = Create(parent, id);
    ShowWindow(hwnd_, visible_ ? SW_SHOWNA : SW_HIDE);
}

void Control::SetVisible(bool visible) {
    visible_ = visible;
    if (hwnd_ != nullptr) ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

// ---- Label ---------------------------------------------------------------

Label::Label(Form& form, TwipsRect place, FontSpec font, Sizing sizing)
    : Control(form, place), font_(font), sizing_(sizing) {}

HWND Label::Create(HWND parent, int id) {
    const DWORD align = sizing_ == Sizing::kFixed ? SS_LEFTNOWORDWRAP : SS_LEFT;
    const HWND label = CreateChild(L"STATIC", L"#", align | SS_NOPREFIX, PixelRect(), parent, id);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(font_)), FALSE);
    SetWindowTextW(label, caption_.c_str());
    return label;
}

void Label::SetCaption(const std::wstring& caption) {
    caption_ = caption;
    const HWND label = Hwnd();
    if (label == nullptr) return;
    SetWindowTextW(label, caption_.c_str());
    if (sizing_ == Sizing::kAutoSizeWrap) FitHeight();
}

void Label::FitHeight() {
    const HWND label = Hwnd();
    const RECT place = PixelRect();
    const int width = place.right - place.left;
    RECT bounds{0, 0, width, place.bottom - place.top};
    const HDC dc = GetDC(label);
    const HGDIOBJ old = SelectObject(dc, FontOf(font_));
    DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &bounds,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_LEFT | DT_TOP);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, 0, 0, width, bounds.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- Button --------------------------------------------------------------

Button::Button(Form& form, TwipsRect place, FontSpec font, std::function<void()> onPress)
    : Control(form, place), font_(font), onPress_(std::move(onPress)) {}

HWND Button::Create(HWND parent, int id) {
    const HWND button = CreateChild(L"BUTTON", L"#", BS_PUSHBUTTON | BS_NOTIFY | WS_TABSTOP, PixelRect(), parent, id);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(font_)), FALSE);
    SetWindowTextW(button, caption_.c_str());
    return button;
}

void Button::SetCaption(const std::wstring& caption) {
    caption_ = caption;
    if (Hwnd() != nullptr) SetWindowTextW(Hwnd(), caption_.c_str());
}

// ---- Image ---------------------------------------------------------------

Image::Image(Form& form, TwipsRect place, int iconId) : Control(form, place), iconId_(iconId) {}

HWND Image::Create(HWND parent, int id) {
    const HWND image = CreateChild(L"STATIC", L"", SS_ICON, PixelRect(), parent, id);
    // The 32-pixel icon at its own size, scaled only with the display.
    const int size = MulDiv(32, ScreenDpi(), 96);
    icon_ = LoadProgramIcon(iconId_, size);
    SendMessageW(image, STM_SETICON, reinterpret_cast<WPARAM>(icon_.Get()), 0);
    return image;
}

// ---- Form ----------------------------------------------------------------

Form::Form(FormLayout layout) : layout_(layout) {}

Form::~Form() {
    if (window_ != nullptr) DestroyWindow(window_);
}

int Form::LoadedCount() { return LoadedWindowCount(); }

HFONT Form::Font(const FontSpec& kind) {
    for (const CachedFont& cached : fonts_) {
        if (cached.kind.face == kind.face && cached.kind.points == kind.points && cached.kind.bold == kind.bold) {
            return static_cast<HFONT>(cached.font.Get());
        }
    }
    const int height = -static_cast<int>(std::lround(static_cast<double>(kind.points) * ScreenDpi() / 72.0));
    runtime::GdiObject font(CreateFontW(height, 0, 0, 0, kind.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                        DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                        DEFAULT_PITCH | FF_DONTCARE, FaceAtScreenDpi(kind.face)));
    const HFONT handle = static_cast<HFONT>(font.Get());
    fonts_.push_back(CachedFont{kind, std::move(font)});
    return handle;
}

void Form::Load() {
    if (window_ != nullptr) return;
    RegisterFormClass(&Form::WindowProc);
    // A silent run makes the window, which hears of the session's end, but
    // never shows it: no picture to decode, no icons, no controls.
    const bool shown = host::ShowsWindows();
    if (shown && !picture_.Brush()) picture_ = Picture::FromJpegResource(layout_.pictureId);

    RECT outer{0, 0, TwipsToPixels(layout_.clientWidth), TwipsToPixels(layout_.clientHeight)};
    AdjustWindowRectEx(&outer, kFormStyle, FALSE, kFormExStyle);
    const HWND window =
        CreateWindowExW(kFormExStyle, host::kWindowClassName, L"#", kFormStyle, 0, 0, outer.right - outer.left,
                        outer.bottom - outer.top, nullptr, nullptr, Instance(), this);
    if (window == nullptr) RaiseWindowNotCreated(host::kWindowClassName);

    if (shown) {
        bigIcon_ = LoadProgramIcon(layout_.iconId, GetSystemMetrics(SM_CXICON));
        smallIcon_ = LoadProgramIcon(layout_.iconId, GetSystemMetrics(SM_CXSMICON));
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
        if (!layout_.closable) EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

        int id = kFirstControlId;
        for (Control* control : controls_) control->Attach(window, id++);
        if (defaultButton_ != nullptr) MarkDefault(defaultButton_->Hwnd());
        focus_ = defaultButton_ != nullptr ? defaultButton_->Hwnd() : nullptr;
    }
    Form_Load();
}

void Form::Show() {
    const HWND window = EnsureLoaded();
    if (!host::ShowsWindows()) return;
    ShowWindow(window, SW_SHOW);
    // Painted now: the work that may follow keeps the message loop waiting.
    UpdateWindow(window);
}

void Form::Hide() {
    if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
}

void Form::Unload() {
    if (window_ != nullptr) DestroyWindow(window_);
}

bool Form::Visible() const { return window_ != nullptr && IsWindowVisible(window_); }

std::wstring Form::Caption() const {
    if (window_ == nullptr) return L"#";
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window_, text.data(), static_cast<int>(text.size()))));
    return text;
}

void Form::SetCaption(const std::wstring& caption) { SetWindowTextW(EnsureLoaded(), caption.c_str()); }

float Form::Width() {
    RECT outer;
    GetWindowRect(EnsureLoaded(), &outer);
    return PixelsToTwips(outer.right - outer.left);
}

float Form::Height() {
    RECT outer;
    GetWindowRect(EnsureLoaded(), &outer);
    return PixelsToTwips(outer.bottom - outer.top);
}

void Form::Move(float left, float top) {
    SetWindowPos(EnsureLoaded(), nullptr, TwipsToPixels(left), TwipsToPixels(top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND Form::EnsureLoaded() {
    Load();
    return window_;
}

const Button* Form::FocusedButton() const {
    const HWND focused = GetFocus();
    for (const Control* control : controls_) {
        if (control->Hwnd() == focused && focused != nullptr) return dynamic_cast<const Button*>(control);
    }
    return nullptr;
}

int Form::IdOf(const Button* button) const {
    const auto at = std::find(controls_.begin(), controls_.end(), button);
    return kFirstControlId + static_cast<int>(at - controls_.begin());
}

LRESULT CALLBACK Form::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // The form comes with the creation request and stays with the window
        // until its last message.
        auto* created = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        created->window_ = window;
        WindowLoaded();
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    host::RunHandler([&] { result = form->HandleMessage(message, wParam, lParam); });
    return result;
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window_, &client);
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        FillRect(dc, &client, picture_.Brush());
        return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return OnControlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case DM_GETDEFID: {
        // As in a dialog, a button that has the focus stands in for the default one.
        const Button* focused = FocusedButton();
        const Button* current = focused != nullptr ? focused : defaultButton_;
        return current != nullptr ? MAKELRESULT(IdOf(current), DC_HASDEFID) : 0;
    }
    case WM_NEXTDLGCTL: {
        // Sent by the dialog navigation of some systems for Tab and Shift+Tab.
        const HWND next = LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam)
                                              : GetNextDlgTabItem(window_, GetFocus(), wParam != 0);
        if (next != nullptr) SetFocus(next);
        return 0;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
        if (HIWORD(wParam) == BN_SETFOCUS) MarkDefault(reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_ACTIVATE:
        // Keyboard focus goes back to the control that had it, not to the window.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focused = GetFocus();
            if (focused != nullptr && IsChild(window_, focused)) focus_ = focused;
        } else if (focus_ != nullptr && IsWindow(focus_)) {
            SetFocus(focus_);
        }
        return 0;
    case WM_CLOSE:
        if (layout_.closable) Unload();
        return 0;
    case WM_ENDSESSION:
        // Windows may end the process at any moment once this returns. Before
        // the first file is touched the program stops here, touching nothing;
        // after that it goes on, as the files are replaced without yielding.
        if (wParam != FALSE && !host::ReplacementStarted()) {
            host::Log(L"A sesi\u00F3n de Windows remata: non se cambiou nada");
            host::End(host::kExitCancelled);
        }
        return 0;
    case WM_NCDESTROY: {
        const HWND window = window_;
        window_ = nullptr;
        focus_ = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        WindowUnloaded();
        for (Control* control : controls_) control->Detach();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void Form::OnCommand(int id) {
    if (id == IDOK && defaultButton_ != nullptr) {
        defaultButton_->Press();
    } else if (id == IDCANCEL && cancelButton_ != nullptr) {
        cancelButton_->Press();
    } else if (id >= kFirstControlId && id < kFirstControlId + static_cast<int>(controls_.size())) {
        if (auto* button = dynamic_cast<Button*>(controls_[static_cast<std::size_t>(id - kFirstControlId)])) {
            button->Press();
        }
    }
}

void Form::MarkDefault(HWND button) {
    // The button with the focus is the one Enter presses, as in a dialog.
    for (Control* control : controls_) {
        if (dynamic_cast<Button*>(control) == nullptr || control->Hwnd() == nullptr) continue;
        const LONG_PTR style = control->Hwnd() == button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        SendMessageW(control->Hwnd(), BM_SETSTYLE, static_cast<WPARAM>(style | BS_NOTIFY), TRUE);
    }
}

LRESULT Form::OnControlColor(HDC dc, HWND control) {
    // Controls show the picture behind them: the brush is the picture itself,
    // shifted so that it lines up with the window's background.
    POINT origin{0, 0};
    MapWindowPoints(control, window_, &origin, 1);
    SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    return reinterpret_cast<LRESULT>(picture_.Brush());
}

void CenterForm(Form& form) {
    const std::int32_t left = CenteredOffset(Screen::Width(), form.Width());
    const std::int32_t top = CenteredOffset(Screen::Height(), form.Height());
    form.Move(static_cast<float>(left), static_cast<float>(top));
}

}  // namespace forms
