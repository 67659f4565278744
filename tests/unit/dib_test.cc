#include "formats/dib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "app/dialogs/bitmaps.h"
#include "platform/fake/memory_canvas.h"
#include "res/logo_131.h"
#include "support/bmp.h"
#include "support/test_platform.h"

namespace hhsync {

void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << int{c.red} << ", " << int{c.green} << ", " << int{c.blue} << ")";
}

namespace {

using test::Bmp;
using test::MakeBmp;
using Pixels = std::vector<Rgb>;

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

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
  return MakeBmp(2, 2, 24, {255, 0, 0, 255, 255, 255, 0, 0, /* top */ 0, 0, 255, 0, 255, 0, 0, 0});
}

// Every pixel of the w x h block at (x, y) on the canvas, row by row.
Pixels Region(const MemoryCanvas& canvas, int x, int y, int w, int h) {
  Pixels out;
  for (int row = y; row < y + h; ++row) {
    for (int col = x; col < x + w; ++col) out.push_back(canvas.Pixel(col, row));
  }
  return out;
}

TEST(DibImageTest, TwentyFourBitImageGetsHalftonePaletteSelectedOnlyOnPaletteCanvas) {
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(TwoByTwo24().Bytes()));
  EXPECT_EQ(image.Palette(), DibImage::HalftonePalette(256));

  MemoryCanvas trueColour(4, 4);
  ASSERT_TRUE(DrawBitmap(image, trueColour, 1, 1));
  EXPECT_TRUE(trueColour.SelectedPalettes().empty());
  EXPECT_EQ(Region(trueColour, 1, 1, 2, 2), (Pixels{kRed, kGreen, kBlue, kWhite}));

  // On a palette display the palette is selected for the drawing and the
  // canvas's own one put back afterwards.
  MemoryCanvas palette(4, 4, kWhite, /*paletteBased=*/true);
  const Pixels own = {{1, 2, 3}};
  palette.SelectPalette(own);
  ASSERT_TRUE(DrawBitmap(image, palette, 0, 0));
  ASSERT_EQ(palette.SelectedPalettes().size(), 3u);
  EXPECT_EQ(palette.SelectedPalettes()[1], DibImage::HalftonePalette(256));
  EXPECT_EQ(palette.CurrentPalette(), own);
}

TEST(DibImageTest, OneBitImageGetsTwoEntryPaletteFromItsTable) {
  // Rows are 10 bits, padded to 4 bytes. Top row: 1000000001, bottom:
  // 0111111110.
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(
      MakeBmp(10, 2, 1, {0x7F, 0x80, 0, 0, 0x80, 0x40, 0, 0}, {0x00102030, 0x00C86432}).Bytes()));
  const Rgb a{0x10, 0x20, 0x30}, b{0xC8, 0x64, 0x32};
  MemoryCanvas canvas(10, 2, kWhite, /*paletteBased=*/true);
  ASSERT_TRUE(DrawBitmap(image, canvas, 0, 0));
  EXPECT_EQ(canvas.SelectedPalettes().at(0), (Pixels{a, b}));
  EXPECT_EQ(canvas.Pixels(), (Pixels{b, a, a, a, a, a, a, a, a, b, a, b, b, b, b, b, b, b, b, a}));
}

TEST(DibImageTest, DecodesFourSixteenAndThirtyTwoBitPixels) {
  DibImage image;
  // 4 bits: two pixels in one byte, high nibble first, through the table.
  ASSERT_TRUE(image.LoadFromMemory(
      MakeBmp(2, 1, 4, {0x21, 0, 0, 0}, {0x000000, 0x00FF0000, 0x0000FF00}, 3).Bytes()));
  EXPECT_EQ(image.DecodePixels(), (Pixels{kGreen, kRed}));
  // 16 bits with 5-6-5 masks: pure red and pure blue.
  Bmp sixteen = MakeBmp(2, 1, 16, {0x00, 0xF8, 0x1F, 0x00}, {0xF800, 0x07E0, 0x001F});
  sixteen.compression = kBiBitfields;
  ASSERT_TRUE(image.LoadFromMemory(sixteen.Bytes()));
  EXPECT_EQ(image.DecodePixels(), (Pixels{kRed, kBlue}));
  // 16 bits without masks: 5-5-5.
  ASSERT_TRUE(
      image.LoadFromMemory(MakeBmp(3, 1, 16, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0}).Bytes()));
  EXPECT_EQ(image.DecodePixels(), (Pixels{kRed, kGreen, kBlue}));
  // 32 bits without masks: blue, green, red, unused; two rows bottom-up.
  ASSERT_TRUE(image.LoadFromMemory(MakeBmp(1, 2, 32, {10, 20, 30, 0, 40, 50, 60, 0}).Bytes()));
  EXPECT_EQ(image.DecodePixels(), (Pixels{{60, 50, 40}, {30, 20, 10}}));
}

