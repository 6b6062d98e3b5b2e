// Checks the resources linked into actualizador.exe. The product is built
// into the folder of this test program and opened as a data file, so nothing
// of it runs.

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/string_table.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Resource types by number, so the test does not depend on UNICODE.
constexpr WORD kTypeIcon = 3;
constexpr WORD kTypeString = 6;
constexpr WORD kTypeRcdata = 10;
constexpr WORD kTypeGroupIcon = 14;
constexpr WORD kTypeManifest = 24;

constexpr WORD kStringLanguage = 1093;  // MAKELANGID(0x45, SUBLANG_DEFAULT)

using Bytes = std::span<const std::uint8_t>;

std::wstring ProductPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + L"actualizador.exe";
}

unsigned Word(Bytes bytes, std::size_t offset) {
  return static_cast<unsigned>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t Dword(Bytes bytes, std::size_t offset) {
  return Word(bytes, offset) | (static_cast<std::uint32_t>(Word(bytes, offset + 2)) << 16);
}

unsigned BigEndianWord(Bytes bytes, std::size_t offset) {
  return static_cast<unsigned>((bytes[offset] << 8) | bytes[offset + 1]);
}

std::string CodeUnits(std::wstring_view text) {
  std::string out;
  for (const wchar_t unit : text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, " %04X", static_cast<unsigned>(unit));
    out += hex;
  }
  return out;
}

::testing::AssertionResult SameCodeUnits(std::wstring_view actual, std::wstring_view expected) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << actual.size() << " code units instead of " << expected.size()
                                         << ":" << CodeUnits(actual);
  }
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin());
  if (a != actual.end()) {
    return ::testing::AssertionFailure() << "code unit " << (a - actual.begin()) << " is U+"
                                         << CodeUnits(std::wstring_view(&*a, 1)).substr(1) << " instead of U+"
                                         << CodeUnits(std::wstring_view(&*e, 1)).substr(1);
  }
  return ::testing::AssertionSuccess();
}

class ProductResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryExW(ProductPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }

  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "cannot open the product, error " << GetLastError();
  }

  static std::optional<Bytes> Find(HRSRC found) {
    if (found == nullptr) return std::nullopt;
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module_, found)));
    if (data == nullptr) return std::nullopt;
    return Bytes(data, SizeofResource(module_, found));
  }

  static std::optional<Bytes> Resource(WORD type, WORD id) {
    return Find(FindResourceW(module_, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type)));
  }

  static std::optional<Bytes> Resource(WORD type, WORD id, WORD language) {
    return Find(FindResourceExW(module_, MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language));
  }

  static HMODULE module_;
};

HMODULE ProductResources::module_ = nullptr;

// ------------------------------------------------------------ string table

using testing_support::ExpectedString;
using testing_support::kStrings;

// IDs 96..111 share string block 7: each entry is a length and its UTF-16 text.
std::optional<std::wstring_view> BlockEntry(Bytes block, UINT id) {
  std::size_t offset = 0;
  for (UINT index = 0; index < 16; ++index) {
    if (offset + 2 > block.size()) return std::nullopt;
    const unsigned length = Word(block, offset);
    offset += 2;
    if (offset + 2 * length > block.size()) return std::nullopt;
    if (index == id % 16) {
      return std::wstring_view(reinterpret_cast<const wchar_t*>(block.data() + offset), length);
    }
    offset += 2 * length;
  }
  return std::nullopt;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
  return TRUE;
}

TEST_F(ProductResources, StringBlockExistsOnlyInItsLanguage) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module_, MAKEINTRESOURCEW(kTypeString), MAKEINTRESOURCEW(7), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, std::vector<WORD>{kStringLanguage});
}

TEST_F(ProductResources, StringsInTheirLanguageBlockAreExact) {
  for (const auto& expected : kStrings) {
    SCOPED_TRACE(::testing::Message() << "string " << expected.id);
    // Windows keeps strings in blocks of 16, the block of an ID numbered ID / 16 + 1.
    const auto block = Resource(kTypeString, static_cast<WORD>(expected.id / 16 + 1), kStringLanguage);
    ASSERT_TRUE(block.has_value());
    const auto text = BlockEntry(*block, expected.id);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(SameCodeUnits(*text, expected.text));
  }
}

TEST_F(ProductResources, LoadStringReturnsExactTexts) {
  for (const auto& expected : kStrings) {
    SCOPED_TRACE(::testing::Message() << "string " << expected.id);
    const wchar_t* text = nullptr;
    const int length = LoadStringW(module_, expected.id, reinterpret_cast<LPWSTR>(&text), 0);
    ASSERT_GT(length, 0);
    EXPECT_TRUE(SameCodeUnits(std::wstring_view(text, static_cast<std::size_t>(length)), expected.text));
  }
}

