#include "extras/dib_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/fake/memory_canvas.h"
#include "res/logo_131.h"
#include "support/test_platform.h"

namespace hhsync {

void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << int{c.red} << ", " << int{c.green} << ", " << int{c.blue} << ")";
}

namespace {

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

// A BMP file image put together field by field, so a test can make any
// header lie.
struct Bmp {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 24;
  uint32_t compression = kBiRgb;
  uint32_t clrUsed = 0;
  uint32_t headerSize = 40;
  std::vector<uint32_t> table;  // raw entries: 0x00RRGGBB colours, or masks
  std::vector<uint8_t> pixels;  // rows as stored, padded

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b;
    auto u16 = [&b](uint32_t v) {
      b.push_back(static_cast<uint8_t>(v));
      b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&b](uint32_t v) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t offset = 54 + static_cast<uint32_t>(table.size()) * 4;
    b.push_back('B');
    b.push_back('M');
    u32(offset + static_cast<uint32_t>(pixels.size()));
    u32(0);
    u32(offset);
    u32(headerSize);
    u32(static_cast<uint32_t>(width));
    u32(static_cast<uint32_t>(height));
    u16(1);
    u16(bitCount);
    u32(compression);
    u32(static_cast<uint32_t>(pixels.size()));
    u32(2835);
    u32(2835);
    u32(clrUsed);
    u32(0);
    for (uint32_t e : table) u32(e);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
  }
};

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr size_t kFileSizeAt = 2;
constexpr size_t kOffsetAt = 10;
constexpr size_t kWidthAt = 18;
constexpr size_t kHeightAt = 22;

// A 2 x 2 24-bit image, bottom-up: the top row red, green; the bottom row
// blue, white. Rows are 6 bytes padded to 8.
Bmp TwoByTwo24() {
  Bmp bmp;
  bmp.width = 2;
  bmp.height = 2;
  bmp.pixels = {/* bottom */ 255, 0, 0,   255, 255, 255, 0, 0,
                /* top */ 0,      0, 255, 0,   255, 0,   0, 0};
  return bmp;
}

// Every pixel of the w x h block at (x, y) on the canvas, row by row.
std::vector<Rgb> Region(const MemoryCanvas& canvas, int x, int y, int w, int h) {
  std::vector<Rgb> out;
  for (int row = y; row < y + h; ++row) {
    for (int col = x; col < x + w; ++col) out.push_back(canvas.Pixel(col, row));
  }
  return out;
}

TEST(DibImageTest, TwentyFourBitImageGetsHalftonePaletteSelectedOnlyOnPaletteCanvas) {
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(TwoByTwo24().Bytes()));
  EXPECT_EQ(image.ColourCount(), 0u);
  EXPECT_TRUE(image.ColourTable().empty());
  EXPECT_EQ(image.Palette(), DibImage::HalftonePalette(256));

  MemoryCanvas trueColour(4, 4);
  ASSERT_TRUE(image.Draw(trueColour, 1, 1));
  EXPECT_TRUE(trueColour.SelectedPalettes().empty());
  EXPECT_EQ(Region(trueColour, 1, 1, 2, 2),
            (std::vector<Rgb>{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, kWhite}));

  // On a palette display the palette is selected for the drawing and the
  // canvas's own one put back afterwards.
  MemoryCanvas palette(4, 4, kWhite, /*paletteBased=*/true);
  const std::vector<Rgb> own = {{1, 2, 3}};
  palette.SelectPalette(own);
  ASSERT_TRUE(image.Draw(palette, 0, 0));
  ASSERT_EQ(palette.SelectedPalettes().size(), 3u);
  EXPECT_EQ(palette.SelectedPalettes()[1], DibImage::HalftonePalette(256));
  EXPECT_EQ(palette.CurrentPalette(), own);
}

TEST(DibImageTest, OneBitImageGetsTwoEntryPaletteFromItsTable) {
  Bmp bmp;
  bmp.width = 10;
  bmp.height = 2;
  bmp.bitCount = 1;
  bmp.table = {0x00102030, 0x00C86432};
  // Rows are 10 bits, padded to 4 bytes. Top row: 1000000001, bottom:
  // 0111111110.
  bmp.pixels = {0x7F, 0x80, 0, 0, 0x80, 0x40, 0, 0};
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  const std::vector<Rgb> expected = {{0x10, 0x20, 0x30}, {0xC8, 0x64, 0x32}};
  EXPECT_EQ(image.ColourCount(), 2u);
  EXPECT_EQ(image.Palette(), expected);
  MemoryCanvas canvas(10, 2, kWhite, /*paletteBased=*/true);
  ASSERT_TRUE(image.Draw(canvas, 0, 0));
  EXPECT_EQ(canvas.SelectedPalettes().at(0), expected);
  const Rgb a = expected[0], b = expected[1];
  EXPECT_EQ(canvas.Pixels(),
            (std::vector<Rgb>{b, a, a, a, a, a, a, a, a, b, a, b, b, b, b, b, b, b, b, a}));
}

