#include "update/replace.h"

#include <windows.h>

#include <utility>

#include "host/host.h"
#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/paths.h"
#include "runtime/strings.h"
#include "update/integrity.h"
#include "update/internal.h"
#include "update/restart_queue.h"

namespace update {

namespace {

// Whoever has just opened a file (a virus scanner, an indexer) lets go of it
// within a second or so: an action it refuses is tried for that long.
template <typename Action>
bool RetriedForASecond(const Action& action) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (action()) return true;
        Sleep(50);
    }
    return action();
}

TempFileNameFunction tempFileName = GetTempFileNameW;

// A refusal of the proofing folder to a run without administrator rights is
// said as such; an administrator's (or SYSTEM's) is what it is.
void RaiseWhereNotAdministrator(DWORD error, const std::wstring& path) {
    if (error != ERROR_ACCESS_DENIED || host::CurrentHost().HasAdministratorRights()) return;
    host::LogSystemError(L"Sen dereitos de administrador non se pode escribir no cartafol de correcci\u00F3n", error,
                         path);
    throw NeedsAdministrator();
}

// A file of our own beside a destination, deleted when the owner goes
// unless it has been moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::wstring& besides) {
        wchar_t name[MAX_PATH];
        if (tempFileName(runtime::ParentFolder(besides).c_str(), L"QND", 0, name) == 0) {
            RaiseWhereNotAdministrator(GetLastError(), runtime::ParentFolder(besides));
            RaiseLastError(L"Crear un ficheiro temporal", runtime::ParentFolder(besides));
        }
        path_ = name;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    TemporaryFile(TemporaryFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    // A virus scanner may hold a file it has just seen being written: it is
    // tried for a second, then left for Windows to delete when it next starts.
    ~TemporaryFile() {
        if (path_.empty()) return;
        SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (RetriedForASecond([this] { return DeleteFileW(path_.c_str()) != 0; })) return;
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return;
        host::LogSystemError(L"Borrar o ficheiro temporal", GetLastError(), path_);
        if (MoveFileExW(path_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            host::Log({L"Borrarase ao reiniciar: ", path_});
        }
    }
    const std::wstring& Path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::wstring path_;
};

// Whether destination exists; it must not be read-only, and Windows must let
// it be opened to be replaced.
bool CheckReplaceable(const std::wstring& destination) {
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {  // nothing to replace: it is created
            host::Log({L"Ficheiro instalado ", destination, L": non existe"});
            return false;
        }
        RaiseLastError(L"Ler o ficheiro instalado", destination);
    }
    // Checked here because not every system refuses to replace a read-only file.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        host::LogSystemError(L"O ficheiro instalado \u00E9 de s\u00F3 lectura", ERROR_ACCESS_DENIED, destination);
        runtime::Raise(runtime::kPermissionDenied);
    }
    const runtime::FileHandle file = OpenToReplace(destination);
    if (!file) {
        const DWORD error = GetLastError();
        RaiseWhereNotAdministrator(error, destination);
        host::LogSystemError(L"Abrir para escribir o ficheiro instalado", error, destination);
        RaiseForInstalledFile(error);
    }
    host::Log({L"Ficheiro instalado ", destination, L": ", SizeText(file.Get())});
    return true;
}

// Copies source into the file at path, through one handle shared with
// everyone (a virus scanner opens every new file the moment it appears), and
// flushes it through that same handle, so that a power cut cannot leave a
// name pointing at data never written. The copy keeps its source's
// last-write time, as Windows' own copies do.
void CopyToDisk(const std::wstring& source, const std::wstring& path) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const runtime::FileHandle from(CreateFileW(source.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from) RaiseLastError(L"Ler", source);
    const runtime::FileHandle to(CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, TRUNCATE_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!to) RaiseLastError(L"Escribir", path);
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            RaiseLastError(L"Ler", source);
        }
        if (read == 0) break;
        DWORD written = 0;
        if (!WriteFile(to.Get(), buffer.data(), read, &written, nullptr) || written != read) {
            RaiseLastError(L"Escribir", path);
        }
    }
    FILETIME written{};
    if (GetFileTime(from.Get(), nullptr, nullptr, &written)) SetFileTime(to.Get(), nullptr, nullptr, &written);
    if (!FlushFileBuffers(to.Get())) RaiseLastError(L"Gardar no disco", path);
}

// A full copy of source in a new temporary file beside destination, on disk.
TemporaryFile Stage(const std::wstring& source, const std::wstring& destination) {
    TemporaryFile staged(destination);
    CopyToDisk(source, staged.Path());
    host::Log({L"Copiado ", source, L" a ", staged.Path()});
    return staged;
}

// A copy on disk of what is installed now, to put back if a later file fails.
TemporaryFile Backup(const std::wstring& installed) {
    TemporaryFile copy(installed);
    CopyToDisk(installed, copy.Path());
    host::Log({L"Copia do ficheiro instalado ", installed, L" en ", copy.Path()});
    return copy;
}

