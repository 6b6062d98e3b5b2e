#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "forms/screen.h"
#include "gtest/gtest.h"
#include "host/log.h"
#include "installer/frm_instalador.h"
#include "resources/resource.h"
#include "runtime/handles.h"
#include "runtime/resources.h"
#include "runtime/strings.h"
#include "tests/support/restart_queue_sandbox.h"
#include "tests/support/shared_dlls_sandbox.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_host.h"
#include "tests/unit/error_matchers.h"
#include "update/file_version.h"
#include "update/rules.h"
#include "update/integrity.h"
#include "update/replacement_lock.h"

using testing_support::ReadFile;
using testing_support::SharedDllsSandbox;
using testing_support::TempFolder;
using testing_support::TestHost;
using testing_support::WriteFile;

namespace {

// The new engine that the tests install: a real DLL.
const std::string kNewEngine = testing_support::FakeEngine("new engine");

const std::wstring kFailure = L"Non \u00E9 posible continuar a instalaci\u00F3n";
const std::wstring kSuccess = L"O corrector foi actualizado";
const std::wstring kTitle = L"Instalador corrector de galego Brenca";

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    const runtime::FindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!search) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search.Get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

// The test program's folder, where the test engines are built.
std::wstring TestFolder() {
    wchar_t self[MAX_PATH];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\'));
}

