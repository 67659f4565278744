#include "extras/dib_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/fake/memory_canvas.h"
#include "res/logo_131.h"

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
constexpr size_t kClrUsedAt = 46;

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

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DibImageTest, TwentyFourBitImageGetsHalftonePaletteSelectedOnlyOnPaletteCanvas) {
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(TwoByTwo24().Bytes()));
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.Height(), 2);
  EXPECT_EQ(image.ColourCount(), 0u);
  EXPECT_TRUE(image.ColourTable().empty());
  EXPECT_EQ(image.Palette(), DibImage::HalftonePalette(256));
  EXPECT_EQ(image.Palette().size(), 256u);

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
  EXPECT_EQ(image.ColourCount(), 2u);
  const std::vector<Rgb> expected = {{0x10, 0x20, 0x30}, {0xC8, 0x64, 0x32}};
  EXPECT_EQ(image.ColourTable(), expected);
  EXPECT_EQ(image.Palette(), expected);

  MemoryCanvas canvas(10, 2, kWhite, /*paletteBased=*/true);
  ASSERT_TRUE(image.Draw(canvas, 0, 0));
  ASSERT_EQ(canvas.SelectedPalettes().size(), 2u);
  EXPECT_EQ(canvas.SelectedPalettes()[0], expected);
  EXPECT_TRUE(canvas.SelectedPalettes()[1].empty());
  const Rgb a = expected[0], b = expected[1];
  EXPECT_EQ(Region(canvas, 0, 0, 10, 1), (std::vector<Rgb>{b, a, a, a, a, a, a, a, a, b}));
  EXPECT_EQ(Region(canvas, 0, 1, 10, 1), (std::vector<Rgb>{a, b, b, b, b, b, b, b, b, a}));
}

TEST(DibImageTest, ColoursUsedShortensTableWhenNotLarger) {
  Bmp bmp;
  bmp.width = 3;
  bmp.height = 1;
  bmp.bitCount = 8;
  bmp.clrUsed = 2;
  bmp.table = {0x00FF0000, 0x0000FF00};
  bmp.pixels = {1, 0, 7, 0};  // 7 lies past the table
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  EXPECT_EQ(image.ColourCount(), 2u);
  EXPECT_EQ(image.Palette(), (std::vector<Rgb>{{255, 0, 0}, {0, 255, 0}}));
  MemoryCanvas canvas(3, 1);
  ASSERT_TRUE(image.Draw(canvas, 0, 0));
  EXPECT_EQ(canvas.Pixels(), (std::vector<Rgb>{{0, 255, 0}, {255, 0, 0}, kBlack}));

  // More colours used than the depth allows: the full table of 256 counts.
  bmp.clrUsed = 300;
  bmp.table.assign(256, 0x00010203);
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  EXPECT_EQ(image.ColourCount(), 256u);
  EXPECT_EQ(image.Palette().size(), 256u);
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
  MemoryCanvas canvas(2, 2);
  ASSERT_TRUE(image.Draw(canvas, 0, 0));
  EXPECT_EQ(canvas.Pixels(), (std::vector<Rgb>{{255, 0, 0}, kBlack, {0, 0, 255}, kWhite}));

  // A file size not above the offset does not limit the pixels.
  PutU32(bytes, kFileSizeAt, 0);
  ASSERT_TRUE(image.LoadFromMemory(bytes));
  EXPECT_EQ(image.Header().sizeImage, 16u);
}

