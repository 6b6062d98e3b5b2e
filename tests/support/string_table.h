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
    {109, L"Uso: actualizador.exe [opci\u00F3ns]\n\n"
          L"/S, /VERYSILENT, /quiet\n\tsen xanelas nin mensaxes\n"
          L"/SILENT, /passive\n\ts\u00F3 a barra de progreso\n"
          L"/LOG\n\trexistro no cartafol temporal\n"
          L"/LOG=ficheiro\n\trexistro nese ficheiro\n"
          L"/?, /HELP\n\testa axuda\n"
          L"Se a li\u00F1a leva /S, /VERYSILENT, /quiet, /SILENT ou /passive, a\u00EDnda que estean mal escritos, un erro non mostra esta axuda.\n\n"
          L"C\u00F3digos de sa\u00EDda:\n"
          L"0\tactualiz\u00E1ronse os dous ficheiros\n"
          L"1\tnon se actualizou; nada cambiou\n"
          L"2\trematou sen instalar\n"
          L"3\terro de execuci\u00F3n\n"
          L"4\to corrector non est\u00E1 instalado\n"
          L"5\tficheiros en uso: peche Office\n"
          L"6\toutra copia xa est\u00E1 en marcha\n"
          L"7\ts\u00F3 en parte: volva executalo\n"
          L"1639\topci\u00F3ns ou rexistro non v\u00E1lidos"},
    {110, L"O actualizador do corrector xa se est\u00E1 a executar."},
};

}  // namespace testing_support
