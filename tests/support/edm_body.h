#pragma once
// Builders of ".edm" content data bodies for tests: a big-endian record count
// followed by length-prefixed records.

#include <cstdint>
#include <string>
#include <vector>

namespace hhsync::test {

inline std::string BigEndian(uint32_t v) {
  std::string b(4, '\0');
  b[0] = static_cast<char>(v >> 24);
  b[1] = static_cast<char>(v >> 16);
  b[2] = static_cast<char>(v >> 8);
  b[3] = static_cast<char>(v);
  return b;
}

// The body for count and records; count need not match the records given.
inline std::string EdmBody(uint32_t count, const std::vector<std::string>& records) {
  std::string body = BigEndian(count);
  for (const std::string& r : records) body += BigEndian(static_cast<uint32_t>(r.size())) + r;
  return body;
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
