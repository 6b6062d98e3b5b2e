#include "update/file_version.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "host/log.h"
#include "runtime/handles.h"
#include "runtime/strings.h"

namespace update {

namespace {

constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kHeaderBytes = 6;  // length, value length, type

std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// Readable bytes from address on, up to most, as far as its mapping goes.
std::size_t ReadableBytes(const BYTE* address, std::size_t most) {
    std::size_t readable = 0;
    const void* mapping = nullptr;
    while (readable < most) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(address + readable, &region, sizeof region) == 0 || region.State != MEM_COMMIT ||
            (region.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0 ||
            (mapping != nullptr && region.AllocationBase != mapping)) {
            break;
        }
        mapping = region.AllocationBase;
        readable = static_cast<std::size_t>(static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize - address);
    }
    return std::min(readable, most);
}

// The version resource's bytes, copied out of the mapped file. The file is
// mapped as data, so none of its code runs: it may come from anywhere, and
// its resource may claim any size. A version block's length is a 16-bit
// field: no more is read, and nothing beyond the mapping.
std::vector<BYTE> VersionResource(const std::wstring& path) {
    runtime::Library module(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    // XP knows only the first flag.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
        module.Reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    }
    if (!module) return {};
    const HRSRC found = FindResourceW(module.Get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    const HGLOBAL loaded = found != nullptr ? LoadResource(module.Get(), found) : nullptr;
    const auto* bytes = static_cast<const BYTE*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    if (bytes == nullptr) return {};
    const std::size_t size = ReadableBytes(bytes, std::min<std::size_t>(SizeofResource(module.Get(), found), 0xFFFF));
    return std::vector<BYTE>(bytes, bytes + size);
}

WORD WordAt(std::span<const BYTE> bytes, std::size_t offset) {
    return static_cast<WORD>(bytes[offset] | bytes[offset + 1] << 8);
}

// One node of the resource's tree: a key, a value, and children after it.
// Every length is checked against the bytes there are: the file may be damaged.
struct Node {
    std::wstring_view key;
    std::span<const BYTE> value;
    std::span<const BYTE> children;
    bool text = false;
    std::size_t length = 0;  // the whole node, as it says

    static std::optional<Node> At(std::span<const BYTE> bytes) {
        if (bytes.size() < kHeaderBytes) return std::nullopt;
        Node node;
        node.length = WordAt(bytes, 0);
        if (node.length < kHeaderBytes || node.length > bytes.size()) return std::nullopt;
        bytes = bytes.first(node.length);
        node.text = WordAt(bytes, 4) == 1;
        std::size_t at = kHeaderBytes;
        const std::size_t keyStart = at;
        while (at + 1 < bytes.size() && WordAt(bytes, at) != 0) at += 2;
        if (at + 1 >= bytes.size()) return std::nullopt;
        node.key = std::wstring_view(reinterpret_cast<const wchar_t*>(bytes.data() + keyStart), (at - keyStart) / 2);
        const std::size_t valueStart = std::min(Align4(at + 2), bytes.size());
        // A text value counts its characters, a binary one its bytes.
        const std::size_t valueBytes = std::min<std::size_t>(WordAt(bytes, 2) * (node.text ? 2u : 1u),
                                                             bytes.size() - valueStart);
        node.value = bytes.subspan(valueStart, valueBytes);
        node.children = bytes.subspan(std::min(Align4(valueStart + valueBytes), bytes.size()));
        return node;
    }

    std::optional<Node> Child(std::wstring_view name) const {
        for (const Node& child : Children()) {
            if (child.key == name) return child;
        }
        return std::nullopt;
    }

    std::vector<Node> Children() const {
        std::vector<Node> all;
        for (std::span<const BYTE> rest = children; const std::optional<Node> child = At(rest);) {
            all.push_back(*child);
            rest = rest.subspan(std::min(Align4(child->length), rest.size()));
        }
        return all;
    }
};

}  // namespace

std::optional<std::uint64_t> FileVersion(const std::wstring& path) {
    const std::vector<BYTE> resource = VersionResource(path);
    const std::optional<Node> root = Node::At(resource);
    if (!root || root->value.size() < sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, root->value.data(), sizeof fixed);
    if (fixed.dwSignature != kFixedInfoSignature) return std::nullopt;
    return static_cast<std::uint64_t>(fixed.dwFileVersionMS) << 32 | fixed.dwFileVersionLS;
}

std::wstring VersionText(std::uint64_t version) {
    return runtime::NumberText(version >> 48) + L"." + runtime::NumberText(version >> 32 & 0xFFFF) + L"." +
           runtime::NumberText(version >> 16 & 0xFFFF) + L"." + runtime::NumberText(version & 0xFFFF);
}

std::wstring FileDescription(const std::wstring& path) {
    const std::vector<BYTE> resource = VersionResource(path);
    const std::optional<Node> root = Node::At(resource);
    const std::optional<Node> strings = root ? root->Child(L"StringFileInfo") : std::nullopt;
    if (!strings) return std::wstring();
    for (const Node& table : strings->Children()) {
        const std::optional<Node> description = table.Child(L"FileDescription");
        if (!description || !description->text) continue;
        std::wstring_view text(reinterpret_cast<const wchar_t*>(description->value.data()),
                               description->value.size() / 2);
        text = text.substr(0, text.find(L'\0'));
        if (!text.empty()) return std::wstring(text);
    }
    return std::wstring();
}

}  // namespace update
