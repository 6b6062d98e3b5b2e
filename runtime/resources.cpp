#include "runtime/resources.h"

#include <windows.h>

#include "runtime/error.h"

namespace runtime {

namespace {

// LoadStringW with no buffer hands back a pointer into the resource itself,
// so texts of any length come back whole.
bool FindString(int id, std::wstring& text) {
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                   reinterpret_cast<LPWSTR>(&resource), 0);
    if (resource == nullptr || length <= 0) return false;
    text.assign(resource, static_cast<std::size_t>(length));
    return true;
}

}  // namespace

std::wstring LoadResString(int id) {
    std::wstring text;
    if (!FindString(id, text)) Raise(kResourceNotFound);
    return text;
}

std::wstring LoadResStringOr(int id, const std::wstring& fallback) noexcept {
    try {
        std::wstring text;
        return FindString(id, text) ? text : fallback;
    } catch (...) {
        return fallback;
    }
}

}  // namespace runtime
