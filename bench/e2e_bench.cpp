// The real program, driven as a user drives it: from its start to the
// welcome window against a bare window program, from the press of
// "Seguinte" to the message at 10 and 10,000 shared-DLL entries, the
// process's peak working set during the larger installation, and the silent
// run from its start to its exit against the bare window program's.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench/shared_dll_names.h"
#include "bench/stopwatch.h"
#include "tests/e2e/automation.h"
#include "tests/support/shared_dlls_sandbox.h"
#include "tests/support/temp_folder.h"

namespace {

const std::wstring kTitle = L"Instalador corrector de galego Brenca";

bool IsMessageBox(const automation::WindowInfo& window) { return window.visible && window.className == L"#32770"; }

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM found) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != *reinterpret_cast<DWORD*>(found) || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<DWORD*>(found) = 0;
    return FALSE;
}

// Seconds from the start of a program to its first visible window, looked
// for every millisecond; the program is then ended. Not WaitForWindow: it
// looks every 20 ms and reads every control's text, which would be timed too.
double SecondsToFirstWindow(const std::wstring& program, const std::wstring& folder) {
    const Stopwatch started;
    automation::Process process = automation::Launch(program, folder);
    for (;;) {
        DWORD sought = process.Id();
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&sought));
        if (sought == 0) break;
        if (started.Seconds() > 15) return 15;
        Sleep(1);
    }
    const double seconds = started.Seconds();
    process.Kill();
    return seconds;
}

// The updater and the bare window started in turns, so that both see the
// same machine; the medians.
void StartupBenchmark(const std::wstring& folder) {
    constexpr int kRuns = 15;
    std::vector<double> program, bare;
    for (int run = 0; run < kRuns; ++run) {
        program.push_back(SecondsToFirstWindow(folder + L"\\actualizador.exe", folder));
        bare.push_back(SecondsToFirstWindow(folder + L"\\bare_window.exe", folder));
    }
    for (std::vector<double>* times : {&program, &bare}) std::ranges::sort(*times);
    const double programMedian = program[kRuns / 2], bareMedian = bare[kRuns / 2];
    std::printf("| start to the welcome window visible, median of %d | %.3f s |\n", kRuns, programMedian);
    std::printf("| start to a bare window of the same size visible (kernel32 and user32 only) | %.3f s |\n", bareMedian);
    std::printf("| start-up against the bare window | %.2f times |\n", programMedian / bareMedian);
}

// One program run to its end, timed from its start; nothing when it did not
// end by itself with exit code 0, which a row of the table then says.
std::optional<double> SecondsToExit(const std::wstring& measure, const std::wstring& program,
                                    const std::wstring& folder, const std::wstring& arguments) {
    const Stopwatch started;
    automation::Process process = automation::Launch(program, folder, arguments);
    DWORD exitCode = 0;
    if (!process.WaitForExit(30000, exitCode)) {
        std::printf("| %ls | did not end within 30 s |\n", measure.c_str());
        return std::nullopt;
    }
    const double seconds = started.Seconds();
    if (exitCode != 0) {
        std::printf("| %ls | ended with exit code %lu |\n", measure.c_str(), exitCode);
        return std::nullopt;
    }
    return seconds;
}

bool Written(const std::string& bytes) { return !bytes.empty() && bytes != "<missing>"; }

struct Series {
    std::wstring measure;
    std::wstring program;
    std::wstring arguments;
    std::vector<double> seconds;
    int failures = 0;
};

