#include "host/log.h"

#include <new>

#include "resources/resource.h"
#include "runtime/handles.h"
#include "runtime/paths.h"
#include "runtime/strings.h"

namespace host {

namespace {

runtime::FileHandle logFile;
// The open log's full path, for its first lines.
std::wstring logPath;
// The default log's name when it could not be used and this run logs beside it.
std::wstring refusedDefaultLog;

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int wide = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// A write refused or cut short (a full disk) ends the log: what follows a
// cut line would run into it, and the run itself must go on.
void Append(const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(logFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        logFile.Reset();
    }
}

// Writes the number's last `width` digits at `at` and moves past them.
void PutDigits(wchar_t*& at, unsigned number, int width) {
    for (int i = width - 1; i >= 0; --i, number /= 10) at[i] = static_cast<wchar_t>(L'0' + number % 10);
    at += width;
}

// What comes before a line's text: the local time and its offset from UTC,
// both from one reading of the clock, so that the offset is the one in force
// at that moment, summer time included; then the process id.
std::wstring LinePrefix() {
    FILETIME utc;
    GetSystemTimeAsFileTime(&utc);
    FILETIME local = utc;
    if (!FileTimeToLocalFileTime(&utc, &local)) local = utc;
    SYSTEMTIME now{};
    SYSTEMTIME utcNow{};
    FileTimeToSystemTime(&local, &now);
    FileTimeToSystemTime(&utc, &utcNow);
    // Offsets are under a day: the days differ only across midnight.
    int offset = (now.wHour - utcNow.wHour) * 60 + now.wMinute - utcNow.wMinute;
    if (now.wDay != utcNow.wDay) offset += CompareFileTime(&local, &utc) > 0 ? 1440 : -1440;
    const auto minutes = static_cast<unsigned>(offset < 0 ? -offset : offset);
    const struct {
        unsigned value;
        int width;
        wchar_t after;
    } parts[] = {{now.wYear, 4, L'-'},   {now.wMonth, 2, L'-'},  {now.wDay, 2, L' '},
                 {now.wHour, 2, L':'},   {now.wMinute, 2, L':'}, {now.wSecond, 2, L'.'},
                 {now.wMilliseconds, 3, offset < 0 ? L'-' : L'+'}, {minutes / 60, 2, L':'}, {minutes % 60, 2, L' '}};
    wchar_t text[64];
    wchar_t* at = text;
    for (const auto& part : parts) {
        PutDigits(at, part.value, part.width);
        *at++ = part.after;
    }
    *at++ = L'[';
    return std::wstring(text, at) + runtime::NumberText(GetCurrentProcessId()) + L"]  ";
}

std::wstring DefaultLogPath(const std::wstring& suffix) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    const std::wstring base = length > 0 && length <= MAX_PATH ? std::wstring(folder, length) : std::wstring();
    return base + L"actualizador-corrector-galego" + suffix + L".log";
}

std::wstring WindowsText() {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    // The manifest names every Windows up to 10, so the version is not faked.
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return L"Windows (versi\u00F3n desco\u00F1ecida)";
    std::wstring text = L"Windows " + runtime::NumberText(version.dwMajorVersion) + L"." +
                        runtime::NumberText(version.dwMinorVersion) + L"." + runtime::NumberText(version.dwBuildNumber);
    if (version.szCSDVersion[0] != L'\0') text += std::wstring(L" ") + version.szCSDVersion;
    // IsWow64Process came with XP SP2: looked up, as everything past XP is.
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process != nullptr) isWow64Process(GetCurrentProcess(), &wow64);
    return text + (wow64 ? L", 64 bits (o actualizador, de 32 bits, exec\u00FAtase en WoW64)" : L", 32 bits");
}

}  // namespace

bool RunsAsAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

