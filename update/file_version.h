// What a program file's version resource says, read without version.dll.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace update {

// The file version of the fixed part of the version resource, the major
// number in the top 16 bits; none when the file is no program file or has no
// version resource.
std::optional<std::uint64_t> FileVersion(const std::wstring& path);
// "1.2.3.4", for the log.
std::wstring VersionText(std::uint64_t version);
// The first non-empty FileDescription of the version resource's string
// tables; empty when there is none.
std::wstring FileDescription(const std::wstring& path);

}  // namespace update