TEST(DibImageTest, RefusesWrongSignatureOrInfoHeaderSize) {
  const std::vector<uint8_t> good = TwoByTwo24().Bytes();
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(good));

  std::vector<uint8_t> bytes = good;
  bytes[1] = 'A';
  EXPECT_FALSE(image.LoadFromMemory(bytes));
  EXPECT_FALSE(image.HasImage());
  EXPECT_EQ(image.Width(), 0);
  EXPECT_EQ(image.Height(), 0);
  MemoryCanvas canvas(2, 2);
  EXPECT_FALSE(image.Draw(canvas, 0, 0));
  EXPECT_EQ(canvas.BlitCount(), 0);

  for (uint32_t size : {12u, 39u, 41u, 108u, 124u}) {
    Bmp bmp = TwoByTwo24();
    bmp.headerSize = size;
    EXPECT_FALSE(image.LoadFromMemory(bmp.Bytes())) << size;
  }
  EXPECT_FALSE(image.LoadFromMemory(nullptr, 0));
  EXPECT_FALSE(image.LoadFromMemory(good.data(), 13));
  EXPECT_FALSE(image.LoadFromMemory(good.data(), 53));
}

TEST(DibImageTest, RefusesUnsupportedFormats) {
  DibImage image;
  Bmp rle = TwoByTwo24();
  rle.bitCount = 8;
  rle.compression = 1;  // run-length encoded
  rle.table.assign(256, 0);
  EXPECT_FALSE(image.LoadFromMemory(rle.Bytes()));
  Bmp twoBit = TwoByTwo24();
  twoBit.bitCount = 2;
  EXPECT_FALSE(image.LoadFromMemory(twoBit.Bytes()));
  Bmp fields24 = TwoByTwo24();
  fields24.compression = kBiBitfields;
  EXPECT_FALSE(image.LoadFromMemory(fields24.Bytes()));
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
  // The pixel offset at or past the end.
  EXPECT_FALSE(image.LoadFromMemory(with(kOffsetAt, static_cast<uint32_t>(good.size()))));
  EXPECT_FALSE(image.LoadFromMemory(with(kOffsetAt, 0xFFFFFFFF)));
  // Sizes out of range, negative or zero.
  for (uint32_t h : {0u, 0x7FFFFFFFu, 0x80000000u, static_cast<uint32_t>(-20000), 16385u}) {
    EXPECT_FALSE(image.LoadFromMemory(with(kHeightAt, h))) << h;
  }
  for (uint32_t w : {0u, 0xFFFFFFFFu, 0x80000000u, 16385u}) {
    EXPECT_FALSE(image.LoadFromMemory(with(kWidthAt, w))) << w;
  }
  // Within the size limits but far too many bytes: refused, not allocated.
  {
    Bmp big = TwoByTwo24();
    big.bitCount = 32;
    big.width = 16384;
    big.height = 16384;
    EXPECT_FALSE(image.LoadFromMemory(big.Bytes()));
  }
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
  eight.clrUsed = 0;
  EXPECT_FALSE(image.LoadFromMemory(eight.Bytes()));
  eight.clrUsed = 200;
  EXPECT_TRUE(image.LoadFromMemory(eight.Bytes()));

  // Pixel data cut short: loads what there is.
  std::vector<uint8_t> cut = good;
  cut.resize(good.size() - 5);
  ASSERT_TRUE(image.LoadFromMemory(cut));
  EXPECT_EQ(image.Header().sizeImage, 11u);
  EXPECT_TRUE(image.Draw(canvas, 0, 0));

  // Every prefix of a valid image, and an image with bytes overwritten at
  // random: never a read past the end, whatever the outcome.
  Bmp logoLike;
  logoLike.width = 5;
  logoLike.height = -3;
  logoLike.bitCount = 4;
  logoLike.table.assign(16, 0x00808080);
  logoLike.pixels.assign(12, 0x5A);
  const std::vector<uint8_t> base = logoLike.Bytes();
  for (size_t n = 0; n <= base.size(); ++n) {
    const std::vector<uint8_t> prefix(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(n));
    if (image.LoadFromMemory(prefix.data(), prefix.size())) image.Draw(canvas, 0, 0);
  }
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> b = round % 2 == 0 ? base : good;
    for (int k = 0; k < 4; ++k) {
      // Mostly the headers and colour table, where a lie does harm.
      const size_t span = k < 3 ? std::min<size_t>(b.size(), 70) : b.size();
      const size_t at = 2 + rng() % (span - 2);
      b[at] = static_cast<uint8_t>(rng());
    }
    if (image.LoadFromMemory(b)) {
      EXPECT_LE(image.Header().sizeImage, b.size());
      image.Draw(canvas, 0, 0);
    }
  }
}

