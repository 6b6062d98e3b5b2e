// Under Xvfb, with the windows visible:
// - FinalizarProgressBar from 0 to 10,000 on the program's bar against the
//   same 10,000 positions sent straight to a native progress control;
// - the whole installation at 10, 1,000 and 10,000 shared-DLL entries with a
//   10 MB lexicon, each phase timed on its own, and the file replacement
//   against a plain CopyFileW of the same files.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "installer/frm_instalador.h"
#include "tests/support/bar_form.h"
#include "registry/registro.h"
#include "bench/shared_dll_names.h"
#include "bench/stopwatch.h"
#include "resources/resource.h"
#include "update/rules.h"
#include "forms/message_loop.h"
#include "host/system_dlls.h"
#include "tests/support/shared_dlls_sandbox.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_host.h"

namespace {

using testing_support::TempFolder;


using testing_support::BarForm;

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

int ProgressBenchmark() {
    BarForm form;
    form.Show();
    form.bar.SetMax(10000.0f);
    Pump();
    Stopwatch ours;
    FrmInstalador::Instance().FinalizarProgressBar(form.bar);
    const double oursSeconds = ours.Seconds();
    const bool full = form.bar.Value() == 10000.0f &&
                      SendMessageW(form.bar.Hwnd(), PBM_GETPOS, 0, 0) == form.bar.Steps();

    form.bar.SetValue(0.0f);
    const HWND native = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 16, 4, 297, 20,
                                        form.Hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(native, PBM_SETRANGE32, 0, 10000);
    Pump();
    Stopwatch naive;
    for (int v = 1; v <= 10000; ++v) SendMessageW(native, PBM_SETPOS, static_cast<WPARAM>(v), 0);
    const double naiveSeconds = naive.Seconds();
    DestroyWindow(native);
    std::printf("| progress fill 0 to 10,000, our bar | %.4f s, %.2f %% of the naive writes, ends full: %s |\n",
                oursSeconds, 100.0 * oursSeconds / naiveSeconds, full ? "yes" : "NO");
    std::printf("| progress fill 0 to 10,000, one PBM_SETPOS each | %.3f s |\n", naiveSeconds);
    return full ? 0 : 1;
}

int InstallBenchmark() {
    TempFolder source;
    TempFolder office;
    testing_support::SharedDllsSandbox shared;
    const std::string lexicon(10 * 1024 * 1024, 'x');
    testing_support::WriteFile(source / L"QUENDOR.DLL", testing_support::FakeEngine(std::string(300 * 1024, 'e')));
    testing_support::WriteFile(source / L"QUENDOR.LEX", lexicon);
    const std::wstring proof = office.Path() + L"\\Microsoft Shared\\PROOF";
    CreateDirectoryW((office.Path() + L"\\Microsoft Shared").c_str(), nullptr);
    CreateDirectoryW(proof.c_str(), nullptr);

    for (const int entries : {10, 1000, 10000}) {
        testing_support::WriteFile(proof + L"\\QUENDOR.DLL", "old");
        testing_support::WriteFile(proof + L"\\QUENDOR.LEX", "old");
        shared.Clear();
        shared.Fill(SharedDllNames(entries, office.Path()));
        Registro::LeerValoresClave(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs");

        Stopwatch read;
        auto list = Registro::LeerValoresClave(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs");
        const double readSeconds = read.Seconds();
        Stopwatch search;
        std::wstring found;
        Registro::BuscarEnColeccion(list, L"microsoft shared", found);
        const double searchSeconds = search.Seconds();
        Stopwatch replace;
        update::ReplaceFilesTogether(
            {{source / L"QUENDOR.DLL", proof + L"\\QUENDOR.DLL"}, {source / L"QUENDOR.LEX", proof + L"\\QUENDOR.LEX"}});
        const double replaceSeconds = replace.Seconds();
        BarForm form;
        form.Show();
        form.bar.SetMax(10000.0f);
        Stopwatch progress;
        FrmInstalador::Instance().FinalizarProgressBar(form.bar);
        form.bar.SetMin(0.0f);
        form.bar.SetMax(static_cast<float>(entries));
        form.bar.SetValue(0.0f);
        FrmInstalador::Instance().FinalizarProgressBar(form.bar);
        const double progressSeconds = progress.Seconds();
        form.Unload();

        testing_support::WriteFile(proof + L"\\QUENDOR.LEX", "old");
        testing_support::TestHost host(source.Path());
        int exitCode = -1;
        Stopwatch whole;
        try {
            FrmInstalador::Instance().Show();
        } catch (const testing_support::ProgramEnded& ended) {
            exitCode = ended.exitCode;
        }
        const double wholeSeconds = whole.Seconds();
        FrmInstalador::Instance().Unload();
        if (exitCode != 0 || testing_support::ReadFile(proof + L"\\QUENDOR.LEX") != lexicon) {
            std::printf("%-8d the installation did not succeed (exit code %d)\n", entries, exitCode);
            return 1;
        }
        std::printf("| Instalar, %d entries, 10 MB lexicon: read, search, replace, progress | "
                    "%.4f s, %.4f s, %.4f s, %.4f s |\n",
                    entries, readSeconds, searchSeconds, replaceSeconds, progressSeconds);
        std::printf("| Instalar, %d entries, whole procedure | %.3f s |\n", entries, wholeSeconds);
    }

    const double megabytes = static_cast<double>(lexicon.size() + 300 * 1024) / (1024.0 * 1024.0);
    Stopwatch replace;
    update::ReplaceFilesTogether(
        {{source / L"QUENDOR.DLL", proof + L"\\QUENDOR.DLL"}, {source / L"QUENDOR.LEX", proof + L"\\QUENDOR.LEX"}});
    const double replaceSeconds = replace.Seconds();
    Stopwatch copy;
    CopyFileW((source / L"QUENDOR.DLL").c_str(), (proof + L"\\QUENDOR.DLL").c_str(), FALSE);
    CopyFileW((source / L"QUENDOR.LEX").c_str(), (proof + L"\\QUENDOR.LEX").c_str(), FALSE);
    const double copySeconds = copy.Seconds();
    std::printf("| file replacement, all or nothing | %.0f MB/s, %.0f %% of a plain CopyFileW (%.0f MB/s) |\n",
                megabytes / replaceSeconds, 100.0 * copySeconds / replaceSeconds, megabytes / copySeconds);
    return 0;
}

}  // namespace

int main() {
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    host::dll::InitCommonControlsEx(controls);
    return ProgressBenchmark() | InstallBenchmark();
}