TEST(DibImageTest, FileSizeLimitsPixelDataToRowsTimesHeight) {
  Bmp bmp = TwoByTwo24();
  bmp.pixels.resize(bmp.pixels.size() + 100, 0xAB);  // trailing bytes after the rows
  std::vector<uint8_t> bytes = bmp.Bytes();
  PutU32(bytes, kFileSizeAt, static_cast<uint32_t>(bytes.size() + 5000));
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(bytes));
  EXPECT_EQ(image.Header().sizeImage, 16u);  // 8 bytes per row, 2 rows

  // A smaller file size takes only that much; the rest stays 0 (black).
  PutU32(bytes, kFileSizeAt, 54 + 8 + 3);
  ASSERT_TRUE(image.LoadFromMemory(bytes));
  EXPECT_EQ(image.Header().sizeImage, 11u);
  EXPECT_EQ(image.DecodePixels(), (std::vector<Rgb>{{255, 0, 0}, kBlack, {0, 0, 255}, kWhite}));

  // A file size not above the offset does not limit the pixels.
  PutU32(bytes, kFileSizeAt, 0);
  ASSERT_TRUE(image.LoadFromMemory(bytes));
  EXPECT_EQ(image.Header().sizeImage, 16u);
}

TEST(DibImageTest, RefusesWhatIsNotAnUncompressedBmpWithAFortyByteHeader) {
  DibImage image;
  std::vector<uint8_t> wrongSignature = TwoByTwo24().Bytes();
  wrongSignature[1] = 'A';
  EXPECT_FALSE(image.LoadFromMemory(wrongSignature));
  EXPECT_FALSE(image.HasImage());
  MemoryCanvas canvas(2, 2);
  EXPECT_FALSE(image.Draw(canvas, 0, 0));
  EXPECT_EQ(canvas.BlitCount(), 0);

  for (uint32_t size : {12u, 39u, 41u, 108u, 124u}) {
    Bmp bmp = TwoByTwo24();
    bmp.headerSize = size;
    EXPECT_FALSE(image.LoadFromMemory(bmp.Bytes())) << size;
  }
  Bmp rle = TwoByTwo24();
  rle.bitCount = 8;
  rle.compression = 1;
  rle.table.assign(256, 0);
  Bmp twoBit = TwoByTwo24();
  twoBit.bitCount = 2;
  Bmp fields24 = TwoByTwo24();
  fields24.compression = kBiBitfields;
  for (const Bmp& bmp : {rle, twoBit, fields24}) EXPECT_FALSE(image.LoadFromMemory(bmp.Bytes()));
  const std::vector<uint8_t> good = TwoByTwo24().Bytes();
  EXPECT_FALSE(image.LoadFromMemory(good.data(), 53));
}