TEST(DibImageTest, HalftoneTable) {
  const std::vector<Rgb> t = DibImage::HalftonePalette(256);
  ASSERT_EQ(t.size(), 256u);
  const std::vector<Rgb> first(t.begin(), t.begin() + 10);
  EXPECT_EQ(first, (std::vector<Rgb>{{0, 0, 0},
                                     {0, 0, 128},
                                     {0, 128, 0},
                                     {0, 128, 128},
                                     {128, 0, 0},
                                     {128, 0, 128},
                                     {128, 128, 0},
                                     {192, 192, 192},
                                     {192, 220, 192},
                                     {240, 202, 166}}));
  EXPECT_EQ(t[10], (Rgb{0, 0, 44}));
  EXPECT_EQ(t[11], (Rgb{0, 0, 86}));
  EXPECT_EQ(t[15], (Rgb{0, 44, 0}));
  EXPECT_EQ(t[221], (Rgb{255, 255, 192}));
  EXPECT_EQ(t[222], (Rgb{255, 255, 255}));
  const uint8_t greys[] = {17,  24,  30,  37,  44,  52,  60,  68,  77,  86,  95, 105,
                           114, 125, 146, 157, 168, 180, 204, 216, 229, 242, 255};
  for (size_t i = 0; i < 23; ++i) {
    EXPECT_EQ(t[223 + i], (Rgb{greys[i], greys[i], greys[i]})) << 223 + i;
  }
  const std::vector<Rgb> last(t.begin() + 246, t.end());
  EXPECT_EQ(last, (std::vector<Rgb>{{240, 251, 255},
                                    {164, 160, 160},
                                    {128, 128, 128},
                                    {0, 0, 255},
                                    {0, 255, 0},
                                    {0, 255, 255},
                                    {255, 0, 0},
                                    {255, 0, 255},
                                    {255, 255, 0},
                                    {255, 255, 255}}));
  // The cube part: six levels only, strictly in red-green-blue order, none
  // of the three colours held elsewhere.
  auto level = [](uint8_t v) {
    const uint8_t levels[] = {0, 44, 86, 135, 192, 255};
    for (int i = 0; i < 6; ++i) {
      if (levels[i] == v) return i;
    }
    return -1;
  };
  int previous = -1;
  for (size_t i = 10; i <= 222; ++i) {
    const int r = level(t[i].red), g = level(t[i].green), b = level(t[i].blue);
    ASSERT_TRUE(r >= 0 && g >= 0 && b >= 0) << i;
    const int key = r * 36 + g * 6 + b;
    EXPECT_GT(key, previous) << i;
    previous = key;
    EXPECT_NE(t[i], (Rgb{192, 192, 192}));
    EXPECT_NE(t[i], (Rgb{255, 255, 0}));
  }

  EXPECT_EQ(DibImage::HalftonePalette(2), (std::vector<Rgb>{kBlack, kWhite}));
  EXPECT_EQ(DibImage::HalftonePalette(1), DibImage::HalftonePalette(2));
  std::vector<Rgb> sixteen(t.begin(), t.begin() + 8);
  sixteen.insert(sixteen.end(), t.begin() + 248, t.end());
  EXPECT_EQ(DibImage::HalftonePalette(16), sixteen);
  EXPECT_EQ(DibImage::HalftonePalette(3), sixteen);
  EXPECT_EQ(DibImage::HalftonePalette(17), t);
  for (int n : {0, -1, 257, 100000}) EXPECT_EQ(DibImage::HalftonePalette(n), t) << n;
}

