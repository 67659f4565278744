#pragma once
// DibImage: one device-independent bitmap, decoded to RGB pixels, with the
// palette needed to show it on a palette-based display. The progress dialog
// shows two: the title image "main.bmp" from S.DAT, and the program's logo,
// bitmap resource 131.
//
// Loading reads a BMP file image: the 14-byte file header ("BM", file size,
// pixel offset), a 40-byte info header, the colour table and the pixel rows.
// Supported: 1, 4, 8, 24 and 32 bits per pixel uncompressed, and 16 and 32
// bits per pixel with bit-field masks (16 bits uncompressed is 5-5-5). Rows
// are stored bottom-up for a positive height and top-down for a negative one,
// each padded to a multiple of 4 bytes.
//
// The loader trusts nothing in the headers: every offset and size is checked
// against the length of the image it was given. Unsupported formats and
// absurd sizes are refused; pixel data that ends early is taken as far as it
// goes and the rest of the image is left black (pixel value 0).
//
// Thread safety: a loaded DibImage is read-only and may be shared; loading
// must not overlap with other use.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/rgb.h"

namespace hhsync {

// The info header of a BMP image, as stored (little-endian on disk).
struct BitmapInfoHeader {
  uint32_t size = 0;   // of this header: 40
  int32_t width = 0;   // pixels
  int32_t height = 0;  // pixels; negative for rows stored top-down
  uint16_t planes = 0;
  uint16_t bitCount = 0;     // bits per pixel
  uint32_t compression = 0;  // kBiRgb or kBiBitfields
  uint32_t sizeImage = 0;    // bytes of pixel data taken from the image
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;  // colours used; 0 means all the depth allows
  uint32_t clrImportant = 0;
};

inline constexpr uint32_t kBiRgb = 0;
inline constexpr uint32_t kBiBitfields = 3;

class DibImage {
 public:
  // The most memory one image may take, for its stored rows and for its
  // decoded pixels each. Any size the format allows is drawn; only an image
  // that would need more than this is refused, which bounds the memory a
  // lying header can make the loader take.
  static constexpr uint64_t kMaxImageBytes = uint64_t{64} << 20;

  DibImage() = default;
  virtual ~DibImage() = default;
  DibImage(const DibImage&) = default;
  DibImage& operator=(const DibImage&) = default;
  DibImage(DibImage&&) = default;
  DibImage& operator=(DibImage&&) = default;

  // Loads the BMP file image of length bytes at image (not kept; the pixels
  // are copied). Any image held before is released first. False, and no
  // image held, when the signature is not "BM", the info header's size is
  // not 40, the format is unsupported, the image would need more than
  // kMaxImageBytes, or the
  // colour table or pixel offset lies beyond length.
  //
  // The pixel data starts at the file header's offset; its length is the
  // file size minus that offset, at most bytes per row times height, and at
  // most what the image really holds. A file size that is not above the
  // offset (some writers leave it 0) does not limit it. The header's image
  // size becomes that length.
  bool LoadFromMemory(const uint8_t* image, size_t length);
  bool LoadFromMemory(std::span<const uint8_t> image) {
    return LoadFromMemory(image.data(), image.size());
  }

  bool HasImage() const { return hasImage_; }
  // The info header's width and height (0 without an image). The height is
  // negative for an image stored top-down.
  int Width() const { return info_.width; }
  int Height() const { return info_.height; }
  const BitmapInfoHeader& Header() const { return info_; }

  // The colours of the colour table; empty for images without one (bit-field
  // masks are not colours).
  const std::vector<Rgb>& ColourTable() const { return colourTable_; }
  // The palette selected when drawing on a palette-based canvas: the colour
  // table, or for an image without one the halftone palette (of 256 colours;
  // of as many as the table's entries for bit fields).
  const std::vector<Rgb>& Palette() const { return palette_; }

  // The image as RGB pixels, row by row from the top; empty without an
  // image. Pixel values past the colour table read as black.
  std::vector<Rgb> DecodePixels() const;

  // The fixed halftone palette with n colours: n outside 1..256 counts as
  // 256; 1 or 2 give black and white, 3 to 16 give the 16 colours of the
  // table's first and last eight entries, 17 to 256 the whole table.
  static std::vector<Rgb> HalftonePalette(int n);

  // Bytes in one pixel row: width * bits per pixel rounded up to 32 bits.
  static uint64_t RowBytes(int64_t width, int bitCount);

 private:
  // Forgets any image held.
  void Release();
  // Reads count entries of the colour table (or the bit field masks) and
  // sets the palette from them.
  void ReadColours(const uint8_t* table, uint32_t count, const BitmapInfoHeader& header);

  BitmapInfoHeader info_;
  std::vector<Rgb> colourTable_;
  std::array<uint32_t, 3> masks_{};  // red, green, blue for 16 and 32 bits
  std::vector<uint8_t> bits_;        // RowBytes * |height|, as stored
  std::vector<Rgb> palette_;
  bool hasImage_ = false;
};

}  // namespace hhsync
