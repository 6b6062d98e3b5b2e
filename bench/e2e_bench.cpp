// The real program, driven as a user drives it: from its start to the
// welcome window against a bare window program; from the press of
// "Seguinte" to the message on screen at 10, 1,000 and 5,000 shared-DLL
// entries against the naive floor (bench/naive_floor.cpp) and any earlier
// builds of the updater named as arguments, started in turns; the process's
// peak working set during the largest installation; the silent run from
// its start to its exit against the bare window program's, and with 100,000
// unrelated or look-alike pairs in the restart queue against none. The new
// engine is a real DLL with its header checksum, checked as a real engine is.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/shared_dll_names.h"
#include "bench/stopwatch.h"
#include "tests/e2e/automation.h"
#include "tests/support/restart_queue_sandbox.h"
#include "tests/support/shared_dlls_sandbox.h"
#include "tests/support/temp_folder.h"

namespace {

const std::wstring kTitle = L"Instalador corrector de galego Brenca";

struct Sought {
    DWORD processId;
    const wchar_t* className;  // any class when null
    HWND found;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM lParam) {
    Sought& sought = *reinterpret_cast<Sought*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != sought.processId || !IsWindowVisible(window)) return TRUE;
    wchar_t className[16];
    if (sought.className != nullptr &&
        (!GetClassNameW(window, className, 16) || lstrcmpW(className, sought.className) != 0)) {
        return TRUE;
    }
    sought.found = window;
    return FALSE;
}

// A visible window of the process (of that class, when one is given), looked
// for every millisecond until seconds have passed on the stopwatch; nullptr
// when none came. Not WaitForWindow: it looks every 20 ms and reads every
// control's text, which would be timed too.
HWND PollForWindow(DWORD processId, const wchar_t* className, const Stopwatch& started, double seconds) {
    for (;;) {
        Sought sought{processId, className, nullptr};
        EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&sought));
        if (sought.found != nullptr || started.Seconds() > seconds) return sought.found;
        Sleep(1);
    }
}

