#include "png.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace png {
namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& out, const char type[4],
           const std::vector<std::uint8_t>& data) {
  Put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  Put32(out, Crc32(&out[start], out.size() - start));
}

}  // namespace

std::vector<std::uint8_t> Encode(int width, int height, const std::vector<std::uint8_t>& rgba) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

  std::vector<std::uint8_t> header;
  Put32(header, static_cast<std::uint32_t>(width));
  Put32(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  Chunk(out, "IHDR", header);

  // Scanlines, each after a "no filter" byte, deflated.
  std::vector<std::uint8_t> raw;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgba.begin() + static_cast<std::ptrdiff_t>(y * rowBytes),
               rgba.begin() + static_cast<std::ptrdiff_t>((y + 1) * rowBytes));
  }
  uLongf packed = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> zlib(packed);
  if (compress2(zlib.data(), &packed, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
    return {};  // only on exhausted memory
  zlib.resize(packed);
  Chunk(out, "IDAT", zlib);
  Chunk(out, "IEND", {});
  return out;
}

bool Write(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba) {
  const std::vector<std::uint8_t> bytes = Encode(width, height, rgba);
  return !bytes.empty() && WriteFile(path, bytes);
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace png
