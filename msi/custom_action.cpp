// The package's custom actions. RunUpdater, deferred and run as SYSTEM after
// the files are in place, runs the installed updater silently and turns its
// exit code into the install's outcome; AskForRestart, immediate and after
// InstallFinalize, asks for the restart that RunUpdater may not ask for.
//
// Built without the C runtime (nothing here needs it), so the DLL imports
// only kernel32, advapi32 and msi: there is no heap, and texts live in
// bounded buffers on the stack.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "msi/handles.h"
#include "msi/updater_exit.h"
#include "msi/updater_log.h"

namespace msi {

namespace {

// The updater's log, the one the startup script packaging/actualizar-corrector.cmd
// writes: in %SystemRoot%\Logs, where only administrators may write.
constexpr wchar_t kLogFolder[] = L"\\Logs";
constexpr wchar_t kLogName[] = L"\\actualizador-corrector-galego.log";
// Where RunUpdater leaves the restart request for AskForRestart. A deferred
// action may not call MsiSetMode, and it runs as SYSTEM while the immediate
// one runs as the user who started the install: HKLM is what both can read,
// and a volatile key is gone at the next restart, when the request is met.
// Being volatile, the key can never hold a key that is not.
constexpr wchar_t kRestartKey[] = L"SOFTWARE\\Actualizador corrector galego";
constexpr wchar_t kRestartValue[] = L"RestartRequested";
constexpr wchar_t kSpeaker[] = L"Actualizador do corrector: ";

class Text {
public:
    static constexpr DWORD kCapacity = 2048;

    Text() noexcept { text_[0] = L'\0'; }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;

    Text& Add(const wchar_t* text) noexcept {
        while (*text != L'\0') Put(*text++);
        return *this;
    }
    Text& Add(const Text& text) noexcept { return Add(text.Get()); }
    Text& AddNumber(unsigned long number) noexcept {
        wchar_t digits[16];
        int count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
            number /= 10;
        } while (number > 0);
        while (count > 0) Put(digits[--count]);
        return *this;
    }
    // Windows writes the text itself; false when it did not fit.
    template <typename Fill>
    bool FillWith(Fill fill) noexcept {
        DWORD length = kCapacity;
        const bool filled = fill(text_, length);
        length_ = filled && length < kCapacity ? length : 0;
        text_[length_] = L'\0';
        return filled && length_ > 0;
    }

    const wchar_t* Get() const noexcept { return text_; }
    wchar_t* Writable() noexcept { return text_; }
    // A text cut short names the wrong file: whoever uses it checks.
    bool Whole() const noexcept { return !cut_; }

private:
    void Put(wchar_t c) noexcept {
        if (length_ == kCapacity) {
            cut_ = true;
            return;
        }
        text_[length_++] = c;
        text_[length_] = L'\0';
    }

    wchar_t text_[kCapacity + 1];
    DWORD length_ = 0;
    bool cut_ = false;
};

struct RecordTraits {
    using Handle = MSIHANDLE;
    static Handle None() noexcept { return 0; }
    static void Close(Handle record) noexcept { MsiCloseHandle(record); }
};
using Record = Owner<RecordTraits>;

// Into the install's log; an error is also shown to whoever started the
// install with its UI. The text goes in as a field, never as the template,
// where brackets would be read as properties.
void Tell(MSIHANDLE install, INSTALLMESSAGE kind, const Text& text) noexcept {
    const Record record(MsiCreateRecord(1));
    if (!record) return;
    MsiRecordSetStringW(record.Get(), 0, L"[1]");
    MsiRecordSetStringW(record.Get(), 1, text.Get());
    MsiProcessMessage(install, kind, record.Get());
}

void Fail(MSIHANDLE install, const Text& text) noexcept {
    Tell(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), text);
}

// The updater's closing line ("Remata co c\u00F3digo N: ..."), from what its
// run wrote after the mark.
bool ReadClosingLine(const Text& log, const LogMark& before, DWORD processId, Text& line) noexcept {
    char bytes[Text::kCapacity];
    unsigned long length = 0;
    if (!ReadClosingLine(log.Get(), before, processId, bytes, sizeof bytes, length)) return false;
    return line.FillWith([&](wchar_t* buffer, DWORD& capacity) {
        const int written = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(length), buffer,
                                                static_cast<int>(capacity));
        capacity = static_cast<DWORD>(written);
        return written > 0;
    });
}

void ForgetRestart() noexcept {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRestartKey, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS) {
        RegDeleteValueW(key.Get(), kRestartValue);
    }
}

