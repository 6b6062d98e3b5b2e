#include "registry/registro.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "forms/message_loop.h"
#include "runtime/checked.h"
#include "runtime/strings.h"

namespace Registro {

namespace {

// The registry's own limit on a value name, in characters, without the NUL.
constexpr DWORD kLongestValueName = 16383;

// Room for the longest name the key holds now, in characters with its NUL;
// never less than MAX_PATH.
DWORD NameBufferSize(HKEY key) {
    DWORD longest = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        longest = 0;
    }
    return std::max<DWORD>(MAX_PATH, std::min(longest, kLongestValueName) + 1);
}

}  // namespace

runtime::RegistryKey AbrirClave(HKEY root, const std::wstring& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return runtime::RegistryKey();
    return runtime::RegistryKey(key);
}

std::shared_ptr<runtime::Collection> LeerValoresClave(const std::wstring& subkey) {
    auto list = std::make_shared<runtime::Collection>();
    const runtime::RegistryKey key = AbrirClave(HKEY_LOCAL_MACHINE, subkey);
    if (!key) return list;

    std::vector<wchar_t> name(NameBufferSize(key.Get()));
    std::int32_t index = 0;
    for (;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        // No data buffer: the data is never read, and a big value then cannot
        // make the call fail.
        const LONG result = RegEnumValueW(key.Get(), static_cast<DWORD>(index), name.data(), &nameSize,
                                          nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA && name.size() <= kLongestValueName) {
            // A longer name was added after the key was measured: grow and ask again.
            name.resize(kLongestValueName + 1);
            continue;
        }
        if (result != ERROR_SUCCESS) break;
        list->Add(QuitarNulos(std::wstring(name.data(), nameSize)));
        index = runtime::Increment(index);
        forms::DoEvents();
    }
    return list;
}

std::wstring QuitarNulos(const std::wstring& text) {
    return text.substr(0, static_cast<std::size_t>(lstrlenW(text.c_str())));
}

bool BuscarEnColeccion(std::shared_ptr<runtime::Collection> list, std::wstring text, std::wstring& result) {
    text = runtime::LCase(text);
    bool found = false;
    for (std::int32_t position = 1; position <= list->Count() && !found;
         position = runtime::Increment(position)) {
        const std::wstring item = runtime::LCase(list->Item(position));
        if (runtime::InStr(1, item, text) > 0) {
            result = list->Item(position);
            found = true;
        }
        forms::DoEvents();
    }
    return found;
}

bool ExisteFichero(std::wstring& path) {
    WIN32_FIND_DATAW record{};
    const runtime::FindHandle search(FindFirstFileW(path.c_str(), &record));
    return static_cast<bool>(search);
}

}  // namespace Registro
