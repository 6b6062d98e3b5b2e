#include "registry/registro.h"

#include <aclapi.h>

#include <string>
#include <vector>

#include "tests/support/registry_sandbox.h"
#include "tests/support/temp_folder.h"
#include "tests/unit/error_matchers.h"

using testing_support::RegistrySandbox;
using testing_support::TempFolder;

namespace {

std::vector<std::wstring> Items(const runtime::Collection& list) {
    std::vector<std::wstring> items;
    for (std::int32_t i = 1; i <= list.Count(); ++i) items.push_back(list.Item(i));
    return items;
}

std::vector<std::wstring> ListKey(const RegistrySandbox& key) {
    const auto list = Registro::LeerValoresClave(key.Subkey());
    if (list == nullptr) {
        ADD_FAILURE() << "LeerValoresClave returned no list";
        return {};
    }
    return Items(*list);
}

// Long names make GoogleTest's own printing unreadable: describe them by
// length and first character instead.
std::vector<std::wstring> Described(const std::vector<std::wstring>& names) {
    std::vector<std::wstring> described;
    for (const auto& name : names) {
        described.push_back(name.size() <= 64 ? name
                                              : name.substr(0, 1) + L"... (" + std::to_wstring(name.size()) + L")");
    }
    return described;
}

// Values are created in name order, so that the registry's enumeration order
// (creation order on Windows, name order under Wine) is the same on both.
using Names = std::vector<std::wstring>;

}  // namespace

TEST(LeerValoresClave, MissingKeyGivesAnEmptyList) {
    RegistrySandbox key(L"Missing");
    const auto list = Registro::LeerValoresClave(key.Subkey());
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(0, list->Count());
}

TEST(LeerValoresClave, KeyWithoutValuesGivesAnEmptyList) {
    RegistrySandbox key(L"Empty");
    key.Create();
    EXPECT_EQ(Names{}, ListKey(key));
}

TEST(LeerValoresClave, NamesComeBackWholeAndAsStored) {
    RegistrySandbox key(L"Names");
    key.Create();
    key.SetDword(L"", 1);  // the key's default value
    key.SetDword(L"aaaaaaaaaa", 1);
    key.SetString(L"abc", L"");
    key.SetBinary(L"C:\\Program Files\\Common Files\\Microsoft Shared\\Proof\\X.DLL", 4);
    key.SetString(L"D:\\Compo\u00F1entes\\mixed Case.dll", L"x");
    EXPECT_EQ((Names{L"", L"aaaaaaaaaa", L"abc", L"C:\\Program Files\\Common Files\\Microsoft Shared\\Proof\\X.DLL",
                     L"D:\\Compo\u00F1entes\\mixed Case.dll"}),
              ListKey(key));
}

TEST(LeerValoresClave, LongNamesAndBigDataDoNotHideLaterEntries) {
    RegistrySandbox key(L"Long");
    key.Create();
    const std::wstring name259(259, L'a');
    const std::wstring name260 = std::wstring(259, L'b') + L"c";
    const std::wstring name300(300, L'c');
    const std::wstring longest(16383, L'd');
    key.SetDword(name259, 1);
    key.SetDword(name260, 1);
    key.SetBinary(name300, 16);
    key.SetBinary(L"cz big data", 1000);
    key.SetDword(longest, 1);
    key.SetString(L"e after", std::wstring(5000, L'z'));
    key.SetDword(L"f last", 1);
    EXPECT_EQ(Described({name259, name260, name300, L"cz big data", longest, L"e after", L"f last"}),
              Described(ListKey(key)));
}

