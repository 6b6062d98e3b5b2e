#include "runtime/files.h"

#include <windows.h>

#include "runtime/error.h"
#include "runtime/handles.h"

namespace runtime {

namespace {

[[noreturn]] void RaiseLastError() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        Raise(kFileNotFound);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        Raise(kPermissionDenied);
    default:
        Raise(kPathFileAccessError);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

// A file of our own beside a destination, deleted when the owner goes
// unless it has been moved into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::wstring& besides) {
        wchar_t name[MAX_PATH];
        if (GetTempFileNameW(FolderOf(besides).c_str(), L"QND", 0, name) == 0) RaiseLastError();
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
    if (!file) RaiseLastError();
}

// Whether destination exists; it must not be read-only.
bool CheckReplaceable(const std::wstring& destination) {
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return false;  // nothing to replace: it is created
        RaiseLastError();
    }
    // Checked here because not every system refuses to replace a read-only file.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) Raise(kPermissionDenied);
    return true;
}

// A full copy of source in a new temporary file beside destination, on disk.
TemporaryFile Stage(const std::wstring& source, const std::wstring& destination) {
    TemporaryFile staged(destination);
    if (!CopyFileW(source.c_str(), staged.Path().c_str(), FALSE)) RaiseLastError();
    // A source from read-only media must not make the installed file read-only.
    SetFileAttributesW(staged.Path().c_str(), FILE_ATTRIBUTE_NORMAL);
    const FileHandle file(CreateFileW(staged.Path().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !FlushFileBuffers(file.Get())) RaiseLastError();
    return staged;
}

// Whoever has just opened the file put in place (a virus scanner, an
// indexer) refuses the move back for a moment; it lets go within a second or
// so, and the move is tried for that long.
void MoveBack(const MoveFunction& move, const std::wstring& backup, const std::wstring& installed) {
    for (int attempt = 0; !move(backup, installed) && attempt < 20; ++attempt) Sleep(50);
}

}  // namespace

bool MoveInPlace(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void ReplaceFilesTogether(const std::vector<FileReplacement>& replacements, const MoveFunction& move) {
    for (const FileReplacement& file : replacements) CheckReadable(file.source);
    std::vector<bool> existed;
    for (const FileReplacement& file : replacements) existed.push_back(CheckReplaceable(file.destination));

    std::vector<TemporaryFile> staged;
    for (const FileReplacement& file : replacements) staged.push_back(Stage(file.source, file.destination));

    // Copies of what is installed now, to put back if a later file fails.
    // The last file needs none: nothing follows it that could fail.
    std::vector<TemporaryFile> backups;
    for (std::size_t i = 0; i + 1 < replacements.size(); ++i) {
        const std::wstring& installed = replacements[i].destination;
        TemporaryFile copy(installed);
        if (existed[i] && !CopyFileW(installed.c_str(), copy.Path().c_str(), FALSE)) RaiseLastError();
        backups.push_back(std::move(copy));
    }

    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (move(staged[i].Path(), replacements[i].destination)) {
            staged[i].Release();
            continue;
        }
        const DWORD error = GetLastError();
        for (std::size_t done = 0; done < i; ++done) {
            const std::wstring& installed = replacements[done].destination;
            if (existed[done]) {
                // Moved back or not, the backup is the last copy of the old file: never deleted.
                MoveBack(move, backups[done].Path(), installed);
                backups[done].Release();
            } else {
                DeleteFileW(installed.c_str());
            }
        }
        SetLastError(error);
        RaiseLastError();
    }
}

}  // namespace runtime
