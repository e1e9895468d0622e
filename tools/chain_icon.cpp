// chain-icon: writes the application icon, drawn by the same code as the
// window's icon, as a PNG of one size or as a Windows .ico of several.
//   chain-icon png SIZE OUT.png
//   chain-icon ico OUT.ico
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "icon.hpp"
#include "png.hpp"

namespace {

std::vector<std::uint8_t> IconPng(int size) {
  const window::RgbaImage icon = app::DrawIcon(size);
  return png::Encode(icon.Width, icon.Height, icon.Pixels);
}

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// An .ico holding PNG images, which Windows reads since Vista.
std::vector<std::uint8_t> Ico() {
  const int sizes[] = {16, 32, 48, 256};
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : sizes) images.push_back(IconPng(size));
  std::vector<std::uint8_t> out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // icon
  Put16(out, static_cast<unsigned>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    out.push_back(static_cast<std::uint8_t>(sizes[i] == 256 ? 0 : sizes[i]));  // 0 means 256
    out.push_back(static_cast<std::uint8_t>(sizes[i] == 256 ? 0 : sizes[i]));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);   // planes
    Put16(out, 32);  // bits per pixel
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::uint8_t> bytes;
  const char* out = nullptr;
  if (argc == 4 && std::strcmp(argv[1], "png") == 0) {
    const int size = std::atoi(argv[2]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "chain-icon: size must be 8 to 1024 pixels, not '%s'\n", argv[2]);
      return 2;
    }
    bytes = IconPng(size);
    out = argv[3];
  } else if (argc == 3 && std::strcmp(argv[1], "ico") == 0) {
    bytes = Ico();
    out = argv[2];
  } else {
    std::fprintf(stderr, "usage: chain-icon png SIZE OUT.png | chain-icon ico OUT.ico\n");
    return 2;
  }
  if (!png::WriteFile(out, bytes)) {
    std::fprintf(stderr, "chain-icon: cannot write %s\n", out);
    return 1;
  }
  return 0;
}
