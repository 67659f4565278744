#include "platform/win32/win32_bitmaps.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace hhsync {
namespace {

// The colour table of a DIB section of at most 8 bits per pixel.
std::vector<RGBQUAD> ColourTable(HBITMAP bitmap, const BITMAPINFOHEADER& header) {
  if (header.biBitCount > 8) return {};
  std::vector<RGBQUAD> colours(header.biClrUsed ? header.biClrUsed : 1u << header.biBitCount);
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return {};
  HGDIOBJ previous = SelectObject(dc, bitmap);
  const UINT got = GetDIBColorTable(dc, 0, static_cast<UINT>(colours.size()), colours.data());
  SelectObject(dc, previous);
  DeleteDC(dc);
  colours.resize(got);
  return colours;
}

}  // namespace

bool ExecutableBitmaps::Load(int id, std::vector<uint8_t>* bmpFile) const {
  HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id),
                                                   IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!bitmap) return false;
  DIBSECTION dib{};
  bool ok = GetObjectA(bitmap, sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBits != nullptr;
  if (ok) {
    BITMAPINFOHEADER header = dib.dsBmih;
    const std::vector<RGBQUAD> colours = ColourTable(bitmap, header);
    const std::size_t stride =
        (static_cast<std::size_t>(header.biWidth) * header.biBitCount + 31) / 32 * 4;
    const std::size_t imageBytes = stride * static_cast<std::size_t>(std::abs(header.biHeight));
    header.biSize = sizeof header;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(imageBytes);
    header.biClrUsed = static_cast<DWORD>(colours.size());
    const DWORD offset = static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof header +
                                            colours.size() * sizeof(RGBQUAD));
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfSize = offset + static_cast<DWORD>(imageBytes);
    file.bfOffBits = offset;
    bmpFile->assign(file.bfSize, 0);
    uint8_t* out = bmpFile->data();
    std::memcpy(out, &file, sizeof file);
    std::memcpy(out + sizeof file, &header, sizeof header);
    if (!colours.empty()) {
      std::memcpy(out + sizeof file + sizeof header, colours.data(),
                  colours.size() * sizeof(RGBQUAD));
    }
    std::memcpy(out + offset, dib.dsBm.bmBits, imageBytes);
  }
  DeleteObject(bitmap);
  return ok;
}

}  // namespace hhsync
