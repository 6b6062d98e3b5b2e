// The program's string table.
#pragma once

#include <string>

namespace runtime {

// The text of a string-table entry; an ID that is not in the table raises error 326.
std::wstring LoadResString(int id);
// The same, with a fallback for the one caller that must not raise.
std::wstring LoadResStringOr(int id, const std::wstring& fallback) noexcept;

}  // namespace runtime
