#include "host/command_line.h"

#include <initializer_list>

#include "runtime/strings.h"

namespace host {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t'; }

bool OneOf(const std::wstring& name, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* known : names) {
        if (name == known) return true;
    }
    return false;
}

// The program's name ends at the first white space, or at the closing quote
// when quoted; backslashes mean nothing in it, as a path is full of them.
std::size_t SkipProgramName(std::wstring_view line, std::wstring& name) {
    std::size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        const std::size_t close = line.find(L'"', 1);
        name = line.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1);
        return close == std::wstring_view::npos ? line.size() : close + 1;
    }
    while (at < line.size() && !IsSpace(line[at])) ++at;
    name = line.substr(0, at);
    return at;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> arguments(1);
    std::size_t at = SkipProgramName(line, arguments[0]);
    for (;;) {
        while (at < line.size() && IsSpace(line[at])) ++at;
        if (at >= line.size()) return arguments;
        std::wstring argument;
        bool quoted = false;
        while (at < line.size() && (quoted || !IsSpace(line[at]))) {
            std::size_t backslashes = 0;
            while (at < line.size() && line[at] == L'\\') ++backslashes, ++at;
            if (at < line.size() && line[at] == L'"') {
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    argument += L'"';
                } else if (quoted && at + 1 < line.size() && line[at + 1] == L'"') {
                    argument += L'"';
                    ++at;
                } else {
                    quoted = !quoted;
                }
                ++at;
            } else {
                argument.append(backslashes, L'\\');
                if (at < line.size() && (quoted || !IsSpace(line[at]))) argument += line[at++];
            }
        }
        arguments.push_back(std::move(argument));
    }
}

CommandLine ParseCommandLine(std::wstring_view commandLine) {
    CommandLine parsed;
    bool silent = false;
    bool passive = false;
    const std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const bool isSwitch = argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-');
        const std::wstring name = isSwitch ? runtime::LCase(std::wstring_view(argument).substr(1)) : std::wstring();
        if (OneOf(name, {L"s", L"verysilent", L"quiet", L"q", L"qn", L"qn+"})) {
            silent = true;
        } else if (OneOf(name, {L"silent", L"passive", L"qb", L"qb-", L"qb!", L"qb!-", L"qr"})) {
            passive = true;
        } else if (OneOf(name, {L"norestart", L"suppressmsgboxes", L"sp-", L"nocancel", L"nocloseapplications"})) {
            parsed.ignored.push_back(argument);
        } else if (name == L"?" || name == L"help") {
            parsed.help = true;
        } else if (name == L"log") {
            parsed.log = true;
            parsed.logFile.clear();
        } else if (name.starts_with(L"log=") && name.size() > 4) {
            parsed.log = true;
            parsed.logFile = argument.substr(5);
        } else if (parsed.invalid.empty()) {
            // An empty argument ("") is no switch either.
            parsed.invalid = argument.empty() ? std::wstring(L"\"\"") : argument;
        }
    }
    parsed.mode = silent ? RunMode::kSilent : passive ? RunMode::kPassive : RunMode::kInteractive;
    parsed.namesUnattended = NamesUnattendedSwitch(commandLine);
    return parsed;
}

bool NamesUnattendedSwitch(std::wstring_view commandLine) {
    std::wstring name;
    const std::wstring rest = runtime::LCase(commandLine.substr(SkipProgramName(commandLine, name)));
    for (std::size_t at = 0; at < rest.size(); ++at) {
        if (rest[at] != L'/' && rest[at] != L'-') continue;
        const std::wstring_view after = std::wstring_view(rest).substr(at + 1);
        // "s" also finds /SILENT, "q" every /q, /qn, /qb, /qr and /quiet.
        for (const wchar_t* unattended : {L"s", L"verysilent", L"q", L"passive"}) {
            if (after.starts_with(unattended)) return true;
        }
    }
    return false;
}

}  // namespace host
