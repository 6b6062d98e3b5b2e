#include "tests/e2e/png.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace automation {

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

void AppendBigEndian(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value >> 24));
    out.push_back(static_cast<char>(value >> 16));
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value));
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Length, type, data, and the CRC over type and data.
void AppendChunk(std::string& out, std::string_view type, std::string_view data) {
    AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeStart = out.size();
    out.append(type);
    out.append(data);
    AppendBigEndian(out, Crc32(Bytes(std::string_view(out).substr(typeStart))));
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    crc = ~crc;
    for (const std::uint8_t byte : bytes) crc = kCrcTable[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t Adler32(std::span<const std::uint8_t> bytes) {
    constexpr std::uint32_t kModulus = 65521;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : bytes) {
        a = (a + byte) % kModulus;
        b = (b + a) % kModulus;
    }
    return (b << 16) | a;
}

std::string ZlibStored(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kMaxBlock = 65535;
    // CMF 0x78 (deflate, 32K window), FLG 0x01 makes the pair a multiple of 31.
    std::string out = "\x78\x01";
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(kMaxBlock, bytes.size() - offset);
        const bool last = offset + length == bytes.size();
        const auto len16 = static_cast<std::uint16_t>(length);
        const auto nlen16 = static_cast<std::uint16_t>(~len16);
        out.push_back(last ? '\x01' : '\x00');
        out.push_back(static_cast<char>(len16 & 0xFFu));
        out.push_back(static_cast<char>(len16 >> 8));
        out.push_back(static_cast<char>(nlen16 & 0xFFu));
        out.push_back(static_cast<char>(nlen16 >> 8));
        out.append(reinterpret_cast<const char*>(bytes.data() + offset), length);
        offset += length;
    } while (offset < bytes.size());
    AppendBigEndian(out, Adler32(bytes));
    return out;
}

std::string EncodePng(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgb) {
    const std::size_t rowBytes = std::size_t{width} * 3;
    if (width == 0 || height == 0 || rgb.size() != rowBytes * height) return {};

    // Every row starts with filter type 0 (none).
    std::vector<std::uint8_t> raw;
    raw.reserve((rowBytes + 1) * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        const auto row = rgb.subspan(rowBytes * y, rowBytes);
        raw.insert(raw.end(), row.begin(), row.end());
    }

    std::string header;
    AppendBigEndian(header, width);
    AppendBigEndian(header, height);
    // Bit depth 8, colour type 2 (RGB), deflate, no filter method, no interlace.
    header.append("\x08\x02\x00\x00\x00", 5);

    std::string png = "\x89PNG\r\n\x1A\n";
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", ZlibStored(raw));
    AppendChunk(png, "IEND", {});
    return png;
}

}  // namespace automation
