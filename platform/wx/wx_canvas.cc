#include "platform/wx/wx_canvas.h"

#include <wx/image.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace hhsync {

WxCanvas::WxCanvas(int width, int height, Rgb background)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
  // wxImage holds no pixels for a 0 x 0 size; one pixel stands in, unused.
  image_ = std::make_unique<wxImage>(std::max(width_, 1), std::max(height_, 1), false);
  image_->SetRGB(wxRect(0, 0, image_->GetWidth(), image_->GetHeight()), background.red,
                 background.green, background.blue);
}

WxCanvas::~WxCanvas() = default;

std::vector<Rgb> WxCanvas::SelectPalette(const std::vector<Rgb>& palette) {
  return std::exchange(palette_, palette);
}

bool WxCanvas::Blit(int x, int y, int width, int height, std::span<const Rgb> pixels) {
  if (width < 0 || height < 0) return false;
  const size_t needed = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (pixels.size() < needed) return false;
  // Clip in 64-bit so that positions near the int limits cannot overflow.
  const int64_t left = std::max<int64_t>(x, 0);
  const int64_t top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + width, width_);
  const int64_t bottom = std::min<int64_t>(int64_t{y} + height, height_);
  unsigned char* data = image_->GetData();  // RGB triplets, row by row
  for (int64_t row = top; row < bottom; ++row) {
    for (int64_t col = left; col < right; ++col) {
      const Rgb& c = pixels[static_cast<size_t>((row - y) * width + (col - x))];
      unsigned char* p = data + 3 * static_cast<size_t>(row * width_ + col);
      p[0] = c.red;
      p[1] = c.green;
      p[2] = c.blue;
    }
  }
  return true;
}

}  // namespace hhsync
