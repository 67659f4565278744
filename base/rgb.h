#pragma once
// One colour as 8-bit red, green and blue.

#include <cstdint>

namespace hhsync {

struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;

  bool operator==(const Rgb&) const = default;
};

}  // namespace hhsync
