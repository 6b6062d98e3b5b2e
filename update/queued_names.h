// How the restart queue names files, and how such a name is told to be one
// of the update's. The restart reads NT paths ("C:\x", "UNC\server\x") as
// they stand: it neither collapses ".." nor strips trailing dots and spaces,
// and Windows 10 and 11 store the final path of what a program passed
// (links followed, short names made long). So a name is compared as text
// first, case folded as NTFS folds it, and the file system is asked about it
// only once its text could be one of ours: its folder by identity, and a
// short (8.3) last part made long.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace update {

// A file's or folder's identity on its volume, the same however it is named.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

enum class Presence { kFound, kNotFound, kUnknown };

// What the queue's rules ask of the file system, each about an NT path.
// Tests stand in for it.
class FileSystemView {
public:
    virtual ~FileSystemView() = default;
    virtual std::optional<FileIdentity> Identity(const std::wstring& path) = 0;
    // Unknown where Windows will not say: access denied, delete pending.
    virtual Presence Exists(const std::wstring& path) = 0;
    // The path's last part in its long form; empty where it cannot be told.
    virtual std::wstring LongName(const std::wstring& path) = 0;
    // A drive ("C:") on another computer, or one the restart will not find
    // (mapped, subst, absent).
    virtual bool RemoteDrive(const std::wstring& drive) = 0;
    virtual bool ReparsePoint(const std::wstring& path) = 0;
    // A folder's creation time, which it has however it is named: two that
    // differ are two folders. None for a reparse point, whose own times are
    // not its target's.
    virtual std::optional<std::uint64_t> Fingerprint(const std::wstring& path) = 0;
};

// The view of this Windows.
FileSystemView& WindowsView();

// The first reparse point (a junction, a symbolic link) on the way to an NT
// path, the path itself included, its root aside.
std::optional<std::wstring> ReparsePointOnTheWay(FileSystemView& view, const std::wstring& path);

// The name GetTempFileNameW gives the updater's copies: "QND", one to four
// hexadecimal digits, ".tmp", in any case.
bool OwnCopyName(std::wstring_view name);

// A queued string: an optional mark ("*" and one character), an optional
// "!" or "@" (replace what is there), then "\??\" or "\\?\" and the path.
struct QueuedPath {
    bool understood = false;
    bool replace = false;
    bool ntPrefix = false;   // "\\?\": what the restart does with it is not documented
    wchar_t mark = 0;        // the character after "*"; none without a mark
    std::wstring_view path;  // the NT path
};
QueuedPath ReadPath(std::wstring_view text);
// The destination of a delete: empty, marked or not.
bool NamesNothing(std::wstring_view text);

// The NT path of a path as Win32 takes it (made full), and back: a drive
// letter's path is the same; any other is reached through "\\?\".
std::wstring NtPath(const std::wstring& win32);
std::wstring Win32Path(std::wstring_view nt);

// The names that matter to the restart's work on the destinations, which
// come first, in their order; others are added as they are found to reach
// them. A folder's identity is asked once per folder text, a drive's kind
// once per drive, and a folder on another computer never.
class NameTable {
public:
    NameTable(const std::vector<std::wstring>& destinations, FileSystemView& view);

    struct Found {
        std::size_t index = 0;
        bool stream = false;  // named "::$DATA", the default stream's other name
    };
    std::optional<Found> Find(std::wstring_view path);
    // Found, or added as a name of its own.
    Found Collect(std::wstring_view path);

    std::size_t Size() const { return names_.size(); }
    const std::wstring& Path(std::size_t index) const { return names_[index].path; }
    // One of the updater's own copies beside the destinations.
    bool OwnCopy(std::size_t index);
    bool OwnCopy(std::wstring_view path);
    // What is there now. Outside the destinations' folder, a name on another
    // computer, reached through a reparse point or that Win32 would read as
    // another's is unknown, and nothing else about it is asked.
    Presence PresenceOf(std::size_t index);
    // The destinations' folder or a folder above it.
    bool AboveOurFolder(std::wstring_view path);

private:
    struct Name {
        std::wstring path;
        std::wstring folder;  // folded, with its closing backslash
        std::wstring last;    // folded, long
    };
    // What is known of a folder's text: asked of the file system once, and
    // never on another computer.
    struct Folder {
        std::wstring folded;
        std::wstring path;
        bool remote = false;
        bool fingerprinted = false;
        std::optional<std::uint64_t> fingerprint;
        bool identified = false;
        std::optional<FileIdentity> identity;
    };

    Folder& FolderAt(std::wstring_view folder, const std::wstring& folded);
    const std::optional<FileIdentity>& IdentityOf(Folder& folder);
    bool SameFolder(std::wstring_view a, const std::wstring& aFolded, std::wstring_view b, const std::wstring& bFolded);
    bool SameFolder(const std::wstring& folded, std::wstring_view folder, const Name& name);
    bool InOurFolder(std::wstring_view folder);
    bool Remote(std::wstring_view path);

    FileSystemView& view_;
    std::vector<Name> names_;
    std::map<std::wstring, std::vector<std::size_t>> byLast_;
    // By folded text: a queue may name thousands of folders.
    std::unordered_map<std::wstring, Folder> folders_;
    Folder* lastFolder_ = nullptr;
    std::array<signed char, 26> remoteDrives_{};  // 0 not asked, 1 remote, -1 local
    std::wstring lastScratch_;
    std::wstring folderScratch_;
    std::vector<Name> above_;  // the destinations' folder and those above it
};

}  // namespace update
