#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/temp_folder.h"
#include "update/integrity.h"

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;

namespace {

template <typename T>
T ValueAt(const std::string& bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

template <typename T>
std::string Patched(std::string bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return bytes;
}

// ASCII text as UTF-16LE with its mark, as PowerShell 5.1 writes with Out-File.
std::string Utf16(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (const char c : text) bytes += {c, '\0'};
    return bytes;
}

std::wstring TestFolder() {
    wchar_t self[MAX_PATH];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

}  // namespace

// Each way a new pair can be damaged, against a whole engine with its header
// checksum and a pair that a list vouches for (sha256sum of the two texts).
TEST(CheckNewFiles, ADamagedPairIsRefusedAndAWholeOnePasses) {
    const std::string engine = ReadFile(TestFolder() + L"engine_v1.dll");
    ASSERT_GT(engine.size(), 4096u);
    const auto pe = ValueAt<std::uint32_t>(engine, 0x3C);
    const std::size_t sections = pe + 24 + ValueAt<std::uint16_t>(engine, pe + 20);
    ASSERT_NE(0u, ValueAt<std::uint32_t>(engine, pe + 88)) << "the engine has a header checksum";
    // One data directory fewer: the section table moves up to follow the
    // shorter optional header, and the bytes after it stay where they were.
    const std::size_t directories = pe + 24 + 96;
    ASSERT_EQ(16u, ValueAt<std::uint32_t>(engine, directories - 4));
    ASSERT_EQ(0u, ValueAt<std::uint64_t>(engine, directories + 15 * 8)) << "the last directory is unused";
    std::string shortHeader = Patched<std::uint32_t>(Patched<std::uint32_t>(engine, pe + 88, 0), directories - 4, 15);
    shortHeader = Patched<std::uint16_t>(shortHeader, pe + 20, 96 + 15 * 8);
    shortHeader.erase(directories + 15 * 8, 8);
    shortHeader.insert(sections - 8 + ValueAt<std::uint16_t>(engine, pe + 6) * 40, 8, '\0');
    const std::string dll = "5205f280ab2d55aee713991c1ada97c0043d2f3652b0f297b8156c6a7cc95823 10 QUENDOR.DLL";
    const std::string lex = "F7438BE067622FEF5EE1C29B702D1983C9EE95F9DC3C225179088EACA613CEDA 11 quendor.lex";
    const std::string list = dll + "\r\n" + lex + "\r\n";
    const struct {
        const char* what;
        std::string engine;
        std::string lexicon;
        std::string list;  // none when empty; a folder in its place when "<folder>"
        bool damaged;
        bool unreadableList = false;
    } pairs[] = {
        {"a whole engine", engine, "new lexicon", "", false},
        {"cut in its headers", engine.substr(0, pe + 100), "new lexicon", "", true},
        {"not a PE file", "new engine", "new lexicon", "", true},
        {"x64", Patched<std::uint16_t>(engine, pe + 4, IMAGE_FILE_MACHINE_AMD64), "new lexicon", "", true},
        {"an EXE", Patched<std::uint16_t>(engine, pe + 22, ValueAt<std::uint16_t>(engine, pe + 22) & ~IMAGE_FILE_DLL),
         "new lexicon", "", true},
        {"a bad checksum", Patched<char>(engine, engine.size() / 2, static_cast<char>(~engine[engine.size() / 2])),
         "new lexicon", "", true},
        {"a section beyond the end", Patched<std::uint32_t>(Patched<std::uint32_t>(engine, pe + 88, 0), sections + 16, 1u << 28),
         "new lexicon", "", true},
        {"an empty lexicon", engine, "", "", true},
        {"texts that match their list", "new engine", "new lexicon", list, false},
        {"a list that does not match", "new engine", "new lexicoN", list, true},
        {"a list without the lexicon", "new engine", "new lexicon", list.substr(0, list.find('\n') + 1), true},
        {"a short optional header", shortHeader, "new lexicon", "", false},
        {"directories beyond the optional header", Patched<std::uint16_t>(engine, pe + 20, 96 + 15 * 8), "new lexicon",
         "", true},
        {"a list with a UTF-8 mark", "new engine", "new lexicon", "\xEF\xBB\xBF" + list, false},
        {"a list in UTF-16LE", "new engine", "new lexicon", Utf16(list), false},
        {"a list with LF line ends", "new engine", "new lexicon", dll + "\n" + lex + "\n", false},
        {"blanks after the names", "new engine", "new lexicon", dll + " \r\n" + lex + " \t\n", false},
        {"a malformed line first", "new engine", "new lexicon", "QUENDOR.DLL\r\n" + list, true, true},
        {"a malformed line last", "new engine", "new lexicon", list + "QUENDOR.DLL\r\n", true, true},
        {"CR line ends only", "new engine", "new lexicon", dll + "\r" + lex + "\r", true, true},
        {"a NUL after a name", "new engine", "new lexicon", dll + std::string(1, '\0') + "\r\n" + lex, true, true},
        {"a next line (U+0085) after a name", "new engine", "new lexicon", dll + "\xC2\x85\r\n" + lex, true, true},
        {"a DEL after a name", "new engine", "new lexicon", dll + "\x7F\r\n" + lex, true, true},
        {"one file twice, two hashes", "new engine", "new lexicon", list + "0" + dll.substr(1), true, true},
        {"one file twice, the same in another case", "new engine", "new lexicon",
         list + dll.substr(0, dll.size() - 11) + "quendor.dll", false},
        {"a list that cannot be opened", "new engine", "new lexicon", "<folder>", true, true},
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair.what);
        TempFolder folder;
        WriteFile(folder / L"QUENDOR.DLL", pair.engine);
        WriteFile(folder / L"QUENDOR.LEX", pair.lexicon);
        if (pair.list == "<folder>") {
            ASSERT_TRUE(CreateDirectoryW((folder / update::kIntegrityListName).c_str(), nullptr));
        } else if (!pair.list.empty()) {
            WriteFile(folder / update::kIntegrityListName, pair.list);
        }
        const auto check = [&] {
            update::CheckNewFiles({{folder / L"QUENDOR.DLL", L"C:\\PROOF\\QUENDOR.DLL"},
                                   {folder / L"QUENDOR.LEX", L"C:\\PROOF\\QUENDOR.LEX"}},
                                  folder.Path());
        };
        if (pair.unreadableList) {
            EXPECT_THROW(check(), update::UnreadableList);
        } else if (pair.damaged) {
            EXPECT_THROW(check(), update::DamagedFiles);
        } else {
            EXPECT_NO_THROW(check());
        }
    }
}
