#pragma once
// The ".edm" content data body: a record count N, then records, each a
// length L and L bytes. All numbers are unsigned 32-bit, most significant
// byte first. With N above 1, bytes 4 to 7 of each record give the length P
// of its first part.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hhctl {

// The body for count and records; count need not match the records given.
std::string PackEdm(uint32_t count, const std::vector<std::string>& records);

struct EdmRecordInfo {
  std::size_t offset = 0;  // of the record's bytes in the body
  uint32_t length = 0;
  std::optional<uint32_t> firstPart;  // P, when the record has bytes 4 to 7
};

struct EdmListing {
  std::optional<uint32_t> count;       // none when the body is shorter than 4 bytes
  std::vector<EdmRecordInfo> records;  // the complete records, in order
  // Empty for a body that ends cleanly after its last record; otherwise
  // what is wrong with the end (a cut length field or a cut record).
  std::string truncation;
};

// Walks a body the way a reader does: records follow until reading the next
// length yields no bytes.
EdmListing ListEdm(const std::string& body);

}  // namespace hhctl