TEST(DibImageTest, BitfieldsCutShortByTheColoursUsedReadOnlyWhatIsThere) {
  DibImage image;
  for (uint16_t bits : {16, 32}) {
    for (uint32_t used : {1u, 2u}) {
      // The table ends the image and the pixels start inside it, so a mask
      // read past the entries the count allows would run past the end.
      Bmp bmp = MakeBmp(1, 1, bits, {}, std::vector<uint32_t>(used, 0xF800), used);
      bmp.compression = kBiBitfields;
      std::vector<uint8_t> bytes = bmp.Bytes();
      PutU32(bytes, kOffsetAt, 54);
      ASSERT_TRUE(image.LoadFromMemory(bytes)) << bits << " " << used;
      // The pixel is the first table entry's bytes: red under the red mask;
      // the masks the table lacks are zero.
      const uint8_t green = used == 2 ? 255 : 0;
      EXPECT_EQ(image.DecodePixels(), (Pixels{{255, green, 0}})) << bits << " " << used;
    }
  }
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
  EXPECT_EQ(image.DecodePixels(), (Pixels{kRed, kBlack, kBlue, kWhite}));

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
  MemoryCanvas canvas(2, 2);
  EXPECT_FALSE(DrawBitmap(image, canvas, 0, 0));

  std::vector<Bmp> refused;
  for (uint32_t size : {12u, 39u, 41u, 108u, 124u}) {
    refused.push_back(TwoByTwo24());
    refused.back().headerSize = size;
  }
  refused.push_back(MakeBmp(2, 2, 8, TwoByTwo24().pixels, std::vector<uint32_t>(256)));
  refused.back().compression = 1;  // RLE
  refused.push_back(MakeBmp(2, 2, 2, TwoByTwo24().pixels));
  refused.push_back(TwoByTwo24());
  refused.back().compression = kBiBitfields;
  for (const Bmp& bmp : refused) EXPECT_FALSE(image.LoadFromMemory(bmp.Bytes()));
  EXPECT_FALSE(image.LoadFromMemory(TwoByTwo24().Bytes().data(), 53));
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
  for (uint32_t v : {0u, 0x7FFFFFFFu, 0x80000000u}) {
    EXPECT_FALSE(image.LoadFromMemory(with(kHeightAt, v))) << v;
    EXPECT_FALSE(image.LoadFromMemory(with(kWidthAt, v))) << v;
  }
  // Any size that fits the memory cap loads and draws, however wide or tall.
  for (uint32_t v : {16385u, 100000u}) {
    EXPECT_TRUE(image.LoadFromMemory(with(kHeightAt, v))) << v;
    EXPECT_TRUE(image.LoadFromMemory(with(kWidthAt, v))) << v;
  }
  EXPECT_TRUE(image.LoadFromMemory(with(kHeightAt, static_cast<uint32_t>(-20000))));
  EXPECT_TRUE(image.LoadFromMemory(
      MakeBmp(4000, 4000, 8, TwoByTwo24().pixels, std::vector<uint32_t>(256)).Bytes()));
  EXPECT_EQ(image.Width(), 4000);
  // Rows of exactly the memory cap (4096 x 4096 at 32 bits is 64 MiB) load;
  // one row more does not.
  EXPECT_TRUE(image.LoadFromMemory(MakeBmp(4096, 4096, 32, TwoByTwo24().pixels).Bytes()));
  EXPECT_FALSE(image.LoadFromMemory(MakeBmp(4096, 4097, 32, TwoByTwo24().pixels).Bytes()));
  // Far too many bytes for the cap: refused, not allocated.
  EXPECT_FALSE(image.LoadFromMemory(MakeBmp(16384, 16384, 32, TwoByTwo24().pixels).Bytes()));
  EXPECT_FALSE(image.LoadFromMemory(
      MakeBmp(6000, 6000, 8, TwoByTwo24().pixels, std::vector<uint32_t>(256)).Bytes()))
      << "its rows fit, its decoded pixels do not";
  // A height the data does not hold, and a file size that says it does:
  // drawn from what there is.
  std::vector<uint8_t> tall = with(kHeightAt, 1000);
  PutU32(tall, kFileSizeAt, 0xFFFFFFF0u);
  ASSERT_TRUE(image.LoadFromMemory(tall));
  EXPECT_EQ(image.Header().sizeImage, 16u);
  EXPECT_TRUE(DrawBitmap(image, canvas, 0, 0));
  // A colour table that would run past the end: 8 bits with an absurd count
  // of colours used still needs 256 entries.
  EXPECT_FALSE(image.LoadFromMemory(
      MakeBmp(1, 1, 8, {0, 0, 0, 0}, std::vector<uint32_t>(200), 0xFFFFFFFF).Bytes()));
}

