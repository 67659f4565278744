#pragma once
// What the platform may set for a run beyond its ports.

#include <cstddef>
#include <cstdint>

namespace hhsync {

// How long a run waits for the handheld to connect.
inline constexpr uint32_t kConnectWaitMs = 5000;

// The most categories and content items one profile may bring into memory:
// far above any real catalogue. A longer profile fails like a cut reply.
inline constexpr std::size_t kMaxProfileEntries = 8'000'000;

// Tests of the no-handheld path make the connection wait short, and tests
// of the profile's cap make the cap small.
struct RunOptions {
  uint32_t connectWaitMs = kConnectWaitMs;
  std::size_t maxProfileEntries = kMaxProfileEntries;
};

}  // namespace hhsync
