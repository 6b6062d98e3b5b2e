#include "host/exit_codes.h"

namespace host {

const wchar_t* ExitCodeMeaning(int exitCode) noexcept {
    switch (exitCode) {
    case kExitUpdated: return L"o ordenador ten os ficheiros novos, ou un motor m\u00E1is novo";
    case kExitFailed: return L"non foi posible actualizar; os ficheiros non cambiaron";
    case kExitCancelled: return L"rematou sen instalar: cancelouse, ou pechouse a sesi\u00F3n; os ficheiros non cambiaron";
    case kExitRuntimeError: return L"erro de execuci\u00F3n non controlado";
    case kExitNothingToUpdate: return L"nada que actualizar: o corrector non est\u00E1 instalado";
    case kExitFilesInUse: return L"ficheiros en uso, nin substitu\u00EDdos nin na cola do reinicio; os ficheiros non cambiaron";
    case kExitAlreadyRunning: return L"xa se est\u00E1 a executar outra copia do actualizador";
    case kExitPartlyReplaced: return L"actualizado en parte: o motor anterior queda ao car\u00F3n do novo (QUENDOR.DLL.anterior); volva executalo";
    case kExitDamagedFiles: return L"os ficheiros novos est\u00E1n danados ou non son para este sistema; non se tocou nada";
    case kExitAtNextRestart: return L"pendente do reinicio: os ficheiros substit\u00FAense cando se reinicie o ordenador";
    case kExitInvalidCommandLine: return L"li\u00F1a de ordes ou ficheiro de rexistro non v\u00E1lidos; non se fixo nada";
    default: return L"";
    }
}

}  // namespace host
