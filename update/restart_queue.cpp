#include "update/restart_queue.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

#include "host/log.h"
#include "runtime/handles.h"

namespace update {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// The restart carries out the first, then the second; where the second
// exists, MoveFileEx appends to it.
constexpr const wchar_t* kValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
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
    // No bytes at all is an empty queue.
    if (bytes == 0) return std::wstring();
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

struct Queue {
    Value values[2] = {ReadValue(kValues[0]), ReadValue(kValues[1])};
};

PlayedQueue PlayValues(const Queue& queue, const std::vector<std::wstring>& destinations) {
    std::vector<std::wstring_view> strings[std::size(kValues)];
    for (std::size_t value = 0; value < std::size(kValues); ++value) {
        for (std::size_t i = 0; i < queue.values[value].strings.size(); ++i) {
            strings[value].push_back(queue.values[value].String(i));
        }
    }
    return Play(strings, destinations, WindowsView());
}

// Takes out of both values each rename onto one of destinations from a copy
// of ours that is among listed, or, when listedGo is false, is not, and
// deletes the copy. A whole value loses those pairs' bytes and nothing else,
// written only while it holds the bytes it was read with; any other is left
// as it is, but our copies named in it are deleted all the same, so that
// their renames fail.
void TakeOut(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& listed, bool listedGo) {
    FileSystemView& view = WindowsView();
    NameTable names(destinations, view);
    // Known by identity: Windows may store a path other than the one passed.
    std::vector<FileIdentity> list;
    for (const std::wstring& copy : listed) {
        if (const std::optional<FileIdentity> identity = view.Identity(NtPath(copy))) list.push_back(*identity);
    }
    const auto ours = [&](const QueuedPath& copy) {
        if (!copy.understood || !names.OwnCopy(copy.path)) return false;
        const std::optional<FileIdentity> identity = view.Identity(std::wstring(copy.path));
        return (identity && std::ranges::find(list, *identity) != list.end()) == listedGo;
    };
    const auto onOurs = [&](const QueuedPath& destination) {
        const std::optional<NameTable::Found> found = destination.understood ? names.Find(destination.path) : std::nullopt;
        return found && !found->stream && found->index < destinations.size();
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
                    if (ours(copy)) copies.push_back(Win32Path(copy.path));
                }
                break;
            }
            std::wstring kept;
            std::size_t from = 0;  // what is kept after the last pair cut
            std::vector<std::wstring> removed;
            for (std::size_t i = 0; i + 1 < value.strings.size(); i += 2) {
                const QueuedPath copy = ReadPath(value.String(i));
                const QueuedPath onto = ReadPath(value.String(i + 1));
                if (NamesNothing(value.String(i + 1)) || !ours(copy) || !onOurs(onto)) continue;
                kept.append(value.text, from, value.strings[i].begin - from);
                from = value.strings[i + 1].end;
                copies.push_back(Win32Path(copy.path));
                removed.push_back(copies.back() + L" sobre " + Win32Path(onto.path));
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

// Whether both values are whole and the restart leaves each copy, known by
// its identity, on its destination, the first before the second.
bool QueuedLast(const std::vector<std::wstring>& copies, const std::vector<std::wstring>& destinations) {
    const Queue queue;
    if (!queue.values[0].flaw.empty() || !queue.values[1].flaw.empty()) return false;
    const PlayedQueue played = PlayValues(queue, destinations);
    if (!OurCopiesInOrder(played)) return false;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const std::optional<FileIdentity> identity = WindowsView().Identity(played.names[i].file);
        if (!identity || identity != WindowsView().Identity(NtPath(copies[i]))) return false;
    }
    if (std::ranges::any_of(played.names, &AfterRestart::unconfirmed)) LogUnconfirmed();
    return true;
}

}  // namespace

std::vector<std::wstring> QueuedRenames() {
    const Value value = ReadValue(kValues[0]);
    std::vector<std::wstring> strings;
    for (std::size_t i = 0; i < value.strings.size(); ++i) strings.emplace_back(value.String(i));
    // The empty string that closes a whole value is no entry.
    if (value.present && value.flaw.empty() && !strings.empty()) strings.pop_back();
    return strings;
}

PlayedQueue PlayQueue(const std::vector<std::wstring>& destinations) { return PlayValues(Queue(), destinations); }

void LogUnconfirmed() {
    host::Log(L"Windows gardou os nosos na cola do reinicio co cami\u00F1o tal como se lle pasou (*2): non confirma "
              L"que os faga ao reiniciar");
}

bool QueueRenames(const std::vector<std::wstring>& copies, const std::vector<std::wstring>& destinations) {
    // Which value MoveFileEx appends to is Windows' own choice: both must be certain.
    const Queue queue;
    for (std::size_t i = 0; i < std::size(kValues); ++i) {
        if (queue.values[i].flaw.empty()) continue;
        host::Log({L"O valor ", kValues[i], L" ", queue.values[i].flaw, L": non se pon nada na cola do reinicio"});
        return false;
    }
    // How MoveFileEx appends to a value of no bytes is not documented (Wine's
    // loses the first character): an empty queue goes before ours come.
    for (std::size_t i = 0; i < std::size(kValues); ++i) {
        if (queue.values[i].present && queue.values[i].text.empty()) WriteValue(kValues[i], std::wstring());
    }
    // The copies are made beside the pair: the pair's paths are theirs too.
    std::optional<std::wstring> logged;
    for (const std::wstring& destination : destinations) {
        const std::optional<std::wstring> link = ReparsePointOnTheWay(WindowsView(), NtPath(destination));
        if (!link || link == logged) continue;
        logged = link;
        host::Log({L"Hai unha uni\u00F3n ou ligaz\u00F3n simb\u00F3lica en ", Win32Path(*link),
                   L": o cambio do reinicio depende de que este cami\u00F1o leve daquela ao mesmo sitio (v\u00E9xase "
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
