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
          L"/S, /VERYSILENT, /quiet, /q, /qn, /qn+\n\tsen xanelas nin mensaxes\n"
          L"/SILENT, /passive, /qb, /qb-, /qb!, /qb!-, /qr\n\ts\u00F3 a barra de progreso\n"
          L"/LOG\n\trexistro no cartafol temporal\n"
          L"/LOG=ficheiro\n\trexistro nese ficheiro\n"
          L"/?, /HELP\n\testa axuda\n"
          L"/norestart, /SUPPRESSMSGBOXES, /SP-,\n/NOCANCEL, /NOCLOSEAPPLICATIONS\n"
          L"\tac\u00E9ptanse e non fan nada\n"
          L"Con algunha das opci\u00F3ns sen xanelas ou s\u00F3 de\n"
          L"progreso na li\u00F1a, mesmo mal escritas, un erro non a mostra.\n\n"
          L"C\u00F3digos de sa\u00EDda:\n"
          L"0\tfeito, ou xa estaba ao d\u00EDa\n"
          L"1\tnon se actualizou; nada cambiou\n"
          L"2\trematou sen instalar\n"
          L"3\terro de execuci\u00F3n\n"
          L"4\to corrector non est\u00E1 instalado\n"
          L"5\tficheiros en uso; nada cambiou\n"
          L"7\ts\u00F3 en parte: volva executalo\n"
          L"8\tficheiros novos danados; nada cambiou\n"
          L"1618\toutra copia xa est\u00E1 en marcha\n"
          L"1639\topci\u00F3ns ou rexistro non v\u00E1lidos\n"
          L"3010\tlisto: remata ao reiniciar o ordenador"},
    {110, L"O actualizador do corrector xa se est\u00E1 a executar."},
    {120, L"Os ficheiros do corrector est\u00E1n en uso por estes programas:"},
    {121, L"Os ficheiros do corrector est\u00E1n en uso por outro programa."},
    {122, L"Peche os programas que os usan e prema \u00ABTentar de novo\u00BB. Con \u00ABContinuar\u00BB, a "
          L"actualizaci\u00F3n remata cando se reinicie o ordenador; con \u00ABCancelar\u00BB, non se cambia nada."},
    {123, L"Tentar de novo"},
    {124, L"Continuar"},
    {125, L"O corrector instalado \u00E9 m\u00E1is novo ca este: non se cambiou nada."},
    {126, L"O corrector actualizarase cando se reinicie o ordenador."},
    {127, L"Os ficheiros novos do corrector est\u00E1n danados ou incompletos, e non se cambiou nada. C\u00F3pieos de "
          L"novo ao car\u00F3n do actualizador e volva executalo."},
    {128, L"Peche os programas que os usan e prema \u00ABTentar de novo\u00BB; con \u00ABCancelar\u00BB, non se cambia nada."},
};

}  // namespace testing_support
