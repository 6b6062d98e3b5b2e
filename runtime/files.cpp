#include "runtime/files.h"

#include <windows.h>

#include "runtime/handles.h"
#include "runtime/log.h"

namespace runtime {

namespace {

bool replacementStarted = false;

bool InUse(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

int ErrorNumberFor(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return kFileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return kPermissionDenied;
    default:
        return kPathFileAccessError;
    }
}

[[noreturn]] void RaiseSystemError(DWORD error) { Raise(ErrorNumberFor(error)); }

// An installed file that Windows refused for a sharing or lock violation is
// held by another program; any other refusal is raised as it is.
[[noreturn]] void RaiseForInstalledFile(DWORD error) {
    if (InUse(error)) throw FileInUse();
    RaiseSystemError(error);
}

// Logs the last error with what was being done and to which file, then raises it.
[[noreturn]] void RaiseLastError(std::wstring_view what, const std::wstring& file) {
    const DWORD error = GetLastError();
    LogSystemError(what, error, file);
    RaiseSystemError(error);
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring SizeText(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return L"? bytes";
    return NumberText(static_cast<unsigned long long>(size.QuadPart)) + L" bytes";
}

// A file of our own beside a destination, deleted when the owner goes
// unless it has been moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::wstring& besides) {
        wchar_t name[MAX_PATH];
        if (GetTempFileNameW(FolderOf(besides).c_str(), L"QND", 0, name) == 0) {
            RaiseLastError(L"Crear un ficheiro temporal", FolderOf(besides));
        }
        path_ = name;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    TemporaryFile(TemporaryFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    ~TemporaryFile() {
        if (path_.empty()) return;
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::wstring path_;
};

void CheckReadable(const std::wstring& source) {
    const FileHandle file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseLastError(L"Ler o ficheiro novo", source);
    Log(L"Ficheiro novo " + source + L": " + SizeText(file.Get()));
}

// Whether destination exists; it must not be read-only, and Windows must let
// it be opened for writing: a program that holds it open without sharing it,
// or has it loaded as a DLL, makes that fail with a sharing violation.
bool CheckReplaceable(const std::wstring& destination) {
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {  // nothing to replace: it is created
            Log(L"Ficheiro instalado " + destination + L": non existe");
            return false;
        }
        RaiseLastError(L"Ler o ficheiro instalado", destination);
    }
    // Checked here because not every system refuses to replace a read-only file.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        LogSystemError(L"O ficheiro instalado \u00E9 de s\u00F3 lectura", ERROR_ACCESS_DENIED, destination);
        Raise(kPermissionDenied);
    }
    // Opened only to ask; nothing is written through this handle.
    const FileHandle file(CreateFileW(destination.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        LogSystemError(L"Abrir para escribir o ficheiro instalado", error, destination);
        RaiseForInstalledFile(error);
    }
    Log(L"Ficheiro instalado " + destination + L": " + SizeText(file.Get()));
    return true;
}

// Written through to the disk, so that a power cut cannot leave a name
// pointing at data never written.
void Flush(const std::wstring& path) {
    const FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !FlushFileBuffers(file.Get())) RaiseLastError(L"Gardar no disco", path);
}

// A full copy of source in a new temporary file beside destination, on disk.
TemporaryFile Stage(const std::wstring& source, const std::wstring& destination) {
    TemporaryFile staged(destination);
    if (!CopyFileW(source.c_str(), staged.Path().c_str(), FALSE)) {
        RaiseLastError(L"Copiar " + source + L" a", staged.Path());
    }
    // A source from read-only media must not make the installed file read-only.
    SetFileAttributesW(staged.Path().c_str(), FILE_ATTRIBUTE_NORMAL);
    Flush(staged.Path());
    Log(L"Copiado " + source + L" a " + staged.Path());
    return staged;
}

// A copy on disk of what is installed now, to put back if a later file fails.
TemporaryFile Backup(const std::wstring& installed) {
    TemporaryFile copy(installed);
    if (!CopyFileW(installed.c_str(), copy.Path().c_str(), FALSE)) {
        RaiseLastError(L"Copiar " + installed + L" a", copy.Path());
    }
    Flush(copy.Path());
    Log(L"Copia do ficheiro instalado " + installed + L" en " + copy.Path());
    return copy;
}

// Whoever has just opened the file put in place (a virus scanner, an
// indexer) refuses the move back for a moment; it lets go within a second or
// so, and the move is tried for that long.
bool MoveBack(const MoveFunction& move, const std::wstring& backup, const std::wstring& installed) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (move(backup, installed)) return true;
        Sleep(50);
    }
    return move(backup, installed);
}

// The copy of the previous contents that could not be put back gets a name a
// person recognises beside the installed file, never over a file already there.
std::wstring KeepBackup(const std::wstring& backup, const std::wstring& installed) {
    for (unsigned number = 1; number < 100; ++number) {
        const std::wstring kept = installed + L".anterior" + (number > 1 ? NumberText(number) : std::wstring());
        if (MoveFileExW(backup.c_str(), kept.c_str(), MOVEFILE_WRITE_THROUGH)) return kept;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    return backup;
}

}  // namespace

bool MoveInPlace(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ReplacementStarted() noexcept { return replacementStarted; }

void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move) {
    for (const FileReplacement& file : replacements) CheckReadable(file.source);
    std::vector<bool> existed;
    for (const FileReplacement& file : replacements) existed.push_back(CheckReplaceable(file.destination));

    replacementStarted = true;
    std::vector<TemporaryFile> staged;
    for (const FileReplacement& file : replacements) staged.push_back(Stage(file.source, file.destination));

    // The last file needs no copy: nothing follows it that could fail.
    std::vector<TemporaryFile> backups;
    for (std::size_t i = 0; i + 1 < replacements.size(); ++i) {
        backups.push_back(existed[i] ? Backup(replacements[i].destination) : TemporaryFile(replacements[i].destination));
    }

    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (move(staged[i].Path(), replacements[i].destination)) {
            staged[i].Release();
            Log(L"Substitu\u00EDdo " + replacements[i].destination);
            continue;
        }
        const DWORD error = GetLastError();
        LogSystemError(L"Mover " + staged[i].Path() + L" sobre", error, replacements[i].destination);
        bool partly = false;
        for (std::size_t done = 0; done < i; ++done) {
            const std::wstring& installed = replacements[done].destination;
            if (!existed[done]) {
                DeleteFileW(installed.c_str());
                Log(L"Desfeito: borrado " + installed);
            } else if (MoveBack(move, backups[done].Path(), installed)) {
                backups[done].Release();
                Log(L"Desfeito: " + installed + L" volve ter o contido anterior");
            } else {
                // The backup is the last copy of the old file: never deleted.
                LogSystemError(L"Desfacer: non se puido devolver o contido anterior", GetLastError(), installed);
                const std::wstring kept = KeepBackup(backups[done].Path(), installed);
                backups[done].Release();
                Log(L"O contido anterior de " + installed + L" queda en " + kept);
                partly = true;
            }
        }
        if (partly) throw PartlyReplaced(ErrorNumberFor(error));
        RaiseForInstalledFile(error);
    }
}

}  // namespace runtime