bool RecordRestart() noexcept {
    RegistryKey key;
    const DWORD requested = 1;
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRestartKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                           key.Receive(), nullptr) == ERROR_SUCCESS &&
           RegSetValueExW(key.Get(), kRestartValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&requested),
                          sizeof requested) == ERROR_SUCCESS;
}

bool RestartRecorded() noexcept {
    RegistryKey key;
    DWORD requested = 0;
    DWORD type = 0;
    DWORD size = sizeof requested;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRestartKey, 0, KEY_QUERY_VALUE, key.Receive()) == ERROR_SUCCESS &&
           RegQueryValueExW(key.Get(), kRestartValue, nullptr, &type, reinterpret_cast<BYTE*>(&requested), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && requested == 1;
}

}  // namespace

// Exported by their plain names (the build links with --kill-at), as the
// CustomAction table names them.
extern "C" __declspec(dllexport) UINT __stdcall RunUpdater(MSIHANDLE install) {
    // An earlier install's request is not this one's: only this run of the
    // updater may ask for a restart now. As SYSTEM, this action may clear it.
    ForgetRestart();

    // Set by a type-51 action to the installed updater's full path.
    Text updater;
    if (!updater.FillWith([&](wchar_t* buffer, DWORD& length) {
            return MsiGetPropertyW(install, L"CustomActionData", buffer, &length) == ERROR_SUCCESS;
        })) {
        Fail(install, Text().Add(kSpeaker).Add(L"falta o cami\u00F1o do actualizador (CustomActionData)"));
        return ERROR_INSTALL_FAILURE;
    }

    // The folder is missing on XP, and a log the updater cannot open ends it with 1639.
    Text folder;
    const bool windows = folder.FillWith([](wchar_t* buffer, DWORD& length) {
        length = GetSystemWindowsDirectoryW(buffer, length);
        return length > 0;
    });
    folder.Add(kLogFolder);
    Text log;
    log.Add(folder).Add(kLogName);
    Text command;
    command.Add(L"\"").Add(updater).Add(L"\" /S /LOG=\"").Add(log).Add(L"\"");
    if (!windows || !folder.Whole() || !log.Whole() || !command.Whole()) {
        Fail(install, Text().Add(kSpeaker).Add(L"cami\u00F1o demasiado longo: ").Add(updater));
        return ERROR_INSTALL_FAILURE;
    }
    CreateDirectoryW(folder.Get(), nullptr);
    Tell(install, INSTALLMESSAGE_INFO, Text().Add(kSpeaker).Add(command));

    // What the log holds now is earlier runs': only what follows is this run's.
    const LogMark before = MarkLog(log.Get());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(updater.Get(), command.Writable(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        const DWORD error = GetLastError();
        Fail(install, Text().Add(kSpeaker).Add(L"non se puido executar ").Add(updater).Add(L" (erro de Windows ")
                          .AddNumber(error).Add(L")"));
        return ERROR_INSTALL_FAILURE;
    }
    const KernelObject process(started.hProcess);
    const KernelObject thread(started.hThread);
    DWORD exitCode = ERROR_INSTALL_FAILURE;
    if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.Get(), &exitCode)) {
        exitCode = ERROR_INSTALL_FAILURE;
    }

    const InstallOutcome outcome = OutcomeOfUpdaterExit(exitCode);
    Text closing;
    Text report;
    report.Add(kSpeaker);
    if (ReadClosingLine(log, before, started.dwProcessId, closing)) {
        report.Add(closing);
    } else {
        report.Add(L"rematou co c\u00F3digo ").AddNumber(exitCode).Add(L" sen a s\u00FAa \u00FAltima li\u00F1a no ficheiro de rexistro");
    }
    report.Add(L" (").Add(log).Add(L")");
    if (outcome.actionResult != ERROR_SUCCESS) {
        Fail(install, report);
        return outcome.actionResult;
    }
    Tell(install, INSTALLMESSAGE_INFO, report);
    if (outcome.restartRequested && !RecordRestart()) {
        Tell(install, INSTALLMESSAGE_INFO,
             Text().Add(kSpeaker).Add(L"non se puido anotar o reinicio pendente en HKLM\\").Add(kRestartKey));
    }
    return outcome.actionResult;
}

extern "C" __declspec(dllexport) UINT __stdcall AskForRestart(MSIHANDLE install) {
    if (RestartRecorded()) {
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
        Tell(install, INSTALLMESSAGE_INFO,
             Text().Add(kSpeaker).Add(L"o corrector actual\u00EDzase cando se reinicie o ordenador"));
    }
    return ERROR_SUCCESS;
}

}  // namespace msi

// No C runtime: this is the DLL's entry point itself.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