TEST(DibImageTest, LogoLoadsAsEightBitAndDraws) {
  DibImage logo;
  ASSERT_TRUE(logo.LoadResource(DibImage::kLogoResourceId));
  EXPECT_EQ(logo.Width(), 89);
  EXPECT_EQ(logo.Height(), 79);
  EXPECT_EQ(logo.Header().bitCount, 8);
  EXPECT_EQ(logo.ColourCount(), 256u);
  EXPECT_EQ(logo.Palette(), logo.ColourTable());
  EXPECT_EQ(logo.Header().sizeImage, 92u * 79u);

  MemoryCanvas canvas(120, 100, Rgb{1, 2, 3}, /*paletteBased=*/true);
  ASSERT_TRUE(logo.Draw(canvas, 20, 10));
  EXPECT_EQ(Region(canvas, 20, 10, 89, 79), logo.DecodePixels());
  EXPECT_EQ(canvas.Pixel(19, 10), (Rgb{1, 2, 3}));
  EXPECT_EQ(canvas.Pixel(109, 88), (Rgb{1, 2, 3}));
  EXPECT_EQ(canvas.Pixel(20, 89), (Rgb{1, 2, 3}));
  EXPECT_EQ(canvas.SelectedPalettes().front(), logo.Palette());
  // A picture, not a blank: the corner is the dialog-face grey, the middle
  // something else.
  EXPECT_EQ(canvas.Pixel(20, 10), (Rgb{192, 192, 192}));
  EXPECT_NE(canvas.Pixel(20 + 44, 10 + 39), (Rgb{192, 192, 192}));

  EXPECT_FALSE(logo.LoadResource(132));
  EXPECT_FALSE(logo.HasImage());
  EXPECT_FALSE(logo.Draw(canvas, 0, 0));
}

TEST(DibImageTest, EmbeddedLogoMatchesBitmapFile) {
  const std::filesystem::path root =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  const std::vector<uint8_t> file = ReadFile(root / "res" / "logo_131.bmp");
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file, std::vector<uint8_t>(std::begin(res::kLogo131Bmp), std::end(res::kLogo131Bmp)));
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
  // The first stored row is the bottom one.
  EXPECT_EQ(Region(canvas, 4, 5, 3, 1), (std::vector<Rgb>{blue, kBlack, red}));
  EXPECT_EQ(Region(canvas, 4, 6, 3, 1), (std::vector<Rgb>{red, green, blue}));
  EXPECT_EQ(canvas.Pixel(3, 5), kWhite);
  EXPECT_EQ(canvas.Pixel(7, 5), kWhite);
  EXPECT_EQ(canvas.Pixel(4, 4), kWhite);
  EXPECT_EQ(canvas.Pixel(4, 7), kWhite);

  bmp.height = -2;
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  EXPECT_EQ(image.Height(), -2);
  canvas.Fill(kWhite);
  ASSERT_TRUE(image.Draw(canvas, 0, 0));
  EXPECT_EQ(Region(canvas, 0, 0, 3, 2), (std::vector<Rgb>{red, green, blue, blue, kBlack, red}));

  // Partly off the canvas: the visible part is drawn.
  canvas.Fill(kWhite);
  ASSERT_TRUE(image.Draw(canvas, -2, 9));
  EXPECT_EQ(canvas.Pixel(0, 9), blue);
  EXPECT_EQ(canvas.Pixel(1, 9), kWhite);
}

