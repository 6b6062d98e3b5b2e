#include "runtime/error.h"

namespace runtime {

void Raise(int number) { throw RuntimeError(number); }

const wchar_t* ErrorDescription(int number) noexcept {
    switch (number) {
    case kInvalidProcedureCall: return L"Chamada a procedemento ou argumento non v\u00E1lido";
    case kOverflow: return L"Desbordamento";
    case kOutOfMemory: return L"Memoria esgotada";
    case kSubscriptOutOfRange: return L"\u00CDndice f\u00F3ra do intervalo";
    case kDllNotLoaded: return L"Erro ao cargar a DLL";
    case kInternalError: return L"Erro interno";
    case kFileNotFound: return L"Non se atopou o ficheiro";
    case kPermissionDenied: return L"Permiso denegado";
    case kPathFileAccessError: return L"Erro de acceso \u00E1 ruta ou ao ficheiro";
    case kResourceNotFound: return L"Non se atopou o recurso";
    case kWindowNotCreated: return L"Non se puido crear unha xanela";
    case kInvalidPropertyValue: return L"Valor de propiedade non v\u00E1lido";
    case kDllFunctionNotFound: return L"Non se atopou o punto de entrada da DLL";
    default: return L"Erro definido pola aplicaci\u00F3n ou polo obxecto";
    }
}

}  // namespace runtime
