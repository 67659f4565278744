#pragma once
// A surface that a front end paints on: a window's client area, or memory.
// The core draws bitmaps onto it as blocks of RGB pixels; the canvas says
// whether it is palette-based (can show only the colours of a selected
// palette), in which case a bitmap selects its palette before drawing.
//
// Coordinates are pixels with (0, 0) at the top-left corner and y growing
// downwards. Drawing outside the canvas is clipped, not an error.
//
// Thread safety: a canvas is used by one thread at a time (the one painting).

#include <cstdint>
#include <span>
#include <vector>

#include "base/rgb.h"

namespace hhsync {

class Canvas {
 public:
  Canvas() = default;
  virtual ~Canvas() = default;
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  virtual int Width() const = 0;
  virtual int Height() const = 0;

  // True when the canvas shows colours through a palette (an 8-bit display);
  // false for a true-colour one.
  virtual bool IsPaletteBased() const = 0;

  // Selects palette as the canvas's foreground palette and realises it.
  // Returns the palette that was selected before (empty for the canvas's
  // default), so the caller can put it back when it has drawn.
  virtual std::vector<Rgb> SelectPalette(const std::vector<Rgb>& palette) = 0;

  // Copies a width x height block of pixels, given row by row from the top
  // and left to right, with its top-left corner at (x, y). Pixels outside the
  // canvas are clipped. False when the block is malformed (negative size, or
  // fewer than width * height pixels given); nothing is drawn then.
  virtual bool Blit(int x, int y, int width, int height, std::span<const Rgb> pixels) = 0;
};

}  // namespace hhsync
