// Windows (forms) built from a layout in twips, with their controls:
// transparent labels, push buttons, an image and a progress bar, over a
// background picture.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/picture.h"
#include "runtime/handles.h"

namespace forms {

struct FontSpec {
    const wchar_t* face;
    float points;
    bool bold;
};

// The font of a window and of its controls unless they say otherwise.
inline constexpr FontSpec kDefaultFont{L"MS Sans Serif", 8.25f, false};

// Left, top, width and height in twips.
struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};

class Form;

// A window or control that Windows would not make (a display that has gone):
// Windows' reason goes to the log, and the run-time error says what failed.
[[noreturn]] void RaiseWindowNotCreated(const wchar_t* windowClass);

class Control {
public:
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    // The control's window while its form is loaded, else nothing.
    HWND Hwnd() const { return hwnd_; }

protected:
    Control(Form& form, TwipsRect place);
    RECT PixelRect() const;
    // The form's font of that kind, created once per form.
    HFONT FontOf(const FontSpec& kind) const;
    // Creates the child window on the form's window; called when the form loads.
    virtual HWND Create(HWND parent, int id) = 0;

private:
    friend class Form;
    void Attach(HWND parent, int id);
    void Detach() { hwnd_ = nullptr; }

    Form& form_;
    TwipsRect place_;
    HWND hwnd_ = nullptr;
    bool visible_ = true;
};

class Label final : public Control {
public:
    // A label that grows downward with its text keeps its width and wraps words.
    enum class Sizing { kFixed, kAutoSizeWrap };
    Label(Form& form, TwipsRect place, FontSpec font, Sizing sizing);

    const std::wstring& Caption() const { return caption_; }
    void SetCaption(const std::wstring& caption);

private:
    HWND Create(HWND parent, int id) override;
    void FitHeight();

    FontSpec font_;
    Sizing sizing_;
    std::wstring caption_ = L"#";
};

class Button final : public Control {
public:
    Button(Form& form, TwipsRect place, FontSpec font, std::function<void()> onPress);

    const std::wstring& Caption() const { return caption_; }
    void SetCaption(const std::wstring& caption);
    void Press() const { onPress_(); }

private:
    HWND Create(HWND parent, int id) override;

    FontSpec font_;
    std::function<void()> onPress_;
    std::wstring caption_ = L"#";
};

// Shows an icon of the program at its own size, from the top-left corner.
class Image final : public Control {
public:
    Image(Form& form, TwipsRect place, int iconId);

private:
    HWND Create(HWND parent, int id) override;

    int iconId_;
    runtime::Icon icon_;
};

struct FormLayout {
    int clientWidth;   // twips
    int clientHeight;  // twips
    int pictureId;     // JPEG resource drawn from the client area's top-left corner
    int iconId;
    // Whether the user may close the window (close box and Alt+F4).
    bool closable;
};

class Form {
public:
    explicit Form(FormLayout layout);
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;
    virtual ~Form();

    // Creates the window and its controls if not yet done, then runs Form_Load.
    void Load();
    // Loads if needed, then makes the window visible: modeless, no owner.
    void Show();
    void Hide();
    // Destroys the window at once; the object stays usable and loads again on use.
    void Unload();

    bool Loaded() const { return window_ != nullptr; }
    bool Visible() const;
    std::wstring Caption() const;
    void SetCaption(const std::wstring& caption);
    // Outer size in twips, frame and title bar included.
    float Width();
    float Height();
    // Places the outer top-left corner, in twips; the size stays.
    void Move(float left, float top);
    HWND Hwnd() const { return window_; }

    // How many windows of the program are loaded.
    static int LoadedCount();

protected:
    virtual void Form_Load() = 0;
    // Enter presses the default button unless another button has the focus;
    // Esc presses the cancel button.
    void SetDefaultButton(Button& button) { defaultButton_ = &button; }
    void SetCancelButton(Button& button) { cancelButton_ = &button; }

private:
    friend class Control;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id);
    LRESULT OnControlColor(HDC dc, HWND control);
    HFONT Font(const FontSpec& kind);
    HWND EnsureLoaded();
    void MarkDefault(HWND button);
    int IdOf(const Button* button) const;
    const Button* FocusedButton() const;

    FormLayout layout_;
    HWND window_ = nullptr;
    HWND focus_ = nullptr;
    std::vector<Control*> controls_;
    Button* defaultButton_ = nullptr;
    Button* cancelButton_ = nullptr;
    Picture picture_;
    runtime::Icon bigIcon_;
    runtime::Icon smallIcon_;
    struct CachedFont {
        FontSpec kind;
        runtime::GdiObject font;
    };
    std::vector<CachedFont> fonts_;
};

// Moves a window to the middle of the screen, keeping its size.
void CenterForm(Form& form);

}  // namespace forms