TEST_F(ProductResources, NoStringsBesideTheTable) {
  for (UINT id = 96; id < 144; ++id) {
    const bool listed = std::any_of(std::begin(kStrings), std::end(kStrings),
                                    [id](const ExpectedString& s) { return s.id == id; });
    if (listed) continue;
    const auto block = Resource(kTypeString, static_cast<WORD>(id / 16 + 1), kStringLanguage);
    ASSERT_TRUE(block.has_value());
    const auto text = BlockEntry(*block, id);
    ASSERT_TRUE(text.has_value());
    EXPECT_TRUE(text->empty()) << "string " << id;
  }
}

// ------------------------------------------------------------------- icon

struct ExpectedIcon {
  WORD id;
  unsigned size;
};

constexpr ExpectedIcon kIcons[] = {{30001, 32}, {30002, 16}};

TEST_F(ProductResources, IconImagesAreSixteenColourBitmaps) {
  for (const auto& icon : kIcons) {
    SCOPED_TRACE(::testing::Message() << "icon " << icon.id);
    const auto image = Resource(kTypeIcon, icon.id);
    ASSERT_TRUE(image.has_value());
    ASSERT_GE(image->size(), 40u);
    EXPECT_EQ(Dword(*image, 0), 40u);               // BITMAPINFOHEADER
    EXPECT_EQ(Dword(*image, 4), icon.size);         // width
    EXPECT_EQ(Dword(*image, 8), 2 * icon.size);     // XOR and AND bitmaps
    EXPECT_EQ(Word(*image, 12), 1u);                // planes
    EXPECT_EQ(Word(*image, 14), 4u);                // bits per pixel
    EXPECT_EQ(Dword(*image, 16), 0u);               // uncompressed
    const std::size_t xor_stride = (icon.size * 4 + 31) / 32 * 4;
    const std::size_t and_stride = (icon.size + 31) / 32 * 4;
    EXPECT_EQ(image->size(), 40 + 16 * 4 + icon.size * (xor_stride + and_stride));
    HICON handle = CreateIconFromResourceEx(const_cast<std::uint8_t*>(image->data()),
                                            static_cast<DWORD>(image->size()), TRUE, 0x00030000,
                                            static_cast<int>(icon.size), static_cast<int>(icon.size),
                                            LR_DEFAULTCOLOR);
    EXPECT_NE(handle, nullptr);
    if (handle != nullptr) DestroyIcon(handle);
  }
}

TEST_F(ProductResources, IconGroupListsExactlyBothImages) {
  const auto group = Resource(kTypeGroupIcon, 1);
  ASSERT_TRUE(group.has_value());
  constexpr std::size_t kEntrySize = 14;
  ASSERT_EQ(group->size(), 6 + std::size(kIcons) * kEntrySize);
  EXPECT_EQ(Word(*group, 0), 0u);
  EXPECT_EQ(Word(*group, 2), 1u);  // icons, not cursors
  ASSERT_EQ(Word(*group, 4), std::size(kIcons));
  for (std::size_t i = 0; i < std::size(kIcons); ++i) {
    const auto& icon = kIcons[i];
    SCOPED_TRACE(::testing::Message() << "entry " << i);
    const std::size_t entry = 6 + i * kEntrySize;
    EXPECT_EQ((*group)[entry], icon.size);
    EXPECT_EQ((*group)[entry + 1], icon.size);
    EXPECT_EQ((*group)[entry + 2], 16u);  // colours
    EXPECT_EQ(Word(*group, entry + 4), 1u);
    EXPECT_EQ(Word(*group, entry + 6), 4u);
    EXPECT_EQ(Word(*group, entry + 12), icon.id);
    const auto image = Resource(kTypeIcon, icon.id);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(Dword(*group, entry + 8), image->size());
  }
}

// --------------------------------------------------------------- pictures

// Width and height from the first SOF0 (baseline) or SOF2 (progressive) frame.
std::optional<std::pair<unsigned, unsigned>> JpegSize(Bytes jpeg) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return std::nullopt;
  std::size_t offset = 2;
  while (offset + 4 <= jpeg.size()) {
    if (jpeg[offset] != 0xFF) return std::nullopt;
    const std::uint8_t marker = jpeg[offset + 1];
    if (marker == 0xFF) {
      ++offset;  // fill byte
      continue;
    }
    const unsigned length = BigEndianWord(jpeg, offset + 2);
    if (marker == 0xC0 || marker == 0xC2) {
      if (offset + 9 > jpeg.size()) return std::nullopt;
      return std::pair{BigEndianWord(jpeg, offset + 7), BigEndianWord(jpeg, offset + 5)};
    }
    if (marker == 0xDA || marker == 0xD9 || length < 2) return std::nullopt;
    offset += 2 + length;
  }
  return std::nullopt;
}

