#include "update/integrity.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "host/log.h"
#include "host/system_dlls.h"
#include "runtime/handles.h"
#include "runtime/paths.h"
#include "runtime/strings.h"

namespace update {

namespace {

[[noreturn]] void RaiseDamaged(std::wstring_view fault, const std::wstring& file) {
    host::Log({L"Ficheiro novo danado ou non v\u00E1lido (", fault, L"): ", file});
    throw DamagedFiles();
}

[[noreturn]] void RaiseUnreadable(std::wstring_view what, const std::wstring& file) {
    const DWORD error = GetLastError();
    host::LogSystemError(what, error, file);
    runtime::Raise(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? runtime::kFileNotFound
                                                                                  : runtime::kPathFileAccessError);
}

std::wstring NameOf(const std::wstring& path) { return path.substr(runtime::FolderPrefix(path).size()); }

bool IsEngine(const std::wstring& name) {
    const std::wstring lower = runtime::LCase(name);
    return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, L".dll") == 0;
}

runtime::FileHandle OpenToCheck(const std::wstring& path) {
    runtime::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) RaiseUnreadable(L"Ler o ficheiro novo para comprobalo", path);
    return file;
}

unsigned long long SizeOf(HANDLE file, const std::wstring& path) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) RaiseUnreadable(L"Ler o tama\u00F1o do ficheiro novo", path);
    return static_cast<unsigned long long>(size.QuadPart);
}

AcquireContextFunction acquireContext = CryptAcquireContextW;

// Where the provider type or the algorithm is missing, the list cannot be
// checked on this Windows at all: said as such, not as a bare error number.
void RaiseWhereNoSha256(const std::wstring& path) {
    const DWORD error = GetLastError();
    if (error != static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF) && error != static_cast<DWORD>(NTE_BAD_ALGID) &&
        error != static_cast<DWORD>(NTE_PROV_DLL_NOT_FOUND)) {
        return;
    }
    host::LogSystemError(L"Este Windows non ten SHA-256 para comprobar a lista (precisa Windows XP SP3 ou posterior)",
                         error, path);
    throw NoSha256();
}

// The file's SHA-256 in lower-case hex, through the CryptoAPI's AES provider
// (SHA-256 from XP SP3 on).
std::string Sha256(HANDLE file, const std::wstring& path) {
    runtime::CryptProvider provider;
    HCRYPTPROV acquired = 0;
    if (!acquireContext(&acquired, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        RaiseWhereNoSha256(path);
        RaiseUnreadable(L"Calcular o SHA-256", path);
    }
    provider.Reset(acquired);
    runtime::CryptHash hash;
    HCRYPTHASH created = 0;
    if (!CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, &created)) {
        RaiseWhereNoSha256(path);
        RaiseUnreadable(L"Calcular o SHA-256", path);
    }
    hash.Reset(created);
    std::string buffer(256 * 1024, '\0');
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            RaiseUnreadable(L"Ler o ficheiro novo para comprobalo", path);
        }
        if (read == 0) break;
        if (!CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(buffer.data()), read, 0)) {
            RaiseUnreadable(L"Calcular o SHA-256", path);
        }
    }
    BYTE digest[32];
    DWORD length = sizeof digest;
    if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &length, 0) || length != sizeof digest) {
        RaiseUnreadable(L"Calcular o SHA-256", path);
    }
    std::string hex;
    for (const BYTE byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

[[noreturn]] void RaiseUnreadableList(std::wstring_view fault, const std::wstring& listPath) {
    host::Log({L"Non se pode ler a lista dos ficheiros novos (", fault, L"): ", listPath});
    throw UnreadableList();
}

[[noreturn]] void RaiseListError(std::wstring_view fault, const std::wstring& listPath) {
    host::LogSystemError(L"Ler a lista dos ficheiros novos", GetLastError(), listPath);
    RaiseUnreadableList(fault, listPath);
}

struct ListedFile {
    std::wstring name;
    std::string sha256;  // hex in lower case
    unsigned long long size = 0;
};

// The list's text, as editors and PowerShell save it: UTF-8 with or without
// its mark, or UTF-16LE with its mark.
std::wstring ListText(const std::string& bytes, const std::wstring& listPath) {
    std::wstring text;
    if (bytes.starts_with("\xFF\xFE")) {
        if (bytes.size() % 2 != 0) RaiseUnreadableList(L"UTF-16 cortado", listPath);
        text.resize(bytes.size() / 2 - 1);
        std::memcpy(text.data(), bytes.data() + 2, bytes.size() - 2);
        return text;
    }
    const std::string_view utf8 = std::string_view(bytes).substr(bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0);
    if (utf8.empty()) return text;
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length == 0) RaiseUnreadableList(L"non est\u00E1 en UTF-8 nin en UTF-16LE", listPath);
    text.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, text.data(), length);
    return text;
}