TEST(DibImageTest, DecodesFourSixteenAndThirtyTwoBits) {
  DibImage image;
  {
    Bmp bmp;
    bmp.width = 3;
    bmp.bitCount = 4;
    bmp.table.assign(16, 0);
    bmp.table[0xA] = 0x00112233;
    bmp.table[0x5] = 0x00445566;
    bmp.table[0xF] = 0x00778899;
    bmp.pixels = {0xA5, 0xF0, 0, 0};
    ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
    EXPECT_EQ(image.DecodePixels(),
              (std::vector<Rgb>{{0x11, 0x22, 0x33}, {0x44, 0x55, 0x66}, {0x77, 0x88, 0x99}}));
  }
  {
    Bmp bmp;  // 5-5-5
    bmp.width = 2;
    bmp.bitCount = 16;
    bmp.pixels = {0x00, 0x7C, 0x1F, 0x00};  // 0x7C00 red, 0x001F blue
    ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
    EXPECT_EQ(image.DecodePixels(), (std::vector<Rgb>{{255, 0, 0}, {0, 0, 255}}));
    EXPECT_EQ(image.Palette(), DibImage::HalftonePalette(256));
  }
  {
    Bmp bmp;  // 5-6-5 bit fields
    bmp.width = 2;
    bmp.bitCount = 16;
    bmp.compression = kBiBitfields;
    bmp.table = {0xF800, 0x07E0, 0x001F};
    bmp.pixels = {0xE0, 0x07, 0x10, 0x84};  // 0x07E0 green, 0x8410 mid grey
    ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
    EXPECT_EQ(image.ColourCount(), 3u);
    EXPECT_TRUE(image.ColourTable().empty());
    EXPECT_EQ(image.Palette(), DibImage::HalftonePalette(3));
    EXPECT_EQ(image.DecodePixels(), (std::vector<Rgb>{{0, 255, 0}, {132, 130, 132}}));
  }
  {
    Bmp bmp;
    bmp.width = 1;
    bmp.bitCount = 32;
    bmp.pixels = {0x30, 0x20, 0x10, 0xFF};
    ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
    EXPECT_EQ(image.DecodePixels(), (std::vector<Rgb>{{0x10, 0x20, 0x30}}));
  }
  {
    Bmp bmp;  // bit fields in another order: blue high, red low
    bmp.width = 1;
    bmp.bitCount = 32;
    bmp.compression = kBiBitfields;
    bmp.table = {0x000000FF, 0x0000FF00, 0x00FF0000};
    bmp.pixels = {0x30, 0x20, 0x10, 0x00};
    ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
    EXPECT_EQ(image.DecodePixels(), (std::vector<Rgb>{{0x30, 0x20, 0x10}}));
  }
}

TEST(CanvasTest, MemoryCanvasClipsAndRecordsPalettes) {
  MemoryCanvas canvas(3, 2, kBlack);
  EXPECT_EQ(canvas.Width(), 3);
  EXPECT_EQ(canvas.Height(), 2);
  EXPECT_FALSE(canvas.IsPaletteBased());
  canvas.SetPaletteBased(true);
  EXPECT_TRUE(canvas.IsPaletteBased());

  const std::vector<Rgb> block = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}};
  ASSERT_TRUE(canvas.Blit(2, 1, 2, 2, block));
  EXPECT_EQ(canvas.Pixels(), (std::vector<Rgb>{kBlack, kBlack, kBlack, kBlack, kBlack, {1, 1, 1}}));
  ASSERT_TRUE(canvas.Blit(-1, -1, 2, 2, block));
  EXPECT_EQ(canvas.Pixel(0, 0), (Rgb{4, 4, 4}));
  EXPECT_TRUE(canvas.Blit(100, 100, 2, 2, block));  // entirely outside
  EXPECT_FALSE(canvas.Blit(0, 0, 3, 2, block));     // too few pixels
  EXPECT_FALSE(canvas.Blit(0, 0, -1, 2, block));
  EXPECT_EQ(canvas.BlitCount(), 3);

  const std::vector<Rgb> p1 = {{9, 9, 9}};
  const std::vector<Rgb> p2 = {{8, 8, 8}, {7, 7, 7}};
  EXPECT_TRUE(canvas.SelectPalette(p1).empty());
  EXPECT_EQ(canvas.SelectPalette(p2), p1);
  EXPECT_EQ(canvas.CurrentPalette(), p2);
  EXPECT_EQ(canvas.SelectedPalettes(), (std::vector<std::vector<Rgb>>{p1, p2}));
}

}  // namespace
}  // namespace hhsync
