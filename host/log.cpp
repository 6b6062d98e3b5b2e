#include "host/log.h"

#include <new>
#include <utility>

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
// Why the log named could not be used, for the log opened instead.
std::wstring refusedLog;
// This run created the open log's file.
bool logCreated = false;
// The open log is the one /LOG named, not the default one.
bool logNamed = false;
// Lines not yet written, while the log may still be refused (LogIsOneOf).
std::string held;
bool holding = false;

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
void Append(std::string_view bytes) {
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

std::wstring SystemErrorText(DWORD error) {
    wchar_t* message = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    std::wstring systemText = length > 0 ? std::wstring(message, length) : std::wstring(L"?");
    if (message != nullptr) LocalFree(message);
    while (!systemText.empty() &&
           (systemText.back() == L'\n' || systemText.back() == L'\r' || systemText.back() == L' ')) {
        systemText.pop_back();
    }
    return L"erro de Windows " + runtime::NumberText(error) + L" (" + systemText + L")";
}

std::wstring RefusalText(const std::wstring& path, std::wstring_view reason) {
    return L"Non se pode usar o ficheiro de rexistro " + path + L": " + std::wstring(reason) +
           L"; non se escribiu nel";
}

// Our own log: our byte-order mark, then the prefix of a line (LinePrefix).
// Whatever follows is still ours to append to: a power cut's zeros, a line
// another program appended in UTF-16.
bool StartsAsOurLog(std::string_view bytes) {
    constexpr std::string_view kShape = "\xEF\xBB\xBF" "0000-00-00 00:00:00.000+00:00 [";
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (bytes.size() < kShape.size()) return false;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool fits = kShape[i] == '0'   ? digit(bytes[i])
                          : kShape[i] == '+' ? bytes[i] == '+' || bytes[i] == '-'
                                             : bytes[i] == kShape[i];
        if (!fits) return false;
    }
    // The process id, then the two spaces before the text.
    std::size_t end = kShape.size();
    while (end < bytes.size() && digit(bytes[end])) ++end;
    return end > kShape.size() && bytes.substr(end).starts_with("]  ");
}

// What the start of a file shows of it: a program or data is plainly no
// text log, and nothing may be appended to it. Empty when it may be one.
std::wstring NoLogReason(HANDLE file) {
    char start[4096];
    DWORD read = 0;
    if (!ReadFile(file, start, sizeof start, &read, nullptr)) return std::wstring();
    const std::string_view bytes(start, read);
    if (StartsAsOurLog(bytes)) return std::wstring();
    if (bytes.starts_with("MZ")) return L"non \u00E9 un rexistro de texto: comeza por \"MZ\", coma un programa";
    if (bytes.find('\0') != std::string_view::npos) {
        return L"non \u00E9 un rexistro de texto: ten un car\u00E1cter nulo nos primeiros 4 KB";
    }
    return std::wstring();
}

