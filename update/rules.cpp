#include "update/rules.h"

#include <windows.h>

#include <algorithm>

#include "host/event_log.h"
#include "host/host.h"
#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/strings.h"
#include "update/file_version.h"
#include "update/files_in_use.h"
#include "update/integrity.h"
#include "update/internal.h"
#include "update/restart_queue.h"

namespace update {

namespace {

void CheckReadable(const std::wstring& source) {
    const runtime::FileHandle file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseLastError(L"Ler o ficheiro novo", source);
    host::Log({L"Ficheiro novo ", source, L": ", SizeText(file.Get())});
}

// Whether other programs hold installed files so that they cannot be
// replaced now; each such file is logged.
bool AnyHeld(const std::vector<FileReplacement>& replacements) {
    bool held = false;
    for (const FileReplacement& file : replacements) {
        if (OpenToReplace(file.destination)) continue;
        const DWORD error = GetLastError();
        if (!InUse(error)) continue;  // refused for another reason: raised when it is replaced
        host::LogSystemError(L"Abrir para substitu\u00EDr o ficheiro instalado", error, file.destination);
        held = true;
    }
    return held;
}

// Why Windows refuses to open a file as the version reader does; success
// when it does not.
DWORD ReadRefusal(const std::wstring& path) {
    const runtime::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? ERROR_SUCCESS : GetLastError();
}

// Nothing of ours is left queued for the restart to undo what is in place
// now. Where no string names a copy of ours there is nothing to take out,
// and a queue of thousands is not read again.
void TakeOursOut(const std::vector<std::wstring>& destinations, const PlayedQueue& played) {
    if (played.copyNamed) Unqueue(destinations);
}

// The rules of UpdateFiles. Each one either decides how the update ends or,
// giving nothing, leaves it to the next.

// An installed engine that another program holds so that not even its
// version can be read may be the newer one: it is replaced neither now nor
// at the restart. A person may close the program and try again; otherwise
// nothing changes (FileInUse).
std::optional<Outcome> KeepUnreadableEngine(const std::vector<FileReplacement>& replacements,
                                            const std::vector<std::wstring>& destinations) {
    const std::wstring& engine = replacements.front().destination;
    for (DWORD refused = ReadRefusal(engine); InUse(refused); refused = ReadRefusal(engine)) {
        host::LogSystemError(L"Ler a versi\u00F3n do motor instalado", refused, engine);
        host::Log(L"Pode ser m\u00E1is novo: non se substit\u00FAe nin agora nin ao reiniciar");
        const std::vector<std::wstring> programs = ProgramsUsing(destinations);
        for (const std::wstring& program : programs) host::Log({L"Programa que o usa: ", program});
        if (host::AskAboutFilesInUse(programs, false) != host::InUseAnswer::kTryAgain) throw FileInUse();
    }
    return std::nullopt;
}

// An installed engine of a higher version is left as it is.
std::optional<Outcome> KeepNewerInstalled(const std::vector<FileReplacement>& replacements,
                                          const std::vector<std::wstring>& destinations, const PlayedQueue& played) {
    for (const FileReplacement& file : replacements) {
        const std::optional<std::uint64_t> installed = FileVersion(file.destination);
        const std::optional<std::uint64_t> incoming = FileVersion(file.source);
        if (installed) {
            host::NoteForEvent(L"Versi\u00F3n instalada: " + VersionText(*installed) + L" (" + file.destination + L")");
        }
        if (incoming) host::NoteForEvent(L"Versi\u00F3n nova: " + VersionText(*incoming) + L" (" + file.source + L")");
        if (!IsNewer(installed, incoming)) continue;
        host::Log({L"O ficheiro instalado ", file.destination, L" ten a versi\u00F3n ", VersionText(*installed),
                   L", m\u00E1is nova ca a ", VersionText(*incoming), L" de ", file.source});
        TakeOursOut(destinations, played);
        return Outcome::kInstalledIsNewer;
    }
    return std::nullopt;
}

// The same pair already in place is left as it is.
std::optional<Outcome> KeepSamePair(const std::vector<FileReplacement>& replacements,
                                    const std::vector<std::wstring>& destinations, const PlayedQueue& played) {
    for (const FileReplacement& file : replacements) {
        if (!SameContents(file.source, file.destination)) return std::nullopt;
    }
    host::Log(L"Os ficheiros instalados xa son os novos: non se cambia nada");
    TakeOursOut(destinations, played);
    return Outcome::kAlreadyThere;
}

// The same new files that the restart already puts in place, our untouched
// copy on each name, in order, are not queued again.
std::optional<Outcome> KeepQueuedPair(const std::vector<FileReplacement>& replacements, const PlayedQueue& played) {
    if (!OurCopiesInOrder(played)) return std::nullopt;
    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (!SameContents(replacements[i].source, Win32Path(played.names[i].file))) return std::nullopt;
    }
    host::Log(L"Os ficheiros novos xa est\u00E1n na cola do reinicio: non se cambia nada");
    if (std::ranges::any_of(played.names, &AfterRestart::unconfirmed)) LogUnconfirmed();
    return Outcome::kAtNextRestart;
}

// What the log says of the queue before any rule reads it: strings the
// program does not understand, the first few as they stand (a value of
// thousands would drown the log), other programs' work on the names, and
// each name whose outcome cannot be known.
void LogQueue(const std::vector<FileReplacement>& replacements, const PlayedQueue& played) {
    constexpr std::size_t kNamed = 10;
    for (std::size_t i = 0; i < played.notUnderstood.size() && i < kNamed; ++i) {
        host::Log({L"Texto da cola do reinicio que o programa non entende: ", played.notUnderstood[i]});
    }
    if (played.notUnderstood.size() > kNamed) {
        host::Log({L"e ", runtime::NumberText(static_cast<unsigned>(played.notUnderstood.size() - kNamed)),
                   L" m\u00E1is que o programa non entende"});
    }
    for (const std::wstring& line : played.others) host::Log({L"Outro programa ten na cola do reinicio: ", line});
    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (played.names[i].holds == AfterRestart::Holds::kUnknown) {
            host::Log({L"Non se sabe que deixa o reinicio en ", replacements[i].destination});
        }
    }
}

