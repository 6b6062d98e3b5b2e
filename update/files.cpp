#include "update/files.h"

#include <windows.h>

#include <algorithm>

#include "host/event_log.h"
#include "host/host.h"
#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/paths.h"
#include "update/file_version.h"
#include "update/files_in_use.h"
#include "update/integrity.h"
#include "update/restart_queue.h"

namespace runtime {

namespace {

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

std::wstring SizeText(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return L"? bytes";
    return NumberText(static_cast<unsigned long long>(size.QuadPart)) + L" bytes";
}

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

// A file of our own beside a destination, deleted when the owner goes
// unless it has been moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::wstring& besides) {
        wchar_t name[MAX_PATH];
        if (GetTempFileNameW(ParentFolder(besides).c_str(), L"QND", 0, name) == 0) {
            RaiseLastError(L"Crear un ficheiro temporal", ParentFolder(besides));
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
        LogSystemError(L"Borrar o ficheiro temporal", GetLastError(), path_);
        if (MoveFileExW(path_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            Log(L"Borrarase ao reiniciar: " + path_);
        }
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

// Opened only to ask, for writing and deletion, as the move over it will
// need: a program that holds the file without sharing either, or has it
// loaded as a DLL, makes Windows refuse with a sharing violation.
FileHandle OpenToReplace(const std::wstring& destination) {
    return FileHandle(CreateFileW(destination.c_str(), GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Whether destination exists; it must not be read-only, and Windows must let
// it be opened to be replaced.
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
    const FileHandle file = OpenToReplace(destination);
    if (!file) {
        const DWORD error = GetLastError();
        LogSystemError(L"Abrir para escribir o ficheiro instalado", error, destination);
        RaiseForInstalledFile(error);
    }
    Log(L"Ficheiro instalado " + destination + L": " + SizeText(file.Get()));
    return true;
}

// Copies source into the file at path, through one handle shared with
// everyone (a virus scanner opens every new file the moment it appears), and
// flushes it through that same handle, so that a power cut cannot leave a
// name pointing at data never written. The copy keeps its source's
// last-write time, as Windows' own copies do.
void CopyToDisk(const std::wstring& source, const std::wstring& path) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const FileHandle from(
        CreateFileW(source.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from) RaiseLastError(L"Ler", source);
    const FileHandle to(
        CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    Log(L"Copiado " + source + L" a " + staged.Path());
    return staged;
}

// A copy on disk of what is installed now, to put back if a later file fails.
TemporaryFile Backup(const std::wstring& installed) {
    TemporaryFile copy(installed);
    CopyToDisk(installed, copy.Path());
    Log(L"Copia do ficheiro instalado " + installed + L" en " + copy.Path());
    return copy;
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

// Whether other programs hold installed files so that they cannot be
// replaced now; each such file is logged.
bool AnyHeld(const std::vector<FileReplacement>& replacements) {
    bool held = false;
    for (const FileReplacement& file : replacements) {
        if (OpenToReplace(file.destination)) continue;
        const DWORD error = GetLastError();
        if (!InUse(error)) continue;  // refused for another reason: raised when it is replaced
        LogSystemError(L"Abrir para substitu\u00EDr o ficheiro instalado", error, file.destination);
        held = true;
    }
    return held;
}

// The new files come from one folder, which holds their list when there is one.
std::wstring SourceFolder(const std::vector<FileReplacement>& replacements) {
    return replacements.empty() ? std::wstring() : ParentFolder(replacements.front().source);
}

// What is moved must be what was checked: the staged copies, flushed, are
// checked again before any of them is moved or queued.
void CheckStaged(const std::vector<FileReplacement>& replacements, const std::vector<TemporaryFile>& staged) {
    std::vector<FileReplacement> copies;
    for (std::size_t i = 0; i < staged.size(); ++i) copies.push_back({staged[i].Path(), replacements[i].destination});
    CheckNewFiles(copies, SourceFolder(replacements));
}

std::vector<std::wstring> Destinations(const std::vector<FileReplacement>& replacements) {
    std::vector<std::wstring> destinations;
    for (const FileReplacement& file : replacements) destinations.push_back(file.destination);
    return destinations;
}

// Full copies beside the installed files, queued to be moved over them when
// Windows next starts, in order, before any program can hold them, after
// whatever is queued already. All or nothing: what was queued is taken out
// again when a later one is refused. Only then are the updater's earlier
// copies for these files taken out: a failed run leaves them waiting.
Update QueueForRestart(const std::vector<FileReplacement>& replacements, const std::vector<std::wstring>& destinations) {
    MarkReplacementStarted();
    std::vector<TemporaryFile> staged;
    for (const FileReplacement& file : replacements) staged.push_back(Stage(file.source, file.destination));
    CheckStaged(replacements, staged);
    std::vector<std::wstring> copies;
    for (const TemporaryFile& file : staged) copies.push_back(file.Path());
    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (!QueueRename(staged[i].Path(), replacements[i].destination)) {
            LogSystemError(L"P\u00F3r na cola do reinicio " + staged[i].Path() + L" sobre", GetLastError(),
                           replacements[i].destination);
            UnqueueCopies(copies);
            throw FileInUse();
        }
        Log(L"Na cola do reinicio: " + staged[i].Path() + L" sobre " + replacements[i].destination);
    }
    for (TemporaryFile& file : staged) file.Release();
    Unqueue(destinations, copies);
    return Update::kAtNextRestart;
}

// Why Windows refuses to open a file as the version reader does; success
// when it does not.
DWORD ReadRefusal(const std::wstring& path) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ERROR_SUCCESS : GetLastError();
}

// The rules of UpdateFiles. Each one either decides how the update ends or,
// giving nothing, leaves it to the next.

// An installed engine that another program holds so that not even its
// version can be read may be the newer one: it is replaced neither now nor
// at the restart. A person may close the program and try again; otherwise
// nothing changes (FileInUse).
std::optional<Update> KeepUnreadableEngine(const std::vector<FileReplacement>& replacements,
                                           const std::vector<std::wstring>& destinations) {
    const std::wstring& engine = replacements.front().destination;
    for (DWORD refused = ReadRefusal(engine); InUse(refused); refused = ReadRefusal(engine)) {
        LogSystemError(L"Ler a versi\u00F3n do motor instalado", refused, engine);
        Log(L"Pode ser m\u00E1is novo: non se substit\u00FAe nin agora nin ao reiniciar");
        const std::vector<std::wstring> programs = ProgramsUsing(destinations);
        for (const std::wstring& program : programs) Log(L"Programa que o usa: " + program);
        if (AskAboutFilesInUse(programs, false) != InUseAnswer::kTryAgain) throw FileInUse();
    }
    return std::nullopt;
}

// An installed engine of a higher version is left as it is.
std::optional<Update> KeepNewerInstalled(const std::vector<FileReplacement>& replacements,
                                         const std::vector<std::wstring>& destinations) {
    for (const FileReplacement& file : replacements) {
        const std::optional<std::uint64_t> installed = FileVersion(file.destination);
        const std::optional<std::uint64_t> incoming = FileVersion(file.source);
        if (installed) NoteForEvent(L"Versi\u00F3n instalada: " + VersionText(*installed) + L" (" + file.destination + L")");
        if (incoming) NoteForEvent(L"Versi\u00F3n nova: " + VersionText(*incoming) + L" (" + file.source + L")");
        if (!IsNewer(installed, incoming)) continue;
        Log(L"O ficheiro instalado " + file.destination + L" ten a versi\u00F3n " + VersionText(*installed) +
            L", m\u00E1is nova ca a " + VersionText(*incoming) + L" de " + file.source);
        Unqueue(destinations);
        return Update::kInstalledIsNewer;
    }
    return std::nullopt;
}

// The same pair already in place is left as it is.
std::optional<Update> KeepSamePair(const std::vector<FileReplacement>& replacements,
                                   const std::vector<std::wstring>& destinations) {
    for (const FileReplacement& file : replacements) {
        if (!SameContents(file.source, file.destination)) return std::nullopt;
    }
    Log(L"Os ficheiros instalados xa son os novos: non se cambia nada");
    Unqueue(destinations);
    return Update::kAlreadyThere;
}

// The same new files that the restart already puts in place are not queued again.
std::optional<Update> KeepQueuedPair(const std::vector<FileReplacement>& replacements) {
    for (const FileReplacement& file : replacements) {
        const std::vector<QueuedRename> queued = RenamesOnto(file.destination);
        if (queued.empty() || !SameContents(file.source, queued.back().source)) return std::nullopt;
    }
    Log(L"Os ficheiros novos xa est\u00E1n na cola do reinicio: non se cambia nada");
    return Update::kAtNextRestart;
}

// Renames that other programs queued onto the files are what the restart
// does, and they are left as they are: a same or newer engine of theirs is
// left to the restart; after anything else ours is queued to follow, never
// put in place now, where theirs would overwrite it.
std::optional<Update> FollowOthersQueued(const std::vector<FileReplacement>& replacements,
                                         const std::vector<std::wstring>& destinations) {
    bool others = false;
    for (const FileReplacement& file : replacements) {
        for (const QueuedRename& rename : RenamesOnto(file.destination)) {
            if (rename.ours) continue;
            Log(L"Outro programa ten na cola do reinicio: " + rename.source + L" sobre " + file.destination);
            others = true;
        }
    }
    if (!others) return std::nullopt;
    const FileReplacement& engine = replacements.front();
    const std::vector<QueuedRename> onto = RenamesOnto(engine.destination);
    if (!onto.empty() && !onto.back().ours && (SameContents(engine.source, onto.back().source) ||
                              IsNewer(FileVersion(onto.back().source), FileVersion(engine.source)))) {
        Log(L"O reinicio pon un motor igual ou m\u00E1is novo ca este: non se cambia nada");
        return Update::kAtNextRestart;
    }
    if (const std::optional<Update> decided = KeepQueuedPair(replacements)) return decided;
    return QueueForRestart(replacements, destinations);
}

// While other programs hold installed files, a person is asked (an
// unattended run is not): try again, replace them at the next restart, or cancel.
std::optional<Update> AskWhileInUse(const std::vector<FileReplacement>& replacements,
                                    const std::vector<std::wstring>& destinations) {
    while (AnyHeld(replacements)) {
        const std::vector<std::wstring> programs = ProgramsUsing(destinations);
        for (const std::wstring& program : programs) Log(L"Programa que os usa: " + program);
        switch (AskAboutFilesInUse(programs, true)) {
        case InUseAnswer::kTryAgain:
            continue;
        case InUseAnswer::kAtNextRestart:
            return QueueForRestart(replacements, destinations);
        case InUseAnswer::kCancel:
            throw FileInUse();
        }
    }
    return std::nullopt;
}

// Otherwise both are replaced now, together; then nothing of the updater's
// queued for the restart is left to undo them.
Update ReplaceNow(const std::vector<FileReplacement>& replacements, const std::vector<std::wstring>& destinations) {
    ReplaceFilesTogether(replacements);
    Unqueue(destinations);
    return Update::kReplaced;
}

}  // namespace

bool MoveInPlace(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool IsNewer(std::optional<std::uint64_t> installed, std::optional<std::uint64_t> incoming) {
    return installed && incoming && *installed > *incoming;
}

bool SameContents(const std::wstring& source, const std::wstring& installed) {
    const FileHandle theirs(CreateFileW(installed.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    const FileHandle ours(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!ours || !theirs) return false;
    std::vector<char> a(64 * 1024);
    std::vector<char> b(a.size());
    for (;;) {
        DWORD readA = 0;
        DWORD readB = 0;
        if (!ReadFile(ours.Get(), a.data(), static_cast<DWORD>(a.size()), &readA, nullptr) ||
            !ReadFile(theirs.Get(), b.data(), static_cast<DWORD>(b.size()), &readB, nullptr) || readA != readB) {
            return false;
        }
        if (readA == 0) return true;
        if (!std::equal(a.begin(), a.begin() + readA, b.begin())) return false;
    }
}

// The rules in the order they apply: the first that decides ends the update.
Update UpdateFiles(const std::vector<FileReplacement>& replacements) {
    for (const FileReplacement& file : replacements) CheckReadable(file.source);
    CheckNewFiles(replacements, SourceFolder(replacements));
    const std::vector<std::wstring> destinations = Destinations(replacements);
    if (const std::optional<Update> decided = KeepUnreadableEngine(replacements, destinations)) return *decided;
    if (const std::optional<Update> decided = KeepNewerInstalled(replacements, destinations)) return *decided;
    if (const std::optional<Update> decided = FollowOthersQueued(replacements, destinations)) return *decided;
    if (const std::optional<Update> decided = KeepSamePair(replacements, destinations)) return *decided;
    if (const std::optional<Update> decided = KeepQueuedPair(replacements)) return *decided;
    if (const std::optional<Update> decided = AskWhileInUse(replacements, destinations)) return *decided;
    return ReplaceNow(replacements, destinations);
}

void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move,
                          const StagedFunction& staged) {
    std::vector<bool> existed;
    for (const FileReplacement& file : replacements) existed.push_back(CheckReplaceable(file.destination));

    MarkReplacementStarted();
    std::vector<TemporaryFile> copies;
    for (const FileReplacement& file : replacements) {
        copies.push_back(Stage(file.source, file.destination));
        if (staged) staged(copies.back().Path());
    }
    CheckStaged(replacements, copies);

    // The last file needs no copy: nothing follows it that could fail.
    std::vector<TemporaryFile> backups;
    for (std::size_t i = 0; i + 1 < replacements.size(); ++i) {
        backups.push_back(existed[i] ? Backup(replacements[i].destination) : TemporaryFile(replacements[i].destination));
    }

    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (RetriedForASecond([&] { return move(copies[i].Path(), replacements[i].destination); })) {
            copies[i].Release();
            Log(L"Substitu\u00EDdo " + replacements[i].destination);
            continue;
        }
        const DWORD error = GetLastError();
        LogSystemError(L"Mover " + copies[i].Path() + L" sobre", error, replacements[i].destination);
        bool partly = false;
        for (std::size_t done = 0; done < i; ++done) {
            const std::wstring& installed = replacements[done].destination;
            if (!existed[done]) {
                DeleteFileW(installed.c_str());
                Log(L"Desfeito: borrado " + installed);
            } else if (RetriedForASecond([&] { return move(backups[done].Path(), installed); })) {
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
        // The file could be opened to be replaced a moment ago: whoever
        // refuses the move now has opened it since.
        if (InUse(error) || error == ERROR_ACCESS_DENIED) throw FileInUse();
        RaiseSystemError(error);
    }
}

}  // namespace runtime
