#pragma once
// A Canvas over a wxImage: what a window paints is put together in the
// image, which the window then turns into a bitmap and draws in one go. The
// image is true-colour, so no palette is ever selected into it. No display
// is needed: the image is memory.
//
// Thread safety: none; the GUI thread paints with it.

#include <memory>
#include <span>
#include <vector>

#include "platform/canvas.h"

class wxImage;

namespace hhsync {

class WxCanvas final : public Canvas {
 public:
  // width x height pixels (negative sizes count as 0), every pixel set to
  // background.
  WxCanvas(int width, int height, Rgb background);
  ~WxCanvas() override;

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool IsPaletteBased() const override { return false; }
  // Kept and handed back, as a true-colour surface does.
  std::vector<Rgb> SelectPalette(const std::vector<Rgb>& palette) override;
  bool Blit(int x, int y, int width, int height, std::span<const Rgb> pixels) override;

  // The pixels drawn so far.
  const wxImage& image() const { return *image_; }

 private:
  int width_;
  int height_;
  std::unique_ptr<wxImage> image_;
  std::vector<Rgb> palette_;
};

}  // namespace hhsync
