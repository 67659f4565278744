#pragma once
#include "app/dialogs/bitmaps.h"

namespace hhsync {

// The program's bitmaps as the executable's bitmap resources, each loaded
// with LoadImageA as a DIB section (LR_CREATEDIBSECTION) and copied into a
// BMP file image: its header, its colour table and its bits.
class ExecutableBitmaps final : public BitmapResources {
 public:
  bool Load(int id, std::vector<uint8_t>* bmpFile) const override;
};

}  // namespace hhsync