// Seconds from the start of a program to its first visible window; the
// program is then ended.
double SecondsToFirstWindow(const std::wstring& program, const std::wstring& folder) {
    const Stopwatch started;
    automation::Process process = automation::Launch(program, folder);
    PollForWindow(process.Id(), nullptr, started, 15);
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
// end by itself with exit code 0, which a row of the table then says. With a
// time-out, a run still going then is killed and timed as endless: a figure,
// not a failure.
std::optional<double> SecondsToExit(const std::wstring& measure, const std::wstring& program,
                                    const std::wstring& folder, const std::wstring& arguments,
                                    std::optional<int> timeOut) {
    const Stopwatch started;
    automation::Process process = automation::Launch(program, folder, arguments);
    DWORD exitCode = 0;
    if (!process.WaitForExit(timeOut.value_or(30) * 1000, exitCode)) {
        if (timeOut) return std::numeric_limits<double>::infinity();
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
    bool updates = true;  // the installed files are old again before each run, and must be new after it
    std::optional<std::string> queue = {};  // the restart queue's first value for each run
    std::optional<int> timeOut = {};        // seconds after which a run is killed and counts as "more than"
    std::vector<double> seconds = {};
    int failures = 0;
};

double Median(const Series& series) { return series.seconds[series.seconds.size() / 2]; }

// The series started in turns, so that all see the same machine; the
// medians of those that never failed. Returns the number of failed runs.
int RunInTurns(const std::vector<Series*>& all, int runs, const std::wstring& folder, const std::wstring& proof,
               const std::wstring& log) {
    const std::string newEngine = testing_support::ReadFile(folder + L"\\QUENDOR.DLL");
    testing_support::RestartQueueSandbox queue;
    for (int run = 0; run < runs; ++run) {
        for (Series* series : all) {
            if (series->updates) {
                testing_support::WriteFile(proof + L"\\QUENDOR.DLL", "old");
                testing_support::WriteFile(proof + L"\\QUENDOR.LEX", "old");
                DeleteFileW(log.c_str());
                testing_support::RestartQueueSandbox::SetValue(testing_support::kPendingRenames, series->queue);
            }
            std::optional<double> seconds =
                SecondsToExit(series->measure, series->program, folder, series->arguments, series->timeOut);
            const bool ended = seconds && std::isfinite(*seconds);
            if (ended && series->updates && testing_support::ReadFile(proof + L"\\QUENDOR.DLL") != newEngine) {
                std::printf("| %ls | exit code 0, but the engine was not replaced |\n", series->measure.c_str());
                seconds.reset();
            }
            if (ended && series->arguments.find(L"/LOG=") != std::wstring::npos &&
                !Written(testing_support::ReadFile(log))) {
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
    for (Series* series : all) {
        failures += series->failures;
        if (series->failures > 0) continue;
        std::ranges::sort(series->seconds);
        if (std::isinf(Median(*series))) {
            std::printf("| %ls, median of %d | more than %d s |\n", series->measure.c_str(), runs, *series->timeOut);
        } else {
            std::printf("| %ls, median of %d | %.3f s |\n", series->measure.c_str(), runs, Median(*series));
        }
    }
    return failures;
}

// The silent update with and without its log and the bare window program
// that closes itself once shown, started in turns. Returns the number of
// failed runs.
int SilentBenchmark(const std::wstring& folder, const std::wstring& proof, const std::wstring& log) {
    const std::wstring updater = folder + L"\\actualizador.exe";
    Series silent{L"silent update, 10 entries, 10 MB lexicon: start to exit", updater, L"/S"};
    Series logged{L"silent update with /LOG, 10 entries, 10 MB lexicon: start to exit", updater,
                  L"/S \"/LOG=" + log + L"\""};
    Series bare{L"bare window program: start to exit", folder + L"\\bare_window.exe", L"/close", false};
    const int failures = RunInTurns({&silent, &bare, &logged}, 15, folder, proof, log);
    if (silent.failures == 0 && bare.failures == 0) {
        std::printf("| silent update against the bare window program | %.2f times |\n", Median(silent) / Median(bare));
    }
    return failures;
}

// The silent update with the restart queue empty; holding 100,000 unrelated
// pairs (a value of about 20 MB, far past what Windows itself leaves); and
// holding 100,000 other programs' pairs that look like ours: QUENDOR.DLL and
// QUENDOR.LEX moved between 1,000 folders that hold such files (made in
// others, which goes with the work folder), and short-name forms in those
// folders, as installers write them. Started in turns; a look-alike run is
// killed after 60 s. Returns the number of failed runs.
int QueueBenchmark(const std::wstring& folder, const std::wstring& proof, const std::wstring& log,
                   const std::wstring& others) {
    std::vector<std::wstring> unrelated;
    for (int pair = 0; pair < 100000; ++pair) {
        const std::wstring name = L"\\??\\C:\\Program Files\\Outro programa\\compo\u00F1ente " + std::to_wstring(pair);
        unrelated.insert(unrelated.end(), {name + L".tmp", L"!" + name + L".dll"});
    }
    unrelated.push_back(L"");
    constexpr int kFolders = 1000;
    CreateDirectoryW(others.c_str(), nullptr);
    for (int i = 0; i < kFolders; ++i) {
        const std::wstring other = others + L"\\programa " + std::to_wstring(i);
        CreateDirectoryW(other.c_str(), nullptr);
        testing_support::WriteFile(other + L"\\QUENDOR.DLL", "theirs");
        testing_support::WriteFile(other + L"\\QUENDOR.LEX", "theirs");
    }
    const auto inFolder = [&](int i) {
        return L"\\??\\" + others + L"\\programa " + std::to_wstring(i % kFolders) + L"\\";
    };
    std::vector<std::wstring> lookalike;
    for (int pair = 0; pair < 50000; ++pair) {
        const std::wstring name = pair % 2 == 0 ? L"QUENDOR.DLL" : L"QUENDOR.LEX";
        lookalike.insert(lookalike.end(), {inFolder(pair) + name, L"!" + inFolder(pair + 1) + name,
                                           inFolder(pair) + L"NAME~1.TMP", L"!" + inFolder(pair + 1) + L"OLD~2.DLL"});
    }
    lookalike.push_back(L"");
    const std::wstring updater = folder + L"\\actualizador.exe";
    Series empty{L"silent update, the restart queue empty: start to exit", updater, L"/S"};
    Series full{L"silent update, 100,000 unrelated pairs in the restart queue: start to exit", updater, L"/S", true,
                testing_support::RestartQueueSandbox::Bytes(unrelated)};
    Series alike{L"silent update, 100,000 look-alike pairs in the restart queue: start to exit", updater, L"/S", true,
                 testing_support::RestartQueueSandbox::Bytes(lookalike), 60};
    const int failures = RunInTurns({&empty, &full, &alike}, 5, folder, proof, log);
    for (const auto& [queued, kind] : {std::pair{&full, L"unrelated"}, std::pair{&alike, L"look-alike"}}) {
        if (empty.failures > 0 || queued->failures > 0) continue;
        const double median = Median(*queued);
        std::printf("| silent update, 100,000 %ls pairs in the restart queue against none |", kind);
        if (std::isinf(median)) {
            std::printf(" more than %.3f s more |\n", *queued->timeOut - Median(empty));
        } else {
            std::printf(" %.2f times, %.3f s more |\n", median / Median(empty), median - Median(empty));
        }
    }
    return failures;
}

// A program whose press of "Seguinte" is timed, from its own folder beside
// the new pair: the updater, an earlier build of it, the naive floor.
struct Installer {
    std::wstring name;
    std::wstring program;
    std::wstring title;  // of the window that holds "Seguinte"
    std::vector<double> seconds;
    SIZE_T peakWorkingSet = 0;
};

// One installation, from the press of "Seguinte" to the message box on
// screen; nothing when it did not end in the success message, exit code 0
// and the new engine in place, which a row of the table then says.
std::optional<double> SecondsFromNextToMessage(Installer& installer, const std::wstring& proof,
                                               const std::string& newEngine, int entries) {
    testing_support::WriteFile(proof + L"\\QUENDOR.DLL", "old");
    testing_support::WriteFile(proof + L"\\QUENDOR.LEX", "old");
    const std::wstring folder = installer.program.substr(0, installer.program.find_last_of(L'\\'));
    automation::Process process = automation::Launch(installer.program, folder);
    const auto welcome =
        automation::WaitForWindow(process.Id(), automation::VisibleWithTitle(installer.title), 15000);
    const auto next = welcome ? automation::FindControl(*welcome, L"Button", L"Seguinte") : std::nullopt;
    // Pressed half a second after the window shows, as a person presses it
    // at the earliest: pressed at once, every program here, the floor too,
    // took two to seven times as long as from 0.3 s on, where the figures
    // settle.
    Sleep(500);
    const char* fault = nullptr;
    std::optional<double> seconds;
    if (!next) {
        fault = "the window with Seguinte did not appear";
    } else {
        const Stopwatch pressed;
        automation::ClickButton(next->hwnd);
        const HWND box = PollForWindow(process.Id(), L"#32770", pressed, 30);
        seconds = pressed.Seconds();
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process.Handle(), &memory, sizeof memory)) {
            installer.peakWorkingSet = std::max(installer.peakWorkingSet, memory.PeakWorkingSetSize);
        }
        const auto ok = box ? automation::FindControl(automation::DescribeWindow(box), L"Button", L"OK") : std::nullopt;
        if (ok) automation::ClickButton(ok->hwnd);
        DWORD exitCode = 0;
        if (!ok || !process.WaitForExit(15000, exitCode) || exitCode != 0) {
            fault = "the installation did not succeed";
        } else if (testing_support::ReadFile(proof + L"\\QUENDOR.DLL") != newEngine) {
            fault = "exit code 0, but the engine was not replaced";
        }
    }
    if (fault == nullptr) return seconds;
    std::printf("| %ls: Seguinte to the message, %d entries | %s |\n", installer.name.c_str(), entries, fault);
    return std::nullopt;
}

// The installers pressed in turns at each size, so that all see the same
// machine; the medians, and each against the last installer, the floor.
// Returns the number of failed runs.
int NextBenchmark(std::vector<Installer>& installers, testing_support::SharedDllsSandbox& shared,
                  const std::wstring& office, const std::wstring& proof, const std::string& newEngine) {
    constexpr int kRuns = 7;
    int failures = 0;
    for (const int entries : {10, 1000, 5000}) {
        shared.Clear();
        shared.Fill(SharedDllNames(entries, office));
        for (Installer& installer : installers) installer.seconds.clear();
        for (int run = 0; run < kRuns; ++run) {
            for (Installer& installer : installers) {
                if (const std::optional<double> seconds = SecondsFromNextToMessage(installer, proof, newEngine, entries)) {
                    installer.seconds.push_back(*seconds);
                } else {
                    ++failures;
                }
            }
        }
        std::vector<double> medians;
        for (Installer& installer : installers) {
            if (installer.seconds.size() != kRuns) return failures;
            std::ranges::sort(installer.seconds);
            medians.push_back(installer.seconds[kRuns / 2]);
            std::printf("| %ls: Seguinte to the message, %d entries, 10 MB lexicon, median of %d | %.4f s |\n",
                        installer.name.c_str(), entries, kRuns, medians.back());
        }
        for (std::size_t i = 0; i + 1 < installers.size(); ++i) {
            std::printf("| %ls: Seguinte to the message against the %ls, %d entries | %.2f times |\n",
                        installers[i].name.c_str(), installers.back().name.c_str(), entries,
                        medians[i] / medians.back());
        }
    }
    std::printf("| peak working set of the updater, 5,000 entries | %.1f MB |\n",
                static_cast<double>(installers.front().peakWorkingSet) / (1024.0 * 1024.0));
    return failures;
}

}  // namespace

// The arguments, when given, are earlier builds of actualizador.exe to press
// "Seguinte" on beside this one.
int wmain(int argc, wchar_t** argv) {
    testing_support::TempFolder work;
    testing_support::SharedDllsSandbox shared;
    const std::wstring folder = work / L"Descargas";
    const std::wstring office = work / L"Office";
    const std::wstring proof = office + L"\\Microsoft Shared\\PROOF";
    for (const std::wstring& made : {office, office + L"\\Microsoft Shared", proof}) {
        CreateDirectoryW(made.c_str(), nullptr);
    }
    const std::string newEngine = testing_support::ReadFile(automation::ExeFolder() + L"\\bench_engine.dll");
    const std::string newLexicon(10 * 1024 * 1024, 'x');
    // Each program in a folder of its own beside the same pair, where it looks for it.
    const auto besideThePair = [&](const std::wstring& programs, const std::wstring& program, const wchar_t* name) {
        CreateDirectoryW(programs.c_str(), nullptr);
        testing_support::WriteFile(programs + L"\\QUENDOR.DLL", newEngine);
        testing_support::WriteFile(programs + L"\\QUENDOR.LEX", newLexicon);
        return CopyFileW(program.c_str(), (programs + L"\\" + name).c_str(), FALSE) != FALSE;
    };
    besideThePair(folder, automation::ExeFolder() + L"\\actualizador.exe", L"actualizador.exe");
    besideThePair(folder, automation::ExeFolder() + L"\\bare_window.exe", L"bare_window.exe");

    StartupBenchmark(folder);

    std::vector<Installer> installers{{L"updater", folder + L"\\actualizador.exe", kTitle, {}, 0}};
    for (int i = 1; i < argc; ++i) {
        const std::wstring programs = work / (L"Previous" + std::to_wstring(i));
        if (!besideThePair(programs, argv[i], L"actualizador.exe")) {
            std::printf("| %ls | cannot be read |\n", argv[i]);
            return 1;
        }
        installers.push_back({argv[i], programs + L"\\actualizador.exe", kTitle, {}, 0});
    }
    besideThePair(work / L"Floor", automation::ExeFolder() + L"\\naive_floor.exe", L"naive_floor.exe");
    installers.push_back({L"naive floor", work / L"Floor\\naive_floor.exe", L"Naive floor", {}, 0});
    int failures = NextBenchmark(installers, shared, office, proof, newEngine);

    shared.Clear();
    shared.Fill(SharedDllNames(10, office));
    failures += SilentBenchmark(folder, proof, work / L"actualizador.log");
    failures += QueueBenchmark(folder, proof, work / L"actualizador.log", work / L"Outros programas");
    return failures;
}
