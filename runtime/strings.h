// String functions on 1-based character positions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

std::wstring LCase(std::wstring_view text);
std::int32_t Len(std::wstring_view text);

// 1-based position of the first occurrence of sought in text at or after
// start, comparing exactly; 0 when absent or when start lies beyond text.
// A start below 1 raises error 5.
std::int32_t InStr(std::int32_t start, std::wstring_view text, std::wstring_view sought);

// The first length characters (all of text when it is shorter).
// A negative length raises error 5.
std::wstring Left(std::wstring_view text, std::int32_t length);

// length characters from the 1-based start (to the end when shorter).
// A start below 1 or a negative length raises error 5.
std::wstring Mid(std::wstring_view text, std::int32_t start, std::int32_t length);

// Every occurrence of find replaced by replacement, left to right.
std::wstring Replace(std::wstring_view text, std::wstring_view find, std::wstring_view replacement);

// Whole numbers for the log and the messages, spelled out here rather than
// with the C library's formatted output, which would double the program's size.
std::wstring NumberText(unsigned long long number, int width = 1);

// Another program's name, which its own version block gives, made safe to
// show on one line of a message: every control, bidirectional and invisible
// format character becomes a blank, runs of blanks become one and none is
// left at either end, and a name of more than 80 characters keeps its first
// 79 and ends in "\u2026" (a surrogate pair counts as one and stays whole).
std::wstring ShownName(std::wstring_view name);

}  // namespace runtime
