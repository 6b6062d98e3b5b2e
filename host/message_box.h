// Message boxes as Windows shows them, in Galician: their buttons carry the
// program's own captions, and the box grows to show those and its whole title.
#pragma once

#include <string>

namespace host {

// A modal box with the buttons and icon of style (MsgBoxStyle), owned by the
// program's active window; the button pressed (MsgBoxAnswer).
int ShowMessageBox(const std::wstring& text, int style, const std::wstring& title);

}  // namespace host
