#include "formats/dib.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/byte_order.h"

namespace hhsync {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr uint16_t kBmSignature = 0x4D42;  // "BM"

int32_t ReadI32(const uint8_t* p) { return static_cast<int32_t>(ReadLe32(p)); }

BitmapInfoHeader ReadInfoHeader(const uint8_t* p) {
  BitmapInfoHeader h;
  h.size = ReadLe32(p);
  h.width = ReadI32(p + 4);
  h.height = ReadI32(p + 8);
  h.planes = ReadLe16(p + 12);
  h.bitCount = ReadLe16(p + 14);
  h.compression = ReadLe32(p + 16);
  h.sizeImage = ReadLe32(p + 20);
  h.xPelsPerMeter = ReadI32(p + 24);
  h.yPelsPerMeter = ReadI32(p + 28);
  h.clrUsed = ReadLe32(p + 32);
  h.clrImportant = ReadLe32(p + 36);
  return h;
}

// Whether the depth, compression and size are ones this loader draws.
bool Supported(const BitmapInfoHeader& h) {
  switch (h.bitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
      if (h.compression != kBiRgb) return false;
      break;
    case 16:
    case 32:
      if (h.compression != kBiRgb && h.compression != kBiBitfields) return false;
      break;
    default:
      return false;
  }
  const uint64_t height = static_cast<uint64_t>(std::abs(int64_t{h.height}));  // widened
  if (h.width <= 0 || height == 0) return false;
  // Both the stored rows and the decoded pixels must fit the cap.
  const uint64_t pixels = static_cast<uint64_t>(h.width) * height;
  return DibImage::RowBytes(h.width, h.bitCount) * height <= DibImage::kMaxImageBytes &&
         pixels <= DibImage::kMaxImageBytes / sizeof(Rgb);
}

// Entries of the colour table that follows the info header.
uint32_t ColourTableSize(const BitmapInfoHeader& h) {
  uint32_t count = 0;
  switch (h.bitCount) {
    case 1:
      count = 2;
      break;
    case 4:
      count = 16;
      break;
    case 8:
      count = 256;
      break;
    case 16:
    case 32:
      count = h.compression == kBiBitfields ? 3 : 0;
      break;
    default:
      count = 0;
  }
  if (h.clrUsed != 0 && h.clrUsed <= count) count = h.clrUsed;
  return count;
}

// The halftone table: the 20 colours every palette display keeps, and
// between them a 6 x 6 x 6 colour cube and a ramp of greys.
constexpr std::array<Rgb, 256> MakeHalftoneTable() {
  std::array<Rgb, 256> t{};
  const Rgb first[10] = {{0, 0, 0},       {0, 0, 128},    {0, 128, 0},   {0, 128, 128},
                         {128, 0, 0},     {128, 0, 128},  {128, 128, 0}, {192, 192, 192},
                         {192, 220, 192}, {240, 202, 166}};
  size_t i = 0;
  for (const Rgb& c : first) t[i++] = c;
  // The cube, red slowest and blue fastest, without the three colours that
  // the fixed entries already hold: black, light grey and yellow.
  const uint8_t levels[6] = {0, 44, 86, 135, 192, 255};
  for (uint8_t r : levels) {
    for (uint8_t g : levels) {
      for (uint8_t b : levels) {
        const Rgb c{r, g, b};
        if (c == Rgb{0, 0, 0} || c == Rgb{192, 192, 192} || c == Rgb{255, 255, 0}) continue;
        t[i++] = c;
      }
    }
  }
  const uint8_t greys[23] = {17,  24,  30,  37,  44,  52,  60,  68,  77,  86,  95, 105,
                             114, 125, 146, 157, 168, 180, 204, 216, 229, 242, 255};
  for (uint8_t v : greys) t[i++] = Rgb{v, v, v};
  const Rgb last[10] = {{240, 251, 255}, {164, 160, 160}, {128, 128, 128}, {0, 0, 255},
                        {0, 255, 0},     {0, 255, 255},   {255, 0, 0},     {255, 0, 255},
                        {255, 255, 0},   {255, 255, 255}};
  for (const Rgb& c : last) t[i++] = c;
  return t;
}

constexpr std::array<Rgb, 256> kHalftone = MakeHalftoneTable();
static_assert(kHalftone[10] == Rgb{0, 0, 44});
static_assert(kHalftone[222] == Rgb{255, 255, 255});
static_assert(kHalftone[223] == Rgb{17, 17, 17});
static_assert(kHalftone[246] == Rgb{240, 251, 255});

// One colour channel of a 16- or 32-bit pixel: the bits under mask, scaled
// to 0..255.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const uint64_t max = mask >> shift;
  const uint64_t value = (pixel & mask) >> shift;
  return static_cast<uint8_t>((value * 255 + max / 2) / max);
}

}  // namespace

uint64_t DibImage::RowBytes(int64_t width, int bitCount) {
  return (static_cast<uint64_t>(width) * static_cast<uint64_t>(bitCount) + 31) / 32 * 4;
}