// An engine that another program's queued work deletes at the restart is
// the speller being removed: nothing is queued, which would bring the files
// back with nothing registered. Read before anything is asked of the engine:
// there is nothing to read, nor to ask a person to close, of a file that
// the restart deletes, however new it is.
std::optional<Outcome> KeepBeingRemoved(const std::vector<FileReplacement>& replacements, const PlayedQueue& played) {
    const AfterRestart& engine = played.names.front();
    if (engine.holds != AfterRestart::Holds::kNothing || !engine.deleted) return std::nullopt;
    host::Log({L"O reinicio borra o motor ", replacements.front().destination,
               L": o corrector est\u00E1 a desinstalarse; non se cambia nada"});
    return Outcome::kBeingRemoved;
}

// What other programs queued for the restart is left as it is. Where the
// restart leaves either name other than as it is now or with our copy, a
// same or newer engine of theirs, known to land there, is left to the
// restart; after anything else, or anything that cannot be known, ours is
// queued to follow, never put in place now, where theirs would undo it.
std::optional<Outcome> FollowOthersQueued(const std::vector<FileReplacement>& replacements,
                                          const PlayedQueue& played) {
    const auto changedByOthers = [](const AfterRestart& work) {
        return work.holds != AfterRestart::Holds::kUnchanged && work.holds != AfterRestart::Holds::kOurCopy;
    };
    if (std::ranges::none_of(played.names, changedByOthers)) return std::nullopt;
    const FileReplacement& engine = replacements.front();
    const AfterRestart& onto = played.names.front();
    if (onto.holds == AfterRestart::Holds::kTheirs) {
        const std::wstring theirs = Win32Path(onto.file);
        if (SameContents(engine.source, theirs) || IsNewer(FileVersion(theirs), FileVersion(engine.source))) {
            host::Log(L"O reinicio pon un motor igual ou m\u00E1is novo ca este: non se cambia nada");
            return Outcome::kAtNextRestart;
        }
    }
    QueueForRestart(replacements);
    return Outcome::kAtNextRestart;
}

