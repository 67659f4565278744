#pragma once
// Builders of ".edm" content data bodies for tests: a big-endian record count
// followed by length-prefixed records.

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "formats/edm.h"

namespace hhsync::test {

inline std::string BigEndian(uint32_t v) { return Be32Bytes(v); }

// The body for count and records; count need not match the records given.
inline std::string EdmBody(uint32_t count, const std::vector<std::string>& records) {
  return PackEdm(count, records);
}

// A split-form record of length bytes whose first part is firstPart bytes:
// 4 bytes of tag, the split point, then filler bytes derived from seed.
inline std::string SplitRecord(uint32_t firstPart, uint32_t length, char seed = 'a') {
  std::string r = "TAG!" + BigEndian(firstPart);
  for (uint32_t i = 8; i < length; ++i) r += static_cast<char>(seed + i % 23);
  r.resize(length);
  return r;
}

// length bytes derived from seed.
inline std::string Bytes(uint32_t length, char seed = 'a') {
  std::string r;
  for (uint32_t i = 0; i < length; ++i) r += static_cast<char>(seed + i % 19);
  return r;
}

inline std::vector<uint8_t> ToBytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace hhsync::test
