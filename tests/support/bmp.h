#pragma once
// BMP file images put together field by field, so a test can make any
// header lie.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hhsync::test {

struct Bmp {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;  // BI_RGB
  uint32_t clrUsed = 0;
  uint32_t headerSize = 40;
  std::vector<uint32_t> table;  // raw entries: 0x00RRGGBB colours, or masks
  std::vector<uint8_t> pixels;  // rows as stored, padded

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b = {'B', 'M'};

    auto u32 = [&b](uint32_t v) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t offset = 54 + static_cast<uint32_t>(table.size()) * 4;
    const auto size = static_cast<uint32_t>(pixels.size());
    for (uint32_t v : {offset + size, 0u, offset, headerSize, static_cast<uint32_t>(width),
                       static_cast<uint32_t>(height), 1u | uint32_t{bitCount} << 16, compression,
                       size, 2835u, 2835u, clrUsed, 0u}) {
      u32(v);
    }
    for (uint32_t e : table) u32(e);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
  }
  std::string Text() const {
    std::vector<uint8_t> b = Bytes();
    return std::string(b.begin(), b.end());
  }
};

// An image of the given size and depth with its stored rows (padded) and
// colour table or masks.
inline Bmp MakeBmp(int32_t width, int32_t height, uint16_t bitCount, std::vector<uint8_t> pixels,
                   std::vector<uint32_t> table = {}, uint32_t clrUsed = 0,
                   uint32_t compression = 0) {
  Bmp bmp;
  bmp.width = width;
  bmp.height = height;
  bmp.bitCount = bitCount;
  bmp.compression = compression;
  bmp.clrUsed = clrUsed;
  bmp.table = std::move(table);
  bmp.pixels = std::move(pixels);
  return bmp;
}

// A width x height 24-bit image filled with one colour.
inline Bmp Solid24(int width, int height, uint8_t red, uint8_t green, uint8_t blue) {
  Bmp bmp;
  bmp.width = width;
  bmp.height = height;
  const int stride = (width * 3 + 3) / 4 * 4;
  bmp.pixels.assign(static_cast<std::size_t>(stride * height), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &bmp.pixels[static_cast<std::size_t>(y * stride + x * 3)];
      p[0] = blue;
      p[1] = green;
      p[2] = red;
    }
  }
  return bmp;
}

}  // namespace hhsync::test