class Instalar : public testing::Test {
protected:
    Instalar() {
        CreateDirectoryW(source.Path().c_str(), nullptr);
        WriteFile(source / L"QUENDOR.DLL", kNewEngine);
        WriteFile(source / L"QUENDOR.LEX", "new lexicon");
        for (const wchar_t* folder : {L"\\Office", L"\\Office\\Microsoft Shared", L"\\Office\\Microsoft Shared\\PROOF"}) {
            CreateDirectoryW((office.Path() + folder).c_str(), nullptr);
        }
        WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
        WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        host.noteState = [] {
            FrmInstalador& window = FrmInstalador::Instance();
            // A box closes at once when a quit request waits in the queue.
            MSG quit;
            const bool quitWaiting = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE);
            return std::wstring(window.Visible() ? L"visible" : L"hidden") + L", bar " +
                   std::to_wstring(static_cast<long>(window.ProgressBar1.Value())) + L"/" +
                   std::to_wstring(static_cast<long>(window.ProgressBar1.Max())) +
                   (quitWaiting ? L", quit waiting" : L"");
        };
    }
    ~Instalar() override { FrmInstalador::Instance().Unload(); }

    std::wstring ProofFolder() const { return office.Path() + L"\\Office\\Microsoft Shared\\PROOF"; }
    std::wstring Proof(const std::wstring& name) const { return ProofFolder() + L"\\" + name; }
    std::wstring Entry(const std::wstring& marker = L"Microsoft Shared") const {
        return office.Path() + L"\\Office\\" + marker + L"\\Web\\X.DLL";
    }

    // Runs the installer window as "Seguinte" does; gives the exit code.
    int Run() {
        try {
            FrmInstalador::Instance().Show();
        } catch (const testing_support::ProgramEnded& ended) {
            return ended.exitCode;
        }
        ADD_FAILURE() << "the installation returned instead of ending the program";
        return -1;
    }

    // A silent run while another program holds the lexicon: the pair is
    // queued for the restart.
    void QueueWhileTheLexiconIsHeld() {
        {
            const runtime::FileHandle held(
                CreateFileW(Proof(L"QUENDOR.LEX").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            EXPECT_EQ(host::kExitAtNextRestart, Run());
        }
        FrmInstalador::Instance().Unload();
    }

    void ExpectUnchanged() {
        EXPECT_EQ("old engine", ReadFile(Proof(L"QUENDOR.DLL")));
        EXPECT_EQ("old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
        ExpectNoStrayFiles();
    }
    void ExpectNoStrayFiles() {
        std::vector<std::wstring> names = FilesIn(ProofFolder());
        // The lock file stays, empty.
        if (std::erase(names, update::kLockFileName) > 0) { EXPECT_EQ("", ReadFile(Proof(update::kLockFileName))); }
        EXPECT_EQ((std::vector<std::wstring>{L"QUENDOR.DLL", L"QUENDOR.LEX"}), names);
    }
    // The failure message over the visible window; the exit code tells the cause.
    void ExpectOneFailureWithWindowVisible(int exitCode, int expectedCode = host::kExitFailed) {
        EXPECT_EQ(expectedCode, exitCode);
        ASSERT_EQ(1u, host.messages.size());
        EXPECT_EQ(kFailure, host.messages[0].text);
        EXPECT_EQ(16, host.messages[0].style);
        EXPECT_EQ(kTitle, host.messages[0].title);
        EXPECT_EQ(0u, host.messages[0].state.find(L"visible")) << host.messages[0].state;
        const forms::ProgressBar& bar = FrmInstalador::Instance().ProgressBar1;
        EXPECT_EQ(bar.Max(), bar.Value()) << "the bar is filled before the message";
    }

    TempFolder source;
    TempFolder office;
    TestHost host{source.Path()};
    SharedDllsSandbox shared;
};

}  // namespace

// Another program asks the installation to quit as soon as its window is up.
LRESULT CALLBACK PostQuitOnActivation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && reinterpret_cast<HWND>(wParam) == FrmInstalador::Instance().Hwnd()) {
        PostQuitMessage(0);
        Sleep(20);  // the queue is looked at no more often than every 10 ms
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Instalar, ReplacesBothFilesAndReportsSuccessWithTheWindowHidden) {
    shared.Fill({L"C:\\WINDOWS\\system32\\a.dll", Entry(L"MICROSOFT shared"), L"D:\\z.dll"});
    // A quit request during the installation must not close the outcome's box.
    const HHOOK hook = SetWindowsHookExW(WH_CBT, PostQuitOnActivation, nullptr, GetCurrentThreadId());
    EXPECT_EQ(0, Run());
    UnhookWindowsHookEx(hook);
    MSG quit;  // should one still wait, it must not reach the next tests
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(kSuccess, host.messages[0].text);
    EXPECT_EQ(64, host.messages[0].style);
    EXPECT_EQ(kTitle, host.messages[0].title);
    EXPECT_EQ(L"hidden, bar 3/3", host.messages[0].state);
    EXPECT_EQ(kNewEngine, ReadFile(Proof(L"QUENDOR.DLL")));
    EXPECT_EQ("new lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
    ExpectNoStrayFiles();
    EXPECT_EQ(L"Instalando compo\u00F1entes", FrmInstalador::Instance().Label1.Caption());
}

TEST_F(Instalar, NoEngineInTheProofingFolderChangesNothing) {
    DeleteFileW(Proof(L"QUENDOR.DLL").c_str());
    shared.Fill({Entry()});
    ExpectOneFailureWithWindowVisible(Run(), host::kExitNothingToUpdate);
    EXPECT_EQ("<missing>", ReadFile(Proof(L"QUENDOR.DLL")));
    EXPECT_EQ("old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
}

TEST_F(Instalar, NoUsableEntryEndsInTheFailureMessage) {
    const std::vector<std::vector<std::wstring>> keys = {
        {},                                          // empty key
        {L"C:\\WINDOWS\\a.dll", L"C:\\microsoft\\shared\\b.dll"},  // no entry with the marker
    };
    for (const auto& names : keys) {
        host.messages.clear();
        shared.Fill(names);
        ExpectOneFailureWithWindowVisible(Run(), host::kExitNothingToUpdate);
        ExpectUnchanged();
        FrmInstalador::Instance().Unload();
    }
}

TEST_F(Instalar, MissingKeyEndsInTheFailureMessage) {
    ExpectOneFailureWithWindowVisible(Run(), host::kExitNothingToUpdate);
    ExpectUnchanged();
}

TEST_F(Instalar, OnlyTheFirstEntryWithTheMarkerCounts) {
    // The first entry leads to a folder without the engine; the second would have it.
    shared.Fill({office.Path() + L"\\A\\Microsoft Shared\\x.dll", Entry()});
    ExpectOneFailureWithWindowVisible(Run(), host::kExitNothingToUpdate);
    ExpectUnchanged();
}

TEST_F(Instalar, AnEntryThatStartsWithTheMarkerGivesARelativeFolder) {
    SetCurrentDirectoryW((office.Path() + L"\\Office").c_str());
    shared.Fill({L"Microsoft Shared\\Web\\X.DLL"});
    EXPECT_EQ(0, Run());
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(kSuccess, host.messages[0].text);
    EXPECT_EQ(kNewEngine, ReadFile(Proof(L"QUENDOR.DLL")));
    EXPECT_EQ("new lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
    SetCurrentDirectoryW(source.Path().c_str());
}

TEST_F(Instalar, AReadOnlyInstalledEngineIsRefusedAndNothingChanges) {
    SetFileAttributesW(Proof(L"QUENDOR.DLL").c_str(), FILE_ATTRIBUTE_READONLY);
    shared.Fill({Entry()});
    ExpectOneFailureWithWindowVisible(Run());
    SetFileAttributesW(Proof(L"QUENDOR.DLL").c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectUnchanged();
}

// Windows refuses to open it for writing with a sharing violation, as it
// does for a DLL that a running program has loaded. The person is asked, and
// cancels (each answer is run end to end). An engine held so that not even
// its version can be read is never queued for the restart: no "Continuar".
TEST_F(Instalar, AnInstalledFileInUseIsNamedAndCancellingChangesNothing) {
    const std::wstring inUse = L"Os ficheiros do corrector est\u00E1n en uso por outro programa.\n\nPeche os programas "
                               L"que os usan e prema \u00ABTentar de novo\u00BB";
    const struct {
        const wchar_t* locked;
        std::wstring choice;
        int buttons;
    } cases[] = {
        {L"QUENDOR.DLL", L"; con \u00ABCancelar\u00BB, non se cambia nada.", 5},
        {L"QUENDOR.LEX", L". Con \u00ABContinuar\u00BB, a actualizaci\u00F3n remata cando se reinicie o ordenador; con "
                         L"\u00ABCancelar\u00BB, non se cambia nada.", 6},
    };
    host.answer = [] { return host::kCancel; };
    for (const auto& c : cases) {
        host.messages.clear();
        shared.Fill({Entry()});
        {
            // Held open by another program without sharing, as a running office suite would.
            const runtime::FileHandle held(
                CreateFileW(Proof(c.locked).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            EXPECT_EQ(host::kExitFilesInUse, Run());
        }
        ASSERT_EQ(2u, host.messages.size());
        EXPECT_EQ(inUse + c.choice, host.messages[0].text);
        EXPECT_EQ(48 | c.buttons, host.messages[0].style) << "a warning with Cancelar, Tentar de novo (and Continuar)";
        EXPECT_EQ(0u, host.messages[0].state.find(L"visible")) << host.messages[0].state;
        EXPECT_EQ(kFailure, host.messages[1].text);
        ExpectUnchanged();
        FrmInstalador::Instance().Unload();
    }
}

// The lock is one run's: a byte range of a file that stays. While another
// copy, or an earlier version, holds it a run ends 1618 and changes nothing;
// no other handle on the file stops a run, nor does a folder of its name; a
// file that lets users in gets the lock file's descriptor, and a range held
// then is not taken for another copy. A log named onto the file is refused.
TEST_F(Instalar, TheLockIsTakenByOneRunAndLetGoWhenItEnds) {
    shared.Fill({Entry()});
    const std::wstring lock = Proof(update::kLockFileName);
    const std::wstring log = source / L"lock.log";
    enum class Left { kNothing, kOurs, kUsersLetIn, kFolder };
    const struct {
        const char* how;
        Left left;
        DWORD attributes, access, sharing;  // the file's; another handle's on it, and what that shares
        bool rangeHeld, logOntoIt;
        int exitCode;
        const char* logged;
    } cases[] = {
        {"nothing there", Left::kNothing, FILE_ATTRIBUTE_NORMAL, 0, 0, false, false, 0, "Bloqueo para substitu"},
        {"another copy holds the range", Left::kOurs, FILE_ATTRIBUTE_NORMAL, GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE, true, false, 1618, "Outra copia do actualizador"},
        {"an earlier version holds it without sharing", Left::kOurs, FILE_ATTRIBUTE_NORMAL, DELETE, 0, false, false,
         1618, "Outra copia do actualizador"},
        {"read-only, open elsewhere for its attributes", Left::kOurs, FILE_ATTRIBUTE_READONLY, FILE_READ_ATTRIBUTES, 0,
         false, false, 0, "Bloqueo para substitu"},
        {"open elsewhere for reading", Left::kOurs, FILE_ATTRIBUTE_NORMAL, GENERIC_READ, FILE_SHARE_READ, false, false,
         0, "Bloqueo para substitu"},
        {"users let in, the range held", Left::kUsersLetIn, FILE_ATTRIBUTE_NORMAL, GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE, true, false, 0, "aos administradores: "},
        {"a folder of its name", Left::kFolder, FILE_ATTRIBUTE_NORMAL, 0, 0, false, false, 0, "Segue sen bloqueo"},
        {"the log named onto it", Left::kNothing, FILE_ATTRIBUTE_NORMAL, 0, 0, false, true, 1639, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
        WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        if (c.left == Left::kOurs) update::ReplacementLock{ProofFolder()};
        if (c.left == Left::kUsersLetIn) WriteFile(lock, "");
        if (c.left == Left::kFolder) CreateDirectoryW(lock.c_str(), nullptr);
        SetFileAttributesW(lock.c_str(), c.attributes);
        runtime::FileHandle other(
            c.access == 0 ? INVALID_HANDLE_VALUE
                          : CreateFileW(lock.c_str(), c.access, c.sharing, nullptr, OPEN_EXISTING, 0, nullptr));
        OVERLAPPED start{};
        ASSERT_EQ(c.access != 0,
                  other && (!c.rangeHeld || LockFileEx(other.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &start)));
        ASSERT_TRUE(host::OpenLog(c.logOntoIt ? lock : log));
        const std::size_t before = ReadFile(log).size();
        EXPECT_EQ(c.exitCode, Run());
        FrmInstalador::Instance().Unload();
        other.Reset();
        EXPECT_EQ(c.exitCode == 0 ? kNewEngine : "old engine", ReadFile(Proof(L"QUENDOR.DLL")));
        if (c.exitCode == host::kExitAlreadyRunning) {
            EXPECT_EQ(L"O actualizador do corrector xa se est\u00E1 a executar.",
                      host.messages.at(host.messages.size() - 1).text);
        }
        EXPECT_EQ(std::string::npos, ReadFile(lock).find("Remata co c")) << "no log lines in the lock file";
        EXPECT_NE(std::string::npos, ReadFile(log).find(c.logged, before)) << ReadFile(log).substr(before);
        RemoveDirectoryW(lock.c_str());
        SetFileAttributesW(lock.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(lock.c_str());
    }
}

// What Windows would act on, which Wine does not enforce: the lock file is
// made with a descriptor that takes nothing from the folder, is owned by
// Administrators and lets only the system and administrators in (on XP,
// Power Users too); one that lets anyone else in, or whose owner (who may
// change it) is anyone else, is replaced.
TEST(ReplacementLock, OnlyAdministratorsMayOpenTheLockFile) {
    for (const bool xp : {true, false}) {
        const runtime::LocalMemory made = update::LockFileDescriptor(xp);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        ASSERT_TRUE(made && GetSecurityDescriptorControl(made.Get(), &control, &revision));
        EXPECT_NE(0, control & SE_DACL_PROTECTED) << "nothing passed on from the folder";
        EXPECT_TRUE(GetSecurityDescriptorOwner(made.Get(), &owner, &defaulted) && owner != nullptr &&
                    IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
        EXPECT_TRUE(update::LetsInOnlyAdministrators(made.Get(), xp));
        EXPECT_EQ(!xp, update::LetsInOnlyAdministrators(made.Get(), false)) << "Power Users let in on XP only";
    }
    const struct {
        const wchar_t* text;
        bool xp, onlyAdministrators;
    } cases[] = {
        {L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-1000)", false, false},  // a user's, let in
        {L"O:S-1-5-21-1-2-3-1000D:P(A;;FA;;;SY)(A;;FA;;;BA)", false, false},  // a user's, who may let anyone in
        {L"O:BAD:AI(A;;FA;;;BA)(A;ID;0x1200a9;;;BU)", false, false},           // Users may read, from the folder
        {L"O:BA", false, false},                                               // no DACL: everyone
        {L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;PU)", true, true},          // Power Users on XP
        {L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;PU)", false, false},        // and on 10, where they are users
        {L"O:PUD:P(A;;FA;;;SY)(A;;FA;;;BA)", false, false},                    // owned by them on 10
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.text, SDDL_REVISION_1, &descriptor, nullptr));
        const runtime::LocalMemory owned(descriptor);
        EXPECT_EQ(c.onlyAdministrators, update::LetsInOnlyAdministrators(descriptor, c.xp))
            << testing::PrintToString(std::wstring(c.text)) << (c.xp ? " on XP" : " on 10");
    }
}

// The lexicon's move is refused, so the engine must be put back; a virus
// scanner opens the new engine, without delete sharing, just before that, and
// lets go after some refused moves, or not while the update runs. A copy that
// cannot be put back is kept under a name a person recognises, beside any
// file of that name already there.
TEST_F(Instalar, AFailedUndoKeepsTheOldEngineUnderAName) {
    const struct {
        int scannerLetsGoAfter;
        bool earlierCopyThere;
        const wchar_t* kept;
    } cases[] = {{3, false, nullptr}, {-1, false, L"QUENDOR.DLL.anterior"}, {-1, true, L"QUENDOR.DLL.anterior2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scannerLetsGoAfter);
        WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
        if (c.earlierCopyThere) WriteFile(Proof(L"QUENDOR.DLL.anterior"), "older engine");
        runtime::FileHandle scanner;
        int refused = 0;
        const auto move = [&](const std::wstring& from, const std::wstring& to) {
            if (to == Proof(L"QUENDOR.LEX")) {
                scanner = runtime::FileHandle(CreateFileW(Proof(L"QUENDOR.DLL").c_str(), GENERIC_READ,
                                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                          0, nullptr));
                SetLastError(ERROR_ACCESS_DENIED);
                return false;
            }
            if (scanner && refused++ == c.scannerLetsGoAfter) scanner.Reset();
            return update::MoveInPlace(from, to);
        };
        bool partly = false;
        try {
            update::ReplaceFilesTogether(
                {{source / L"QUENDOR.DLL", Proof(L"QUENDOR.DLL")}, {source / L"QUENDOR.LEX", Proof(L"QUENDOR.LEX")}},
                move);
            ADD_FAILURE() << "the refused move raised nothing";
        } catch (const update::PartlyReplaced& error) {
            partly = true;
            EXPECT_EQ(runtime::kPermissionDenied, error.Number());
        } catch (const runtime::RuntimeError& error) {
            EXPECT_EQ(runtime::kPermissionDenied, error.Number());
        }
        scanner.Reset();
        EXPECT_EQ(c.kept != nullptr, partly) << "partly replaced";
        EXPECT_EQ("old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
        if (c.kept == nullptr) {
            EXPECT_EQ("old engine", ReadFile(Proof(L"QUENDOR.DLL")));
            ExpectNoStrayFiles();
            continue;
        }
        // The kept copy is the last copy of the old engine; nothing else is left.
        EXPECT_EQ(kNewEngine, ReadFile(Proof(L"QUENDOR.DLL")));
        EXPECT_EQ("old engine", ReadFile(Proof(c.kept)));
        std::vector<std::wstring> expected = {L"QUENDOR.DLL", L"QUENDOR.LEX", c.kept};
        if (c.earlierCopyThere) {
            EXPECT_EQ("older engine", ReadFile(Proof(L"QUENDOR.DLL.anterior")));
            expected.push_back(L"QUENDOR.DLL.anterior");
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, FilesIn(ProofFolder()));
        for (const std::wstring& name : expected) {
            if (name.size() > 11) DeleteFileW(Proof(name).c_str());
        }
    }
}

TEST_F(Instalar, AMissingNewLexiconOrTooLittleMemoryChangesNothing) {
    shared.Fill({Entry()});
    for (const bool outOfMemory : {true, false}) {
        host.messages.clear();
        host.appPathRunsOutOfMemory = outOfMemory;
        if (!outOfMemory) DeleteFileW((source / L"QUENDOR.LEX").c_str());
        ExpectOneFailureWithWindowVisible(Run());
        ExpectUnchanged();
        FrmInstalador::Instance().Unload();
    }
}

TEST_F(Instalar, FromADriveRootTheFilesComeFromTheRoot) {
    // The test bed maps drive Q: to an empty folder of its own.
    if (GetFileAttributesW(L"Q:\\") == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no drive Q: on this system";
    WriteFile(L"Q:\\QUENDOR.DLL", testing_support::FakeEngine("engine from the root"));
    WriteFile(L"Q:\\QUENDOR.LEX", "lexicon from the root");
    TestHost root(L"Q:\\");
    root.noteState = host.noteState;
    shared.Fill({Entry()});
    const int exitCode = Run();
    DeleteFileW(L"Q:\\QUENDOR.DLL");
    DeleteFileW(L"Q:\\QUENDOR.LEX");
    EXPECT_EQ(0, exitCode);
    ASSERT_EQ(1u, root.messages.size());
    EXPECT_EQ(kSuccess, root.messages[0].text);
    EXPECT_EQ(testing_support::FakeEngine("engine from the root"), ReadFile(Proof(L"QUENDOR.DLL")));
    EXPECT_EQ("lexicon from the root", ReadFile(Proof(L"QUENDOR.LEX")));
}

// What the installer window looks like at the moment it is first activated:
// Instalar's first step.
std::wstring activationState;

LRESULT CALLBACK NoteActivation(int code, WPARAM wParam, LPARAM lParam) {
    FrmInstalador& window = FrmInstalador::Instance();
    if (code == HCBT_ACTIVATE && reinterpret_cast<HWND>(wParam) == window.Hwnd() && activationState.empty()) {
        RECT outer;
        GetWindowRect(window.Hwnd(), &outer);
        const bool centred =
            outer.left == forms::TwipsToPixels(forms::CenteredOffset(forms::Screen::Width(), window.Width())) &&
            outer.top == forms::TwipsToPixels(forms::CenteredOffset(forms::Screen::Height(), window.Height()));
        activationState = window.Caption() + L"|" + (centred ? L"centred" : L"not centred") + L"|label " +
                          (window.Label1.Visible() ? L"shown" : L"hidden") + L": " + window.Label1.Caption() +
                          L"|bar " + std::to_wstring(static_cast<long>(window.ProgressBar1.Min())) + L"-" +
                          std::to_wstring(static_cast<long>(window.ProgressBar1.Max())) + L" at " +
                          std::to_wstring(static_cast<long>(window.ProgressBar1.Value()));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Instalar, WhenShownTheWindowIsCentredAndReady) {
    activationState.clear();
    const HHOOK hook = SetWindowsHookExW(WH_CBT, NoteActivation, nullptr, GetCurrentThreadId());
    shared.Fill({Entry()});
    EXPECT_EQ(0, Run());
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(kTitle + L"|centred|label hidden: Instalando compo\u00F1entes|bar 0-10000 at 0", activationState);
}

TEST_F(Instalar, ReadOnlyNewFilesDoNotMakeTheInstalledOnesReadOnly) {
    // As when the updater runs from a CD.
    SetFileAttributesW((source / L"QUENDOR.DLL").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((source / L"QUENDOR.LEX").c_str(), FILE_ATTRIBUTE_READONLY);
    // The update copies onto a temporary file it has just made.
    const std::wstring probe = office / L"probe";
    WriteFile(probe, "");
    CopyFileW((source / L"QUENDOR.LEX").c_str(), probe.c_str(), FALSE);
    const bool copiesCarryReadOnly = (GetFileAttributesW(probe.c_str()) & FILE_ATTRIBUTE_READONLY) != 0;
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(probe.c_str());
    if (!copiesCarryReadOnly) GTEST_SKIP() << "this system's file copy does not carry the read-only attribute";
    shared.Fill({Entry()});
    EXPECT_EQ(0, Run());
    EXPECT_EQ(kNewEngine, ReadFile(Proof(L"QUENDOR.DLL")));
    for (const wchar_t* name : {L"QUENDOR.DLL", L"QUENDOR.LEX"}) {
        EXPECT_FALSE(GetFileAttributesW(Proof(name).c_str()) & FILE_ATTRIBUTE_READONLY) << testing::PrintToString(name);
    }
    ExpectNoStrayFiles();
}

// What a silent run's window is asked: activated it never is, nor shown.
bool installerActivated = false;

LRESULT CALLBACK NoteInstallerActivation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && reinterpret_cast<HWND>(wParam) == FrmInstalador::Instance().Hwnd()) {
        installerActivated = true;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Unattended, the same procedure runs; only what a person would see differs.
TEST_F(Instalar, UnattendedRunsShowNoMessageAndTellTheOutcomeByTheExitCode) {
    shared.Fill({Entry()});
    for (const host::RunMode mode : {host::RunMode::kPassive, host::RunMode::kSilent}) {
        for (const bool engineInstalled : {true, false}) {
            SCOPED_TRACE(testing::Message() << (mode == host::RunMode::kSilent ? "silent" : "passive")
                                            << (engineInstalled ? ", engine installed" : ", no engine"));
            WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
            if (engineInstalled) {
                WriteFile(Proof(L"QUENDOR.DLL"), "old engine");
            } else {
                DeleteFileW(Proof(L"QUENDOR.DLL").c_str());
            }
            host.messages.clear();
            installerActivated = false;
            host::SetRunMode(mode);
            const HHOOK hook = SetWindowsHookExW(WH_CBT, NoteInstallerActivation, nullptr, GetCurrentThreadId());
            const int exitCode = Run();
            UnhookWindowsHookEx(hook);
            host::SetRunMode(host::RunMode::kInteractive);
            FrmInstalador::Instance().Unload();

            EXPECT_EQ(engineInstalled ? host::kExitUpdated : host::kExitNothingToUpdate, exitCode);
            EXPECT_TRUE(host.messages.empty()) << testing::PrintToString(host.messages[0].text);
            EXPECT_EQ(mode == host::RunMode::kPassive, installerActivated)
                << "the window is shown in passive runs only";
            EXPECT_EQ(engineInstalled ? kNewEngine : "<missing>", ReadFile(Proof(L"QUENDOR.DLL")));
            EXPECT_EQ(engineInstalled ? "new lexicon" : "old lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
        }
    }
}

// Read through the ANSI code page, "\u0141\u00F3d\u017A" would become its look-alike
// "L\u00F3dz", another folder that here holds an engine too.
TEST_F(Instalar, AFolderNamedOutsideTheAnsiCodePageIsTheOneUpdated) {
    const std::wstring lodz = office.Path() + L"\\\u0141\u00F3d\u017A";
    const std::wstring lookAlike = office.Path() + L"\\L\u00F3dz";
    for (const std::wstring& root : {lodz, lookAlike}) {
        for (const wchar_t* folder : {L"", L"\\Microsoft Shared", L"\\Microsoft Shared\\PROOF"}) {
            ASSERT_TRUE(CreateDirectoryW((root + folder).c_str(), nullptr)) << testing::PrintToString(root + folder);
        }
        WriteFile(root + L"\\Microsoft Shared\\PROOF\\QUENDOR.DLL", "old engine");
        WriteFile(root + L"\\Microsoft Shared\\PROOF\\QUENDOR.LEX", "old lexicon");
    }
    shared.Fill({lodz + L"\\Microsoft Shared\\Web\\X.DLL"});
    EXPECT_EQ(0, Run());
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(kSuccess, host.messages[0].text);
    EXPECT_EQ(kNewEngine, ReadFile(lodz + L"\\Microsoft Shared\\PROOF\\QUENDOR.DLL"));
    EXPECT_EQ("new lexicon", ReadFile(lodz + L"\\Microsoft Shared\\PROOF\\QUENDOR.LEX"));
    EXPECT_EQ("old engine", ReadFile(lookAlike + L"\\Microsoft Shared\\PROOF\\QUENDOR.DLL"));
    EXPECT_EQ("old lexicon", ReadFile(lookAlike + L"\\Microsoft Shared\\PROOF\\QUENDOR.LEX"));
}

// What a run puts in place now, no restart may undo: an update queued
// earlier for these files is taken out of the queue, its copies deleted.
TEST_F(Instalar, ANewerUpdateInPlaceTakesAnEarlierQueuedOneOut) {
    testing_support::RestartQueueSandbox queue;
    shared.Fill({Entry()});
    host::SetRunMode(host::RunMode::kSilent);
    QueueWhileTheLexiconIsHeld();
    EXPECT_EQ(4u, queue.Queued().size()) << "two renames queued";
    EXPECT_EQ(5u, FilesIn(ProofFolder()).size()) << "their two copies beside the files, and the lock file";
    WriteFile(source / L"QUENDOR.LEX", "newer lexicon");
    EXPECT_EQ(host::kExitUpdated, Run());
    host::SetRunMode(host::RunMode::kInteractive);
    EXPECT_EQ("newer lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
    EXPECT_TRUE(queue.Queued().empty()) << testing::PrintToString(queue.Queued());
    ExpectNoStrayFiles();
}

// A failed run leaves the update queued earlier as it was: the restart still finishes it.
TEST_F(Instalar, AQueuedPairSurvivesAFailedRun) {
    testing_support::RestartQueueSandbox queue;
    shared.Fill({Entry()});
    host::SetRunMode(host::RunMode::kSilent);
    QueueWhileTheLexiconIsHeld();
    const std::vector<std::wstring> queued = queue.Queued();
    const std::vector<std::wstring> files = FilesIn(ProofFolder());
    WriteFile(source / L"QUENDOR.LEX", "newer lexicon");
    SetFileAttributesW(Proof(L"QUENDOR.LEX").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(host::kExitFailed, Run());
    SetFileAttributesW(Proof(L"QUENDOR.LEX").c_str(), FILE_ATTRIBUTE_NORMAL);
    host::SetRunMode(host::RunMode::kInteractive);
    EXPECT_EQ(queued, queue.Queued());
    EXPECT_EQ(files, FilesIn(ProofFolder()));
}

// Held so that not even its version can be read, the installed engine (2.0)
// may be newer: replaced neither now nor at the restart.
TEST_F(Instalar, AnEngineHeldExclusivelyIsNeverReplaced) {
    testing_support::RestartQueueSandbox queue;
    ASSERT_TRUE(CopyFileW((TestFolder() + L"\\engine_v2.dll").c_str(), Proof(L"QUENDOR.DLL").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((TestFolder() + L"\\engine_v1.dll").c_str(), (source / L"QUENDOR.DLL").c_str(), FALSE));
    shared.Fill({Entry()});
    host::SetRunMode(host::RunMode::kSilent);
    const runtime::FileHandle held(CreateFileW(Proof(L"QUENDOR.DLL").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(host::kExitFilesInUse, Run());
    host::SetRunMode(host::RunMode::kInteractive);
    EXPECT_TRUE(queue.Queued().empty()) << testing::PrintToString(queue.Queued());
    ExpectNoStrayFiles();
}

// Other programs' work queued on the files' names, from them or onto them,
// stays as it is, played in order as the restart plays it: after their
// newer engine, or the engine's delete, nothing is queued; after anything
// else the restart changes, or may change, our pair. Their files and ours
// are known however the value names them, with or without the mark Windows
// 10 and 11 write.
TEST_F(Instalar, AnotherProgramsQueuedFilesAreKept) {
    using testing_support::RestartQueueSandbox;
    ASSERT_TRUE(CopyFileW((TestFolder() + L"\\engine_v1.dll").c_str(), (source / L"QUENDOR.DLL").c_str(), FALSE));
    shared.Fill({Entry()});
    wchar_t shortName[MAX_PATH];
    const std::wstring shortProof(shortName, GetShortPathNameW(ProofFolder().c_str(), shortName, MAX_PATH));
    ASSERT_NE(runtime::LCase(ProofFolder()), runtime::LCase(shortProof)) << "a short (8.3) form of the folder";
    const std::wstring ofc = L"\\??\\" + Proof(L"~ofc1.tmp");
    const std::wstring dll = L"\\??\\" + Proof(L"QUENDOR.DLL");
    const std::wstring lex = L"\\??\\" + Proof(L"QUENDOR.LEX");
    const std::wstring qnd1 = L"\\??\\" + Proof(L"QND1.tmp");
    const std::wstring qnd2 = L"\\??\\" + Proof(L"QND2.tmp");
    const std::wstring old = L"\\??\\" + Proof(L"old.dll");
    const std::wstring twin = L"\\??\\" + Proof(L"twin.dll");
    const std::vector<std::wstring> oursMarked = {L"*1" + qnd1, L"*1!" + dll, L"*1" + qnd2, L"*1!" + lex};
    const struct {
        const char* what;
        std::vector<std::wstring> first;
        std::vector<std::wstring> second = {};
        int exitCode = host::kExitAtNextRestart;
        bool oursAfter = false;
        std::optional<std::vector<std::wstring>> stays = {};  // first's strings left in front; all by default
        bool newerInstalled = false;  // the installed engine is 2.0, the new one 1.0
    } rows[] = {
        {"their newer engine", {ofc, L"!" + dll}},
        {"their newer engine, marked", {L"*1" + ofc, L"*1!" + dll}},
        {"marked, by its short name", {L"*1" + ofc, L"*1!\\??\\" + shortProof + L"\\QUENDOR.DLL"}},
        {"marked *0", {L"*0" + ofc, L"*0!" + dll}},
        {"kept as passed (*2) and *x: not confirmed", {L"*2" + ofc, L"*2!" + dll, L"*x" + ofc, L"*x!" + dll}, {},
         3010, true},
        {"@ for !", {ofc, L"@" + dll}},
        {"a mark on the destination only", {ofc, L"*1!" + dll}},
        {"in the second value", {}, {L"*1" + ofc, L"*1!" + dll}},
        {"onto the engine freed by a delete, without !", {dll, L"", ofc, dll}},
        {"the engine deleted: the speller removed", {L"*1" + dll, L""}, {}, host::kExitNothingToUpdate},
        {"both deleted while a newer engine is installed", {dll, L"", lex, L""}, {}, host::kExitNothingToUpdate, false,
         {}, true},
        {"their newer engine without !: it fails, the pair is replaced now", {ofc, dll}, {}, host::kExitUpdated},
        {"as an NT path", {ofc, L"!\\\\?\\" + runtime::LCase(shortProof) + L"\\quendor.dll"}, {}, 3010, true},
        {"the lexicon deleted, marked", {L"*1" + lex, L""}, {}, host::kExitAtNextRestart, true},
        {"the lexicon moved elsewhere", {lex, L"!\\??\\C:\\Other\\x.lex"}, {}, host::kExitAtNextRestart, true},
        {"the lexicon's default stream deleted", {lex + L"::$DATA", L""}, {}, host::kExitAtNextRestart, true},
        {"a mark of two characters is not understood", {ofc, L"*12!" + dll}, {}, host::kExitUpdated},
        {"a file that merely starts with qnd is theirs", {L"\\??\\" + Proof(L"qndict.lex"), L"!" + lex}, {}, 3010,
         true},
        {"their chain ends in an older engine", {old, L"!" + twin, twin, L"!" + dll}, {}, 3010, true},
        {"ours, marked", oursMarked},
        {"ours, one marked", {qnd1, L"!" + dll, L"*1" + qnd2, L"*1!" + lex}},
        {"ours, marked on the destinations only", {qnd1, L"*1!" + dll, qnd2, L"*1!" + lex}},
        {"ours, then their lexicon's delete", {oursMarked[0], oursMarked[1], oursMarked[2], oursMarked[3], lex, L""},
         {}, host::kExitAtNextRestart, true, std::vector<std::wstring>{lex, L""}},
        {"ours, after their delete of our engine's copy: replaced now", {qnd1, L"", qnd1, L"!" + dll, qnd2, L"!" + lex},
         {}, host::kExitUpdated, false, std::vector<std::wstring>{qnd1, L""}},
        {"ours, after their file renamed onto our engine's copy", {old, L"!" + qnd1, qnd1, L"!" + dll, qnd2, L"!" + lex},
         {}, 3010, true, std::vector<std::wstring>{old, L"!" + qnd1}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        RestartQueueSandbox queue;
        const std::string installed = row.newerInstalled ? ReadFile(TestFolder() + L"\\engine_v2.dll") : "old engine";
        WriteFile(Proof(L"QUENDOR.DLL"), installed);
        WriteFile(Proof(L"QUENDOR.LEX"), "old lexicon");
        ASSERT_TRUE(CopyFileW((TestFolder() + L"\\engine_v2.dll").c_str(), Proof(L"~ofc1.tmp").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((source / L"QUENDOR.DLL").c_str(), Proof(L"QND1.tmp").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((source / L"QUENDOR.DLL").c_str(), Proof(L"twin.dll").c_str(), FALSE));
        WriteFile(Proof(L"QND2.tmp"), "new lexicon");
        WriteFile(Proof(L"old.dll"), "old engine");
        WriteFile(Proof(L"qndict.lex"), "their lexicon");
        const auto value = [](const std::vector<std::wstring>& strings) {
            return strings.empty() ? std::nullopt : std::optional(RestartQueueSandbox::Bytes(strings) + std::string(2, 0));
        };
        RestartQueueSandbox::SetValue(testing_support::kPendingRenames, value(row.first));
        RestartQueueSandbox::SetValue(testing_support::kPendingRenames2, value(row.second));
        host::SetRunMode(host::RunMode::kSilent);
        EXPECT_EQ(row.exitCode, Run());
        host::SetRunMode(host::RunMode::kInteractive);
        FrmInstalador::Instance().Unload();
        const std::vector<std::wstring> after = queue.Queued();
        const std::vector<std::wstring>& stays = row.stays ? *row.stays : row.first;
        ASSERT_EQ(stays.size() + (row.oursAfter ? 4 : 0), after.size()) << testing::PrintToString(after);
        EXPECT_TRUE(std::equal(stays.begin(), stays.end(), after.begin())) << testing::PrintToString(after);
        if (row.oursAfter) {
            EXPECT_EQ(L"!" + lex, after.back());
            EXPECT_EQ(row.first.end(), std::ranges::find(row.first, after[after.size() - 4])) << "queued anew";
        }
        EXPECT_EQ(value(row.second), RestartQueueSandbox::Value(testing_support::kPendingRenames2));
        EXPECT_EQ(ReadFile(TestFolder() + L"\\engine_v2.dll"), ReadFile(Proof(L"~ofc1.tmp")));
        EXPECT_EQ("their lexicon", ReadFile(Proof(L"qndict.lex")));
        EXPECT_EQ(row.exitCode == host::kExitUpdated ? ReadFile(source / L"QUENDOR.DLL") : installed,
                  ReadFile(Proof(L"QUENDOR.DLL")));
    }
}

// The queue's values as other programs may leave them. Taking ours out cuts
// their bytes and no others; a value that is not whole pairs closed by one
// empty string stays as it is, only our copy named in it deleted, and
// nothing is queued while it is there: appended, ours would shift or glue on.
TEST_F(Instalar, RestartQueueValuesAreNeverReshaped) {
    using testing_support::RestartQueueSandbox;
    const auto bytes = RestartQueueSandbox::Bytes;
    const std::wstring copy = L"\\??\\" + Proof(L"QND1.tmp");
    const std::wstring onto = L"!\\??\\" + Proof(L"QUENDOR.DLL");
    const std::wstring dangling = L"\\??\\C:\\Other\\dangling.txt";
    const std::wstring theirs = L"\\??\\C:\\Other\\a.tmp";
    const struct {
        const char* shape;
        std::string before;
        bool whole;
        std::optional<std::string> after = {};  // once ours are out of a whole value; none: removed
    } values[] = {
        {"whole, ending in their deletion", bytes({copy, onto, dangling, L"", L""}), true, bytes({dangling, L"", L""})},
        {"only ours", bytes({copy, onto, L""}), true},
        {"no bytes at all: an empty queue", "", true, ""},
        {"marked as today's Windows writes", bytes({L"*1" + copy, L"*1" + onto, L"*1" + dangling, L"", L""}), true,
         bytes({L"*1" + dangling, L"", L""})},
        {"an odd byte length", bytes({copy, onto, L""}) + "A", false},
        {"no closing empty string", bytes({copy, onto, dangling}), false},
        {"an odd count with a terminator", bytes({copy, onto, dangling, L""}), false},
        {"an empty string in the middle", bytes({copy, onto, L"", theirs, L"!" + dangling, L""}), false},
    };
    for (const wchar_t* name : {testing_support::kPendingRenames, testing_support::kPendingRenames2}) {
        for (const auto& value : values) {
            SCOPED_TRACE(testing::Message() << value.shape << ", " << testing::PrintToString(std::wstring(name)));
            RestartQueueSandbox queue;
            RestartQueueSandbox::SetValue(testing_support::kPendingRenames, std::nullopt);
            RestartQueueSandbox::SetValue(name, value.before);
            WriteFile(Proof(L"QND1.tmp"), "stale copy");
            update::Unqueue({Proof(L"QUENDOR.DLL"), Proof(L"QUENDOR.LEX")});
            EXPECT_EQ(value.whole ? value.after : value.before, RestartQueueSandbox::Value(name));
            EXPECT_EQ(value.before.empty() ? "stale copy" : "<missing>", ReadFile(Proof(L"QND1.tmp")))
                << "our stale copy deleted where the value names it";
            bool queued = true;
            try {
                update::QueueForRestart({{source / L"QUENDOR.DLL", Proof(L"QUENDOR.DLL")},
                                         {source / L"QUENDOR.LEX", Proof(L"QUENDOR.LEX")}});
            } catch (const update::FileInUse&) {
                queued = false;
            }
            EXPECT_EQ(value.whole, queued);
            const bool first = name == testing_support::kPendingRenames;
            if (!queued) {
                EXPECT_EQ(value.before, RestartQueueSandbox::Value(name)) << "nothing queued";
                EXPECT_TRUE(first || queue.Queued().empty()) << testing::PrintToString(queue.Queued());
                ExpectNoStrayFiles();
                continue;
            }
            // Ours follow what was there, whole and in order, closed by one empty string.
            const std::vector<std::wstring> after = queue.Queued();
            ASSERT_LE(4u, after.size());
            const std::vector<std::wstring> ours(after.end() - 4, after.end());
            const std::string kept = first && value.after ? value.after->substr(0, value.after->size() - 2) : "";
            EXPECT_EQ(kept + bytes(ours) + bytes({L""}), RestartQueueSandbox::Value(testing_support::kPendingRenames));
            EXPECT_EQ(onto, ours[1]);
            EXPECT_EQ(L"!\\??\\" + Proof(L"QUENDOR.LEX"), ours[3]);
        }
    }
}

// Windows 10 and 11 queue each string with a mark in front and, with "*1",
// the final path rather than the one passed: ours read back so, and stay
// queued as written, the staged copies with them; a later run that
// replaces at once with newer files takes them out and deletes the copies.
TEST_F(Instalar, RenamesQueuedAsTodaysWindowsStoresThemReadBack) {
    using testing_support::RestartQueueSandbox;
    // The shared-DLL list names the folder by its short (8.3) name.
    wchar_t shortName[MAX_PATH];
    const std::wstring shortOffice(shortName, GetShortPathNameW(office.Path().c_str(), shortName, MAX_PATH));
    ASSERT_NE(runtime::LCase(office.Path()), runtime::LCase(shortOffice));
    shared.Fill({shortOffice + L"\\Office\\Microsoft Shared\\Web\\X.DLL"});
    static std::vector<std::wstring> written;
    static const wchar_t* mark;
    const update::QueueCalls windows = update::QueueCallsInUse();
    for (const wchar_t* stored : {L"*1", L"*2"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(stored)));
        RestartQueueSandbox queue;
        written.clear();
        mark = stored;
        // "*1": both paths made final (long); "*2": both kept as passed.
        update::QueueCallsInUse().queue = [](const std::wstring& from, const std::wstring& to) {
            const auto final = [](const std::wstring& path) {
                wchar_t buffer[MAX_PATH];
                const DWORD length = GetLongPathNameW(path.c_str(), buffer, MAX_PATH);
                return mark[1] == L'1' && length > 0 ? std::wstring(buffer, length) : path;
            };
            written.insert(written.end(), {mark + (L"\\??\\" + final(from)), mark + (L"!\\??\\" + final(to))});
            std::vector<std::wstring> strings = written;
            strings.push_back(L"");
            RestartQueueSandbox::SetValue(testing_support::kPendingRenames, RestartQueueSandbox::Bytes(strings));
            return true;
        };
        host::SetRunMode(host::RunMode::kSilent);
        QueueWhileTheLexiconIsHeld();
        EXPECT_EQ(written, queue.Queued());
        EXPECT_EQ(5u, FilesIn(ProofFolder()).size()) << "the two staged copies stay beside the files and the lock file";
        update::QueueCallsInUse() = windows;
        WriteFile(source / L"QUENDOR.LEX", "newer lexicon");
        EXPECT_EQ(host::kExitUpdated, Run());
        FrmInstalador::Instance().Unload();
        host::SetRunMode(host::RunMode::kInteractive);
        EXPECT_TRUE(queue.Queued().empty()) << testing::PrintToString(queue.Queued());
        ExpectNoStrayFiles();
    }
}

// Another program appends to the value while ours are taken out of it: what
// it appended is kept; one that keeps changing the value is left as it is,
// and our copy is deleted all the same, so that our rename fails harmlessly.
TEST_F(Instalar, TakingOursOutNeverWritesAwayWhatAnotherProgramAppends) {
    using testing_support::RestartQueueSandbox;
    const auto bytes = RestartQueueSandbox::Bytes;
    const std::vector<std::wstring> ours = {L"*1\\??\\" + Proof(L"QND1.tmp"), L"*1!\\??\\" + Proof(L"QUENDOR.DLL")};
    static const std::vector<std::wstring> theirs = {L"*1\\??\\C:\\Other\\a.tmp", L"*1!\\??\\C:\\Other\\a.dll"};
    static int appends;
    static int appended;
    for (const int times : {1, 100}) {
        appends = times;
        SCOPED_TRACE(appends);
        RestartQueueSandbox queue;
        RestartQueueSandbox::SetValue(testing_support::kPendingRenames2, std::nullopt);
        RestartQueueSandbox::SetValue(testing_support::kPendingRenames, bytes({ours[0], ours[1], L""}));
        WriteFile(Proof(L"QND1.tmp"), "stale copy");
        appended = 0;
        update::QueueCallsInUse().beforeWrite = [](const wchar_t* name) {
            if (appended++ == appends) return;
            const std::string value = RestartQueueSandbox::Value(name).value_or(std::string(2, 0));
            RestartQueueSandbox::SetValue(name, value.substr(0, value.size() - 2) +
                                                    RestartQueueSandbox::Bytes({theirs[0], theirs[1], L""}));
        };
        update::Unqueue({Proof(L"QUENDOR.DLL"), Proof(L"QUENDOR.LEX")});
        const std::vector<std::wstring> after = queue.Queued();
        ASSERT_LE(2u, after.size());
        EXPECT_EQ(appends == 1 ? theirs : ours, std::vector(after.begin(), after.begin() + 2));
        EXPECT_EQ(theirs, std::vector(after.end() - 2, after.end()));
        EXPECT_EQ("<missing>", ReadFile(Proof(L"QND1.tmp")));
    }
}

TEST_F(Instalar, AnErrorAfterBothFilesAreInPlaceStillEndsAsUpdated) {
    shared.Fill({Entry()});
    // The success message itself runs out of memory.
    host.msgBoxRunsOutOfMemory = true;
    EXPECT_EQ(host::kExitUpdated, Run());
    ASSERT_EQ(1u, host.messages.size()) << "no failure message after it";
    EXPECT_EQ(kSuccess, host.messages[0].text);
    EXPECT_EQ(kNewEngine, ReadFile(Proof(L"QUENDOR.DLL")));
    EXPECT_EQ("new lexicon", ReadFile(Proof(L"QUENDOR.LEX")));
}

// What Windows gives where Wine never refuses: a CryptoAPI error (Wine's base
// provider lacks SHA-256 as XP SP2's AES provider does), and a proofing
// folder refused to the run.
DWORD acquireError = 0;
BOOL WINAPI Acquire(HCRYPTPROV* provider, LPCWSTR, LPCWSTR, DWORD type, DWORD flags) {
    if (acquireError == 0 || acquireError == static_cast<DWORD>(NTE_BAD_ALGID)) {
        return CryptAcquireContextW(provider, nullptr, nullptr, acquireError == 0 ? type : PROV_RSA_FULL, flags);
    }
    SetLastError(acquireError);
    return FALSE;
}
bool folderRefused = false;
UINT WINAPI TempFileName(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name) {
    if (folderRefused) SetLastError(ERROR_ACCESS_DENIED);
    return folderRefused ? 0 : GetTempFileNameW(folder, prefix, unique, name);
}

// Each is said as such, in its message, a log line and the last line, ends 1
// and changes nothing; any other failure, and an administrator refused, as before.
TEST_F(Instalar, WhatOnlyWindowsRefusesIsSaidAndChangesNothing) {
    const std::string noSha256 = "este Windows non ten SHA-256 para comprobar a lista";
    const std::string limited = "sen dereitos de administrador non se pode escribir no cartafol";
    const struct {
        HRESULT acquireError;
        bool folderRefused;
        bool administrator;
        int message;  // 0: the failure message
        std::string own;  // how its log line and last line start; empty: none of its own
        int howTo = 0;  // how to run with the rights, after the message
        bool beforeVista = false;
    } runs[] = {
        {NTE_PROV_TYPE_NOT_DEF, false, true, IDS_NO_SHA256, noSha256},
        {NTE_BAD_ALGID, false, true, IDS_NO_SHA256, noSha256},
        {NTE_PROV_DLL_NOT_FOUND, true, false, IDS_NO_SHA256, noSha256},
        {NTE_BAD_KEYSET, false, true, 0, ""},
        {0, true, false, IDS_NEEDS_ADMINISTRATOR, limited, IDS_RUN_AS_ON_XP, true},
        {0, true, false, IDS_NEEDS_ADMINISTRATOR, limited, IDS_RUN_AS_ADMINISTRATOR},
        {0, true, true, 0, ""},
    };
    const std::wstring log = office / L"run.log";
    ASSERT_TRUE(host::OpenLog(log));
    shared.Fill({Entry()});
    const update::AcquireContextFunction acquire = update::SetAcquireContext(Acquire);
    const update::TempFileNameFunction tempFileName = update::SetTempFileName(TempFileName);
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::Message() << std::hex << run.acquireError << (run.folderRefused ? ", refused" : "")
                     << (run.beforeVista ? ", XP" : ""));
        std::tie(acquireError, folderRefused, host.administrator, host.beforeVista) =
            std::tuple(static_cast<DWORD>(run.acquireError), run.folderRefused, run.administrator, run.beforeVista);
        host.messages.clear();
        // A list whose engine line is reached: its size matches, its SHA-256 must be computed.
        DeleteFileW((source / L"QUENDOR.LST").c_str());
        if (run.acquireError != 0) {
            WriteFile(source / L"QUENDOR.LST",
                      std::string(64, '0') + " " + std::to_string(kNewEngine.size()) + " QUENDOR.DLL\n");
        }
        const std::size_t before = ReadFile(log).size();
        EXPECT_EQ(host::kExitFailed, Run());
        FrmInstalador::Instance().Unload();
        const std::string lines = ReadFile(log).substr(before);
        const std::string body = lines.substr(0, lines.rfind("Remata"));  // its own line starts in capitals
        EXPECT_EQ(run.message == 0   ? kFailure
                  : run.howTo == 0 ? runtime::LoadResString(run.message)
                                   : runtime::LoadResString(run.message) + L" " + runtime::LoadResString(run.howTo),
                  host.messages.at(0).text);
        EXPECT_EQ(run.own == noSha256, body.find(noSha256.substr(1)) != std::string::npos) << lines;
        EXPECT_EQ(run.own == limited, body.find(limited.substr(1)) != std::string::npos) << lines;
        EXPECT_NE(std::string::npos, lines.find("digo 1: " + (run.own.empty() ? "non foi posible" : run.own)));
        ExpectUnchanged();
    }
    update::SetAcquireContext(acquire);
    update::SetTempFileName(tempFileName);
}

// The installed file counts as the new one byte for byte only: held by
// another program so that it cannot be read, it is not known to be the same.
TEST(UpdateRules, SameContents) {
    TempFolder folder;
    const std::wstring incoming = folder / L"new";
    const std::wstring installed = folder / L"installed";
    WriteFile(incoming, "new lexicon");
    const struct {
        const char* how;
        const char* installed;  // nullptr: a copy, which keeps the new file's time
        bool held;
        bool same;
    } cases[] = {
        {"a copy", nullptr, false, true},
        {"the same bytes, written later", "new lexicon", false, true},
        {"other bytes of the same size", "old lexicon", false, false},
        {"a longer file", "new lexicon, longer", false, false},
        {"a copy, held", nullptr, true, false},
        {"the same bytes written later, held", "new lexicon", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        if (c.installed == nullptr) {
            ASSERT_TRUE(CopyFileW(incoming.c_str(), installed.c_str(), FALSE));
        } else {
            // The clock moves on between the two files.
            Sleep(20);
            WriteFile(installed, c.installed);
        }
        runtime::FileHandle held;
        if (c.held) held.Reset(CreateFileW(installed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(c.same, update::SameContents(incoming, installed));
    }
    EXPECT_FALSE(update::SameContents(incoming, folder / L"missing"));
}

// A copy of file whose version resource claims size bytes in its data entry.
std::wstring WithVersionClaim(const std::wstring& file, const std::wstring& copy, DWORD size) {
    EXPECT_TRUE(CopyFileW(file.c_str(), copy.c_str(), FALSE));
    const runtime::Library mapped(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    // Mapped as a flat file, the data entry lies at its file offset; its size follows its address.
    const auto entry = reinterpret_cast<ULONG_PTR>(FindResourceW(mapped.Get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)));
    const LONG offset = static_cast<LONG>(entry - (reinterpret_cast<ULONG_PTR>(mapped.Get()) & ~ULONG_PTR{3}) + 4);
    const runtime::FileHandle out(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(SetFilePointer(out.Get(), offset, nullptr, FILE_BEGIN) == static_cast<DWORD>(offset) &&
                ::WriteFile(out.Get(), &size, sizeof size, &written, nullptr));
    return copy;
}

// Only a higher version installed stops the update; equal or missing versions
// leave it to the contents.
TEST(UpdateRules, Versions) {
    constexpr std::uint64_t kOne = 0x0001000000000000;
    constexpr std::uint64_t kTwo = 0x0002000000000000;
    const struct {
        std::optional<std::uint64_t> installed;
        std::optional<std::uint64_t> incoming;
        bool newer;
    } rules[] = {
        {kTwo, kOne, true}, {kOne, kOne, false}, {kOne, kTwo, false},
        {std::nullopt, kOne, false}, {kTwo, std::nullopt, false}, {std::nullopt, std::nullopt, false},
    };
    for (const auto& rule : rules) EXPECT_EQ(rule.newer, update::IsNewer(rule.installed, rule.incoming));

    const std::wstring folder = TestFolder() + L"\\";
    TempFolder text;
    WriteFile(text / L"QUENDOR.DLL", "new engine");
    const struct {
        std::wstring file;
        std::optional<std::uint64_t> version;
        std::wstring description;
    } files[] = {
        {folder + L"engine_v1.dll", kOne, L"Test speller engine"},
        {folder + L"engine_v2.dll", kTwo, L"Test speller engine"},
        {text / L"QUENDOR.DLL", std::nullopt, L""},
        {text / L"missing.dll", std::nullopt, L""},
        // A version block is at most 64 KB, whatever the resource claims.
        {WithVersionClaim(folder + L"engine_v2.dll", text / L"16MB.dll", 16u << 20), kTwo, L"Test speller engine"},
        {WithVersionClaim(folder + L"engine_v2.dll", text / L"2GB.dll", 2u << 30), kTwo, L"Test speller engine"},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(testing::PrintToString(file.file));
        EXPECT_EQ(file.version, update::FileVersion(file.file));
        EXPECT_EQ(file.description, update::FileDescription(file.file));
    }
    EXPECT_EQ(L"2.0.0.0", update::VersionText(kTwo));
}

// What is moved must be what was checked: a staged copy changed after the
// sources passed fails, nothing is touched and no copy is left behind.
TEST_F(Instalar, AStagedCopyThatDiffersFromTheCheckedSourceIsNeverMoved) {
    const auto changeEngine = [](const std::wstring& staged) {
        if (ReadFile(staged) == kNewEngine) WriteFile(staged, kNewEngine.substr(0, 300));
    };
    EXPECT_THROW(update::ReplaceFilesTogether({{source / L"QUENDOR.DLL", Proof(L"QUENDOR.DLL")},
                                               {source / L"QUENDOR.LEX", Proof(L"QUENDOR.LEX")}},
                                              update::MoveInPlace, changeEngine),
                 update::DamagedFiles);
    ExpectUnchanged();
}