TEST(DibImageTest, HalftonePalette) {
  const Pixels t = DibImage::HalftonePalette(256);
  ASSERT_EQ(t.size(), 256u);
  const std::vector<std::pair<size_t, Rgb>> spots = {
      {7, {192, 192, 192}},   {9, {240, 202, 166}},   {10, {0, 0, 44}},     {223, {17, 17, 17}},
      {236, {125, 125, 125}}, {246, {240, 251, 255}}, {253, {255, 0, 255}},
  };
  for (const auto& [i, colour] : spots) EXPECT_EQ(t[i], colour) << i;

  EXPECT_EQ(DibImage::HalftonePalette(2), (Pixels{kBlack, kWhite}));
  EXPECT_EQ(DibImage::HalftonePalette(1), DibImage::HalftonePalette(2));
  Pixels sixteen(t.begin(), t.begin() + 8);
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
  ASSERT_TRUE(LoadResourceBitmap(&logo, kLogoResourceId));
  EXPECT_EQ(logo.Header().sizeImage, 92u * 79u);

  MemoryCanvas canvas(120, 100, Rgb{1, 2, 3}, /*paletteBased=*/true);
  ASSERT_TRUE(DrawBitmap(logo, canvas, 20, 10));
  EXPECT_EQ(Region(canvas, 20, 10, 89, 79), logo.DecodePixels());
  EXPECT_EQ(canvas.SelectedPalettes().front(), logo.ColourTable());
  EXPECT_FALSE(LoadResourceBitmap(&logo, 132));
}

TEST(DibImageTest, DrawPlacesRowsBottomUpOrTopDown) {
  // Colours used (4) sets the table's length. The first stored row is the
  // bottom one; nothing around the image moves.
  Bmp bmp = MakeBmp(3, 2, 8, {1, 2, 3, 0, /* second stored row */ 3, 0, 1, 0},
                    {0x00000000, 0x00FF0000, 0x0000FF00, 0x000000FF}, 4);
  DibImage image;
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  MemoryCanvas canvas(10, 10);
  ASSERT_TRUE(DrawBitmap(image, canvas, 4, 5));
  EXPECT_EQ(Region(canvas, 3, 4, 5, 4), (Pixels{kWhite, kWhite, kWhite, kWhite, kWhite,  //
                                                kWhite, kBlue,  kBlack, kRed,   kWhite,  //
                                                kWhite, kRed,   kGreen, kBlue,  kWhite,  //
                                                kWhite, kWhite, kWhite, kWhite, kWhite}));
  bmp.height = -2;
  ASSERT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  canvas.Fill(kWhite);
  ASSERT_TRUE(DrawBitmap(image, canvas, 0, 0));
  EXPECT_EQ(Region(canvas, 0, 0, 3, 2), (Pixels{kRed, kGreen, kBlue, kBlue, kBlack, kRed}));
  // Partly off the canvas: the visible part is drawn.
  canvas.Fill(kWhite);
  ASSERT_TRUE(DrawBitmap(image, canvas, -2, 9));
  EXPECT_EQ(canvas.Pixel(0, 9), kBlue);
  EXPECT_EQ(canvas.Pixel(1, 9), kWhite);
}

}  // namespace
}  // namespace hhsync