std::vector<Rgb> DibImage::HalftonePalette(int n) {
  if (n < 1 || n > 256) n = 256;
  if (n <= 2) return {kHalftone[0], kHalftone[255]};
  if (n <= 16) {
    std::vector<Rgb> p(kHalftone.begin(), kHalftone.begin() + 8);
    p.insert(p.end(), kHalftone.begin() + 248, kHalftone.end());
    return p;
  }
  return {kHalftone.begin(), kHalftone.end()};
}

void DibImage::Release() {
  info_ = {};
  colourTable_.clear();
  masks_ = {};
  bits_.clear();
  palette_.clear();
  hasImage_ = false;
}

void DibImage::ReadColours(const uint8_t* table, uint32_t count, const BitmapInfoHeader& header) {
  if (header.compression == kBiBitfields) {
    // The masks are the colour table's entries; a table cut short by its
    // colours-used count leaves the missing masks at zero.
    for (uint32_t i = 0; i < count && i < masks_.size(); ++i) masks_[i] = ReadLe32(table + i * 4);
  } else {
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* q = table + size_t{i} * 4;  // blue, green, red, reserved
      colourTable_.push_back(Rgb{q[2], q[1], q[0]});
    }
    if (header.bitCount == 16) {
      masks_ = {0x7C00, 0x03E0, 0x001F};
    } else if (header.bitCount == 32) {
      masks_ = {0xFF0000, 0x00FF00, 0x0000FF};
    }
  }

  // The palette: the image's own colours, else the halftone palette. A
  // table of masks holds no colours, so it gets the halftone palette of its
  // entry count, as for a table that could not be read.
  if (!colourTable_.empty()) {
    palette_ = colourTable_;
  } else {
    palette_ = HalftonePalette(count != 0 ? static_cast<int>(count) : 256);
  }
}

bool DibImage::LoadFromMemory(const uint8_t* image, size_t length) {
  Release();
  if (image == nullptr || length < kFileHeaderSize) return false;
  if (ReadLe16(image) != kBmSignature) return false;
  if (length < kFileHeaderSize + kInfoHeaderSize) return false;
  BitmapInfoHeader header = ReadInfoHeader(image + kFileHeaderSize);
  if (header.size != kInfoHeaderSize) return false;
  if (!Supported(header)) return false;

  const uint32_t count = ColourTableSize(header);
  const size_t tableStart = kFileHeaderSize + kInfoHeaderSize;
  if (length - tableStart < size_t{count} * 4) return false;

  const uint32_t fileSize = ReadLe32(image + 2);
  const uint32_t offset = ReadLe32(image + 10);
  if (offset >= length) return false;  // no pixel byte inside the image
  const uint64_t fullLength = RowBytes(header.width, header.bitCount) *
                              static_cast<uint64_t>(std::abs(int64_t{header.height}));
  uint64_t pixelLength = fullLength;
  if (fileSize > offset) pixelLength = std::min<uint64_t>(fileSize - offset, fullLength);
  pixelLength = std::min<uint64_t>(pixelLength, length - offset);
  header.sizeImage = static_cast<uint32_t>(pixelLength);  // fits: at most kMaxImageBytes

  try {
    bits_.assign(static_cast<size_t>(fullLength), 0);
    colourTable_.reserve(count);
    palette_.reserve(256);
  } catch (const std::bad_alloc&) {
    Release();
    return false;
  }
  std::memcpy(bits_.data(), image + offset, static_cast<size_t>(pixelLength));

  ReadColours(image + tableStart, count, header);
  info_ = header;
  hasImage_ = true;
  return true;
}

std::vector<Rgb> DibImage::DecodePixels() const {
  if (!hasImage_) return {};
  const size_t width = static_cast<size_t>(info_.width);
  const size_t height = static_cast<size_t>(std::abs(int64_t{info_.height}));
  const size_t stride = static_cast<size_t>(RowBytes(info_.width, info_.bitCount));
  const bool bottomUp = info_.height > 0;
  std::vector<Rgb> out(width * height);
  auto colour = [this](uint32_t index) {
    return index < colourTable_.size() ? colourTable_[index] : Rgb{};
  };
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* row = bits_.data() + (bottomUp ? height - 1 - y : y) * stride;
    Rgb* dest = out.data() + y * width;
    for (size_t x = 0; x < width; ++x) {
      switch (info_.bitCount) {
        case 1:
          dest[x] = colour((row[x / 8] >> (7 - x % 8)) & 1);
          break;
        case 4:
          dest[x] = colour((row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F);
          break;
        case 8:
          dest[x] = colour(row[x]);
          break;
        case 16: {
          const uint32_t p = ReadLe16(row + x * 2);
          dest[x] = Rgb{Channel(p, masks_[0]), Channel(p, masks_[1]), Channel(p, masks_[2])};
          break;
        }
        case 24:
          dest[x] = Rgb{row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
          break;
        case 32: {
          const uint32_t p = ReadLe32(row + x * 4);
          dest[x] = Rgb{Channel(p, masks_[0]), Channel(p, masks_[1]), Channel(p, masks_[2])};
          break;
        }
        default:
          break;
      }
    }
  }
  return out;
}

}  // namespace hhsync