// Every line of the list, each one checked: a line that is not the list's
// makes the whole list unreadable, wherever it stands.
std::vector<ListedFile> ParseList(const std::wstring& text, const std::wstring& listPath) {
    std::vector<ListedFile> listed;
    unsigned number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring_view line(text.data() + start, end - start);
        start = end + 1;
        ++number;
        // Editors leave blanks, and CRLF its CR, at the end of a line.
        const std::size_t last = line.find_last_not_of(L" \t\r");
        if (last == std::wstring_view::npos) continue;
        line = line.substr(0, last + 1);
        const std::size_t hashEnd = line.find(L' ');
        const std::size_t sizeEnd = hashEnd == std::wstring_view::npos ? hashEnd : line.find(L' ', hashEnd + 1);
        if (sizeEnd == std::wstring_view::npos || hashEnd != 64 || sizeEnd == hashEnd + 1 ||
            line.find_first_not_of(L"0123456789abcdefABCDEF") < 64 ||
            line.find_first_not_of(L"0123456789", hashEnd + 1) != sizeEnd || sizeEnd - hashEnd > 16) {
            RaiseUnreadableList(L"a li\u00F1a " + runtime::NumberText(number) +
                                    L" non \u00E9 \"SHA-256 tama\u00F1o nome\"",
                                listPath);
        }
        // A CR without its LF, a NUL, DEL or a C1 control (U+0085, "next
        // line") is no line end of the list's: the name would swallow it and
        // match no file.
        if (std::ranges::any_of(line, [](wchar_t c) { return c < L' ' || (c >= 0x7F && c <= 0x9F); })) {
            RaiseUnreadableList(L"a li\u00F1a " + runtime::NumberText(number) +
                                    L" ten un car\u00E1cter de control (CR sen LF, NUL)",
                                listPath);
        }
        ListedFile file{std::wstring(line.substr(sizeEnd + 1)), std::string(64, '\0'), 0};
        for (std::size_t i = 0; i < 64; ++i) file.sha256[i] = static_cast<char>(line[i] | 0x20);
        for (std::size_t i = hashEnd + 1; i < sizeEnd; ++i) file.size = file.size * 10 + (line[i] - L'0');
        // Names are Windows', in any case. The same file twice is one file;
        // twice with two contents, the list cannot say which is the new one.
        const std::wstring name = runtime::LCase(file.name);
        const auto same =
            std::ranges::find_if(listed, [&](const ListedFile& other) { return runtime::LCase(other.name) == name; });
        if (same == listed.end()) {
            listed.push_back(std::move(file));
        } else if (same->sha256 != file.sha256 || same->size != file.size) {
            RaiseUnreadableList(L"a li\u00F1a " + runtime::NumberText(number) +
                                    L" d\u00E1 outro SHA-256 ou tama\u00F1o a " + file.name,
                                listPath);
        }
    }
    if (listed.empty()) RaiseUnreadableList(L"est\u00E1 baleira", listPath);
    return listed;
}

void CheckAgainstList(const FileReplacement& file, const std::vector<ListedFile>& list, const std::wstring& listPath) {
    const std::wstring name = runtime::LCase(NameOf(file.destination));
    const auto listed =
        std::ranges::find_if(list, [&](const ListedFile& line) { return runtime::LCase(line.name) == name; });
    if (listed == list.end()) RaiseDamaged(L"non est\u00E1 na lista " + listPath, file.source);
    const runtime::FileHandle opened = OpenToCheck(file.source);
    if (SizeOf(opened.Get(), file.source) != listed->size) {
        RaiseDamaged(L"o tama\u00F1o non \u00E9 o da lista " + listPath, file.source);
    }
    if (Sha256(opened.Get(), file.source) != listed->sha256) {
        RaiseDamaged(L"o SHA-256 non \u00E9 o da lista " + listPath, file.source);
    }
    host::Log({L"Ficheiro novo conforme coa lista: ", file.source});
}

// Reads a T at offset of the file's bytes; false when the file ends first.
template <typename T>
bool ReadAt(const BYTE* data, unsigned long long size, unsigned long long offset, T& value) {
    if (offset > size || size - offset < sizeof(T)) return false;
    std::memcpy(&value, data + offset, sizeof(T));
    return true;
}

