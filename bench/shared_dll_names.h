// A shared-DLL key of a given size whose only entry with the marker, under
// officeRoot, comes last in every enumeration order: the search walks it all.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::wstring> SharedDllNames(int entries, const std::wstring& officeRoot) {
    std::vector<std::wstring> names;
    for (int i = 0; i < entries - 1; ++i) names.push_back(L"C:\\APPS\\lib" + std::to_wstring(1000000 + i) + L".dll");
    names.push_back(officeRoot + L"\\Microsoft Shared\\Web\\X.DLL");
    return names;
}
