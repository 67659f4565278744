#pragma once
// The bitmaps of the progress dialog on a canvas: the program's own bitmap
// resources, and drawing a decoded bitmap unscaled at a point.

#include "formats/dib.h"
#include "platform/canvas.h"

namespace hhsync {

// The program's logo: 89 x 79 pixels, 8 bits per pixel.
inline constexpr int kLogoResourceId = 131;

// Loads one of the program's own bitmaps into *image. False, and no image
// held, for an id the program has no bitmap of.
bool LoadResourceBitmap(DibImage* image, int id);

// Draws the whole image with its top-left corner at (x, y). When the canvas
// is palette-based the image's palette is selected into it for the drawing
// and the canvas's previous palette put back afterwards. Returns the
// canvas's Blit result; false when the image holds nothing.
bool DrawBitmap(const DibImage& image, Canvas& target, int x, int y);

}  // namespace hhsync
