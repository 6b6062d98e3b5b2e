// Message boxes as Windows shows them, in Galician: their buttons carry the
// program's own captions, and the box grows to show those and its whole title.
#pragma once

#include <windows.h>

#include <string>

namespace host {

// A modal box with the buttons and icon of style (MsgBoxStyle), owned by the
// program's active window; the button pressed (MsgBoxAnswer).
int ShowMessageBox(const std::wstring& text, int style, const std::wstring& title);

// What the box is fitted into: the work area of the monitor a window is on
// (MonitorWorkArea), or a test's; an empty one leaves no room to grow.
using WorkAreaFunction = RECT (*)(HWND window);
RECT MonitorWorkArea(HWND window) noexcept;
// Run on the box once Windows has laid it out: the buttons widened to their
// captions, then the box widened to its whole title, within workArea.
void FitButtons(HWND box, WorkAreaFunction workArea) noexcept;
void FitTitle(HWND box, WorkAreaFunction workArea) noexcept;

}  // namespace host
