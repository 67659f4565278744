#pragma once
// A Canvas held in memory: width x height RGB pixels, for tests and for front
// ends that paint into an image of their own and show it. It stores colours
// exactly as drawn (it does not map them to the selected palette) and records
// every palette selection, so a test can see what a bitmap selected.
//
// Thread safety: none; one thread paints at a time.

#include <cstddef>
#include <span>
#include <vector>

#include "platform/canvas.h"

namespace hhsync {

class MemoryCanvas final : public Canvas {
 public:
  // A canvas of width x height pixels (negative sizes count as 0), every
  // pixel set to background.
  MemoryCanvas(int width, int height, Rgb background = {255, 255, 255}, bool paletteBased = false);

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool IsPaletteBased() const override { return paletteBased_; }
  std::vector<Rgb> SelectPalette(const std::vector<Rgb>& palette) override;
  bool Blit(int x, int y, int width, int height, std::span<const Rgb> pixels) override;

  // The pixel at (x, y); the caller keeps x and y inside the canvas.
  Rgb Pixel(int x, int y) const;
  // All pixels, row by row from the top.
  const std::vector<Rgb>& Pixels() const { return pixels_; }
  // Sets every pixel to colour.
  void Fill(Rgb colour);

  // The palette selected now (empty: the default one).
  const std::vector<Rgb>& CurrentPalette() const { return current_; }
  // Every palette passed to SelectPalette, in order (restores included).
  const std::vector<std::vector<Rgb>>& SelectedPalettes() const { return selected_; }
  // How many Blit calls drew something or were clipped away entirely.
  int BlitCount() const { return blitCount_; }

 private:
  int width_;
  int height_;
  bool paletteBased_;
  std::vector<Rgb> pixels_;
  std::vector<Rgb> current_;
  std::vector<std::vector<Rgb>> selected_;
  int blitCount_ = 0;
};

}  // namespace hhsync
