#include "update/restart_queue.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/paths.h"
#include "runtime/strings.h"

namespace update {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// The restart carries out the first, then the second; where the second
// exists, MoveFileEx appends to it.
constexpr const wchar_t* kValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
// What the updater names its copies beside the files it replaces.
constexpr wchar_t kOwnPrefix[] = L"qnd";
// Rounds of taking ours out while another program keeps changing the value.
constexpr int kWriteTries = 5;

}  // namespace

QueueCalls& QueueCallsInUse() {
    static QueueCalls calls{
        [](const std::wstring& from, const std::wstring& to) {
            return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) !=
                   FALSE;
        },
        [](const wchar_t*) {}};
    return calls;
}

namespace {

// One of a value's strings: from begin, length characters, then its NUL
// when it has one; the next starts at end.
struct Piece {
    std::size_t begin = 0;
    std::size_t length = 0;
    std::size_t end = 0;
};

struct Value {
    bool present = false;
    std::wstring text;           // the stored bytes as UTF-16, an odd last byte aside
    std::vector<Piece> strings;  // in order, the closing empty string too
    std::wstring flaw;           // why it is not whole pairs closed by one empty string; empty when it is

    std::wstring_view String(std::size_t i) const {
        return std::wstring_view(text).substr(strings[i].begin, strings[i].length);
    }
};

// Whole pairs closed by one empty string is the one shape in which the
// restart, MoveFileEx's appending and this program all see the same pairs:
// in any other, cutting or appending can shift a string into a deletion.
std::wstring FlawOf(DWORD type, std::size_t bytes, const std::vector<Piece>& strings) {
    if (type != REG_MULTI_SZ) return L"non \u00E9 REG_MULTI_SZ";
    if (bytes % sizeof(wchar_t) != 0) return L"ten un n\u00FAmero impar de bytes";
    if (strings.empty() || strings.back().length != 0) return L"non remata nun texto baleiro";
    const std::size_t count = strings.size() - 1;
    for (std::size_t i = 0; i < count; i += 2) {
        if (strings[i].length == 0) return L"ten un texto baleiro no medio";
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
    LONG result = ERROR_MORE_DATA;
    // Another installer may add to it between the calls.
    for (int attempt = 0; result == ERROR_MORE_DATA && attempt < 5; ++attempt) {
        result = RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) break;
        value.text.resize(size / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>(value.text.size() * sizeof(wchar_t));
        result = RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value.text.data()), &size);
    }
    if (result == ERROR_FILE_NOT_FOUND) return value;
    value.present = true;
    if (result != ERROR_SUCCESS) {
        value.flaw = L"non se puido ler";
        return value;
    }
    value.text.resize(size / sizeof(wchar_t));
    std::size_t start = 0;
    for (std::size_t at = value.text.find(L'\0'); at != std::wstring::npos; at = value.text.find(L'\0', start)) {
        value.strings.push_back({start, at - start, at + 1});
        start = at + 1;
    }
    if (start < value.text.size()) {
        value.strings.push_back({start, value.text.size() - start, value.text.size()});
    }
    value.flaw = FlawOf(type, size, value.strings);
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

// A queued string without its mark: the restart drops a leading "*" and the
// character after it, each string on its own.
std::wstring_view Unmarked(std::wstring_view text) {
    if (text.size() >= 2 && text[0] == L'*') text.remove_prefix(2);
    return text;
}

// A queued string as the restart reads it.
struct QueuedPath {
    bool understood = false;
    bool replace = false;  // "!" or "@": replaces what is there
    bool certain = false;  // "\??\"; "\\?\" is an NT path whose fate is not documented
    // As Win32 takes it: "!\??\C:\x" and "*1\\?\c:\x" are C:\x and c:\x; a
    // path on no drive letter keeps "\\?\" ("\\?\UNC\server\x").
    std::wstring path;
};

QueuedPath ReadPath(std::wstring_view text) {
    QueuedPath queued;
    text = Unmarked(text);
    queued.replace = text.starts_with(L'!') || text.starts_with(L'@');
    if (queued.replace) text.remove_prefix(1);
    queued.certain = text.starts_with(L"\\??\\");
    if (!queued.certain && !text.starts_with(L"\\\\?\\")) return queued;
    text.remove_prefix(4);
    if (text.empty()) return queued;
    queued.understood = true;
    queued.path = text.size() >= 3 && text[1] == L':' && text[2] == L'\\' ? std::wstring(text)
                                                                           : L"\\\\?\\" + std::wstring(text);
    return queued;
}

// One entry of the queue: a rename of from onto to, or a delete of from.
struct Entry {
    QueuedPath from;
    QueuedPath to;
    bool deletes = false;
    bool understood = false;
};

Entry ReadEntry(const Value& value, std::size_t pair) {
    Entry entry{ReadPath(value.String(pair)), ReadPath(value.String(pair + 1))};
    entry.deletes = Unmarked(value.String(pair + 1)).empty();
    entry.understood = entry.from.understood && (entry.deletes || entry.to.understood);
    return entry;
}

std::wstring NameOf(const std::wstring& path) { return path.substr(runtime::FolderPrefix(path).size()); }

// One of the updater's own copies, made beside the file it was to replace.
// The name first: most entries are other programs', told apart by text alone.
bool OwnCopyBeside(const std::wstring& source, const std::wstring& destination) {
    if (runtime::LCase(NameOf(source)).compare(0, 3, kOwnPrefix) != 0) return false;
    return runtime::FolderPrefix(runtime::ComparablePath(source)) ==
           runtime::FolderPrefix(runtime::ComparablePath(destination));
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

// A short (8.3) name: "~" and a digit.
bool ShortName(const std::wstring& name) {
    for (std::size_t at = name.find(L'~'); at != std::wstring::npos; at = name.find(L'~', at + 1)) {
        if (at + 1 < name.size() && name[at + 1] >= L'0' && name[at + 1] <= L'9') return true;
    }
    return false;
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

// Tells which of the destinations a queued path names. A rename replaces a
// name, not a file (our lexicon may not exist yet; a hard link to the engine
// is not its name): the same folder, known by its identity, and the same
// name. Text first: the file system is asked only about a path whose last
// part is one of the names or a short name, and about a folder only once
// its name is one of ours; the destinations' folders once.
class OurNames {
public:
    explicit OurNames(const std::vector<std::wstring>& destinations) {
        for (const std::wstring& destination : destinations) {
            const std::wstring folder = runtime::FolderPrefix(destination);
            names_.push_back({runtime::LCase(NameOf(LongPath(destination))), folder, IdentityOf(folder)});
        }
    }

    std::optional<std::size_t> Find(const std::wstring& path) const {
        const std::wstring name = runtime::LCase(NameOf(path));
        const auto named = [&](const Name& ours) { return ours.name == name; };
        if (!ShortName(name) && std::ranges::none_of(names_, named)) return std::nullopt;
        if (OnAnotherComputer(path)) return std::nullopt;
        const std::wstring longName = runtime::LCase(NameOf(LongPath(path)));
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i].name == longName && SameFolder(runtime::FolderPrefix(path), names_[i])) return i;
        }
        return std::nullopt;
    }

private:
    struct Name {
        std::wstring name;  // long, lower case
        std::wstring folder;
        std::optional<FolderIdentity> identity;
    };