// While other programs hold installed files, a person is asked (an
// unattended run is not): try again, replace them at the next restart, or cancel.
std::optional<Outcome> AskWhileInUse(const std::vector<FileReplacement>& replacements,
                                     const std::vector<std::wstring>& destinations) {
    while (AnyHeld(replacements)) {
        const std::vector<std::wstring> programs = ProgramsUsing(destinations);
        for (const std::wstring& program : programs) host::Log({L"Programa que os usa: ", program});
        switch (host::AskAboutFilesInUse(programs, true)) {
        case host::InUseAnswer::kTryAgain:
            continue;
        case host::InUseAnswer::kAtNextRestart:
            QueueForRestart(replacements);
            return Outcome::kAtNextRestart;
        case host::InUseAnswer::kCancel:
            throw FileInUse();
        }
    }
    return std::nullopt;
}

// Otherwise both are replaced now, together; then nothing of the updater's
// queued for the restart is left to undo them.
Outcome ReplaceNow(const std::vector<FileReplacement>& replacements, const std::vector<std::wstring>& destinations,
                   const PlayedQueue& played) {
    ReplaceFilesTogether(replacements);
    TakeOursOut(destinations, played);
    return Outcome::kReplaced;
}

}  // namespace

bool IsNewer(std::optional<std::uint64_t> installed, std::optional<std::uint64_t> incoming) {
    return installed && incoming && *installed > *incoming;
}

bool SameContents(const std::wstring& source, const std::wstring& installed) {
    const runtime::FileHandle theirs(CreateFileW(installed.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const runtime::FileHandle ours(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!ours || !theirs) return false;
    std::vector<char> a(64 * 1024);
    std::vector<char> b(a.size());
    for (;;) {
        DWORD readA = 0;
        DWORD readB = 0;
        if (!ReadFile(ours.Get(), a.data(), static_cast<DWORD>(a.size()), &readA, nullptr) ||
            !ReadFile(theirs.Get(), b.data(), static_cast<DWORD>(b.size()), &readB, nullptr) || readA != readB) {
            return false;
        }
        if (readA == 0) return true;
        if (!std::equal(a.begin(), a.begin() + readA, b.begin())) return false;
    }
}

// The rules in the order they apply: the first that decides ends the update.
Outcome UpdateFiles(const std::vector<FileReplacement>& replacements) {
    for (const FileReplacement& file : replacements) CheckReadable(file.source);
    CheckNewFiles(replacements, SourceFolder(replacements));
    const std::vector<std::wstring> destinations = Destinations(replacements);
    // Read once for the rules that look at it: until the pair is queued or
    // replaced, only a rule that ends the update changes the queue.
    const PlayedQueue played = PlayQueue(destinations);
    LogQueue(replacements, played);
    if (const std::optional<Outcome> decided = KeepBeingRemoved(replacements, played)) return *decided;
    if (const std::optional<Outcome> decided = KeepUnreadableEngine(replacements, destinations)) return *decided;
    if (const std::optional<Outcome> decided = KeepNewerInstalled(replacements, destinations, played)) return *decided;
    if (const std::optional<Outcome> decided = FollowOthersQueued(replacements, played)) return *decided;
    if (const std::optional<Outcome> decided = KeepSamePair(replacements, destinations, played)) return *decided;
    if (const std::optional<Outcome> decided = KeepQueuedPair(replacements, played)) return *decided;
    if (const std::optional<Outcome> decided = AskWhileInUse(replacements, destinations)) return *decided;
    return ReplaceNow(replacements, destinations, played);
}

}  // namespace update
