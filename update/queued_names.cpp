#include "update/queued_names.h"

#include <algorithm>

#include "runtime/handles.h"
#include "runtime/paths.h"

namespace update {

namespace {

constexpr wchar_t kNtPrefix[] = L"\\\\?\\";
constexpr std::wstring_view kDefaultStream = L"::$DATA";

// Case folded as NTFS folds a name: each character to its upper case, with
// no language's rules.
void FoldInto(std::wstring_view text, std::wstring& folded) {
    folded.assign(text);
    bool ascii = true;
    for (wchar_t& c : folded) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - (L'a' - L'A'));
        ascii = ascii && c < 0x80;
    }
    // Most names are ASCII, and a queue may hold 200,000 of them.
    if (!ascii) {
        const int length = static_cast<int>(folded.size());
        LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), length, folded.data(), length);
    }
}

std::wstring Folded(std::wstring_view text) {
    std::wstring folded;
    FoldInto(text, folded);
    return folded;
}

// Where a path's last part starts: its folder is the text before, with the backslash.
std::size_t LastPartAt(std::wstring_view path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring_view::npos ? 0 : slash + 1;
}

// A short (8.3) name as Windows makes one: "~" and a digit.
bool ShortForm(std::wstring_view name) {
    for (std::size_t at = name.find(L'~'); at != std::wstring_view::npos; at = name.find(L'~', at + 1)) {
        if (at + 1 < name.size() && name[at + 1] >= L'0' && name[at + 1] <= L'9') return true;
    }
    return false;
}

bool OnADrive(std::wstring_view path) {
    return path.size() >= 3 && path[1] == L':' && path[2] == L'\\' && ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z');
}

// A part that Win32 reads as another name: ".", "..", or one ending in a dot or a space.
bool ReadAsAnother(std::wstring_view path) {
    for (std::size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
        const std::wstring_view part = path.substr(0, end);
        if (part.ends_with(L'.') || part.ends_with(L' ')) return true;
        if (end == std::wstring_view::npos) return false;
    }
}