// The copy of the previous contents that could not be put back gets a name a
// person recognises beside the installed file, never over a file already there.
std::wstring KeepBackup(const std::wstring& backup, const std::wstring& installed) {
    for (unsigned number = 1; number < 100; ++number) {
        const std::wstring kept =
            installed + L".anterior" + (number > 1 ? runtime::NumberText(number) : std::wstring());
        if (MoveFileExW(backup.c_str(), kept.c_str(), MOVEFILE_WRITE_THROUGH)) return kept;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    return backup;
}

// What is moved must be what was checked: the staged copies, flushed, are
// checked again before any of them is moved or queued.
void CheckStaged(const std::vector<FileReplacement>& replacements, const std::vector<TemporaryFile>& staged) {
    std::vector<FileReplacement> copies;
    for (std::size_t i = 0; i < staged.size(); ++i) copies.push_back({staged[i].Path(), replacements[i].destination});
    CheckNewFiles(copies, SourceFolder(replacements));
}

}  // namespace

TempFileNameFunction SetTempFileName(TempFileNameFunction make) noexcept { return std::exchange(tempFileName, make); }

[[noreturn]] void RaiseSystemError(DWORD error) { runtime::Raise(ErrorNumberFor(error)); }

[[noreturn]] void RaiseForInstalledFile(DWORD error) {
    if (InUse(error)) throw FileInUse();
    RaiseSystemError(error);
}

[[noreturn]] void RaiseLastError(std::wstring_view what, const std::wstring& file) {
    const DWORD error = GetLastError();
    host::LogSystemError(what, error, file);
    RaiseSystemError(error);
}

std::wstring SizeText(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return L"? bytes";
    return runtime::NumberText(static_cast<unsigned long long>(size.QuadPart)) + L" bytes";
}

runtime::FileHandle OpenToReplace(const std::wstring& destination) {
    return runtime::FileHandle(CreateFileW(destination.c_str(), GENERIC_WRITE | DELETE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring SourceFolder(const std::vector<FileReplacement>& replacements) {
    return replacements.empty() ? std::wstring() : runtime::ParentFolder(replacements.front().source);
}

std::vector<std::wstring> Destinations(const std::vector<FileReplacement>& replacements) {
    std::vector<std::wstring> destinations;
    for (const FileReplacement& file : replacements) destinations.push_back(file.destination);
    return destinations;
}

bool MoveInPlace(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move,
                          const StagedFunction& staged) {
    std::vector<bool> existed(replacements.size());
    for (std::size_t i = 0; i < replacements.size(); ++i) existed[i] = CheckReplaceable(replacements[i].destination);

    host::MarkReplacementStarted();
    std::vector<TemporaryFile> copies;
    for (const FileReplacement& file : replacements) {
        copies.push_back(Stage(file.source, file.destination));
        if (staged) staged(copies.back().Path());
    }
    CheckStaged(replacements, copies);

    // The last file needs no copy: nothing follows it that could fail.
    std::vector<TemporaryFile> backups;
    for (std::size_t i = 0; i + 1 < replacements.size(); ++i) {
        backups.push_back(existed[i] ? Backup(replacements[i].destination)
                                     : TemporaryFile(replacements[i].destination));
    }

    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (RetriedForASecond([&] { return move(copies[i].Path(), replacements[i].destination); })) {
            copies[i].Release();
            host::Log({L"Substitu\u00EDdo ", replacements[i].destination});
            continue;
        }
        const DWORD error = GetLastError();
        host::LogSystemError(L"Mover " + copies[i].Path() + L" sobre", error, replacements[i].destination);
        bool partly = false;
        for (std::size_t done = 0; done < i; ++done) {
            const std::wstring& installed = replacements[done].destination;
            if (!existed[done]) {
                DeleteFileW(installed.c_str());
                host::Log({L"Desfeito: borrado ", installed});
            } else if (RetriedForASecond([&] { return move(backups[done].Path(), installed); })) {
                backups[done].Release();
                host::Log({L"Desfeito: ", installed, L" volve ter o contido anterior"});
            } else {
                // The backup is the last copy of the old file: never deleted.
                host::LogSystemError(L"Desfacer: non se puido devolver o contido anterior", GetLastError(), installed);
                const std::wstring kept = KeepBackup(backups[done].Path(), installed);
                backups[done].Release();
                host::Log({L"O contido anterior de ", installed, L" queda en ", kept});
                partly = true;
            }
        }
        if (partly) throw PartlyReplaced(ErrorNumberFor(error));
        // The file could be opened to be replaced a moment ago: whoever
        // refuses the move now has opened it since.
        if (InUse(error) || error == ERROR_ACCESS_DENIED) throw FileInUse();
        RaiseSystemError(error);
    }
}

void QueueForRestart(const std::vector<FileReplacement>& replacements) {
    host::MarkReplacementStarted();
    std::vector<TemporaryFile> staged;
    for (const FileReplacement& file : replacements) staged.push_back(Stage(file.source, file.destination));
    CheckStaged(replacements, staged);
    std::vector<std::wstring> copies;
    for (const TemporaryFile& file : staged) copies.push_back(file.Path());
    const std::vector<std::wstring> destinations = Destinations(replacements);
    if (!QueueRenames(copies, destinations)) throw FileInUse();
    for (TemporaryFile& file : staged) file.Release();
    Unqueue(destinations, copies);
}

}  // namespace update
