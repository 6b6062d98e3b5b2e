#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "update/restart_play.h"

namespace {

using update::AfterRestart;
using update::FileIdentity;
using update::Presence;

const std::wstring kProof = L"C:\\Program Files\\Common Files\\Microsoft Shared\\PROOF";
// The same folder through its short names and through a folder link.
const std::wstring kShortProof = L"C:\\PROGRA~1\\COMMON~1\\MICROS~1\\PROOF";
const std::wstring kLinkedProof = L"C:\\Archivos de programa\\Common Files\\Microsoft Shared\\PROOF";
constexpr FileIdentity kProofIdentity{1, 0, 10};

// A file system of a few names, which records every path it is asked about.
class StandIn final : public update::FileSystemView {
public:
    StandIn() {
        for (const std::wstring& folder : {kProof, kShortProof, kLinkedProof}) identities[folder] = kProofIdentity;
        identities[L"C:\\Program Files"] = {1, 0, 4};
        identities[L"C:\\PROGRA~1"] = {1, 0, 4};
        identities[L"C:\\Program Files\\Common Files"] = {1, 0, 5};
        identities[L"C:\\PROGRA~1\\COMMON~1"] = {1, 0, 5};
        identities[L"C:\\Other"] = {1, 0, 20};
        // Made at the same moment: only their identities tell them apart.
        for (const std::wstring& folder : {kProof, kShortProof, kLinkedProof, std::wstring(L"C:\\Other")}) {
            created[folder] = 7;
        }
        for (const wchar_t* name : {L"QUENDOR.DLL", L"QUENDOR.LEX", L"QND1.tmp", L"QND2.tmp", L"qndict.lex"}) {
            files.insert(kProof + L"\\" + name);
        }
        files.insert({L"C:\\Other\\old.dll", L"C:\\Other\\B.dll", L"C:\\Other\\QND1.tmp", L"C:\\Other\\new.dll."});
        longNames[kProof + L"\\quendo~1.dll"] = L"QUENDOR.DLL";
    }
    std::optional<FileIdentity> Identity(const std::wstring& path) override {
        asked.push_back(path);
        const auto found = identities.find(path);
        return found == identities.end() ? std::nullopt : std::optional(found->second);
    }
    Presence Exists(const std::wstring& path) override {
        asked.push_back(path);
        if (unknown.contains(path)) return Presence::kUnknown;
        return files.contains(path) ? Presence::kFound : Presence::kNotFound;
    }
    std::wstring LongName(const std::wstring& path) override {
        asked.push_back(path);
        const auto found = longNames.find(path);
        return found == longNames.end() ? path.substr(path.find_last_of(L'\\') + 1) : found->second;
    }
    bool RemoteDrive(const std::wstring& drive) override { return drive == L"Z:"; }
    bool ReparsePoint(const std::wstring& path) override {
        asked.push_back(path);
        return path == L"C:\\Link";
    }
    // Folders told apart by their times where a row gives them.
    std::optional<std::uint64_t> Fingerprint(const std::wstring& path) override {
        asked.push_back(path);
        const auto found = created.find(path);
        return found == created.end() ? std::nullopt : std::optional(found->second);
    }

    std::map<std::wstring, FileIdentity> identities;
    std::set<std::wstring> files;
    std::set<std::wstring> unknown;
    std::map<std::wstring, std::wstring> longNames;
    std::map<std::wstring, std::uint64_t> created;
    std::vector<std::wstring> asked;
};

// What a name holds after the restart, as the rows write it.
std::wstring Told(const AfterRestart& after) {
    switch (after.holds) {
    case AfterRestart::Holds::kUnchanged: return L"unchanged";
    case AfterRestart::Holds::kOurCopy: return L"ours " + after.file + (after.unconfirmed ? L" unconfirmed" : L"");
    case AfterRestart::Holds::kTheirs: return L"theirs " + after.file;
    case AfterRestart::Holds::kNothing: return after.deleted ? L"deleted" : L"nothing";
    case AfterRestart::Holds::kUnknown: return L"unknown";
    }
    return L"?";
}

std::wstring In(const std::wstring& folder, const wchar_t* name) { return L"\\??\\" + folder + L"\\" + name; }

}  // namespace

