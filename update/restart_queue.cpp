#include "update/restart_queue.h"

#include <windows.h>

#include <algorithm>

#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/paths.h"

namespace runtime {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
// What the updater names its copies beside the files it replaces.
constexpr wchar_t kOwnPrefix[] = L"qnd";

// A queued path as a file path: "!\??\C:\x" and "\??\C:\x" are C:\x.
std::wstring PlainPath(std::wstring path) {
    if (path.starts_with(L"!")) path.erase(0, 1);
    if (path.starts_with(L"\\??\\")) path.erase(0, 4);
    return path;
}

// One of the updater's own copies, made beside the file it was to replace.
bool OwnCopyBeside(const std::wstring& source, const std::wstring& destination) {
    const std::wstring from = ComparablePath(source);
    return FolderPrefix(from) == FolderPrefix(ComparablePath(destination)) &&
           from.compare(FolderPrefix(from).size(), 3, kOwnPrefix) == 0;
}

}  // namespace

std::vector<std::wstring> QueuedRenames() {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return {};
    const RegistryKey key(opened);
    DWORD type = 0;
    DWORD bytes = 0;
    std::vector<wchar_t> data;
    LONG result = RegQueryValueExW(key.Get(), kPendingRenames, nullptr, &type, nullptr, &bytes);
    // Another installer may add to it between the calls.
    for (int attempt = 0; result == ERROR_SUCCESS && attempt < 5; ++attempt) {
        data.resize(bytes / sizeof(wchar_t) + 1);
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        result = RegQueryValueExW(key.Get(), kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                                  &bytes);
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

bool SetQueuedRenames(const std::vector<std::wstring>& strings) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &opened);
    if (result == ERROR_SUCCESS) {
        const RegistryKey key(opened);
        std::wstring data;
        for (const std::wstring& text : strings) data += text + L'\0';
        data += L'\0';
        result = strings.empty() ? RegDeleteValueW(key.Get(), kPendingRenames)
                                 : RegSetValueExW(key.Get(), kPendingRenames, 0, REG_MULTI_SZ,
                                                  reinterpret_cast<const BYTE*>(data.data()),
                                                  static_cast<DWORD>(data.size() * sizeof(wchar_t)));
    }
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

std::optional<std::wstring> QueuedSource(const std::wstring& destination) {
    const std::vector<std::wstring> strings = QueuedRenames();
    const std::wstring wanted = ComparablePath(destination);
    std::optional<std::wstring> source;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (!strings[i + 1].empty() && ComparablePath(PlainPath(strings[i + 1])) == wanted) source = PlainPath(strings[i]);
    }
    return source;
}

bool QueueRename(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != 0;
}

void Unqueue(const std::vector<std::wstring>& destinations) {
    const std::vector<std::wstring> strings = QueuedRenames();
    std::vector<std::wstring> wanted;
    for (const std::wstring& destination : destinations) wanted.push_back(ComparablePath(destination));
    std::vector<std::wstring> kept;
    std::vector<std::pair<std::wstring, std::wstring>> removed;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        const std::wstring to = PlainPath(strings[i + 1]);
        if (!strings[i + 1].empty() && std::ranges::find(wanted, ComparablePath(to)) != wanted.end()) {
            removed.emplace_back(PlainPath(strings[i]), to);
        } else {
            kept.push_back(strings[i]);
            kept.push_back(strings[i + 1]);
        }
    }
    if (removed.empty()) return;

    if (!SetQueuedRenames(kept)) {
        LogSystemError(L"Quitar da cola do reinicio", GetLastError(), kPendingRenames);
        return;
    }
    for (const auto& [from, to] : removed) {
        Log(L"Quitado da cola do reinicio: " + from + L" sobre " + to);
        if (OwnCopyBeside(from, to) && DeleteFileW(from.c_str())) Log(L"Borrado " + from);
    }
}

}  // namespace runtime