TEST(DibImageTest, LyingHeadersAreRefusedOrClamped) {
  const std::vector<uint8_t> good = TwoByTwo24().Bytes();
  DibImage image;
  MemoryCanvas canvas(4, 4);
  auto with = [&good](size_t at, uint32_t v) {
    std::vector<uint8_t> b = good;
    PutU32(b, at, v);
    return b;
  };
  EXPECT_FALSE(image.LoadFromMemory(with(kOffsetAt, static_cast<uint32_t>(good.size()))));
  EXPECT_FALSE(image.LoadFromMemory(with(kOffsetAt, 0xFFFFFFFF)));
  for (uint32_t v : {0u, 0x7FFFFFFFu, 0x80000000u, static_cast<uint32_t>(-20000), 16385u}) {
    EXPECT_FALSE(image.LoadFromMemory(with(kHeightAt, v))) << v;
    EXPECT_FALSE(image.LoadFromMemory(with(kWidthAt, v))) << v;
  }
  // Within the size limits but far too many bytes: refused, not allocated.
  Bmp big = TwoByTwo24();
  big.bitCount = 32;
  big.width = 16384;
  big.height = 16384;
  EXPECT_FALSE(image.LoadFromMemory(big.Bytes()));
  // A height the data does not hold: drawn from what there is.
  ASSERT_TRUE(image.LoadFromMemory(with(kHeightAt, 1000)));
  EXPECT_EQ(image.Header().sizeImage, 16u);
  EXPECT_TRUE(image.Draw(canvas, 0, 0));
  // A colour table that would run past the end: 8 bits with an absurd count
  // of colours used still needs 256 entries.
  Bmp eight;
  eight.bitCount = 8;
  eight.clrUsed = 0xFFFFFFFF;
  eight.table.assign(200, 0);
  eight.pixels = {0, 0, 0, 0};
  EXPECT_FALSE(image.LoadFromMemory(eight.Bytes()));

  // Every prefix of a valid image, and images with bytes overwritten at
  // random: never a read past the end, whatever the outcome.
  Bmp fourBit;
  fourBit.width = 5;
  fourBit.height = -3;
  fourBit.bitCount = 4;
  fourBit.table.assign(16, 0x00808080);
  fourBit.pixels.assign(12, 0x5A);
  const std::vector<uint8_t> base = fourBit.Bytes();
  for (size_t n = 0; n <= base.size(); ++n) {
    if (image.LoadFromMemory(base.data(), n)) image.Draw(canvas, 0, 0);
  }
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> b = round % 2 == 0 ? base : good;
    for (int k = 0; k < 4; ++k) {
      // Mostly the headers and colour table, where a lie does harm.
      const size_t span = k < 3 ? std::min<size_t>(b.size(), 70) : b.size();
      b[2 + rng() % (span - 2)] = static_cast<uint8_t>(rng());
    }
    if (image.LoadFromMemory(b)) {
      EXPECT_LE(image.Header().sizeImage, b.size());
      image.Draw(canvas, 0, 0);
    }
  }
}

TEST(DibImageTest, HalftonePalette) {
  const std::vector<Rgb> t = DibImage::HalftonePalette(256);
  ASSERT_EQ(t.size(), 256u);
  const std::vector<std::pair<size_t, Rgb>> spots = {
      {0, {0, 0, 0}},         {1, {0, 0, 128}},       {7, {192, 192, 192}},
      {8, {192, 220, 192}},   {9, {240, 202, 166}},   {10, {0, 0, 44}},
      {11, {0, 0, 86}},       {15, {0, 44, 0}},       {221, {255, 255, 192}},
      {222, {255, 255, 255}}, {223, {17, 17, 17}},    {236, {125, 125, 125}},
      {237, {146, 146, 146}}, {245, {255, 255, 255}}, {246, {240, 251, 255}},
      {247, {164, 160, 160}}, {248, {128, 128, 128}}, {249, {0, 0, 255}},
      {253, {255, 0, 255}},   {255, {255, 255, 255}},
  };
  for (const auto& [i, colour] : spots) EXPECT_EQ(t[i], colour) << i;

  EXPECT_EQ(DibImage::HalftonePalette(2), (std::vector<Rgb>{kBlack, kWhite}));
  EXPECT_EQ(DibImage::HalftonePalette(1), DibImage::HalftonePalette(2));
  std::vector<Rgb> sixteen(t.begin(), t.begin() + 8);
  sixteen.insert(sixteen.end(), t.begin() + 248, t.end());
  EXPECT_EQ(DibImage::HalftonePalette(16), sixteen);
  EXPECT_EQ(DibImage::HalftonePalette(3), sixteen);
  for (int n : {17, 0, -1, 257}) EXPECT_EQ(DibImage::HalftonePalette(n), t) << n;
}

TEST(DibImageTest, LogoLoadsAsEightBitAndDraws) {
  // The embedded copy is the shipped file.
  const std::string here = __FILE__;
  EXPECT_EQ(test::ReadFile(here.substr(0, here.rfind("/tests/")) + "/res/logo_131.bmp"),
            std::string(std::begin(res::kLogo131Bmp), std::end(res::kLogo131Bmp)));

  DibImage logo;
  ASSERT_TRUE(logo.LoadResource(DibImage::kLogoResourceId));
  EXPECT_EQ(logo.Width(), 89);
  EXPECT_EQ(logo.Height(), 79);
  EXPECT_EQ(logo.Header().bitCount, 8);
  EXPECT_EQ(logo.ColourCount(), 256u);
  EXPECT_EQ(logo.Header().sizeImage, 92u * 79u);

  MemoryCanvas canvas(120, 100, Rgb{1, 2, 3}, /*paletteBased=*/true);
  ASSERT_TRUE(logo.Draw(canvas, 20, 10));
  EXPECT_EQ(Region(canvas, 20, 10, 89, 79), logo.DecodePixels());
  EXPECT_EQ(canvas.Pixel(19, 10), (Rgb{1, 2, 3}));
  EXPECT_EQ(canvas.Pixel(109, 88), (Rgb{1, 2, 3}));
  EXPECT_EQ(canvas.SelectedPalettes().front(), logo.ColourTable());
  // A picture, not a blank: the corner is the dialog-face grey, the middle
  // something else.
  EXPECT_EQ(canvas.Pixel(20, 10), (Rgb{192, 192, 192}));
  EXPECT_NE(canvas.Pixel(20 + 44, 10 + 39), (Rgb{192, 192, 192}));

  EXPECT_FALSE(logo.LoadResource(132));
  EXPECT_FALSE(logo.HasImage());
}