    // With its backslash, a drive's root stays the root, not that drive's current folder.
    static bool SameFolder(const std::wstring& theirs, const Name& mine) {
        const std::optional<FolderIdentity> identity = IdentityOf(theirs);
        if (identity && mine.identity) return *identity == *mine.identity;
        // A folder that cannot be opened (delete-pending, denied) is known by its text.
        return runtime::ComparablePath(LongPath(theirs)) == runtime::ComparablePath(LongPath(mine.folder));
    }

    std::vector<Name> names_;
};

struct Queue {
    Value values[2] = {ReadValue(kValues[0]), ReadValue(kValues[1])};
};

void Did(WorkAtRestart& work, WorkAtRestart::Last last, const std::wstring& source, bool ours, bool certain,
         std::size_t order) {
    work.last = last;
    work.source = source;
    work.ours = ours;
    work.certain = certain;
    work.order = order;
}

PlayedQueue Play(const Queue& queue, const std::vector<std::wstring>& destinations) {
    PlayedQueue played{std::vector<WorkAtRestart>(destinations.size()), {}};
    std::vector<bool> present(destinations.size());
    for (std::size_t i = 0; i < destinations.size(); ++i) {
        present[i] = GetFileAttributesW(destinations[i].c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    const OurNames ours(destinations);
    std::size_t order = 0;
    for (const Value& value : queue.values) {
        for (std::size_t i = 0; i + 1 < value.strings.size(); i += 2, ++order) {
            const Entry entry = ReadEntry(value, i);
            if (!entry.understood) {
                if (!entry.from.understood) played.notUnderstood.push_back(std::wstring(value.String(i)));
                if (!entry.deletes && !entry.to.understood) {
                    played.notUnderstood.push_back(std::wstring(value.String(i + 1)));
                }
                continue;
            }
            // From one of the names: a delete, or a move elsewhere, frees it.
            if (const std::optional<std::size_t> from = ours.Find(entry.from.path)) {
                WorkAtRestart& work = played.names[*from];
                Did(work, entry.deletes ? WorkAtRestart::Last::kDeleted : WorkAtRestart::Last::kMovedAway, L"", false,
                    entry.from.certain, order);
                work.others.push_back(entry.deletes ? L"borrar " + entry.from.path
                                                    : entry.from.path + L" a " + entry.to.path);
                present[*from] = false;
            }
            if (entry.deletes) continue;
            const std::optional<std::size_t> onto = ours.Find(entry.to.path);
            if (!onto) continue;
            WorkAtRestart& work = played.names[*onto];
            const bool own = OwnCopyBeside(entry.from.path, destinations[*onto]);
            if (!own) work.others.push_back(entry.from.path + L" sobre " + entry.to.path);
            // Without "!", a rename onto a name that holds a file fails.
            if (!entry.to.replace && present[*onto]) continue;
            Did(work, WorkAtRestart::Last::kRenamedOnto, entry.from.path, own, entry.from.certain && entry.to.certain,
                order);
            present[*onto] = true;
        }
    }
    return played;
}

// Takes out of both values each rename onto one of destinations from a copy
// of ours that is among listed, or, when listedGo is false, is not, and
// deletes the copy. A whole value loses those pairs' bytes and nothing else,
// written only while it holds the bytes it was read with; any other is left
// as it is, but our copies named in it are deleted all the same, so that
// their renames fail.
void TakeOut(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& listed, bool listedGo) {
    const std::vector<std::wstring> wanted = Comparable(destinations);
    const std::vector<std::wstring> list = Comparable(listed);
    const auto ours = [&](const QueuedPath& copy) {
        return copy.understood &&
               std::ranges::any_of(destinations, [&](const std::wstring& to) { return OwnCopyBeside(copy.path, to); }) &&
               Contains(list, copy.path) == listedGo;
    };
    for (const wchar_t* name : kValues) {
        std::vector<std::wstring> copies;
        for (int attempt = 1;; ++attempt) {
            const Value value = ReadValue(name);
            copies.clear();
            if (!value.flaw.empty()) {
                host::Log({L"O valor ", name, L" ", value.flaw, L": queda como est\u00E1"});
                for (std::size_t i = 0; i < value.strings.size(); ++i) {
                    const QueuedPath copy = ReadPath(value.String(i));
                    if (ours(copy)) copies.push_back(copy.path);
                }
                break;
            }
            std::wstring kept;
            std::size_t from = 0;  // what is kept after the last pair cut
            std::vector<std::wstring> removed;
            for (std::size_t i = 0; i + 1 < value.strings.size(); i += 2) {
                const Entry entry = ReadEntry(value, i);
                if (entry.deletes || !ours(entry.from) || !entry.to.understood || !Contains(wanted, entry.to.path)) {
                    continue;
                }
                kept.append(value.text, from, value.strings[i].begin - from);
                from = value.strings[i + 1].end;
                copies.push_back(entry.from.path);
                removed.push_back(entry.from.path + L" sobre " + entry.to.path);
            }
            if (copies.empty()) break;
            kept.append(value.text, from);
            QueueCallsInUse().beforeWrite(name);
            // Windows has no compare-and-set for a value: read it again just
            // before writing, so that what another program appended since is
            // not written away.
            const Value now = ReadValue(name);
            if (now.present != value.present || now.text != value.text) {
                if (attempt < kWriteTries) continue;
                host::Log({L"O valor ", name,
                           L" c\u00E1mbiao outro programa mentres se quitaban os nosos: queda como est\u00E1"});
                break;
            }
            if (!WriteValue(name, kept)) {
                host::LogSystemError(L"Quitar da cola do reinicio", GetLastError(), name);
                break;
            }
            for (const std::wstring& line : removed) host::Log({L"Quitado da cola do reinicio: ", line});
            break;
        }
        for (const std::wstring& copy : copies) {
            if (DeleteFileW(copy.c_str())) host::Log({L"Borrado ", copy});
        }
    }
}

// Whether both values are whole and the restart leaves each copy last on its
// destination, the first before the second.
bool QueuedLast(const std::vector<std::wstring>& copies, const std::vector<std::wstring>& destinations) {
    const Queue queue;
    if (!queue.values[0].flaw.empty() || !queue.values[1].flaw.empty()) return false;
    const PlayedQueue played = Play(queue, destinations);
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const WorkAtRestart& work = played.names[i];
        if (work.last != WorkAtRestart::Last::kRenamedOnto || !work.ours || !SamePath(work.source, copies[i])) {
            return false;
        }
        if (i > 0 && work.order <= played.names[i - 1].order) return false;
    }
    return true;
}

// The first junction or symbolic link on the way to path, its root aside.
std::optional<std::wstring> LinkOnTheWay(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        const std::wstring part = path.substr(0, at);
        const DWORD attributes = GetFileAttributesW(part.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return part;
        if (at == std::wstring::npos) return std::nullopt;
    }
}

}  // namespace

