// Who holds a file: the names a person recognises of the programs that use it.
#pragma once

#include <string>
#include <vector>

namespace update {

// The programs that use any of the files, each named once: Restart
// Manager's names where Windows has it and it names someone, else the
// processes that have one of the files loaded as a DLL (a 32-bit program
// sees the 32-bit ones), by their file description or else their
// executable's name. Empty when nobody can be named. Nothing is ever closed.
std::vector<std::wstring> ProgramsUsing(const std::vector<std::wstring>& files);

// The same, through the loaded modules only.
std::vector<std::wstring> ProgramsWithModule(const std::vector<std::wstring>& modules);

}  // namespace update
