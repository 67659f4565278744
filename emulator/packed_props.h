#pragma once
// A record's properties as the handheld image keeps them: one value, in id
// order, each property as its id and byte length (32 bits, little-endian)
// followed by its bytes: a number as 4 bytes little-endian, text as
// UTF-16LE, a blob as it is.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "platform/rapi.h"

namespace hhsync {

// Packs the values in id order; of a property id given twice the last value
// is kept.
std::string PackProps(const std::vector<CePropVal>& values);

// Calls f(propid, bytes, size) for each packed property in stored order;
// throws std::runtime_error when the value is damaged (a length running past
// the end, or bytes left over).
template <typename F>
void ForEachPacked(const void* data, std::size_t size, F f) {
  const auto* p = static_cast<const uint8_t*>(data);
  std::size_t at = 0;
  while (at < size) {
    if (size - at < 8) throw std::runtime_error("damaged record");
    const CEPROPID id = ReadLe32(p + at);
    const uint32_t n = ReadLe32(p + at + 4);
    at += 8;
    if (n > size - at) throw std::runtime_error("damaged record");
    f(id, p + at, n);
    at += n;
  }
}

// One property from its packed bytes; throws std::runtime_error when a
// number is not 4 bytes long. Text of an odd length loses its last byte.
CePropVal UnpackProp(CEPROPID id, const uint8_t* p, uint32_t n);

std::vector<CePropVal> UnpackProps(const void* data, std::size_t size);

}  // namespace hhsync
