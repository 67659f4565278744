#include "platform/dialog_host.h"

#include <algorithm>

namespace hhsync {

void ProgressBar::SetRange(int upper) {
  range = static_cast<uint16_t>(upper);
  position = std::clamp(position, 0, static_cast<int>(range));
}

void ProgressBar::SetPosition(int pos) { position = std::clamp(pos, 0, static_cast<int>(range)); }

void ProgressBar::Delta(int advance) { SetPosition(position + advance); }

void ProgressBar::Step() {
  position += step;
  if (position > range) position = 0;
}

}  // namespace hhsync