struct ExpectedPicture {
  WORD id;
  unsigned width;
  unsigned height;
};

TEST_F(ProductResources, PicturesAreJpegsOfTheirWindowSize) {
  constexpr ExpectedPicture kPictures[] = {{201, 600, 303}, {202, 423, 165}};
  for (const auto& picture : kPictures) {
    SCOPED_TRACE(::testing::Message() << "picture " << picture.id);
    const auto jpeg = Resource(kTypeRcdata, picture.id);
    ASSERT_TRUE(jpeg.has_value());
    const auto size = JpegSize(*jpeg);
    ASSERT_TRUE(size.has_value()) << "no frame header found";
    EXPECT_EQ(size->first, picture.width);
    EXPECT_EQ(size->second, picture.height);
    ASSERT_GE(jpeg->size(), 2u);
    EXPECT_EQ((*jpeg)[jpeg->size() - 2], 0xFF);
    EXPECT_EQ((*jpeg)[jpeg->size() - 1], 0xD9);
  }
}

// ---------------------------------------------------------------- version

class ProductVersion : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring path = ProductPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version block, error " << GetLastError();
    block_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block_.data()));
  }

  std::optional<Bytes> Query(const std::wstring& key) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block_.data(), key.c_str(), &value, &length) || value == nullptr) return std::nullopt;
    return Bytes(static_cast<const std::uint8_t*>(value), length);
  }

  std::vector<std::uint8_t> block_;
};

TEST_F(ProductVersion, FixedInfo) {
  const auto fixed = Query(L"\\");
  ASSERT_TRUE(fixed.has_value());
  ASSERT_GE(fixed->size(), sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO info;
  std::copy_n(fixed->data(), sizeof info, reinterpret_cast<std::uint8_t*>(&info));
  EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(info.dwFileVersionLS, 0u);
  EXPECT_EQ(info.dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(info.dwProductVersionLS, 0u);
  EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(info.dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
}

TEST_F(ProductVersion, TranslationIsSpanishUnicode) {
  const auto translation = Query(L"\\VarFileInfo\\Translation");
  ASSERT_TRUE(translation.has_value());
  ASSERT_EQ(translation->size(), 4u);
  EXPECT_EQ(Word(*translation, 0), 0x0C0Au);
  EXPECT_EQ(Word(*translation, 2), 1200u);
}

TEST_F(ProductVersion, Strings) {
  const std::pair<std::wstring, std::wstring_view> kValues[] = {
      {L"FileVersion", L"1.00"},
      {L"ProductVersion", L"1.00"},
      {L"FileDescription", L"Actualizador do corrector de galego"},
      {L"ProductName", L"Corrector de galego Brenca"},
      {L"InternalName", L"actualizador"},
      {L"OriginalFilename", L"actualizador.exe"},
  };
  for (const auto& [name, expected] : kValues) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    const auto value = Query(L"\\StringFileInfo\\0C0A04B0\\" + name);
    ASSERT_TRUE(value.has_value());
    ASSERT_GT(value->size(), 0u);
    // The length may or may not count the closing null.
    std::wstring_view text(reinterpret_cast<const wchar_t*>(value->data()), value->size());
    text = text.substr(0, text.find(L'\0'));
    EXPECT_TRUE(SameCodeUnits(text, expected));
  }
}

// --------------------------------------------------------------- manifest

TEST_F(ProductResources, ManifestAsksForWhatTheProgramNeeds) {
  const auto manifest = Resource(kTypeManifest, 1);
  ASSERT_TRUE(manifest.has_value());
  std::string text(manifest->begin(), manifest->end());
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });

  const auto dependency_start = text.find("<dependentassembly>");
  const auto dependency_end = text.find("</dependentassembly>");
  ASSERT_NE(dependency_start, std::string::npos);
  ASSERT_NE(dependency_end, std::string::npos);
  const std::string dependency = text.substr(dependency_start, dependency_end - dependency_start);
  for (const char* fragment : {"name=\"microsoft.windows.common-controls\"", "version=\"6.0.0.0\"",
                               "publickeytoken=\"6595b64144ccf1df\""}) {
    EXPECT_NE(dependency.find(fragment), std::string::npos) << fragment;
  }

  for (const char* fragment : {"level=\"requireadministrator\"", "uiaccess=\"false\"",
                               "http://schemas.microsoft.com/smi/2005/windowssettings", ">true</dpiaware>",
                               "http://schemas.microsoft.com/smi/2016/windowssettings", ">system</dpiawareness>",
                               "<supportedos id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\""}) {
    EXPECT_NE(text.find(fragment), std::string::npos) << fragment;
  }
}

}  // namespace
