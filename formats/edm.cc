#include "formats/edm.h"

#include "base/byte_order.h"

namespace hhsync {

namespace {

uint32_t Be32At(const std::string& bytes, std::size_t offset) {
  return ReadBe32(reinterpret_cast<const uint8_t*>(bytes.data() + offset));
}

// Reads one 4-byte number. Returns the number of bytes that arrived (0 at
// the end of the body, -1 on a failure); missing bytes read as zero.
long long ReadWord(EdmSource& source, uint32_t* value) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  long long got = source.Read(bytes, sizeof bytes);
  *value = ReadBe32(bytes);
  return got;
}

}  // namespace

std::optional<EdmRecord> EdmRecord::Make(const uint8_t* bytes, uint32_t length, bool whole) {
  EdmRecord record;
  if (whole) {
    // Padded to the next multiple of 4 above the length: 1 to 4 zero bytes.
    record.part1_.assign(bytes, bytes + length);
    record.part1_.resize(static_cast<std::size_t>(length) + 4 - length % 4, 0);
    record.single_ = true;
    return record;
  }
  if (length < 8) return std::nullopt;  // no room for the split point
  uint32_t split = ReadBe32(bytes + 4);
  if (split > length) return std::nullopt;
  record.part1_.assign(bytes, bytes + split);
  record.part2_.assign(bytes + split, bytes + length);
  record.single_ = false;
  return record;
}

EdmResult ReadEdm(EdmSource& source, std::vector<EdmRecord>* records, const EdmProgress& progress,
                  std::size_t maxBytes) {
  uint32_t count = 0;
  if (ReadWord(source, &count) < 0) return EdmResult::kTransferError;
  if (progress.onCount) progress.onCount(count);
  const bool whole = count <= 1;

  uint32_t length = 0;
  long long got = ReadWord(source, &length);
  if (got < 0) return EdmResult::kTransferError;
  if (got == 0) return EdmResult::kNoRecords;
  if (got < 4) return EdmResult::kMalformed;

  std::vector<uint8_t> buffer;
  std::size_t kept = 0;
  for (;;) {
    if (length > kMaxEdmRecordLength) return EdmResult::kRecordTooLong;
    // Each record costs its bytes and its own bookkeeping, so that a body of
    // empty records cannot grow without end either.
    if ((kept += length + sizeof(EdmRecord)) > maxBytes) return EdmResult::kTooLarge;
    buffer.assign(static_cast<std::size_t>(length) + 1, 0);
    if (progress.onRecord) progress.onRecord();
    if (length > 0) {
      long long n = source.Read(buffer.data(), length);
      if (n < 0) return EdmResult::kTransferError;
      if (n < static_cast<long long>(length)) return EdmResult::kMalformed;
    }
    std::optional<EdmRecord> record = EdmRecord::Make(buffer.data(), length, whole);
    if (!record) return EdmResult::kMalformed;
    records->push_back(std::move(*record));

    got = ReadWord(source, &length);
    if (got < 0) return EdmResult::kTransferError;
    if (got == 0) return EdmResult::kOk;
    if (got < 4) return EdmResult::kMalformed;
  }
}

std::string PackEdm(uint32_t count, const std::vector<std::string>& records) {
  std::string out = Be32Bytes(count);
  for (const auto& record : records) {
    out += Be32Bytes(static_cast<uint32_t>(record.size()));
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
  listing.count = Be32At(body, 0);
  std::size_t pos = 4;
  while (pos < body.size()) {
    std::size_t index = listing.records.size();
    if (body.size() - pos < 4) {
      listing.truncation = "the length of record " + std::to_string(index) +
                           " is cut short: " + std::to_string(body.size() - pos) + " of 4 bytes";
      return listing;
    }
    uint32_t length = Be32At(body, pos);
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
    if (length >= 8) info.firstPart = Be32At(body, pos + 4);
    listing.records.push_back(info);
    pos += length;
  }
  return listing;
}

}  // namespace hhsync
