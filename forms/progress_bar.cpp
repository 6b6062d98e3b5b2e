#include "forms/progress_bar.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "runtime/error.h"

namespace forms {

ProgressBar::ProgressBar(Form& form, TwipsRect place) : Control(form, place) {
    const RECT pixels = PixelRect();
    steps_ = std::max(1, static_cast<int>(pixels.right - pixels.left));
}

HWND ProgressBar::Create(HWND parent, int id) {
    const RECT place = PixelRect();
    const HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | PBS_SMOOTH, place.left, place.top,
                                     place.right - place.left, place.bottom - place.top, parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                     nullptr);
    if (bar == nullptr) RaiseWindowNotCreated(PROGRESS_CLASSW);
    SendMessageW(bar, PBM_SETRANGE32, 0, steps_);
    shown_ = Position();
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(shown_), 0);
    return bar;
}

void ProgressBar::SetMin(float min) { SetRange(min, max_); }
void ProgressBar::SetMax(float max) { SetRange(min_, max); }

void ProgressBar::SetRange(float min, float max) {
    if (!std::isfinite(min) || !std::isfinite(max) || !(min < max)) runtime::Raise(runtime::kInvalidPropertyValue);
    min_ = min;
    max_ = max;
    value_ = std::clamp(value_, min_, max_);
    Show();
}

void ProgressBar::SetValue(float value) {
    if (!(value >= min_ && value <= max_)) runtime::Raise(runtime::kInvalidPropertyValue);
    value_ = value;
    Show();
}

int ProgressBar::Position() const {
    // Whole pixels reached; only a full bar fills the last one.
    const double fraction = (static_cast<double>(value_) - min_) / (static_cast<double>(max_) - min_);
    return static_cast<int>(std::floor(fraction * steps_));
}

void ProgressBar::Show() {
    if (Hwnd() == nullptr) return;
    const int position = Position();
    if (position == shown_) return;
    // The native bar repaints at once on each change. More often than a
    // screen refresh the eye gains nothing, so between the two ends a new
    // pixel waits for the next frame; an empty or full bar shows at once.
    const DWORD now = GetTickCount();
    const bool end = position == 0 || position == steps_;
    if (!end && now - lastShown_ < kFrameMilliseconds) return;
    lastShown_ = now;
    shown_ = position;
    SendMessageW(Hwnd(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

}  // namespace forms