// The restart's work played over the queue's strings: which file each of
// our names holds afterwards, and whether it can be known.
TEST(RestartPlay, WhatEachNameHoldsAfterTheRestart) {
    const std::wstring dll = In(kProof, L"QUENDOR.DLL");
    const std::wstring lex = In(kProof, L"QUENDOR.LEX");
    const std::wstring qnd1 = In(kProof, L"QND1.tmp");
    const std::wstring qnd2 = In(kProof, L"QND2.tmp");
    const std::wstring ours1 = L"ours " + kProof + L"\\QND1.tmp";
    const std::wstring ours2 = L"ours " + kProof + L"\\QND2.tmp";
    const std::wstring old = L"\\??\\C:\\Other\\old.dll";
    const std::wstring twin = L"\\??\\C:\\Other\\B.dll";
    const struct {
        const char* what;
        std::vector<std::wstring> first;
        std::wstring engine;
        std::wstring lexicon = L"unchanged";
        std::vector<std::wstring> second = {};
        const std::wstring* folder = &kProof;  // the destinations' folder as the program names it
    } rows[] = {
        {"nothing queued", {}, L"unchanged"},
        {"ours, as Windows 11 stores them for a short folder", {L"*1" + qnd1, L"*1!" + dll, L"*1" + qnd2, L"*1!" + lex},
         ours1, ours2, {}, &kShortProof},
        {"ours, stored through a folder link", {L"*1" + qnd1, L"*1!" + dll, L"*1" + qnd2, L"*1!" + lex}, ours1, ours2,
         {}, &kLinkedProof},
        {"ours, kept as passed (*2)", {L"*2" + qnd1, L"*2!" + dll}, ours1 + L" unconfirmed"},
        {"ours in the second value", {old, L"!" + In(L"C:\\Other", L"x.dll")}, ours1, ours2,
         {qnd1, L"!" + dll, qnd2, L"!" + lex}},
        {"a name that merely starts with qnd is theirs", {In(kProof, L"qndict.lex"), L"!" + lex}, L"unchanged",
         L"theirs " + kProof + L"\\qndict.lex"},
        {"our copy's name in another folder is theirs", {In(L"C:\\Other", L"QND1.tmp"), L"!" + dll},
         L"theirs C:\\Other\\QND1.tmp"},
        {"our engine's copy deleted before our rename", {qnd1, L"", qnd1, L"!" + dll, qnd2, L"!" + lex}, L"unchanged",
         ours2},
        {"their file renamed onto our copy first", {old, L"!" + qnd1, qnd1, L"!" + dll}, L"theirs C:\\Other\\old.dll"},
        {"their chain: old onto B, then B onto the engine", {old, L"!" + twin, twin, L"!" + dll},
         L"theirs C:\\Other\\old.dll"},
        {"their chain out of order", {twin, L"!" + dll, old, L"!" + twin}, L"theirs C:\\Other\\B.dll"},
        {"a chain that turns back", {old, L"!" + twin, twin, L"!" + old, old, L"!" + dll}, L"theirs C:\\Other\\old.dll"},
        {"a source that is not there fails", {In(L"C:\\Other", L"gone.dll"), L"!" + dll}, L"unchanged"},
        {"without ! onto the engine: fails", {old, dll}, L"unchanged"},
        {"the engine deleted, then theirs without !", {dll, L"", old, dll}, L"theirs C:\\Other\\old.dll"},
        {"the engine deleted", {L"*1" + dll, L""}, L"deleted"},
        {"the lexicon moved elsewhere", {lex, L"!" + In(L"C:\\Other", L"x.lex")}, L"unchanged", L"nothing"},
        {"the lexicon moved elsewhere without !", {lex, In(L"C:\\Other", L"x.lex")}, L"unchanged", L"unknown"},
        {"on another computer", {L"\\??\\UNC\\server\\share\\newer.dll", L"!" + dll}, L"unknown"},
        {"on a mapped drive", {L"\\??\\Z:\\newer.dll", L"!" + dll}, L"unknown"},
        {"through a reparse point", {L"\\??\\C:\\Link\\newer.dll", L"!" + dll}, L"unknown"},
        {"a name Win32 reads as another", {L"\\??\\C:\\Other\\new.dll.", L"!" + dll}, L"unknown"},
        {"written with \\\\?\\", {old, L"!\\\\?\\" + kProof + L"\\QUENDOR.DLL"}, L"unknown"},
        {"theirs kept as passed (*2)", {L"*2" + old, L"*2!" + dll}, L"unknown"},
        {"the lexicon's default stream", {lex + L"::$DATA", L""}, L"unchanged", L"unknown"},
        {"another stream of the lexicon", {lex + L":x", L""}, L"unchanged"},
        {"a trailing dot is another name", {old, L"!" + dll + L"."}, L"unchanged"},
        {"the engine by its short name, in lower case", {old, L"!" + In(kProof, L"quendo~1.dll")},
         L"theirs C:\\Other\\old.dll"},
        {"the proofing folder renamed", {L"\\??\\" + kProof, L"!\\??\\C:\\Other\\PROOF"}, L"unknown", L"unknown"},
        {"a folder above, by its short name", {L"\\??\\C:\\PROGRA~1\\COMMON~1", L"!\\??\\C:\\Other\\x"}, L"unknown",
         L"unknown"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        StandIn view;
        view.files.insert({*row.folder + L"\\QUENDOR.DLL", *row.folder + L"\\QUENDOR.LEX"});
        std::vector<std::wstring_view> values[2];
        for (const std::wstring& text : row.first) values[0].push_back(text);
        for (const std::wstring& text : row.second) values[1].push_back(text);
        const update::PlayedQueue played =
            update::Play(values, {*row.folder + L"\\QUENDOR.DLL", *row.folder + L"\\QUENDOR.LEX"}, view);
        ASSERT_EQ(2u, played.names.size());
        EXPECT_EQ(row.engine, Told(played.names[0]));
        EXPECT_EQ(row.lexicon, Told(played.names[1]));
        for (const std::wstring& path : view.asked) {
            EXPECT_FALSE(path.starts_with(L"UNC\\") || path.starts_with(L"Z:")) << "never asked: " << testing::PrintToString(path);
        }
    }
}

// Strings of no known form are told, never played; the order of our own
// renames is where they stand over both values.
TEST(RestartPlay, NotUnderstoodStringsAndTheOrderOfOurs) {
    StandIn view;
    const std::wstring qnd1 = In(kProof, L"QND1.tmp");
    const std::vector<std::wstring> first = {L"*12\\??\\C:\\x", L"!" + In(kProof, L"QUENDOR.DLL"), L"C:\\y", L""};
    const std::vector<std::wstring> second = {In(kProof, L"QND2.tmp"), L"!" + In(kProof, L"QUENDOR.LEX"), qnd1,
                                              L"!" + In(kProof, L"QUENDOR.DLL")};
    std::vector<std::wstring_view> values[2];
    for (const std::wstring& text : first) values[0].push_back(text);
    for (const std::wstring& text : second) values[1].push_back(text);
    const update::PlayedQueue played =
        update::Play(values, {kProof + L"\\QUENDOR.DLL", kProof + L"\\QUENDOR.LEX"}, view);
    EXPECT_EQ((std::vector<std::wstring>{L"*12\\??\\C:\\x", L"C:\\y"}), played.notUnderstood);
    ASSERT_EQ(AfterRestart::Holds::kOurCopy, played.names[0].holds);
    ASSERT_EQ(AfterRestart::Holds::kOurCopy, played.names[1].holds);
    EXPECT_LT(played.names[1].order, played.names[0].order) << "the lexicon's rename comes first";
}
