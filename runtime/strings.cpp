#include "runtime/strings.h"

#include <windows.h>

#include <limits>

#include "runtime/error.h"

namespace runtime {

namespace {

int CheckedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) Raise(kOutOfMemory);
    return static_cast<int>(size);
}

// What would break a name over several lines, reorder the text around it or
// hide part of it: control characters (C0, DEL, C1), the line and paragraph
// separators, the bidirectional marks, embeddings, overrides and isolates,
// and the invisible format characters (zero-width ones, word joiner,
// byte-order mark).
bool Unshown(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF;
}

}  // namespace

std::wstring LCase(std::wstring_view text) {
    std::wstring lower(text);
    if (!lower.empty()) {
        // The system's own case mapping, which knows letters beyond ASCII.
        CharLowerBuffW(lower.data(), static_cast<DWORD>(CheckedLength(lower.size())));
    }
    return lower;
}

std::int32_t Len(std::wstring_view text) { return CheckedLength(text.size()); }

std::int32_t InStr(std::int32_t start, std::wstring_view text, std::wstring_view sought) {
    if (start < 1) Raise(kInvalidProcedureCall);
    const auto from = static_cast<std::size_t>(start - 1);
    if (from >= text.size()) return 0;
    const std::size_t found = text.find(sought, from);
    return found == std::wstring_view::npos ? 0 : static_cast<std::int32_t>(found + 1);
}

std::wstring Left(std::wstring_view text, std::int32_t length) {
    if (length < 0) Raise(kInvalidProcedureCall);
    return std::wstring(text.substr(0, static_cast<std::size_t>(length)));
}

std::wstring Mid(std::wstring_view text, std::int32_t start, std::int32_t length) {
    if (start < 1 || length < 0) Raise(kInvalidProcedureCall);
    const auto from = static_cast<std::size_t>(start - 1);
    if (from >= text.size()) return std::wstring();
    return std::wstring(text.substr(from, static_cast<std::size_t>(length)));
}

std::wstring Replace(std::wstring_view text, std::wstring_view find, std::wstring_view replacement) {
    if (find.empty()) return std::wstring(text);
    std::wstring result;
    std::size_t from = 0;
    for (std::size_t at = text.find(find); at != std::wstring_view::npos; at = text.find(find, from)) {
        result.append(text.substr(from, at - from));
        result.append(replacement);
        from = at + find.size();
    }
    result.append(text.substr(from));
    return result;
}

std::wstring NumberText(unsigned long long number, int width) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
        number /= 10;
    } while (number > 0 || static_cast<int>(digits.size()) < width);
    return digits;
}

std::wstring ShownName(std::wstring_view name) {
    constexpr std::size_t kMost = 80;
    std::wstring shown;
    for (const wchar_t c : name) {
        const wchar_t kept = Unshown(c) ? L' ' : c;
        if (kept != L' ' || (!shown.empty() && shown.back() != L' ')) shown += kept;
    }
    if (!shown.empty() && shown.back() == L' ') shown.pop_back();
    // Where the kMost-th character starts; a surrogate pair is one character.
    std::size_t count = 0;
    std::size_t cut = 0;
    for (std::size_t at = 0; at < shown.size(); ++at) {
        if (IS_LOW_SURROGATE(shown[at]) && at > 0 && IS_HIGH_SURROGATE(shown[at - 1])) continue;
        if (++count == kMost) cut = at;
    }
    if (count <= kMost) return shown;
    shown.resize(cut);
    if (shown.back() == L' ') shown.pop_back();
    return shown + L'\u2026';
}

}  // namespace runtime
