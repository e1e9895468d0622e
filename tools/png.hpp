// A small PNG writer for screenshots and icons: 8-bit RGBA, deflated by zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace png {

/// Encodes `rgba` (width * height * 4 bytes, row by row) as a PNG file;
/// empty if zlib runs out of memory.
std::vector<std::uint8_t> Encode(int width, int height, const std::vector<std::uint8_t>& rgba);

/// Writes `bytes` to the file `path`; false (with errno set) on failure.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

/// Writes the encoded image to `path`; false (with errno set) on failure.
bool Write(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba);

}  // namespace png
