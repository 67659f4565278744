// The .edm body reader: ReadEdmBody over the input as an in-memory reply
// body, with a progress dialog so that the record counting runs too.
// Checked against the format read independently (count, then length-prefixed
// records; whole form padded to the next multiple of 4 above the length,
// split form cut at the big-endian number in bytes 4..7): the same outcome
// and the same parts of every record. A second pass reads the same body
// from a connection that breaks off halfway, where any read that reaches
// past the break fails.
//
// The body is bounded by libFuzzer's length limit (scripts/fuzz:
// -max_len=65536) and so far below kMaxEdmBodyBytes; a record above
// kMaxEdmRecordLength (66000) is refused before anything is allocated for it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "content/content_item.h"
#include "fuzz/support/fuzz_platform.h"
#include "platform/fake/memory_http.h"
#include "platform/http.h"

using hhsync::EdmResult;
using hhsync::fuzz::Check;

namespace {

using Parts = std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>>;

uint32_t BigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// The outcome the format gives for the body, reading from a connection that
// fails any read reaching past breakAt when there is one.
EdmResult Expected(const uint8_t* data, size_t size, std::optional<size_t> breakAt, Parts* parts) {
  size_t pos = 0;
  // Reads up to n bytes into out (missing bytes zero); false on a failure.
  auto read = [&](size_t n, std::vector<uint8_t>* out, size_t* got) {
    if (breakAt && pos + n > *breakAt) return false;
    *got = std::min(n, size - pos);
    out->assign(n, 0);
    std::copy(data + pos, data + pos + *got, out->begin());
    pos += *got;
    return true;
  };
  std::vector<uint8_t> word;
  size_t got = 0;
  if (!read(4, &word, &got)) return EdmResult::kTransferError;
  const bool split = BigEndian(word.data()) > 1;
  for (bool first = true;; first = false) {
    if (!read(4, &word, &got)) return EdmResult::kTransferError;
    if (got == 0) return first ? EdmResult::kNoRecords : EdmResult::kOk;
    if (got < 4) return EdmResult::kMalformed;
    const uint32_t length = BigEndian(word.data());
    if (length > hhsync::kMaxEdmRecordLength) return EdmResult::kRecordTooLong;
    std::vector<uint8_t> record;
    if (length > 0) {
      if (!read(length, &record, &got)) return EdmResult::kTransferError;
      if (got < length) return EdmResult::kMalformed;
    }
    record.resize(length);
    if (!split) {
      std::vector<uint8_t> part1 = record;
      part1.resize(size_t{length} + 4 - length % 4, 0);
      parts->emplace_back(std::move(part1), std::vector<uint8_t>());
      continue;
    }
    if (length < 8) return EdmResult::kMalformed;
    const uint32_t at = BigEndian(record.data() + 4);
    if (at > length) return EdmResult::kMalformed;
    parts->emplace_back(std::vector<uint8_t>(record.begin(), record.begin() + at),
                        std::vector<uint8_t>(record.begin() + at, record.end()));
  }
}

void Compare(const uint8_t* data, size_t size, std::optional<size_t> breakAt,
             hhsync::ProgressDialog& progress) {
  auto reply = std::make_shared<hhsync::MemoryReply>();
  reply->body.assign(reinterpret_cast<const char*>(data), size);
  reply->failAfter = breakAt ? static_cast<long long>(*breakAt) : -1;
  hhsync::MemoryBody body(reply);
  hhsync::ContentRecords records;
  hhsync::HttpError error;
  const EdmResult result = hhsync::ReadEdmBody(body, &progress, &records, &error);

  Parts expected;
  Check(result == Expected(data, size, breakAt, &expected), "outcome differs from the format");
  Check(records.size() == expected.size(), "record count differs from the format");
  for (size_t i = 0; i < records.size(); ++i) {
    Check(records[i].part1() == expected[i].first, "part 1 differs from the format");
    Check(records[i].part2() == expected[i].second, "part 2 differs from the format");
  }
  Check((result == EdmResult::kTransferError) == (error.code != 0),
        "a transfer error without an error code, or the reverse");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static hhsync::fuzz::FuzzPlatform platform;
  static hhsync::ProgressDialog progress(
      platform.progressDesktop(), nullptr, "News", hhsync::ProgressDialog::Log::kAsSwitched,
      hhsync::ProgressDialog::Logo::kHidden, hhsync::fuzz::FuzzPlatform::kRegistryPath);
  Compare(data, size, std::nullopt, progress);
  Compare(data, size, size / 2, progress);
  return 0;
}
