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
void __verbose_terminate_handler() { ExitProcess(runtime::kExitRuntimeError); }
}  // namespace __gnu_cxx

namespace {

const wchar_t* ModeName(runtime::RunMode mode) {
    switch (mode) {
    case runtime::RunMode::kSilent: return L"silencioso";
    case runtime::RunMode::kPassive: return L"s\u00F3 progreso";
    default: return L"interactivo";
    }
}

// Only a person gets the box. An unattended run, progress-only included,
// shows no box, which would wait for someone to close it: the help goes to
// the log, one line of the log for each of the text's lines.
void ShowHelp() {
    const std::wstring help = runtime::LoadResString(IDS_HELP);
    if (runtime::CurrentRunMode() == runtime::RunMode::kInteractive && runtime::PersonCanSee()) {
        runtime::CurrentHost().MsgBox(help, runtime::kInformation, runtime::LoadResString(IDS_TITLE));
        return;
    }
    for (std::size_t start = 0; start < help.size();) {
        std::size_t end = help.find(L'\n', start);
        if (end == std::wstring::npos) end = help.size();
        std::wstring line = help.substr(start, end - start);
        std::ranges::replace(line, L'\t', L' ');
        if (!line.empty()) runtime::Log(L"Axuda: " + line);
        start = end + 1;
    }
}

// Everything before the first window: the command line, the log, the other
// copy. Ends the program unless a person is to be greeted.
void Start(const runtime::CommandLine& command) {
    // /LOG alone never stops the run; a file the administrator named must be usable.
    if (command.log && command.logFile.empty()) {
        runtime::OpenDefaultLog();
        // The run goes on without a log: only its event can say so.
        if (!runtime::LogIsOpen()) {
            runtime::NoteForEvent(L"Sen ficheiro de rexistro: non se puido abrir ning\u00FAn dos nomes de /LOG no cartafol temporal");
        }
    }
    const bool logOpen = !command.log || command.logFile.empty() || runtime::OpenLog(command.logFile);
    runtime::LogRunStart(ModeName(command.mode), runtime::AppPath());
    for (const std::wstring& ignored : command.ignored) {
        runtime::Log(L"Sen efecto: " + ignored + L" (o programa nunca reinicia o ordenador nin pecha programas)");
    }
    if (!command.invalid.empty()) runtime::Log(L"Argumento non v\u00E1lido: " + command.invalid);
    // A run that no person can see (a service, a startup script without /S)
    // would wait for ever on the first window: it cannot be carried out.
    if (command.mode == runtime::RunMode::kInteractive && !runtime::PersonCanSee()) {
        runtime::Log(L"Ningu\u00E9n pode ver as xanelas do programa: sen /S nin /passive non se pode executar");
        runtime::End(runtime::kExitInvalidCommandLine);
    }
    if (!command.invalid.empty() || !logOpen) {
        // The box waits for someone to close it: only for a person, never for
        // a line that a script may have meant to be unattended.
        if (command.mode == runtime::RunMode::kInteractive && !command.namesUnattended) ShowHelp();
        runtime::End(runtime::kExitInvalidCommandLine);
    }
    if (command.help) {
        ShowHelp();
        // Nothing was done, which is all that was asked: the last line says
        // so, rather than what 0 tells of an update.
        runtime::LogRunEnd(runtime::kExitUpdated, L"s\u00F3 se pediu a axuda; non se fixo nada");
        runtime::CurrentHost().End(runtime::kExitUpdated);
    }
    // Held to the end of the program.
    static const runtime::SingleInstance instance;
    if (!instance.First()) {
        // A copy running unseen, or as another user, has nothing to bring forward: a person is told.
        if (command.mode == runtime::RunMode::kInteractive && !runtime::BringRunningCopyToFront()) {
            runtime::MsgBox(runtime::LoadResString(IDS_ALREADY_RUNNING), runtime::kInformation,
                            runtime::LoadResString(IDS_TITLE));
        }
        runtime::End(runtime::kExitAlreadyRunning);
    }
    // A silent run draws nothing: neither the common controls nor the
    // picture loader are needed.
    if (runtime::ShowsWindows()) {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        runtime::dll::InitCommonControlsEx(controls);
        // The pictures are decoded by the OLE picture loader.
        runtime::dll::OleInitialize();
    }
    if (command.mode == runtime::RunMode::kInteractive) {
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
    runtime::RestrictDllSearch();
    const runtime::CommandLine command = runtime::ParseCommandLine(GetCommandLineW());
    runtime::SetRunMode(command.mode);
    // A run without switches is a person's, and leaves no event.
    runtime::SetRunEventWanted(runtime::SplitCommandLine(GetCommandLineW()).size() > 1);
    runtime::RunHandler([&] { Start(command); });
    runtime::End(runtime::RunMessageLoop());
}
