#pragma once
// The ".edm" content data body: a record count N, then records, each a
// length L and L bytes; every number unsigned 32-bit, most significant byte
// first. The body ends where reading the next length yields no bytes.
//
// N decides the form of every record, the records actually there how many
// there are. With N of 1 or less (whole form) a record is kept whole,
// followed by 1 to 4 zero bytes up to the next multiple of 4 above L. With N
// above 1 (split form) bytes 4 to 7 of a record give the length P of its
// first part; the second part is the rest.
//
// Thread safety: pure functions and values.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hhsync {

// The largest data record a body may hold.
inline constexpr uint32_t kMaxEdmRecordLength = 66000;
// The most record bytes one body may bring into memory: far above any real
// item.
inline constexpr std::size_t kMaxEdmBodyBytes = std::size_t{256} << 20;

// One data record.
class EdmRecord {
 public:
  // Builds a record from its length bytes. Nothing for a split-form record
  // that cannot be split: shorter than 8 bytes or with P above its length.
  static std::optional<EdmRecord> Make(const uint8_t* bytes, uint32_t length, bool whole);

  const std::vector<uint8_t>& part1() const { return part1_; }
  const std::vector<uint8_t>& part2() const { return part2_; }
  // Kept whole (part 2 empty).
  bool single() const { return single_; }

 private:
  EdmRecord() = default;

  std::vector<uint8_t> part1_;
  std::vector<uint8_t> part2_;
  bool single_ = true;
};

// Where a body is read from, piece by piece. Read returns size unless the
// body ended (fewer, 0 at its end), -1 when the transfer failed.
class EdmSource {
 public:
  virtual ~EdmSource() = default;
  virtual long long Read(void* buffer, std::size_t size) = 0;
};

// How reading a body ended.
enum class EdmResult {
  kOk,             // every record up to the end of the body was read
  kNoRecords,      // nothing after the count
  kRecordTooLong,  // a record above kMaxEdmRecordLength; the records before it are kept
  kMalformed,      // a length or record cut short, or a split record that cannot be split
  kTooLarge,       // the records outgrew maxBytes (each counted with its own bookkeeping)
  kTransferError,  // the source failed
};

// What a reader is told as it goes: the count once it is read, and each
// record as its bytes are about to be read.
struct EdmProgress {
  std::function<void(uint32_t count)> onCount;
  std::function<void()> onRecord;
};

// Reads a body: the 4-byte count, then each 4-byte length and exactly that
// many record bytes, appending the records to *records.
EdmResult ReadEdm(EdmSource& source, std::vector<EdmRecord>* records,
                  const EdmProgress& progress = {}, std::size_t maxBytes = kMaxEdmBodyBytes);

// The body for count and records; count need not match the records given.
std::string PackEdm(uint32_t count, const std::vector<std::string>& records);

// Where each record of a complete body lies, for listing one.
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

// Walks a complete body the way a reader does.
EdmListing ListEdm(const std::string& body);

}  // namespace hhsync