std::vector<std::wstring> QueuedRenames() {
    const Value value = ReadValue(kValues[0]);
    std::vector<std::wstring> strings;
    for (std::size_t i = 0; i < value.strings.size(); ++i) strings.emplace_back(value.String(i));
    // The empty string that closes a whole value is no entry.
    if (value.present && value.flaw.empty()) strings.pop_back();
    return strings;
}

PlayedQueue PlayQueue(const std::vector<std::wstring>& destinations) { return Play(Queue(), destinations); }

bool QueueRenames(const std::vector<std::wstring>& copies, const std::vector<std::wstring>& destinations) {
    // Which value MoveFileEx appends to is Windows' own choice: both must be certain.
    const Queue queue;
    for (std::size_t i = 0; i < std::size(kValues); ++i) {
        if (queue.values[i].flaw.empty()) continue;
        host::Log({L"O valor ", kValues[i], L" ", queue.values[i].flaw, L": non se pon nada na cola do reinicio"});
        return false;
    }
    // The copies are made beside the pair: the pair's paths are theirs too.
    std::optional<std::wstring> logged;
    for (const std::wstring& destination : destinations) {
        const std::optional<std::wstring> link = LinkOnTheWay(destination);
        if (!link || link == logged) continue;
        logged = link;
        host::Log({L"Hai unha uni\u00F3n ou ligaz\u00F3n simb\u00F3lica en ", *link,
                   L": o Windows de hoxe pode non facer por ela os cambios do reinicio (v\u00E9xase "
                   L"%SystemRoot%\\PFRO.log)"});
    }
    const auto takeOursOut = [&] { TakeOut(destinations, copies, true); };
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (!QueueCallsInUse().queue(copies[i], destinations[i])) {
            host::LogSystemError(L"P\u00F3r na cola do reinicio " + copies[i] + L" sobre", GetLastError(),
                                 destinations[i]);
            takeOursOut();
            return false;
        }
        host::Log({L"Na cola do reinicio: ", copies[i], L" sobre ", destinations[i]});
    }
    if (!QueuedLast(copies, destinations)) {
        host::Log(L"A cola do reinicio non ten os ficheiros novos enteiros, en orde e despois do dos outros "
                  L"programas: qu\u00EDtanse de novo");
        takeOursOut();
        return false;
    }
    return true;
}

void Unqueue(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& kept) {
    TakeOut(destinations, kept, false);
}


}  // namespace update
