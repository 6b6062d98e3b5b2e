// A folder of the test's own in the temporary folder, removed with everything in it.
#pragma once

#include <string>

namespace testing_support {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // No trailing backslash.
    const std::wstring& Path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

void WriteFile(const std::wstring& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be read.
std::string ReadFile(const std::wstring& path);
// A new speller engine: the tiny real DLL that the build makes beside the
// test programs (fake_engine.dll, no header checksum) with label appended,
// so that engines of different labels differ.
std::string FakeEngine(const std::string& label);

}  // namespace testing_support
