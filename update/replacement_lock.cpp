#include "update/replacement_lock.h"

#include <windows.h>

#include "host/log.h"

namespace update {

ReplacementLock::ReplacementLock(const std::wstring& folder) {
    const std::wstring path = folder + L"\\" + kLockFileName;
    DWORD error = ERROR_SUCCESS;
    // While another copy holds it, Windows refuses with a sharing violation;
    // for a moment after that copy let go, while another handle (a virus
    // scanner's) keeps the file waiting to be deleted, with access denied.
    // OPEN_ALWAYS, for a file left by a power cut must not block for ever.
    for (int attempt = 0; attempt <= 20; ++attempt) {
        if (attempt > 0) Sleep(50);
        file_.Reset(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file_) {
            host::Log(L"Bloqueo para substitu\u00EDr os ficheiros: " + path);
            return;
        }
        error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
    }
    heldByAnotherCopy_ = error == ERROR_SHARING_VIOLATION;
    if (heldByAnotherCopy_) {
        host::Log(L"Outra copia do actualizador est\u00E1 a substitu\u00EDr os ficheiros: ten o bloqueo " + path);
        return;
    }
    host::LogSystemError(L"Crear o ficheiro de bloqueo", error, path);
    host::Log(L"Segue sen bloqueo");
}

}  // namespace update
