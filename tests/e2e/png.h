// A minimal PNG writer for screenshots: 8-bit RGB, no filtering, "stored"
// deflate blocks, so it needs no compression library.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace automation {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);
std::uint32_t Adler32(std::span<const std::uint8_t> bytes);

// The zlib stream of bytes in stored blocks of at most 65535 bytes each.
std::string ZlibStored(std::span<const std::uint8_t> bytes);

// rgb holds height rows of width pixels, top row first, three bytes each.
// Returns the whole PNG file; empty when the size does not match or is zero.
std::string EncodePng(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgb);

}  // namespace automation