// Makes the file at the full path the log, holding its lines; empty when it
// is open, else why not.
std::wstring Open(const std::wstring& full) {
    // Append only, so that no write can land on what is already there, and
    // read, to see what is there; others may read it, and another copy of the
    // program may append at once. A link is opened as itself, never
    // followed, and then refused below.
    const auto open = [&full](DWORD access) {
        return runtime::FileHandle(CreateFileW(full.c_str(), access | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    };
    runtime::FileHandle file = open(FILE_READ_DATA);
    // A share that collects logs may let a PC append but not read: what the
    // file holds is not judged then.
    const bool readable = static_cast<bool>(file);
    if (!readable && GetLastError() == ERROR_ACCESS_DENIED) file = open(0);
    if (!file) return SystemErrorText(GetLastError());
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    // Checked on the handle, not the name, so that the name cannot change in between.
    // A device or a pipe has no such facts: there is no link to follow there.
    BY_HANDLE_FILE_INFORMATION facts{};
    const bool onDisk = GetFileInformationByHandle(file.Get(), &facts) != FALSE;
    if (onDisk && ((facts.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
                   facts.nNumberOfLinks > 1)) {
        return L"\u00E9 un cartafol, unha ligaz\u00F3n ou un ficheiro con m\u00E1is dun nome";
    }
    if (onDisk && readable && (facts.nFileSizeHigh != 0 || facts.nFileSizeLow != 0)) {
        const std::wstring noLog = NoLogReason(file.Get());
        if (!noLog.empty()) return noLog;
    }
    logFile = std::move(file);
    logPath = full;
    logCreated = created;
    logNamed = false;
    holding = true;
    return std::wstring();
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
    const std::wstring refused = Open(full);
    if (!refused.empty()) refusedLog = RefusalText(full, refused);
    logNamed = refused.empty();
    return refused.empty();
}

void OpenDefaultLog() {
    const std::wstring preferred = runtime::FullPath(DefaultLogPath(std::wstring()));
    if (Open(preferred).empty()) return;
    if (Open(runtime::FullPath(DefaultLogPath(L"-" + runtime::NumberText(GetCurrentProcessId())))).empty()) {
        refusedDefaultLog = preferred;
    }
}

bool LogIsOpen() noexcept { return static_cast<bool>(logFile); }

bool LogIsOneOf(const std::vector<std::wstring>& files) {
    BY_HANDLE_FILE_INFORMATION log{};
    // A file index of 0 is no identity: some network servers give it to every file.
    if (!logFile || !GetFileInformationByHandle(logFile.Get(), &log) || (log.nFileIndexHigh | log.nFileIndexLow) == 0) {
        return false;
    }
    for (const std::wstring& path : files) {
        // Its attributes only, which Windows tells even of a file that
        // another program holds without sharing.
        const runtime::FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION facts{};
        if (file && GetFileInformationByHandle(file.Get(), &facts) &&
            facts.dwVolumeSerialNumber == log.dwVolumeSerialNumber && facts.nFileIndexHigh == log.nFileIndexHigh &&
            facts.nFileIndexLow == log.nFileIndexLow) {
            return true;
        }
    }
    return false;
}

void RefuseLog(std::wstring_view reason) {
    if (!logFile) return;
    Log(RefusalText(logPath, reason));
    logFile.Reset();
    // Nothing was written to it: a name that this run made is free again.
    if (logCreated) DeleteFileW(logPath.c_str());
}

void WriteHeldLog() noexcept {
    if (!holding) return;
    holding = false;
    const std::string lines = std::exchange(held, std::string());
    if (!logFile) return;
    // A byte-order mark tells Notepad of older Windows that the text is
    // UTF-8. Only a file still empty gets one: another copy of the program
    // may have written since this one opened it.
    LARGE_INTEGER size{};
    if (GetFileSizeEx(logFile.Get(), &size) && size.QuadPart == 0) Append("\xEF\xBB\xBF");
    // A line cut short (a power cut, a full disk; a power cut's zeros count
    // as cut) gets a line end, so that this run's first line starts its own.
    // A log that may be appended to but not read is not looked at.
    char last = '\n';
    DWORD read = 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    if (size.QuadPart > 0 && ReadFile(logFile.Get(), &last, 1, &read, &at) && last != '\n') Append("\r\n");
    if (logFile) Append(lines);
}

void Log(std::wstring_view text) noexcept {
    if (!logFile) return;
    try {
        std::wstring line = LinePrefix();
        line += EscapeLogText(text);
        line += L"\r\n";
        if (holding) {
            held += Utf8(line);
        } else {
            Append(Utf8(line));
        }
    } catch (const std::bad_alloc&) {
        // A line that cannot be made is left out; the run itself goes on.
    }
}

void Log(std::initializer_list<std::wstring_view> parts) noexcept {
    if (!logFile) return;
    try {
        std::wstring text;
        for (const std::wstring_view part : parts) text += part;
        Log(text);
    } catch (const std::bad_alloc&) {
        // As in Log.
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
        Log({what, L": ", SystemErrorText(error), L": ", file});
    } catch (const std::bad_alloc&) {
        // As in Log.
    }
}

void LogRunStart(std::wstring_view modeName, std::wstring_view programFolder) {
    if (!logFile) return;
    Log(L"Actualizador do corrector de galego " PROGRAM_VERSION_TEXT);
    Log({L"Ficheiro de rexistro: ", logPath});
    if (!refusedDefaultLog.empty()) {
        Log({L"Non se puido usar o ficheiro de rexistro habitual, ", refusedDefaultLog,
             L": esta execuci\u00F3n rexistra no de enriba"});
    }
    if (!refusedLog.empty()) Log(refusedLog);
    Log({L"Li\u00F1a de ordes: ", GetCommandLineW()});
    Log({L"Modo: ", modeName});
    Log(WindowsText());
    Log(RunsAsAdministrator() ? L"Dereitos de administrador: si" : L"Dereitos de administrador: non");
    Log({L"Cartafol do programa: ", programFolder});
}

std::wstring RunEndText(int exitCode, std::wstring_view meaning) {
    return L"Remata co c\u00F3digo " + runtime::NumberText(static_cast<unsigned>(exitCode)) + L": " +
           std::wstring(meaning);
}

void LogRunEnd(int exitCode, std::wstring_view meaning) {
    // A log named but never checked against the proofing folder may be one
    // of its files: the lines go to the default log instead.
    if (holding && logNamed) {
        RefuseLog(L"a execuci\u00F3n rematou antes de comprobalo cos ficheiros do cartafol de correcci\u00F3n");
        OpenDefaultLog();
    }
    Log(RunEndText(exitCode, meaning));
    WriteHeldLog();
}

}  // namespace host
