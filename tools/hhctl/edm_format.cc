#include "edm_format.h"

namespace hhctl {
namespace {

void AppendBigEndian(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>((value >> 24) & 0xFF));
  out->push_back(static_cast<char>((value >> 16) & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
  out->push_back(static_cast<char>(value & 0xFF));
}

uint32_t BigEndianAt(const std::string& bytes, std::size_t offset) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

}  // namespace

std::string PackEdm(uint32_t count, const std::vector<std::string>& records) {
  std::string out;
  AppendBigEndian(&out, count);
  for (const auto& record : records) {
    AppendBigEndian(&out, static_cast<uint32_t>(record.size()));
    out += record;
  }
  return out;
}

EdmListing ListEdm(const std::string& body) {
  EdmListing listing;
  if (body.size() < 4) {
    if (!body.empty())
      listing.truncation = "the count is cut short: " + std::to_string(body.size()) + " of 4 bytes";
    return listing;
  }
  listing.count = BigEndianAt(body, 0);
  std::size_t pos = 4;
  while (pos < body.size()) {
    std::size_t index = listing.records.size();
    if (body.size() - pos < 4) {
      listing.truncation = "the length of record " + std::to_string(index) +
                           " is cut short: " + std::to_string(body.size() - pos) + " of 4 bytes";
      return listing;
    }
    uint32_t length = BigEndianAt(body, pos);
    pos += 4;
    if (body.size() - pos < length) {
      listing.truncation = "record " + std::to_string(index) + " announces " +
                           std::to_string(length) + " bytes but only " +
                           std::to_string(body.size() - pos) + " follow";
      return listing;
    }
    EdmRecordInfo info;
    info.offset = pos;
    info.length = length;
    if (length >= 8) info.firstPart = BigEndianAt(body, pos + 4);
    listing.records.push_back(info);
    pos += length;
  }
  return listing;
}

}  // namespace hhctl
