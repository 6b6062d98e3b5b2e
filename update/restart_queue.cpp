#include "update/restart_queue.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>

#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/paths.h"
#include "runtime/strings.h"

namespace update {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// MoveFileEx appends to the first; the restart reads the second after it.
constexpr const wchar_t* kValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
// What the updater names its copies beside the files it replaces.
constexpr wchar_t kOwnPrefix[] = L"qnd";

// One of a value's strings, and where it lies in the value's text: from
// begin up to end, its NUL included when it has one.
struct Piece {
    std::wstring text;
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct Value {
    bool present = false;
    std::wstring text;           // the stored bytes as UTF-16, an odd last byte aside
    std::vector<Piece> strings;  // in order, the closing empty string too
    std::wstring flaw;           // why it is not whole pairs closed by one empty string; empty when it is
};

// Whole pairs closed by one empty string is the one shape in which the
// restart, MoveFileEx's appending and this program all see the same pairs:
// in any other, cutting or appending can shift a string into a deletion.
std::wstring FlawOf(DWORD type, std::size_t bytes, const std::vector<Piece>& strings) {
    if (type != REG_MULTI_SZ) return L"non \u00E9 REG_MULTI_SZ";
    if (bytes % sizeof(wchar_t) != 0) return L"ten un n\u00FAmero impar de bytes";
    if (strings.empty() || !strings.back().text.empty()) return L"non remata nun texto baleiro";
    const std::size_t count = strings.size() - 1;
    for (std::size_t i = 0; i < count; i += 2) {
        if (strings[i].text.empty()) return L"ten un texto baleiro no medio";
    }
    if (count % 2 != 0) return L"ten un n\u00FAmero impar de textos";
    return std::wstring();
}

Value ReadValue(const wchar_t* name) {
    Value value;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return value;
    const runtime::RegistryKey key(opened);
    DWORD type = 0;
    DWORD size = 0;
    std::vector<BYTE> bytes;
    LONG result = ERROR_MORE_DATA;
    // Another installer may add to it between the calls.
    for (int attempt = 0; result == ERROR_MORE_DATA && attempt < 5; ++attempt) {
        result = RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) break;
        bytes.resize(size);
        result = RegQueryValueExW(key.Get(), name, nullptr, &type, bytes.data(), &size);
    }
    if (result == ERROR_FILE_NOT_FOUND) return value;
    value.present = true;
    if (result != ERROR_SUCCESS) {
        value.flaw = L"non se puido ler";
        return value;
    }
    bytes.resize(size);
    value.text.resize(bytes.size() / sizeof(wchar_t));
    std::memcpy(value.text.data(), bytes.data(), value.text.size() * sizeof(wchar_t));
    std::size_t start = 0;
    for (std::size_t at = 0; at < value.text.size(); ++at) {
        if (value.text[at] != L'\0') continue;
        value.strings.push_back({value.text.substr(start, at - start), start, at + 1});
        start = at + 1;
    }
    if (start < value.text.size()) value.strings.push_back({value.text.substr(start), start, value.text.size()});
    value.flaw = FlawOf(type, bytes.size(), value.strings);
    return value;
}

// Stores text, a whole value, as it is; the closing empty string alone is
// no value at all. The last error on failure.
bool WriteValue(const wchar_t* name, const std::wstring& text) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &opened);
    if (result == ERROR_SUCCESS) {
        const runtime::RegistryKey key(opened);
        result = text.size() <= 1 ? RegDeleteValueW(key.Get(), name)
                                  : RegSetValueExW(key.Get(), name, 0, REG_MULTI_SZ,
                                                   reinterpret_cast<const BYTE*>(text.data()),
                                                   static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    }
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

// A queued path as Win32 takes it: "!\??\C:\x" and "\\?\c:\x" are C:\x and
// c:\x; a path on no drive letter keeps "\\?\" ("\\?\UNC\server\x"). Empty
// for a path of any other form, which the program does not understand.
std::wstring PlainPath(std::wstring_view path) {
    if (path.starts_with(L'!')) path.remove_prefix(1);
    if (!path.starts_with(L"\\??\\") && !path.starts_with(L"\\\\?\\")) return std::wstring();
    path.remove_prefix(4);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return std::wstring(path);
    return path.empty() ? std::wstring() : L"\\\\?\\" + std::wstring(path);
}

// One of the updater's own copies, made beside the file it was to replace.
bool OwnCopyBeside(const std::wstring& source, const std::wstring& destination) {
    const std::wstring from = runtime::ComparablePath(source);
    return runtime::FolderPrefix(from) == runtime::FolderPrefix(runtime::ComparablePath(destination)) &&
           from.compare(runtime::FolderPrefix(from).size(), 3, kOwnPrefix) == 0;
}

bool Contains(const std::vector<std::wstring>& comparablePaths, const std::wstring& path) {
    return std::ranges::find(comparablePaths, runtime::ComparablePath(path)) != comparablePaths.end();
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return runtime::ComparablePath(a) == runtime::ComparablePath(b);
}

std::vector<std::wstring> Comparable(const std::vector<std::wstring>& paths) {
    std::vector<std::wstring> comparable;
    for (const std::wstring& path : paths) comparable.push_back(runtime::ComparablePath(path));
    return comparable;
}

// A path on another computer is never opened nor looked up: as SYSTEM that
// would make the PC sign in there. A path with no root is none of ours either.
bool OnAnotherComputer(const std::wstring& path) {
    if (runtime::LCase(path).starts_with(L"\\\\?\\unc\\")) return true;
    const std::size_t root = path.find(L'\\', path.starts_with(L"\\\\?\\") ? 4 : 0);
    return root == std::wstring::npos || GetDriveTypeW(path.substr(0, root + 1).c_str()) == DRIVE_REMOTE;
}

// The path with its short (8.3) names made long; as written where nothing
// has that name.
std::wstring LongPath(const std::wstring& path) {
    const DWORD size = GetLongPathNameW(path.c_str(), nullptr, 0);
    std::wstring buffer(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetLongPathNameW(path.c_str(), buffer.data(), size);
    return length == 0 || length >= size ? path : buffer.substr(0, length);
}

std::wstring LongName(const std::wstring& path) {
    const std::wstring full = LongPath(path);
    return runtime::LCase(full.substr(runtime::FolderPrefix(full).size()));
}

struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    bool operator==(const FolderIdentity&) const = default;
};

// Opened asking for no access at all: only its identity is read, which a
// folder one may not list still gives.
std::optional<FolderIdentity> IdentityOf(const std::wstring& folder) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const runtime::FileHandle handle(
        CreateFileW(folder.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!handle || !GetFileInformationByHandle(handle.Get(), &information)) return std::nullopt;
    return FolderIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

// Whether a queued destination names our file. A rename replaces a name, not
// a file (our lexicon may not exist yet; a hard link to the engine is not
// its name): the same folder, known by its identity, and the same name.
bool Onto(const std::wstring& queued, const std::wstring& ours) {
    if (OnAnotherComputer(queued) || LongName(queued) != LongName(ours)) return false;
    // With its backslash, a drive's root stays the root, not that drive's current folder.
    const std::optional<FolderIdentity> theirs = IdentityOf(runtime::FolderPrefix(queued));
    const std::optional<FolderIdentity> mine = IdentityOf(runtime::FolderPrefix(ours));
    if (theirs && mine) return *theirs == *mine;
    // A folder that cannot be opened (delete-pending, denied) is known by its text.
    return runtime::ComparablePath(LongPath(runtime::FolderPrefix(queued))) ==
           runtime::ComparablePath(LongPath(runtime::FolderPrefix(ours)));
}

// Takes out of both values each rename onto one of destinations from a copy
// of ours that taken says is to go, and deletes the copy. A whole value loses
// those pairs' bytes and nothing else; any other is left as it is, but our
// copies named in it are deleted all the same, so that their renames fail.
void TakeOut(const std::vector<std::wstring>& destinations,
             const std::function<bool(const std::wstring& copy)>& taken) {
    const std::vector<std::wstring> wanted = Comparable(destinations);
    const auto ours = [&](const std::wstring& copy) {
        return !copy.empty() && taken(copy) &&
               std::ranges::any_of(destinations, [&](const std::wstring& to) { return OwnCopyBeside(copy, to); });
    };
    for (const wchar_t* name : kValues) {
        const Value value = ReadValue(name);
        std::vector<std::wstring> copies;
        if (!value.flaw.empty()) {
            host::Log(L"O valor " + std::wstring(name) + L" " + value.flaw + L": queda como est\u00E1");
            for (const Piece& piece : value.strings) {
                if (ours(PlainPath(piece.text))) copies.push_back(PlainPath(piece.text));
            }
        } else {
            std::wstring kept;
            std::vector<std::wstring> removed;
            for (std::size_t i = 0; i + 1 < value.strings.size(); i += 2) {
                const Piece& from = value.strings[i];
                const Piece& to = value.strings[i + 1];
                if (ours(PlainPath(from.text)) && Contains(wanted, PlainPath(to.text))) {
                    copies.push_back(PlainPath(from.text));
                    removed.push_back(PlainPath(from.text) + L" sobre " + PlainPath(to.text));
                } else {
                    kept.append(value.text, from.begin, to.end - from.begin);
                }
            }
            if (copies.empty()) continue;
            if (!WriteValue(name, kept + L'\0')) {
                host::LogSystemError(L"Quitar da cola do reinicio", GetLastError(), name);
                continue;
            }
            for (const std::wstring& line : removed) host::Log(L"Quitado da cola do reinicio: " + line);
        }
        for (const std::wstring& copy : copies) {
            if (DeleteFileW(copy.c_str())) host::Log(L"Borrado " + copy);
        }
    }
}

// Whether the value is whole and holds each copy's rename over its
// destination, in this order.
bool QueuedInOrder(const Value& value, const std::vector<std::wstring>& copies,
                   const std::vector<std::wstring>& destinations) {
    if (!value.flaw.empty()) return false;
    std::size_t found = 0;
    for (std::size_t i = 0; found < copies.size() && i + 1 < value.strings.size(); i += 2) {
        const std::wstring& to = value.strings[i + 1].text;
        if (SamePath(PlainPath(value.strings[i].text), copies[found]) && to.starts_with(L'!') &&
            SamePath(PlainPath(to), destinations[found])) {
            ++found;
        }
    }
    return found == copies.size();
}

}  // namespace

std::vector<std::wstring> QueuedRenames() {
    const Value value = ReadValue(kValues[0]);
    std::vector<std::wstring> strings;
    for (const Piece& piece : value.strings) strings.push_back(piece.text);
    // The empty string that closes a whole value is no entry.
    if (value.present && value.flaw.empty()) strings.pop_back();
    return strings;
}

std::vector<QueuedRename> RenamesOnto(const std::wstring& destination) {
    std::vector<QueuedRename> renames;
    for (const wchar_t* name : kValues) {
        const Value value = ReadValue(name);
        // Pair by pair from the start, as the restart reads them.
        for (std::size_t i = 0; i + 1 < value.strings.size(); i += 2) {
            const std::wstring from = PlainPath(value.strings[i].text);
            const std::wstring to = PlainPath(value.strings[i + 1].text);
            if (from.empty() || to.empty() || !Onto(to, destination)) continue;
            renames.push_back({from, OwnCopyBeside(from, destination)});
        }
    }
    return renames;
}

bool QueueRenames(const std::vector<std::wstring>& copies, const std::vector<std::wstring>& destinations) {
    // MoveFileEx appends to the first value, under Wine at least; which one
    // it takes is Windows' own choice, so both must be certain.
    for (const wchar_t* name : kValues) {
        const Value value = ReadValue(name);
        if (value.flaw.empty()) continue;
        host::Log(L"O valor " + std::wstring(name) + L" " + value.flaw +
                  L": non se pon nada na cola do reinicio");
        return false;
    }
    const std::vector<std::wstring> queued = Comparable(copies);
    const auto takeOursOut = [&] {
        TakeOut(destinations, [&](const std::wstring& copy) { return Contains(queued, copy); });
    };
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (!MoveFileExW(copies[i].c_str(), destinations[i].c_str(),
                         MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
            host::LogSystemError(L"P\u00F3r na cola do reinicio " + copies[i] + L" sobre", GetLastError(),
                                 destinations[i]);
            takeOursOut();
            return false;
        }
        host::Log(L"Na cola do reinicio: " + copies[i] + L" sobre " + destinations[i]);
    }
    const auto holdsOurs = [&](const wchar_t* name) { return QueuedInOrder(ReadValue(name), copies, destinations); };
    if (std::ranges::none_of(kValues, holdsOurs)) {
        host::Log(L"A cola do reinicio non ten os ficheiros novos enteiros e en orde: qu\u00EDtanse de novo");
        takeOursOut();
        return false;
    }
    return true;
}

void Unqueue(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& kept) {
    const std::vector<std::wstring> keep = Comparable(kept);
    TakeOut(destinations, [&](const std::wstring& copy) { return !Contains(keep, copy); });
}

}  // namespace update
