// The dialogs' progress bars fill the rectangle they are laid out in, with
// the done part in proportion to the position: smooth, or in blocks.

#include "platform/wx/wx_progress_bar.h"

#include <gtest/gtest.h>
#include <wx/image.h>

#include <string>

namespace hhsync {
namespace {

const BarColours kColours{wxColour(200, 200, 200), wxColour(100, 100, 100), wxColour(255, 255, 255),
                          wxColour(0, 0, 200)};

// One text row per pixel row: 'd' done, 'f' face, 's' shadow, 'l' light.
std::vector<std::string> Paint(int width, int height, int range, int position, bool smooth) {
  wxImage image(width, height);
  PaintProgressBar(image, range, position, smooth, kColours);
  std::vector<std::string> rows;
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) {
      const wxColour c(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
      row += c == kColours.done     ? 'd'
             : c == kColours.face   ? 'f'
             : c == kColours.shadow ? 's'
             : c == kColours.light  ? 'l'
                                    : '?';
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(ProgressBarPaintTest, TheDonePartFillsTheBarsHeightInProportion) {
  // 24 x 10: a frame, a pixel of face inside it, a 20 x 6 inside.
  const auto half = Paint(24, 10, 4, 2, true);
  EXPECT_EQ(half[0], std::string(23, 's') + "l");
  EXPECT_EQ(half[9], std::string(24, 'l'));
  for (int y = 2; y <= 7; ++y) {
    EXPECT_EQ(half[y], "sf" + std::string(10, 'd') + std::string(10, 'f') + "fl") << y;
  }
  EXPECT_EQ(half[1], "s" + std::string(22, 'f') + "l");

  const auto full = Paint(24, 10, 7, 9, true);  // past the end counts as full
  EXPECT_EQ(full[4], "sf" + std::string(20, 'd') + "fl");
  for (const auto& rows : {Paint(24, 10, 7, 0, true), Paint(24, 10, 0, 5, true)}) {
    EXPECT_EQ(rows[4], "s" + std::string(22, 'f') + "l") << "nothing done, or no range";
  }
}

TEST(ProgressBarPaintTest, ABarInBlocksLeavesGapsAndCutsItsLastBlock) {
  // Inside 20 x 6: blocks of 4 with gaps of 2; 13 of 20 done.
  const auto rows = Paint(24, 10, 20, 13, false);
  EXPECT_EQ(rows[5], "sf" + std::string("ddddffddddffd") + std::string(7, 'f') + "fl");
}

}  // namespace
}  // namespace hhsync
