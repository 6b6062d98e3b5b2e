#include "update/restart_queue.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string_view>

#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/paths.h"

namespace update {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
// Read after the first; written only by Windows itself, if ever.
constexpr wchar_t kPendingRenames2[] = L"PendingFileRenameOperations2";
// What the updater names its copies beside the files it replaces.
constexpr wchar_t kOwnPrefix[] = L"qnd";
constexpr wchar_t kNtPrefix[] = L"\\??\\";

// A queued path as a file path: "!\??\C:\x" and "\??\C:\x" are C:\x; empty
// for a path of any other form, which the program does not understand.
std::wstring PlainPath(std::wstring_view path) {
    if (path.starts_with(L"!")) path.remove_prefix(1);
    if (!path.starts_with(kNtPrefix) || path.size() == 4) return std::wstring();
    return std::wstring(path.substr(4));
}

// One of the updater's own copies, made beside the file it was to replace.
bool OwnCopyBeside(const std::wstring& source, const std::wstring& destination) {
    const std::wstring from = runtime::ComparablePath(source);
    return runtime::FolderPrefix(from) == runtime::FolderPrefix(runtime::ComparablePath(destination)) &&
           from.compare(runtime::FolderPrefix(from).size(), 3, kOwnPrefix) == 0;
}

std::vector<std::wstring> ReadValue(const wchar_t* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return {};
    const runtime::RegistryKey key(opened);
    DWORD type = 0;
    DWORD bytes = 0;
    std::vector<wchar_t> data;
    LONG result = RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &bytes);
    // Another installer may add to it between the calls.
    for (int attempt = 0; result == ERROR_SUCCESS && attempt < 5; ++attempt) {
        data.resize(bytes / sizeof(wchar_t) + 1);
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        result = RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
        if (result == ERROR_SUCCESS) {
            data.resize(bytes / sizeof(wchar_t));
            break;
        }
        if (result == ERROR_MORE_DATA) result = ERROR_SUCCESS;
    }
    std::vector<std::wstring> strings;
    if (result != ERROR_SUCCESS || type != REG_MULTI_SZ) return strings;
    // Every string keeps its place, empty ones (a deletion's destination) too.
    std::size_t start = 0;
    for (std::size_t at = 0; at < data.size(); ++at) {
        if (data[at] != L'\0') continue;
        strings.emplace_back(data.data() + start, at - start);
        start = at + 1;
    }
    if (start < data.size()) strings.emplace_back(data.data() + start, data.size() - start);
    // The empty string that ends the list is no entry.
    if (strings.size() % 2 != 0 && strings.back().empty()) strings.pop_back();
    return strings;
}

bool WriteValue(const wchar_t* name, const std::vector<std::wstring>& strings) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &opened);
    if (result == ERROR_SUCCESS) {
        const runtime::RegistryKey key(opened);
        std::wstring data;
        for (const std::wstring& text : strings) data += text + L'\0';
        data += L'\0';
        result = strings.empty() ? RegDeleteValueW(key.Get(), name)
                                 : RegSetValueExW(key.Get(), name, 0, REG_MULTI_SZ,
                                                  reinterpret_cast<const BYTE*>(data.data()),
                                                  static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

// Takes out of both values every entry that taken says is the updater's to
// take, its source and destination given as file paths; every other string
// stays exactly as it was, an odd one at the end too. The copies are deleted.
void TakeOut(const std::function<bool(const std::wstring& from, const std::wstring& to)>& taken) {
    for (const wchar_t* name : {kPendingRenames, kPendingRenames2}) {
        const std::vector<std::wstring> strings = ReadValue(name);
        std::vector<std::wstring> kept;
        std::vector<std::pair<std::wstring, std::wstring>> removed;
        std::size_t i = 0;
        for (; i + 1 < strings.size(); i += 2) {
            const std::wstring from = PlainPath(strings[i]);
            const std::wstring to = PlainPath(strings[i + 1]);
            if (!from.empty() && !to.empty() && taken(from, to)) {
                removed.emplace_back(from, to);
            } else {
                kept.push_back(strings[i]);
                kept.push_back(strings[i + 1]);
            }
        }
        kept.insert(kept.end(), strings.begin() + static_cast<std::ptrdiff_t>(i), strings.end());
        if (removed.empty()) continue;
        if (!WriteValue(name, kept)) {
            host::LogSystemError(L"Quitar da cola do reinicio", GetLastError(), name);
            continue;
        }
        for (const auto& [from, to] : removed) {
            host::Log(L"Quitado da cola do reinicio: " + from + L" sobre " + to);
            if (DeleteFileW(from.c_str())) host::Log(L"Borrado " + from);
        }
    }
}

bool Contains(const std::vector<std::wstring>& comparablePaths, const std::wstring& path) {
    return std::ranges::find(comparablePaths, runtime::ComparablePath(path)) != comparablePaths.end();
}

std::vector<std::wstring> Comparable(const std::vector<std::wstring>& paths) {
    std::vector<std::wstring> comparable;
    for (const std::wstring& path : paths) comparable.push_back(runtime::ComparablePath(path));
    return comparable;
}

}  // namespace

std::vector<std::wstring> QueuedRenames() { return ReadValue(kPendingRenames); }

bool SetQueuedRenames(const std::vector<std::wstring>& strings) { return WriteValue(kPendingRenames, strings); }

std::vector<QueuedRename> RenamesOnto(const std::wstring& destination) {
    const std::wstring wanted = runtime::ComparablePath(destination);
    std::vector<QueuedRename> renames;
    for (const wchar_t* name : {kPendingRenames, kPendingRenames2}) {
        const std::vector<std::wstring> strings = ReadValue(name);
        for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
            const std::wstring from = PlainPath(strings[i]);
            const std::wstring to = PlainPath(strings[i + 1]);
            if (from.empty() || to.empty() || runtime::ComparablePath(to) != wanted) continue;
            renames.push_back({from, OwnCopyBeside(from, to)});
        }
    }
    return renames;
}

bool QueueRename(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != 0;
}

void Unqueue(const std::vector<std::wstring>& destinations, const std::vector<std::wstring>& kept) {
    const std::vector<std::wstring> wanted = Comparable(destinations);
    const std::vector<std::wstring> keep = Comparable(kept);
    TakeOut([&](const std::wstring& from, const std::wstring& to) {
        return Contains(wanted, to) && OwnCopyBeside(from, to) && !Contains(keep, from);
    });
}

void UnqueueCopies(const std::vector<std::wstring>& copies) {
    const std::vector<std::wstring> wanted = Comparable(copies);
    TakeOut([&](const std::wstring& from, const std::wstring& to) {
        return Contains(wanted, from) && OwnCopyBeside(from, to);
    });
}

}  // namespace update
