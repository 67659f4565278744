// Bitmaps: DibImage::LoadFromMemory on any bytes; an image that loads is
// decoded and drawn onto small memory canvases, palette-based and true
// colour, at the corner and at an offset that clips it. Checked: a loaded
// image has a supported depth, a positive width, a height and a palette; it
// decodes into width x |height| pixels; drawing draws exactly those pixels
// where they fall on the canvas and puts back the palette it selected.
//
// Bound: an image of more than 1 << 16 pixels is loaded (the loader's own
// limit, kMaxImageBytes, bounds what it takes) but not decoded or drawn:
// every pixel goes through the same few lines, so decoding millions of them
// per input would slow the search down without reaching code that smaller
// images do not.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/dialogs/bitmaps.h"
#include "formats/dib.h"
#include "fuzz/support/fuzz_platform.h"
#include "platform/fake/memory_canvas.h"

using hhsync::fuzz::Check;

namespace {

constexpr uint64_t kMaxDecodedPixels = uint64_t{1} << 16;
constexpr hhsync::Rgb kBackground{1, 2, 3};

void DrawAndCheck(const hhsync::DibImage& image, const std::vector<hhsync::Rgb>& pixels, int x,
                  int y, bool paletteBased) {
  hhsync::MemoryCanvas canvas(16, 12, kBackground, paletteBased);
  Check(hhsync::DrawBitmap(image, canvas, x, y), "a loaded image was not drawn");
  const int width = image.Width();
  const int height = std::abs(image.Height());
  for (int row = 0; row < canvas.Height(); ++row) {
    for (int col = 0; col < canvas.Width(); ++col) {
      const int64_t u = int64_t{col} - x, v = int64_t{row} - y;
      const bool inside = u >= 0 && v >= 0 && u < width && v < height;
      const hhsync::Rgb want = inside ? pixels[static_cast<size_t>(v * width + u)] : kBackground;
      Check(canvas.Pixel(col, row) == want, "canvas pixel differs from the decoded image");
    }
  }
  if (paletteBased) {
    Check(canvas.SelectedPalettes().size() == 2 &&
              canvas.SelectedPalettes()[0] == image.Palette() && canvas.CurrentPalette().empty(),
          "the image's palette was not selected and put back");
  } else {
    Check(canvas.SelectedPalettes().empty(), "a palette selected on a true-colour canvas");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hhsync::DibImage image;
  if (!image.LoadFromMemory(data, size)) {
    Check(!image.HasImage() && image.Width() == 0 && image.DecodePixels().empty(),
          "a refused image is still held");
    return 0;
  }
  const int bits = image.Header().bitCount;
  Check(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32,
        "an unsupported depth was loaded");
  Check(image.Width() > 0 && image.Height() != 0, "a loaded image without pixels");
  Check(!image.Palette().empty() && image.Palette().size() <= 256, "palette size");
  Check(image.Header().sizeImage <= size, "more pixel bytes than the image holds");

  const uint64_t count = uint64_t(image.Width()) * uint64_t(std::abs(int64_t{image.Height()}));
  if (count > kMaxDecodedPixels) return 0;
  const std::vector<hhsync::Rgb> pixels = image.DecodePixels();
  Check(pixels.size() == count, "decoded pixel count");
  DrawAndCheck(image, pixels, 0, 0, true);
  DrawAndCheck(image, pixels, -3, 5, false);
  return 0;
}
