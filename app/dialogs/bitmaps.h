#pragma once
// The bitmaps of the progress dialog on a canvas: the program's own bitmap
// resources, and drawing a decoded bitmap unscaled at a point.

#include <cstdint>
#include <vector>

#include "formats/dib.h"
#include "platform/canvas.h"

namespace hhsync {

// The program's logo: 89 x 79 pixels, 8 bits per pixel.
inline constexpr int kLogoResourceId = 131;

// Where the program's own bitmaps come from: by default the BMP files built
// into the program; a platform with resources of its own (Windows: the
// executable's bitmap resources, loaded as DIB sections) installs a source
// that gives a resource as a complete BMP file image.
class BitmapResources {
 public:
  virtual ~BitmapResources() = default;
  // The bitmap resource id as a BMP file image; false when there is none.
  virtual bool Load(int id, std::vector<uint8_t>* bmpFile) const = 0;
};
// Makes LoadResourceBitmap use source from now on (null: the built-in
// bitmaps). Called at start-up, before any thread.
void UseBitmapResources(const BitmapResources* source);

// Loads one of the program's own bitmaps into *image. False, and no image
// held, for an id the program has no bitmap of.
bool LoadResourceBitmap(DibImage* image, int id);

// Draws the whole image with its top-left corner at (x, y). When the canvas
// is palette-based the image's palette is selected into it for the drawing
// and the canvas's previous palette put back afterwards. Returns the
// canvas's Blit result; false when the image holds nothing.
bool DrawBitmap(const DibImage& image, Canvas& target, int x, int y);

}  // namespace hhsync
