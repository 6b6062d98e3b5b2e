// Random shared-DLL keys against the real install procedure, in a sandbox
// folder tree: whatever the key holds, the program ends with one message and
// the right exit code, and nothing but the two files of the derived proofing
// folder ever changes, both or neither.
#include <windows.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "installer/frm_instalador.h"
#include "runtime/strings.h"
#include "tests/support/shared_dlls_sandbox.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_host.h"
#include "update/replacement_lock.h"

namespace {

// The new engine that the tests install: a real DLL.
const std::string kNewEngine = testing_support::FakeEngine("new engine");

using testing_support::ReadFile;
using testing_support::WriteFile;

constexpr int kCases = 300;
constexpr unsigned kSeed = 20261207;

// Every file under a folder, with its contents.
void Snapshot(const std::wstring& folder, std::map<std::wstring, std::string>& files) {
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Snapshot(path, files);
        } else {
            files[path] = ReadFile(path);
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

// The proofing folder that the first entry with the marker, in the key's
// own order, leads to; empty when no entry has it.
std::wstring DerivedFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return std::wstring();
    }
    std::wstring derived;
    std::vector<wchar_t> name(16384);
    for (DWORD i = 0; derived.empty(); ++i) {
        DWORD size = static_cast<DWORD>(name.size());
        if (RegEnumValueW(key, i, name.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::size_t at = runtime::LCase(std::wstring_view(name.data(), size)).find(L"microsoft shared");
        if (at == std::wstring::npos) continue;
        const std::wstring relative = std::wstring(name.data(), at) + L"Microsoft Shared\\PROOF";
        wchar_t full[MAX_PATH];
        derived = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr) ? full : L"?";
    }
    RegCloseKey(key);
    return derived;
}

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    int Below(int limit) { return std::uniform_int_distribution<int>(0, limit - 1)(random_); }
    bool Chance(int percent) { return Below(100) < percent; }

    std::wstring Piece() {
        static const std::vector<std::wstring> pieces = {
            L"Program Files", L"Common Files", L"Arquivos", L"Compo\u00F1entes", L"\u0416\u0443\u0440",
            L"\u6587\u4EF6", L"a*b", L"q?", L"x", L"Web", L"..", L".", L" ", L"PROOF", L"microsoft",
        };
        return pieces[static_cast<std::size_t>(Below(static_cast<int>(pieces.size())))];
    }

    std::wstring Marker() {
        std::wstring marker = L"microsoft shared";
        for (wchar_t& c : marker) {
            if (Chance(50)) c = static_cast<wchar_t>(towupper(c));
        }
        return marker;
    }

    // A value name as the shared-DLL key might hold: a path or anything else.
    std::wstring Name(const std::wstring& root, const std::vector<std::wstring>& folders) {
        switch (Below(8)) {
        case 0:
            return L"";
        case 1:
            return std::wstring(static_cast<std::size_t>(1 + Below(16383)), L"ab\\?*\u00F1"[Below(6)]);
        case 2:
            return Marker() + L"\\" + Piece() + L"\\x.dll";
        case 3:
        case 4: {
            // An entry below one of the prepared folders, which may hold an installation.
            const std::wstring& folder = folders[static_cast<std::size_t>(Below(static_cast<int>(folders.size())))];
            return folder + L"\\" + Marker() + L"\\" + Piece() + L"\\y.dll";
        }
        default: {
            std::wstring name = Chance(50) ? root : L"C:";
            for (int i = Below(4); i >= 0; --i) name += L"\\" + Piece();
            if (Chance(30)) name += L"\\" + Marker();
            return name + L"\\z.dll";
        }
        }
    }

private:
    std::mt19937 random_;
};

}  // namespace