bool OpenLog(const std::wstring& path) {
    const std::wstring full = runtime::FullPath(path);
    // Append only, so that no write can land on what is already there; others
    // may read it, and another copy of the program may append at once. A link
    // is opened as itself, never followed, and then refused below.
    runtime::FileHandle file(CreateFileW(full.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return false;
    // Checked on the handle, not the name, so that the name cannot change in between.
    // A device or a pipe has no such facts: there is no link to follow there.
    BY_HANDLE_FILE_INFORMATION facts{};
    const bool onDisk = GetFileInformationByHandle(file.Get(), &facts) != FALSE;
    if (onDisk && ((facts.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
                   facts.nNumberOfLinks > 1)) {
        return false;
    }
    logFile = std::move(file);
    logPath = full;
    // A byte-order mark tells Notepad of older Windows that the text is UTF-8.
    if (onDisk && facts.nFileSizeHigh == 0 && facts.nFileSizeLow == 0) Append("\xEF\xBB\xBF");
    return true;
}

void OpenDefaultLog() {
    const std::wstring preferred = DefaultLogPath(std::wstring());
    if (OpenLog(preferred)) return;
    if (OpenLog(DefaultLogPath(L"-" + runtime::NumberText(GetCurrentProcessId())))) refusedDefaultLog = preferred;
}

bool LogIsOpen() noexcept { return static_cast<bool>(logFile); }

void Log(std::wstring_view text) noexcept {
    if (!logFile) return;
    try {
        std::wstring line = LinePrefix();
        line += EscapeLogText(text);
        line += L"\r\n";
        Append(Utf8(line));
    } catch (const std::bad_alloc&) {
        // A line that cannot be made is left out; the run itself goes on.
    }
}

std::wstring EscapeLogText(std::wstring_view text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        if (c == L'\r') {
            escaped += L"\\r";
        } else if (c == L'\n') {
            escaped += L"\\n";
        } else if (c == L'\t') {
            escaped += L"\\t";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            constexpr wchar_t kHex[] = L"0123456789ABCDEF";
            escaped += L"\\x";
            escaped += kHex[c >> 4];
            escaped += kHex[c & 0xF];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void LogSystemError(std::wstring_view what, DWORD error, std::wstring_view file) noexcept {
    if (!logFile) return;
    try {
        wchar_t* message = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
            error, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
        std::wstring systemText = length > 0 ? std::wstring(message, length) : std::wstring(L"?");
        if (message != nullptr) LocalFree(message);
        while (!systemText.empty() && (systemText.back() == L'\n' || systemText.back() == L'\r' ||
                                       systemText.back() == L' ')) {
            systemText.pop_back();
        }
        Log(std::wstring(what) + L": erro de Windows " + runtime::NumberText(error) + L" (" + systemText + L"): " +
            std::wstring(file));
    } catch (const std::bad_alloc&) {
        // As in Log.
    }
}

void LogRunStart(std::wstring_view modeName, std::wstring_view programFolder) {
    if (!logFile) return;
    Log(L"Actualizador do corrector de galego " PROGRAM_VERSION_TEXT);
    Log(L"Ficheiro de rexistro: " + logPath);
    if (!refusedDefaultLog.empty()) {
        Log(L"Non se puido usar o ficheiro de rexistro habitual, " + refusedDefaultLog +
            L": esta execuci\u00F3n rexistra no de enriba");
    }
    Log(std::wstring(L"Li\u00F1a de ordes: ") + GetCommandLineW());
    Log(std::wstring(L"Modo: ") + std::wstring(modeName));
    Log(WindowsText());
    Log(RunsAsAdministrator() ? L"Dereitos de administrador: si" : L"Dereitos de administrador: non");
    Log(L"Cartafol do programa: " + std::wstring(programFolder));
}

std::wstring RunEndText(int exitCode, std::wstring_view meaning) {
    return L"Remata co c\u00F3digo " + runtime::NumberText(static_cast<unsigned>(exitCode)) + L": " +
           std::wstring(meaning);
}

void LogRunEnd(int exitCode, std::wstring_view meaning) { Log(RunEndText(exitCode, meaning)); }

}  // namespace host
