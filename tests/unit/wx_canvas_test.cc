// The wx front end's canvas: a bitmap drawn with DrawBitmap lands in its
// image pixel for pixel, clipped at its edges, on a background left as it
// was. No display is needed: the image is memory.

#include "platform/wx/wx_canvas.h"

#include <gtest/gtest.h>
#include <wx/image.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "app/dialogs/bitmaps.h"
#include "formats/dib.h"
#include "support/bmp.h"

namespace hhsync {

void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << int{c.red} << ", " << int{c.green} << ", " << int{c.blue} << ")";
}

namespace {

using test::Bmp;
using test::MakeBmp;
using Pixels = std::vector<Rgb>;

constexpr Rgb kGrey{200, 201, 202};  // the background
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

// The w x h block of the canvas's image at (x, y), row by row.
Pixels Region(const WxCanvas& canvas, int x, int y, int w, int h) {
  const wxImage& image = canvas.image();
  Pixels out;
  for (int row = y; row < y + h; ++row) {
    for (int col = x; col < x + w; ++col) {
      out.push_back(Rgb{image.GetRed(col, row), image.GetGreen(col, row), image.GetBlue(col, row)});
    }
  }
  return out;
}

// Draws bmp at (1, 1) of a 6 x 5 canvas and returns the whole canvas.
Pixels Drawn(const Bmp& bmp) {
  DibImage image;
  EXPECT_TRUE(image.LoadFromMemory(bmp.Bytes()));
  WxCanvas canvas(6, 5, kGrey);
  EXPECT_TRUE(DrawBitmap(image, canvas, 1, 1));
  return Region(canvas, 0, 0, 6, 5);
}

// A 6 x 5 canvas of background with the 2 x 2 block a, b / c, d at (1, 1).
Pixels Expected(Rgb a, Rgb b, Rgb c, Rgb d) {
  Pixels p(30, kGrey);
  p[7] = a;
  p[8] = b;
  p[13] = c;
  p[14] = d;
  return p;
}

// Decoding each depth is DibImage's business (dib_test.cc); the canvas gets
// the decoded pixels and puts each row in its place.
TEST(WxCanvasTest, ABitmapLandsPixelForPixel) {
  // 2 x 2 at 24 bits, stored bottom-up: blue, green, red; rows padded to 4
  // bytes. Its top row red, green; its bottom row blue, white.
  EXPECT_EQ(Drawn(MakeBmp(2, 2, 24,
                          {255, 0, 0, 255, 255, 255, 0, 0, /* top */ 0, 0, 255, 0, 255, 0, 0, 0})),
            Expected(kRed, kGreen, kBlue, kWhite));
}

TEST(WxCanvasTest, ClipsAtTheEdgesAndNeverSelectsAPalette) {
  DibImage image;
  Bmp eight = MakeBmp(2, 2, 8, {3, 4, 0, 0, 1, 2, 0, 0},
                      {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
  eight.clrUsed = 5;
  ASSERT_TRUE(image.LoadFromMemory(eight.Bytes()));
  WxCanvas canvas(3, 3, kGrey);
  EXPECT_FALSE(canvas.IsPaletteBased());
  ASSERT_TRUE(DrawBitmap(image, canvas, 2, -1));  // only its bottom-left pixel shows
  EXPECT_EQ(Region(canvas, 0, 0, 3, 3),
            (Pixels{kGrey, kGrey, kBlue, kGrey, kGrey, kGrey, kGrey, kGrey, kGrey}));
  ASSERT_TRUE(DrawBitmap(image, canvas, -100000, 2000000000));
  EXPECT_EQ(Region(canvas, 2, 0, 1, 1), (Pixels{kBlue}));

  // Malformed blocks draw nothing.
  EXPECT_FALSE(canvas.Blit(0, 0, 2, 2, Pixels(3, kRed)));
  EXPECT_FALSE(canvas.Blit(0, 0, -1, 2, Pixels(3, kRed)));
  EXPECT_EQ(Region(canvas, 0, 0, 1, 1), (Pixels{kGrey}));

  // A palette is only kept and handed back.
  EXPECT_TRUE(canvas.SelectPalette({kRed}).empty());
  EXPECT_EQ(canvas.SelectPalette({}), Pixels{kRed});

  // An empty canvas takes nothing and breaks nothing.
  WxCanvas empty(0, -3, kGrey);
  EXPECT_EQ(empty.Width(), 0);
  EXPECT_EQ(empty.Height(), 0);
  EXPECT_TRUE(DrawBitmap(image, empty, 0, 0));
}

}  // namespace
}  // namespace hhsync
