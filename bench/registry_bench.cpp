// Lists a key of 10 to 100,000 values and searches it for a marker placed
// last, printing the time per entry for each size.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/stopwatch.h"
#include "forms/message_loop.h"
#include "registry/registro.h"
#include "tests/support/registry_sandbox.h"


int main() {
    double perEntryAt1000 = 0.0;
    for (const int entries : {10, 1000, 10000, 100000}) {
        testing_support::RegistrySandbox key(L"Bench");
        key.Create();
        HKEY raw = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.Subkey().c_str(), 0, KEY_SET_VALUE, &raw);
        for (int i = 0; i < entries; ++i) {
            // Named so that the marker's entry comes last in every enumeration order.
            wchar_t name[80];
            if (i == entries - 1) {
                swprintf(name, 80, L"Z:\\Program Files\\Common Files\\Microsoft Shared\\%07d.DLL", i);
            } else {
                swprintf(name, 80, L"C:\\WINDOWS\\system32\\lib%07d.dll", i);
            }
            const DWORD one = 1;
            RegSetValueExW(raw, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        }
        RegCloseKey(raw);

        // Not measured: the first listing after the writes, while the
        // registry server may still be busy with them.
        Registro::LeerValoresClave(key.Subkey());
        const Stopwatch listing;
        const auto list = Registro::LeerValoresClave(key.Subkey());
        const double listingSeconds = listing.Seconds();
        const Stopwatch search;
        std::wstring found;
        const bool ok = Registro::BuscarEnColeccion(list, L"microsoft shared", found);
        const double searchSeconds = search.Seconds();
        if (!ok || list->Count() != entries) {
            std::printf("%-10d wrong result: %d entries listed, marker found: %d\n", entries, list->Count(), ok);
            return 1;
        }
        const double perEntry = listingSeconds * 1e6 / entries;
        if (entries == 1000) perEntryAt1000 = perEntry;
        std::printf("| registry listing, %d entries | %.2f us per entry |\n", entries, perEntry);
        std::printf("| list search, %d entries | %.3f us per entry |\n", entries, searchSeconds * 1e6 / entries);
        if (entries == 100000) {
            std::printf("| listing cost at 100,000 against 1,000 entries | %.2f times per entry |\n",
                        perEntry / perEntryAt1000);
        }
    }
    const Stopwatch yields;
    for (int i = 0; i < 10000; ++i) forms::DoEvents();
    std::printf("| yield to the message loop | %.3f us per call |\n", yields.Seconds() * 1e6 / 10000);
    return 0;
}