TEST(DibImageTest, DrawPlacesRowsBottomUpOrTopDown) {
  Bmp bmp;
  bmp.width = 3;
  bmp.height = 2;
  bmp.bitCount = 8;
  bmp.clrUsed = 4;
  bmp.table = {0x00000000, 0x00FF0000, 0x0000FF00, 0x000000FF};
  bmp.pixels = {1, 2, 3, 0, /* second stored row */ 3, 0, 1, 0};
  const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};

  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  MemoryCanvas canvas(10, 10);
  ASSERT_TRUE(image.Draw(canvas, 4, 5));
  // Colours used (4) sets the table's length. The first stored row is the
  // bottom one; nothing around the image moves.
  EXPECT_EQ(Region(canvas, 3, 4, 5, 4),
            (std::vector<Rgb>{kWhite, kWhite, kWhite, kWhite, kWhite,  //
                              kWhite, blue,   kBlack, red,    kWhite,  //
                              kWhite, red,    green,  blue,   kWhite,  //
                              kWhite, kWhite, kWhite, kWhite, kWhite}));

  bmp.height = -2;
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  canvas.Fill(kWhite);
  ASSERT_TRUE(image.Draw(canvas, 0, 0));
  EXPECT_EQ(Region(canvas, 0, 0, 3, 2), (std::vector<Rgb>{red, green, blue, blue, kBlack, red}));

  // Partly off the canvas: the visible part is drawn.
  canvas.Fill(kWhite);
  ASSERT_TRUE(image.Draw(canvas, -2, 9));
  EXPECT_EQ(canvas.Pixel(0, 9), blue);
  EXPECT_EQ(canvas.Pixel(1, 9), kWhite);
}

}  // namespace
}  // namespace hhsync

namespace hhsync {
namespace {

TEST(DibImageTest, DecodesFourSixteenAndThirtyTwoBitPixels) {
  // 4 bits: two pixels in one byte, high nibble first, through the table.
  Bmp four;
  four.width = 2;
  four.bitCount = 4;
  four.table = {0x000000, 0x00FF0000, 0x0000FF00};
  four.clrUsed = 3;
  four.pixels = {0x21, 0, 0, 0};
  DibImage a;
  ASSERT_TRUE(a.LoadFromMemory(four.Bytes()));
  EXPECT_EQ(a.DecodePixels(), (std::vector<Rgb>{{0, 255, 0}, {255, 0, 0}}));

  // 16 bits with 5-6-5 masks: pure red and pure blue.
  Bmp sixteen;
  sixteen.width = 2;
  sixteen.bitCount = 16;
  sixteen.compression = kBiBitfields;
  sixteen.table = {0xF800, 0x07E0, 0x001F};
  sixteen.pixels = {0x00, 0xF8, 0x1F, 0x00};
  DibImage b;
  ASSERT_TRUE(b.LoadFromMemory(sixteen.Bytes()));
  EXPECT_EQ(b.DecodePixels(), (std::vector<Rgb>{{255, 0, 0}, {0, 0, 255}}));

  // 32 bits without masks: blue, green, red, unused; two rows bottom-up.
  Bmp thirtyTwo;
  thirtyTwo.height = 2;
  thirtyTwo.bitCount = 32;
  thirtyTwo.pixels = {10, 20, 30, 0, 40, 50, 60, 0};
  DibImage c;
  ASSERT_TRUE(c.LoadFromMemory(thirtyTwo.Bytes()));
  EXPECT_EQ(c.DecodePixels(), (std::vector<Rgb>{{60, 50, 40}, {30, 20, 10}}));
}

}  // namespace
}  // namespace hhsync
