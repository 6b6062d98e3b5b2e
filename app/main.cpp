#include <windows.h>

#include <algorithm>
#include <string>

#include "app/frm_welcome.h"
#include "forms/message_loop.h"
#include "host/command_line.h"
#include "host/host.h"
#include "host/log.h"
#include "host/single_instance.h"
#include "host/system_dlls.h"
#include "installer/frm_instalador.h"
#include "resources/resource.h"
#include "runtime/resources.h"

// The default handler of std::terminate describes the exception on the
// console, which a windowed program does not have, and brings a symbol
// demangler of some 40 KB with it. Every exception is caught before it could
// get there; should one escape all the same, the process ends with the code
// of a run-time error, which a deployment takes as a failure, rather than
// through abort().
namespace __gnu_cxx {
void __verbose_terminate_handler() { ExitProcess(host::kExitRuntimeError); }
}  // namespace __gnu_cxx

namespace {

const wchar_t* ModeName(host::RunMode mode) {
    switch (mode) {
    case host::RunMode::kSilent: return L"silencioso";
    case host::RunMode::kPassive: return L"s\u00F3 progreso";
    default: return L"interactivo";
    }
}

// Only a person gets the box. An unattended run, progress-only included,
// shows no box, which would wait for someone to close it: the help goes to
// the log, one line of the log for each of the text's lines.
void ShowHelp() {
    const std::wstring help = runtime::LoadResString(IDS_HELP);
    if (host::CurrentRunMode() == host::RunMode::kInteractive && host::PersonCanSee()) {
        host::CurrentHost().MsgBox(help, host::kInformation, runtime::LoadResString(IDS_TITLE));
        return;
    }
    for (std::size_t start = 0; start < help.size();) {
        std::size_t end = help.find(L'\n', start);
        if (end == std::wstring::npos) end = help.size();
        std::wstring line = help.substr(start, end - start);
        std::ranges::replace(line, L'\t', L' ');
        if (!line.empty()) host::Log({L"Axuda: ", line});
        start = end + 1;
    }
}

// Everything before the first window: the command line, the log, the other
// copy. Ends the program unless a person is to be greeted.
void Start(const host::CommandLine& command) {
    // /LOG alone never stops the run; a file the administrator named must be usable.
    if (command.log && command.logFile.empty()) {
        host::OpenDefaultLog();
        // The run goes on without a log: only its event can say so.
        if (!host::LogIsOpen()) {
            host::NoteForEvent(
                L"Sen ficheiro de rexistro: non se puido abrir ning\u00FAn dos nomes de /LOG no cartafol temporal");
        }
    }
    bool logOpen = !command.log || command.logFile.empty() || host::OpenLog(command.logFile);
    // Such a run ends below; the default log tells why.
    if (!logOpen) host::OpenDefaultLog();
    host::LogRunStart(ModeName(command.mode), host::AppPath());
    // Nothing has been written to the log yet: the update reads these files.
    if (host::LogIsOneOf(FicheirosNovos())) {
        host::RefuseLog(L"\u00E9 un dos ficheiros novos do corrector, xunto ao actualizador");
        host::OpenDefaultLog();
        logOpen = false;
    }
    for (const std::wstring& ignored : command.ignored) {
        host::Log({L"Sen efecto: ", ignored, L" (o programa nunca reinicia o ordenador nin pecha programas)"});
    }
    if (!command.invalid.empty()) host::Log({L"Argumento non v\u00E1lido: ", command.invalid});
    // A run that no person can see (a service, a startup script without /S)
    // would wait for ever on the first window: it cannot be carried out.
    if (command.mode == host::RunMode::kInteractive && !host::PersonCanSee()) {
        host::Log(L"Ningu\u00E9n pode ver as xanelas do programa: sen /S nin /passive non se pode executar");
        host::End(host::kExitInvalidCommandLine);
    }
    if (!command.invalid.empty() || !logOpen) {
        // The box waits for someone to close it: only for a person, never for
        // a line that a script may have meant to be unattended.
        if (command.mode == host::RunMode::kInteractive && !command.namesUnattended) ShowHelp();
        host::End(host::kExitInvalidCommandLine);
    }
    if (command.help) {
        ShowHelp();
        // Nothing was done, which is all that was asked: the last line says
        // so, rather than what 0 tells of an update.
        host::LogRunEnd(host::kExitUpdated, L"s\u00F3 se pediu a axuda; non se fixo nada");
        host::CurrentHost().End(host::kExitUpdated);
    }
    // Held to the end of the program.
    static const host::SingleInstance instance;
    if (!instance.First()) {
        // A copy running unseen, or as another user, has nothing to bring forward: a person is told.
        if (command.mode == host::RunMode::kInteractive && !host::BringRunningCopyToFront()) {
            host::MsgBox(runtime::LoadResString(IDS_ALREADY_RUNNING), host::kInformation,
                         runtime::LoadResString(IDS_TITLE));
        }
        host::End(host::kExitAlreadyRunning);
    }
    // A silent run draws nothing: neither the common controls nor the
    // picture loader are needed.
    if (host::ShowsWindows()) {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        host::dll::InitCommonControlsEx(controls);
        // The pictures are decoded by the OLE picture loader.
        host::dll::OleInitialize();
    }
    if (command.mode == host::RunMode::kInteractive) {
        frmWelcome::Instance().Show();
    } else {
        // Unattended, the update runs at once, as after "Seguinte", and ends the program.
        FrmInstalador::Instance().Show();
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Windows' own boxes (no disk in the drive, a crash report) would wait
    // for a person that an unattended run does not have.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // The program runs as administrator from a folder that may hold anything
    // a download folder holds, QUENDOR.DLL included.
    host::RestrictDllSearch();
    const host::CommandLine command = host::ParseCommandLine(GetCommandLineW());
    host::SetRunMode(command.mode);
    // A run without switches is a person's, and leaves no event.
    host::SetRunEventWanted(host::SplitCommandLine(GetCommandLineW()).size() > 1);
    host::RunHandler([&] { Start(command); });
    host::End(forms::RunMessageLoop());
}