TEST(InstalarWithRandomKeys, EndsWithOneMessageAndChangesOnlyTheDerivedFolder) {
    Generator generate(kSeed);
    testing_support::SharedDllsSandbox shared;
    int updated = 0;
    int refused = 0;
    for (int round = 0; round < kCases; ++round) {
        SCOPED_TRACE("case " + std::to_string(round) + " of seed " + std::to_string(kSeed));
        testing_support::TempFolder root;
        const std::wstring source = root / L"src";
        CreateDirectoryW(source.c_str(), nullptr);
        WriteFile(source + L"\\QUENDOR.DLL", kNewEngine);
        WriteFile(source + L"\\QUENDOR.LEX", "new lexicon");

        // Folders that may hold an installation; some do, with or without a lexicon.
        std::vector<std::wstring> folders;
        for (int i = 0; i < 3; ++i) {
            const std::wstring folder = root / (L"office" + std::to_wstring(i));
            folders.push_back(folder);
            CreateDirectoryW(folder.c_str(), nullptr);
            if (!generate.Chance(70)) continue;
            CreateDirectoryW((folder + L"\\Microsoft Shared").c_str(), nullptr);
            CreateDirectoryW((folder + L"\\Microsoft Shared\\PROOF").c_str(), nullptr);
            WriteFile(folder + L"\\Microsoft Shared\\PROOF\\QUENDOR.DLL", "old engine " + std::to_string(i));
            if (generate.Chance(80)) WriteFile(folder + L"\\Microsoft Shared\\PROOF\\QUENDOR.LEX", "old lexicon");
            WriteFile(folder + L"\\Microsoft Shared\\PROOF\\OTHER.DLL", "neighbour");
        }

        shared.Clear();
        std::vector<std::wstring> names;
        for (int i = generate.Below(12); i > 0; --i) names.push_back(generate.Name(root.Path(), folders));
        shared.Fill(names);

        std::map<std::wstring, std::string> before;
        Snapshot(root.Path(), before);

        // Relative entries lead below the sandbox too.
        SetCurrentDirectoryW(root.Path().c_str());
        testing_support::TestHost host(source);
        int exitCode = -1;
        try {
            FrmInstalador::Instance().Show();
        } catch (const testing_support::ProgramEnded& ended) {
            exitCode = ended.exitCode;
        }
        FrmInstalador::Instance().Unload();
        SetCurrentDirectoryW(source.c_str());

        std::map<std::wstring, std::string> after;
        Snapshot(root.Path(), after);
        std::vector<std::wstring> changed;
        for (const auto& [path, bytes] : after) {
            const auto old = before.find(path);
            // The lock file stays, empty.
            if (path.ends_with(std::wstring(L"\\") + update::kLockFileName) && bytes.empty()) continue;
            if (old == before.end() || old->second != bytes) changed.push_back(path);
        }
        for (const auto& [path, bytes] : before) {
            if (after.find(path) == after.end()) changed.push_back(path + L" (removed)");
        }

        ASSERT_EQ(1u, host.messages.size()) << "exit code " << exitCode;
        if (exitCode == 0) {
            ++updated;
            EXPECT_EQ(L"O corrector foi actualizado", host.messages[0].text);
            ASSERT_EQ(2u, changed.size());
            const std::wstring folder = changed[0].substr(0, changed[0].find_last_of(L'\\'));
            EXPECT_EQ(runtime::LCase(folder + L"\\QUENDOR.DLL"), runtime::LCase(changed[0]));
            EXPECT_EQ(runtime::LCase(folder + L"\\QUENDOR.LEX"), runtime::LCase(changed[1]));
            EXPECT_EQ(kNewEngine, after[changed[0]]);
            EXPECT_EQ("new lexicon", after[changed[1]]);
            EXPECT_EQ(runtime::LCase(DerivedFolder()), runtime::LCase(folder))
                << "not the folder of the first entry with the marker";
        } else {
            ++refused;
            // Nothing to update exactly when no folder holding the engine was found.
            const std::wstring derived = DerivedFolder();
            const bool engineThere =
                !derived.empty() && GetFileAttributesW((derived + L"\\QUENDOR.DLL").c_str()) != INVALID_FILE_ATTRIBUTES;
            EXPECT_EQ(engineThere ? 1 : 4, exitCode);
            EXPECT_EQ(L"Non \u00E9 posible continuar a instalaci\u00F3n", host.messages[0].text);
            EXPECT_TRUE(changed.empty()) << changed.size() << " files changed, first "
                                         << testing::PrintToString(changed.empty() ? L"" : changed[0]);
        }
    }
    // Both outcomes must be common, or the cases prove little.
    std::printf("%d cases: %d updated, %d refused\n", kCases, updated, refused);
    EXPECT_GT(updated, kCases / 10);
    EXPECT_GT(refused, kCases / 10);
}
