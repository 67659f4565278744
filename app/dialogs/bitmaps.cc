#include "app/dialogs/bitmaps.h"

#include <cstdlib>

#include "res/logo_131.h"

namespace hhsync {

namespace {
const BitmapResources* installedSource = nullptr;
}  // namespace

void UseBitmapResources(const BitmapResources* source) { installedSource = source; }

bool LoadResourceBitmap(DibImage* image, int id) {
  if (installedSource) {
    std::vector<uint8_t> bmp;
    if (installedSource->Load(id, &bmp)) return image->LoadFromMemory(bmp.data(), bmp.size());
    image->LoadFromMemory(nullptr, 0);
    return false;
  }
  if (id != kLogoResourceId) {
    image->LoadFromMemory(nullptr, 0);  // releases what it held
    return false;
  }
  return image->LoadFromMemory(res::kLogo131Bmp, sizeof res::kLogo131Bmp);
}

bool DrawBitmap(const DibImage& image, Canvas& target, int x, int y) {
  if (!image.HasImage()) return false;
  const std::vector<Rgb> pixels = image.DecodePixels();
  const std::vector<Rgb>& palette = image.Palette();
  const bool selectPalette = !palette.empty() && target.IsPaletteBased();
  std::vector<Rgb> previous;
  if (selectPalette) previous = target.SelectPalette(palette);
  const int height = static_cast<int>(std::abs(int64_t{image.Height()}));
  const bool drawn = target.Blit(x, y, image.Width(), height, pixels);
  if (selectPalette) target.SelectPalette(previous);
  return drawn;
}

}  // namespace hhsync
