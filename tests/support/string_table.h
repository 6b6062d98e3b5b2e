// The texts the string table must hold, written with escapes so that the
// expectation does not depend on how this file is read.
#pragma once

#include <windows.h>

#include <string_view>

namespace testing_support {

struct ExpectedString {
    UINT id;
    std::wstring_view text;
};

inline constexpr ExpectedString kStrings[] = {
    {100, L"Instalador corrector de galego Brenca"},
    {101, L"Para instalar prema este bot\u00F3n"},
    {102, L"Cancelar"},
    {103, L"Seguinte"},
    {104, L"Corrector de galego para Office 2000, Office XP e Office 2003. Para continuar prema seguinte."},
    {105, L"Benvido ao instalador do corrector de galego"},
    {106, L"Instalando compo\u00F1entes"},
    {107, L"Instalando compo\u00F1entes"},
    {108, L"Brenca"},
};

}  // namespace testing_support
