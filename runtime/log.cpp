#include "runtime/log.h"

#include <new>

#include "resources/resource.h"
#include "runtime/handles.h"
#include "runtime/host.h"

namespace runtime {

namespace {

FileHandle logFile;

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int wide = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

void Append(const std::string& bytes) {
    DWORD written = 0;
    WriteFile(logFile.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Timestamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return NumberText(now.wYear, 4) + L"-" + NumberText(now.wMonth, 2) + L"-" + NumberText(now.wDay, 2) + L" " +
           NumberText(now.wHour, 2) + L":" + NumberText(now.wMinute, 2) + L":" + NumberText(now.wSecond, 2) + L"." +
           NumberText(now.wMilliseconds, 3);
}

std::wstring WindowsText() {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    // The manifest names every Windows up to 10, so the version is not faked.
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return L"Windows (versi\u00F3n desco\u00F1ecida)";
    std::wstring text = L"Windows " + NumberText(version.dwMajorVersion) + L"." + NumberText(version.dwMinorVersion) +
                        L"." + NumberText(version.dwBuildNumber);
    if (version.szCSDVersion[0] != L'\0') text += std::wstring(L" ") + version.szCSDVersion;
    // IsWow64Process came with XP SP2: looked up, as everything past XP is.
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process != nullptr) isWow64Process(GetCurrentProcess(), &wow64);
    return text + (wow64 ? L", 64 bits (o actualizador, de 32 bits, corre en WoW64)" : L", 32 bits");
}

// Membership of the Administrators group that counts in the token: on
// Windows with UAC, only when the program runs elevated.
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

}  // namespace

std::wstring NumberText(unsigned long long number, int width) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
        number /= 10;
    } while (number > 0 || static_cast<int>(digits.size()) < width);
    return digits;
}

bool OpenLog(const std::wstring& path) {
    // Append only, so that no write can land on what is already there; others
    // may read it, and another copy of the program may append at once.
    FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    logFile = std::move(file);
    LARGE_INTEGER size{};
    // A byte-order mark tells Notepad of older Windows that the text is UTF-8.
    if (GetFileSizeEx(logFile.Get(), &size) && size.QuadPart == 0) Append("\xEF\xBB\xBF");
    return true;
}

std::wstring DefaultLogPath() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    const std::wstring base = length > 0 && length <= MAX_PATH ? std::wstring(folder, length) : std::wstring();
    return base + L"actualizador-corrector-galego.log";
}

bool LogIsOpen() noexcept { return static_cast<bool>(logFile); }

void Log(std::wstring_view text) noexcept {
    if (!logFile) return;
    try {
        Append(Utf8(Timestamp() + L"  " + std::wstring(text) + L"\r\n"));
    } catch (const std::bad_alloc&) {
        // A line that cannot be made is left out; the run itself goes on.
    }
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
        Log(std::wstring(what) + L": erro de Windows " + NumberText(error) + L" (" + systemText + L"): " +
            std::wstring(file));
    } catch (const std::bad_alloc&) {
        // As in Log.
    }
}

void LogRunStart(std::wstring_view modeName) {
    if (!logFile) return;
    Log(L"Actualizador do corrector de galego " PROGRAM_VERSION_TEXT);
    Log(std::wstring(L"Li\u00F1a de ordes: ") + GetCommandLineW());
    Log(std::wstring(L"Modo: ") + std::wstring(modeName));
    Log(WindowsText());
    Log(RunsAsAdministrator() ? L"Dereitos de administrador: si" : L"Dereitos de administrador: non");
    Log(L"Cartafol do programa: " + AppPath());
}

}  // namespace runtime