// The silent update with and without its log and the bare window program
// that closes itself once shown, started in turns; the installed files are
// old again before each update, so that every run replaces them. Returns the
// number of failed runs.
int SilentBenchmark(const std::wstring& folder, const std::wstring& proof, const std::wstring& log) {
    constexpr int kRuns = 15;
    const std::wstring updater = folder + L"\\actualizador.exe";
    const std::string newEngine = testing_support::ReadFile(folder + L"\\QUENDOR.DLL");
    Series silent{L"silent update, 10 entries, 10 MB lexicon: start to exit", updater, L"/S", {}};
    Series logged{L"silent update with /LOG, 10 entries, 10 MB lexicon: start to exit", updater,
                  L"/S \"/LOG=" + log + L"\"", {}};
    Series bare{L"bare window program: start to exit", folder + L"\\bare_window.exe", L"/close", {}};
    for (int run = 0; run < kRuns; ++run) {
        for (Series* series : {&silent, &bare, &logged}) {
            const bool updates = series != &bare;
            if (updates) {
                testing_support::WriteFile(proof + L"\\QUENDOR.DLL", "old");
                testing_support::WriteFile(proof + L"\\QUENDOR.LEX", "old");
                DeleteFileW(log.c_str());
            }
            std::optional<double> seconds = SecondsToExit(series->measure, series->program, folder, series->arguments);
            if (seconds && updates && testing_support::ReadFile(proof + L"\\QUENDOR.DLL") != newEngine) {
                std::printf("| %ls | exit code 0, but the engine was not replaced |\n", series->measure.c_str());
                seconds.reset();
            }
            if (seconds && series == &logged && !Written(testing_support::ReadFile(log))) {
                std::printf("| %ls | exit code 0, but no log was written |\n", series->measure.c_str());
                seconds.reset();
            }
            if (seconds) {
                series->seconds.push_back(*seconds);
            } else {
                ++series->failures;
            }
        }
    }
    int failures = 0;
    for (Series* series : {&silent, &logged, &bare}) {
        failures += series->failures;
        if (series->failures > 0) continue;
        std::ranges::sort(series->seconds);
        std::printf("| %ls, median of %d | %.3f s |\n", series->measure.c_str(), kRuns, series->seconds[kRuns / 2]);
    }
    if (silent.failures == 0 && bare.failures == 0) {
        std::printf("| silent update against the bare window program | %.2f times |\n",
                    silent.seconds[kRuns / 2] / bare.seconds[kRuns / 2]);
    }
    return failures;
}

}  // namespace

int main() {
    testing_support::TempFolder work;
    testing_support::SharedDllsSandbox shared;
    const std::wstring folder = work / L"Descargas";
    const std::wstring proof = work / L"Office\\Microsoft Shared\\PROOF";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((work / L"Office").c_str(), nullptr);
    CreateDirectoryW((work / L"Office\\Microsoft Shared").c_str(), nullptr);
    CreateDirectoryW(proof.c_str(), nullptr);
    for (const wchar_t* program : {L"\\actualizador.exe", L"\\bare_window.exe"}) {
        CopyFileW((automation::ExeFolder() + program).c_str(), (folder + program).c_str(), FALSE);
    }
    testing_support::WriteFile(folder + L"\\QUENDOR.DLL", testing_support::FakeEngine(std::string(300 * 1024, 'e')));
    testing_support::WriteFile(folder + L"\\QUENDOR.LEX", std::string(10 * 1024 * 1024, 'x'));

    StartupBenchmark(folder);

    int failures = 0;
    for (const int entries : {10, 10000}) {
        testing_support::WriteFile(proof + L"\\QUENDOR.DLL", "old");
        shared.Clear();
        shared.Fill(SharedDllNames(entries, work / L"Office"));

        automation::Process process = automation::Launch(folder + L"\\actualizador.exe", folder);
        const auto welcome = automation::WaitForWindow(process.Id(), automation::VisibleWithTitle(kTitle), 15000);
        const auto next = welcome ? automation::FindControl(*welcome, L"Button", L"Seguinte") : std::nullopt;
        if (!next) {
            std::printf("| Seguinte to the message, %d entries | the welcome window did not appear |\n", entries);
            ++failures;
            continue;
        }
        const Stopwatch pressed;
        automation::ClickButton(next->hwnd);
        const auto box = automation::WaitForWindow(process.Id(), IsMessageBox, 30000);
        const double toMessage = pressed.Seconds();
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(process.Handle(), &memory, sizeof memory);
        const auto ok = box ? automation::FindControl(*box, L"Button", L"OK") : std::nullopt;
        if (ok) automation::ClickButton(ok->hwnd);
        DWORD exitCode = 0;
        if (!box || !process.WaitForExit(15000, exitCode) || exitCode != 0) {
            std::printf("| Seguinte to the message, %d entries | the installation did not succeed |\n", entries);
            ++failures;
            continue;
        }
        std::printf("| Seguinte to the message, %d entries, 10 MB lexicon | %.3f s |\n", entries, toMessage);
        if (entries == 10000) {
            std::printf("| peak working set of the program, 10,000 entries | %.1f MB |\n",
                        static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0));
        }
    }

    shared.Clear();
    shared.Fill(SharedDllNames(10, work / L"Office"));
    failures += SilentBenchmark(folder, proof, work / L"actualizador.log");
    return failures;
}