// Letters the ANSI code page lacks would come back as look-alikes through the
// ANSI calls ("\u0141\u00F3d\u017A" as "L\u00F3dz", a fullwidth backslash as "\\"),
// naming another folder.
TEST(LeerValoresClave, NamesOutsideTheAnsiCodePageComeBackAsStored) {
    RegistrySandbox key(L"Unicode");
    key.Create();
    const Names names = {
        L"C:\\Office\uFF3CMicrosoft Shared\\y.dll",
        L"C:\\\u0141\u00F3d\u017A\\Microsoft Shared\\x.dll",
        L"D:\\\u65E5\u672C\\\u0416.dll",
        std::wstring(16383, L'\u0141'),  // the longest name the registry allows, in characters
    };
    for (const auto& name : names) key.SetDword(name, 1);
    EXPECT_EQ(Described(names), Described(ListKey(key)));
}

TEST(LeerValoresClave, ManyValuesAllListedInOrder) {
    RegistrySandbox key(L"Many");
    key.Create();
    Names expected;
    for (int i = 0; i < 3000; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"C:\\LIB\\%05d.DLL", i);
        expected.push_back(name);
        key.SetDword(name, static_cast<DWORD>(i));
    }
    EXPECT_EQ(expected, ListKey(key));
}

TEST(AbrirClave, OpensExistingKeysOnly) {
    RegistrySandbox key(L"Open");
    EXPECT_FALSE(Registro::AbrirClave(HKEY_LOCAL_MACHINE, key.Subkey()));
    key.Create();
    const runtime::RegistryKey opened = Registro::AbrirClave(HKEY_LOCAL_MACHINE, key.Subkey());
    EXPECT_TRUE(opened);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST(AbrirClave, KeyThatMayNotBeReadGivesNothing) {
    RegistrySandbox key(L"Denied");
    key.Create();
    // Deny reading to everyone, keeping the right to change the security back.
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.Subkey().c_str(), 0, WRITE_DAC | READ_CONTROL, &raw));
    EXPLICIT_ACCESSW deny{};
    BuildExplicitAccessWithNameW(&deny, const_cast<wchar_t*>(L"EVERYONE"), KEY_READ & ~READ_CONTROL, DENY_ACCESS,
                                 NO_INHERITANCE);
    PACL acl = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, SetEntriesInAclW(1, &deny, nullptr, &acl));
    const DWORD set = SetSecurityInfo(raw, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    RegCloseKey(raw);
    ASSERT_EQ(ERROR_SUCCESS, set);

    HKEY probe = nullptr;
    const LONG direct = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.Subkey().c_str(), 0, KEY_READ, &probe);
    if (direct == ERROR_SUCCESS) {
        RegCloseKey(probe);
        GTEST_SKIP() << "this system lets the key be read despite its security (Wine does not check key access)";
    }
    EXPECT_FALSE(Registro::AbrirClave(HKEY_LOCAL_MACHINE, key.Subkey()));
    EXPECT_EQ(0, Registro::LeerValoresClave(key.Subkey())->Count());
}

