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
          L"/SILENT, /passive, /qb, /qb-, /qb!, /qb!-, /qr\n\ts\u00F3 a barra de progreso, sen mensaxes\n"
          L"/LOG\n\tficheiro de rexistro no cartafol temporal\n"
          L"/LOG=ficheiro\n\tficheiro de rexistro con ese nome\n"
          L"/?, /HELP\n\testa axuda; sen xanelas ou s\u00F3 de progreso, s\u00F3 no ficheiro de rexistro\n"
          L"/norestart, /SUPPRESSMSGBOXES, /SP-,\n/NOCANCEL, /NOCLOSEAPPLICATIONS\n\tac\u00E9ptanse e non fan nada\n"
          L"Se a li\u00F1a leva algunha das opci\u00F3ns sen xanelas ou s\u00F3 de progreso,\n"
          L"a\u00EDnda que estean mal escritas, se hai un erro, non se mostra a axuda.\n\n"
          L"C\u00F3digos de sa\u00EDda:\n"
          L"0\to ordenador ten os ficheiros novos, ou un motor m\u00E1is novo\n"
          L"1\tnon foi posible actualizar; os ficheiros non cambiaron\n"
          L"2\trematou sen instalar: cancelouse, ou pechouse a sesi\u00F3n; os ficheiros non cambiaron\n"
          L"3\terro de execuci\u00F3n non controlado\n"
          L"4\tnada que actualizar: o corrector non est\u00E1 instalado\n"
          L"5\tficheiros en uso, nin substitu\u00EDdos nin na cola do reinicio; os ficheiros non cambiaron\n"
          L"7\tactualizado en parte: o motor anterior queda ao car\u00F3n do novo (QUENDOR.DLL.anterior); volva executalo\n"
          L"8\tos ficheiros novos est\u00E1n danados ou non son para este sistema; non se tocou nada\n"
          L"1618\txa se est\u00E1 a executar outra copia do actualizador\n"
          L"1639\tli\u00F1a de ordes ou ficheiro de rexistro non v\u00E1lidos; non se fixo nada\n"
          L"3010\tpendente do reinicio: os ficheiros substit\u00FAense cando se reinicie o ordenador"},
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
    {129, L"Non se pode ler a lista QUENDOR.LST que est\u00E1 ao car\u00F3n do actualizador, e non se cambiou nada. C\u00F3piea "
          L"de novo e volva executalo."},
    {130, L"Este Windows non pode comprobar os ficheiros novos coa lista QUENDOR.LST porque non ten SHA-256, e non se "
          L"cambiou nada. O actualizador precisa Windows XP SP3 ou posterior."},
    {131, L"Sen dereitos de administrador non se pode actualizar o corrector, e non se cambiou nada. Execute o "
          L"actualizador como administrador:"},
    {132, L"en Windows XP, prema co bot\u00F3n dereito e escolla \u00ABExecutar como\u00BB."},
    {133, L"prema co bot\u00F3n dereito e escolla \u00ABExecutar como administrador\u00BB (co Control de contas de "
          L"usuario desactivado, pide o nome e o contrasinal dun administrador)."},
};

}  // namespace testing_support
