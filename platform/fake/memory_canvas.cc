#include "platform/fake/memory_canvas.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace hhsync {

MemoryCanvas::MemoryCanvas(int width, int height, Rgb background, bool paletteBased)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      paletteBased_(paletteBased),
      pixels_(static_cast<size_t>(width_) * static_cast<size_t>(height_), background) {}

std::vector<Rgb> MemoryCanvas::SelectPalette(const std::vector<Rgb>& palette) {
  selected_.push_back(palette);
  return std::exchange(current_, palette);
}

bool MemoryCanvas::Blit(int x, int y, int width, int height, std::span<const Rgb> pixels) {
  if (width < 0 || height < 0) return false;
  const size_t needed = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (pixels.size() < needed) return false;
  ++blitCount_;
  // Clip in 64-bit so that positions near the int limits cannot overflow.
  const int64_t left = std::max<int64_t>(x, 0);
  const int64_t top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + width, width_);
  const int64_t bottom = std::min<int64_t>(int64_t{y} + height, height_);
  for (int64_t row = top; row < bottom; ++row) {
    for (int64_t col = left; col < right; ++col) {
      const size_t from = static_cast<size_t>((row - y) * width + (col - x));
      pixels_[static_cast<size_t>(row * width_ + col)] = pixels[from];
    }
  }
  return true;
}

Rgb MemoryCanvas::Pixel(int x, int y) const {
  return pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
}

void MemoryCanvas::Fill(Rgb colour) { std::fill(pixels_.begin(), pixels_.end(), colour); }

}  // namespace hhsync