TEST(QuitarNulos, CutsAtTheFirstNul) {
    const struct {
        std::wstring text;
        std::wstring expected;
    } cases[] = {
        {std::wstring(L"abc\0defgh", 9), L"abc"},
        {L"abcdef", L"abcdef"},
        {L"", L""},
        {std::wstring(L"\0abc", 4), L""},
        {std::wstring(L"a\0\0", 3), L"a"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Registro::QuitarNulos(c.text)) << c.text.size() << " units";
}

TEST(BuscarEnColeccion, FindsTheFirstMatchIgnoringCase) {
    auto list = std::make_shared<runtime::Collection>();
    list->Add(L"C:\\WINDOWS\\system32\\a.dll");
    list->Add(L"C:\\Program Files\\Common Files\\Microsoft Shared\\Web\\X.DLL");
    list->Add(L"D:\\other\\MICROSOFT SHARED\\y.dll");
    for (const wchar_t* sought : {L"microsoft shared", L"MICROSOFT SHARED", L"Microsoft Shared"}) {
        std::wstring result = L"unchanged";
        EXPECT_TRUE(Registro::BuscarEnColeccion(list, sought, result)) << sought;
        EXPECT_EQ(L"C:\\Program Files\\Common Files\\Microsoft Shared\\Web\\X.DLL", result) << sought;
    }
}

TEST(BuscarEnColeccion, MatchInTheLastItemOrAlone) {
    auto one = std::make_shared<runtime::Collection>();
    one->Add(L"x\\Microsoft Shared");
    std::wstring result;
    EXPECT_TRUE(Registro::BuscarEnColeccion(one, L"microsoft shared", result));
    EXPECT_EQ(L"x\\Microsoft Shared", result);

    auto last = std::make_shared<runtime::Collection>();
    for (int i = 0; i < 50; ++i) last->Add(L"C:\\lib\\" + std::to_wstring(i));
    last->Add(L"E:\\Office\\microsoft SHARED\\z");
    EXPECT_TRUE(Registro::BuscarEnColeccion(last, L"microsoft shared", result));
    EXPECT_EQ(L"E:\\Office\\microsoft SHARED\\z", result);
}

TEST(BuscarEnColeccion, NoMatchLeavesTheResultAlone) {
    auto list = std::make_shared<runtime::Collection>();
    std::wstring result = L"as the caller had it";
    EXPECT_FALSE(Registro::BuscarEnColeccion(list, L"microsoft shared", result));
    list->Add(L"C:\\microsoft\\shared");
    list->Add(L"microsoft  shared");
    EXPECT_FALSE(Registro::BuscarEnColeccion(list, L"microsoft shared", result));
    EXPECT_EQ(L"as the caller had it", result);
}

TEST(ExisteFichero, FilesAndFoldersThatExist) {
    TempFolder folder;
    testing_support::WriteFile(folder / L"QUENDOR.DLL", "engine");
    CreateDirectoryW((folder / L"PROOF").c_str(), nullptr);
    const struct {
        std::wstring path;
        bool expected;
    } cases[] = {
        {folder / L"QUENDOR.DLL", true},
        {folder / L"quendor.dll", true},
        {folder / L"PROOF", true},
        {folder.Path(), true},
        {folder / L"QUENDOR.LEX", false},
        {folder / L"missing\\QUENDOR.DLL", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        std::wstring path = c.path;
        EXPECT_EQ(c.expected, Registro::ExisteFichero(path)) << testing::PrintToString(c.path);
        EXPECT_EQ(c.path, path) << "the caller's path is handed back as it was";
    }
}

// The look-alike of a name is another file: each is found only when it exists itself.
TEST(ExisteFichero, NamesOutsideTheAnsiCodePageAreNotTakenForTheirLookAlikes) {
    const std::wstring lodz = L"\u0141\u00F3d\u017A";
    const std::wstring lookAlike = L"L\u00F3dz";
    for (const bool realOneExists : {true, false}) {
        TempFolder folder;
        const std::wstring existing = folder / (realOneExists ? lodz : lookAlike);
        ASSERT_TRUE(CreateDirectoryW(existing.c_str(), nullptr));
        testing_support::WriteFile(existing + L"\\QUENDOR.DLL", "engine");
        ASSERT_TRUE(CreateDirectoryW((folder / L"PROOF").c_str(), nullptr));
        const struct {
            std::wstring path;
            bool expected;
        } cases[] = {
            {folder / lodz, realOneExists},
            {folder / lodz + L"\\QUENDOR.DLL", realOneExists},
            {folder / lookAlike, !realOneExists},
            {folder / lookAlike + L"\\QUENDOR.DLL", !realOneExists},
            // A fullwidth backslash is a letter of a name, not a separator.
            {folder.Path() + L"\uFF3CPROOF", false},
        };
        for (const auto& c : cases) {
            std::wstring path = c.path;
            EXPECT_EQ(c.expected, Registro::ExisteFichero(path))
                << testing::PrintToString(c.path) << (realOneExists ? " beside the real one" : " beside the look-alike");
            EXPECT_EQ(c.path, path) << "the caller's path is handed back as it was";
        }
    }
}
