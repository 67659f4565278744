#pragma once
// What the platform may set for a run beyond its ports.

#include <cstdint>

namespace hhsync {

// How long a run waits for the handheld to connect.
inline constexpr uint32_t kConnectWaitMs = 5000;

// Tests of the no-handheld path make the connection wait short.
struct RunOptions {
  uint32_t connectWaitMs = kConnectWaitMs;
};

}  // namespace hhsync
