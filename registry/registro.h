// Registro: reading the value names of a registry key, searching them, and
// telling whether a file or folder exists.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "runtime/collection.h"
#include "runtime/handles.h"

namespace Registro {

// Opens root\subkey for reading; an empty owner when it cannot be opened.
runtime::RegistryKey AbrirClave(HKEY root, const std::wstring& subkey);

// Every value name of HKEY_LOCAL_MACHINE\subkey, in enumeration order and
// in UTF-16 as stored; an empty list when the key cannot be opened or holds
// no values.
std::shared_ptr<runtime::Collection> LeerValoresClave(const std::wstring& subkey);

// The characters of text before its first NUL.
std::wstring QuitarNulos(const std::wstring& text);

// True when an item of list contains text, ignoring case; result then holds
// the first such item as stored. On false, result is left as it was.
bool BuscarEnColeccion(std::shared_ptr<runtime::Collection> list, std::wstring text, std::wstring& result);

// True when a file or folder matches path, which goes to the system in UTF-16
// as it is (a name outside the ANSI code page is not taken for its look-alike)
// and is left as it was.
bool ExisteFichero(std::wstring& path);

}  // namespace Registro