// What makes the engine's bytes something other than a whole 32-bit Windows
// DLL; empty when nothing does. The header checksum is checked apart.
std::wstring EngineFault(const BYTE* data, unsigned long long size, IMAGE_NT_HEADERS32& headers) {
    constexpr wchar_t kCut[] = L"cortado: acaba antes das s\u00FAas cabeceiras";
    IMAGE_DOS_HEADER dos;
    if (!ReadAt(data, size, 0, dos)) return kCut;
    if (dos.e_magic != IMAGE_DOS_SIGNATURE) return L"non \u00E9 un programa de Windows: falta a sinatura MZ";
    if (dos.e_lfanew < 0) return L"falta a sinatura PE";
    const auto ntOffset = static_cast<unsigned long long>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER file;
    if (!ReadAt(data, size, ntOffset, signature)) return kCut;
    if (signature != IMAGE_NT_SIGNATURE) return L"falta a sinatura PE";
    if (!ReadAt(data, size, ntOffset + sizeof signature, file)) return kCut;
    if (file.Machine != IMAGE_FILE_MACHINE_I386) return L"non \u00E9 para Windows de 32 bits (x86)";
    if (!(file.Characteristics & IMAGE_FILE_DLL)) return L"non \u00E9 unha DLL";
    // The loader asks only for the fields before the data directories and
    // for the directories the header counts, up to the 16 there are.
    constexpr std::size_t kFixedPart = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    constexpr std::size_t kHeadersToDirectories = offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + kFixedPart;
    headers = {};
    if (size - ntOffset < kHeadersToDirectories) return kCut;
    std::memcpy(&headers, data + ntOffset, kHeadersToDirectories);
    const DWORD directories = headers.OptionalHeader.NumberOfRvaAndSizes;
    if (headers.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
        directories > IMAGE_NUMBEROF_DIRECTORY_ENTRIES ||
        file.SizeOfOptionalHeader < kFixedPart + directories * sizeof(IMAGE_DATA_DIRECTORY)) {
        return L"a s\u00FAa cabeceira non \u00E9 PE32";
    }
    const unsigned long long sections = ntOffset + sizeof signature + sizeof file + file.SizeOfOptionalHeader;
    if (sections + file.NumberOfSections * sizeof(IMAGE_SECTION_HEADER) > size) {
        return L"cortado: a t\u00E1boa de secci\u00F3ns acaba f\u00F3ra do ficheiro";
    }
    for (unsigned i = 0; i < file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;  // inside the file, as checked above
        std::memcpy(&section, data + sections + i * sizeof section, sizeof section);
        if (section.SizeOfRawData != 0 &&
            static_cast<unsigned long long>(section.PointerToRawData) + section.SizeOfRawData > size) {
            return L"cortado: a secci\u00F3n " + runtime::NumberText(i + 1) + L" acaba f\u00F3ra do ficheiro";
        }
    }
    return std::wstring();
}

void CheckEngine(const std::wstring& path) {
    const runtime::FileHandle file = OpenToCheck(path);
    const unsigned long long size = SizeOf(file.Get(), path);
    if (size < sizeof(IMAGE_DOS_HEADER)) RaiseDamaged(L"cortado: acaba antes das s\u00FAas cabeceiras", path);
    if (size > 0xFFFFFFFFull) RaiseDamaged(L"demasiado grande para unha DLL", path);
    const runtime::KernelObject mapping(CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const runtime::MappedView view(mapping ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    if (!view) RaiseUnreadable(L"Ler o ficheiro novo para comprobalo", path);
    const auto* data = static_cast<const BYTE*>(view.Get());
    IMAGE_NT_HEADERS32 headers;
    const std::wstring fault = EngineFault(data, size, headers);
    if (!fault.empty()) RaiseDamaged(fault, path);
    const DWORD written = headers.OptionalHeader.CheckSum;
    if (written == 0) return;
    const host::dll::CheckSumMappedFileFunction checkSum = host::dll::CheckSumMappedFile();
    if (checkSum == nullptr) {
        host::Log({L"Sen imagehlp: non se comproba a suma da cabeceira de ", path});
        return;
    }
    DWORD inHeader = 0;
    DWORD computed = 0;
    if (checkSum(const_cast<BYTE*>(data), static_cast<DWORD>(size), &inHeader, &computed) == nullptr ||
        computed != written) {
        RaiseDamaged(L"a suma de comprobaci\u00F3n da cabeceira non \u00E9 a do ficheiro", path);
    }
}

void CheckNotEmpty(const std::wstring& path) {
    const runtime::FileHandle file = OpenToCheck(path);
    if (SizeOf(file.Get(), path) == 0) RaiseDamaged(L"est\u00E1 baleiro", path);
}

// The list's lines; nullopt when there is none. Small by nature: anything
// larger than a few lines cannot be the list.
std::optional<std::vector<ListedFile>> ReadList(const std::wstring& path) {
    const runtime::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return std::nullopt;
        RaiseListError(L"non se pode abrir", path);
    }
    std::string list(64 * 1024, '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), list.data(), static_cast<DWORD>(list.size()), &read, nullptr)) {
        RaiseListError(L"non se pode ler", path);
    }
    if (read == list.size()) RaiseUnreadableList(L"\u00E9 demasiado grande", path);
    list.resize(read);
    return ParseList(ListText(list, path), path);
}

}  // namespace

AcquireContextFunction SetAcquireContext(AcquireContextFunction acquire) noexcept {
    return std::exchange(acquireContext, acquire);
}

void CheckNewFiles(const std::vector<FileReplacement>& files, const std::wstring& listFolder) {
    const std::wstring listPath = listFolder + L'\\' + kIntegrityListName;
    if (const std::optional<std::vector<ListedFile>> list = ReadList(listPath)) {
        for (const FileReplacement& file : files) CheckAgainstList(file, *list, listPath);
        return;
    }
    for (const FileReplacement& file : files) {
        if (IsEngine(NameOf(file.destination))) {
            CheckEngine(file.source);
        } else {
            CheckNotEmpty(file.source);
        }
        host::Log({L"Ficheiro novo comprobado: ", file.source});
    }
}

}  // namespace update