class Windows final : public FileSystemView {
public:
    std::optional<FileIdentity> Identity(const std::wstring& path) override {
        // No access asked: only its identity is read, which a folder one may
        // not list still gives.
        const runtime::FileHandle handle(CreateFileW((kNtPrefix + path).c_str(), 0,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION information;
        if (!handle || !GetFileInformationByHandle(handle.Get(), &information)) return std::nullopt;
        return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    }
    Presence Exists(const std::wstring& path) override {
        if (GetFileAttributesW((kNtPrefix + path).c_str()) != INVALID_FILE_ATTRIBUTES) return Presence::kFound;
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Presence::kNotFound
                                                                              : Presence::kUnknown;
    }
    std::wstring LongName(const std::wstring& path) override {
        const std::wstring asked = kNtPrefix + path;
        wchar_t buffer[MAX_PATH];
        const DWORD length = GetLongPathNameW(asked.c_str(), buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return std::wstring();
        const std::wstring_view found(buffer, length);
        return std::wstring(found.substr(LastPartAt(found)));
    }
    bool RemoteDrive(const std::wstring& drive) override {
        const UINT type = GetDriveTypeW((drive + L"\\").c_str());
        if (type == DRIVE_REMOTE || type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) return true;
        // A subst drive is a folder's other name, gone at the restart.
        wchar_t target[MAX_PATH];
        return QueryDosDeviceW(drive.c_str(), target, MAX_PATH) != 0 && std::wstring_view(target).starts_with(L"\\??\\");
    }
    bool ReparsePoint(const std::wstring& path) override {
        const DWORD attributes = GetFileAttributesW((kNtPrefix + path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    std::optional<std::uint64_t> Fingerprint(const std::wstring& path) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW((kNtPrefix + path).c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return std::nullopt;
        }
        return (std::uint64_t{data.ftCreationTime.dwHighDateTime} << 32) | data.ftCreationTime.dwLowDateTime;
    }
};

}  // namespace

FileSystemView& WindowsView() {
    static Windows view;
    return view;
}

std::optional<std::wstring> ReparsePointOnTheWay(FileSystemView& view, const std::wstring& path) {
    for (std::size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
        std::wstring part = path.substr(0, end);
        if (view.ReparsePoint(part)) return part;
        if (end == std::wstring::npos) return std::nullopt;
    }
}

bool OwnCopyName(std::wstring_view name) {
    if (name.size() < 8 || name.size() > 11 || Folded(name.substr(0, 3)) != L"QND" ||
        Folded(name.substr(name.size() - 4)) != L".TMP") {
        return false;
    }
    return std::ranges::all_of(name.substr(3, name.size() - 7), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || ((c | 0x20) >= L'a' && (c | 0x20) <= L'f');
    });
}

QueuedPath ReadPath(std::wstring_view text) {
    QueuedPath queued;
    if (text.size() >= 2 && text[0] == L'*') {
        queued.mark = text[1];
        text.remove_prefix(2);
    }
    queued.replace = text.starts_with(L'!') || text.starts_with(L'@');
    if (queued.replace) text.remove_prefix(1);
    queued.ntPrefix = text.starts_with(kNtPrefix);
    if (!queued.ntPrefix && !text.starts_with(L"\\??\\")) return queued;
    queued.path = text.substr(4);
    queued.understood = !queued.path.empty();
    return queued;
}

bool NamesNothing(std::wstring_view text) { return text.empty() || (text.size() == 2 && text[0] == L'*'); }

std::wstring NtPath(const std::wstring& win32) {
    const std::wstring full = runtime::FullPath(win32);
    if (full.starts_with(kNtPrefix)) return full.substr(4);
    if (full.starts_with(L"\\\\")) return L"UNC" + full.substr(1);
    return full;
}

std::wstring Win32Path(std::wstring_view nt) {
    return OnADrive(nt) ? std::wstring(nt) : kNtPrefix + std::wstring(nt);
}

NameTable::NameTable(const std::vector<std::wstring>& destinations, FileSystemView& view) : view_(view) {
    for (const std::wstring& destination : destinations) Collect(NtPath(destination));
    if (names_.empty()) return;
    // Each folder on the way, its long last part beside the one written.
    const std::wstring& path = names_.front().path;
    for (std::size_t end = path.find(L'\\', 3); end != std::wstring::npos; end = path.find(L'\\', end + 1)) {
        const std::wstring folder = path.substr(0, end);
        const std::size_t at = LastPartAt(folder);
        above_.push_back({folder, Folded(folder.substr(0, at)), Folded(folder.substr(at))});
        above_.push_back({folder, above_.back().folder, Folded(view_.LongName(folder))});
    }
}

bool NameTable::Remote(std::wstring_view path) {
    if (!OnADrive(path)) return true;
    signed char& known = remoteDrives_[static_cast<std::size_t>((path[0] | 0x20) - L'a')];
    if (known == 0) known = view_.RemoteDrive(std::wstring(path.substr(0, 2))) ? 1 : -1;
    return known > 0;
}

// folder: a folder's text with its closing backslash; folded: the same, folded.
NameTable::Folder& NameTable::FolderAt(std::wstring_view folder, const std::wstring& folded) {
    // The same folder is asked about again and again while one name is compared.
    if (lastFolder_ != nullptr && lastFolder_->folded == folded) return *lastFolder_;
    const auto [at, added] = folders_.try_emplace(folded);
    if (added) {
        at->second.folded = folded;
        // A drive's root keeps its backslash: without it, it names the volume.
        at->second.path = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
        at->second.remote = Remote(folder);
    }
    lastFolder_ = &at->second;
    return at->second;
}

const std::optional<FileIdentity>& NameTable::IdentityOf(Folder& folder) {
    if (!folder.identified && !folder.remote) folder.identity = view_.Identity(folder.path);
    folder.identified = true;
    return folder.identity;
}

bool NameTable::SameFolder(std::wstring_view a, const std::wstring& aFolded, std::wstring_view b,
                           const std::wstring& bFolded) {
    if (aFolded == bFolded) return true;
    Folder& first = FolderAt(a, aFolded);
    Folder& second = FolderAt(b, bFolded);
    // Its creation time first, which costs far less to read than its identity.
    for (Folder* folder : {&first, &second}) {
        if (!folder->fingerprinted && !folder->remote) folder->fingerprint = view_.Fingerprint(folder->path);
        folder->fingerprinted = true;
    }
    if (first.fingerprint && second.fingerprint && first.fingerprint != second.fingerprint) return false;
    const std::optional<FileIdentity>& identity = IdentityOf(first);
    return identity && identity == IdentityOf(second);
}

bool NameTable::SameFolder(const std::wstring& folded, std::wstring_view folder, const Name& name) {
    return SameFolder(folder, folded, std::wstring_view(name.path).substr(0, LastPartAt(name.path)), name.folder);
}

bool NameTable::InOurFolder(std::wstring_view folder) {
    return !names_.empty() && SameFolder(Folded(folder), folder, names_.front());
}

std::optional<NameTable::Found> NameTable::Find(std::wstring_view path) {
    const std::size_t at = LastPartAt(path);
    const std::wstring_view folder = path.substr(0, at);
    // Folded into buffers of the table's: most names are only folded and compared.
    std::wstring& last = lastScratch_;
    FoldInto(path.substr(at), last);
    const bool stream = last.ends_with(kDefaultStream);
    if (stream) last.resize(last.size() - kDefaultStream.size());
    auto named = byLast_.find(last);
    const bool shortForm = !stream && ShortForm(last);
    if (named == byLast_.end() && !shortForm) return std::nullopt;
    std::wstring& folded = folderScratch_;
    FoldInto(folder, folded);
    if (named == byLast_.end()) {
        // Made long only in a folder of the names'.
        if (std::ranges::none_of(names_, [&](const Name& name) { return SameFolder(folded, folder, name); })) {
            return std::nullopt;
        }
        named = byLast_.find(Folded(view_.LongName(std::wstring(path))));
        if (named == byLast_.end()) return std::nullopt;
    }
    for (const std::size_t index : named->second) {
        if (SameFolder(folded, folder, names_[index])) return Found{index, stream};
    }
    return std::nullopt;
}

NameTable::Found NameTable::Collect(std::wstring_view path) {
    if (const std::optional<Found> found = Find(path)) return *found;
    const std::size_t at = LastPartAt(path);
    std::wstring last = Folded(path.substr(at));
    if (ShortForm(last) && !Remote(path)) {
        const std::wstring longName = Folded(view_.LongName(std::wstring(path)));
        if (!longName.empty()) last = longName;
    }
    names_.push_back({std::wstring(path), Folded(path.substr(0, at)), last});
    byLast_[last].push_back(names_.size() - 1);
    return Found{names_.size() - 1, false};
}

bool NameTable::OwnCopy(std::size_t index) {
    const std::wstring& path = names_[index].path;
    return OwnCopyName(names_[index].last) && InOurFolder(std::wstring_view(path).substr(0, LastPartAt(path)));
}

bool NameTable::OwnCopy(std::wstring_view path) {
    const std::size_t at = LastPartAt(path);
    return OwnCopyName(path.substr(at)) && InOurFolder(path.substr(0, at));
}

Presence NameTable::PresenceOf(std::size_t index) {
    const std::wstring& path = names_[index].path;
    if (!InOurFolder(std::wstring_view(path).substr(0, LastPartAt(path)))) {
        if (Remote(path) || ReadAsAnother(path) || ReparsePointOnTheWay(view_, path)) return Presence::kUnknown;
    }
    return view_.Exists(path);
}

bool NameTable::AboveOurFolder(std::wstring_view path) {
    const std::size_t at = LastPartAt(path);
    const std::wstring last = Folded(path.substr(at));
    const bool shortForm = ShortForm(last);
    std::wstring parent;  // folded, once a folder's last part is like it
    for (const Name& folder : above_) {
        if (last != folder.last && !shortForm) continue;
        if (parent.empty()) parent = Folded(path.substr(0, at));
        if (!SameFolder(parent, path.substr(0, at), folder)) continue;
        if (last == folder.last) return true;
        // A short name in the folder that holds one of them.
        const std::wstring asFolder = std::wstring(path) + L"\\";
        const std::wstring ancestor = folder.path + L"\\";
        if (SameFolder(asFolder, Folded(asFolder), ancestor, Folded(ancestor))) return true;
    }
    return false;
}

}  // namespace update
