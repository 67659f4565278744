// The resource status list: ResourceUpdater::ParseStatusList on any reply,
// checked against the list's rules read independently: trailing white space
// dropped, carriage returns dropped, the first line "OK" in any case, the
// second line ignored, every further line of 3 or more characters split at
// '|' into rid, type, revision and name (missing fields empty, extra ones
// ignored), a later line of a rid replacing an earlier one, and the status
// list and the download list holding equal but separate records.
//
// The reply is bounded by libFuzzer's length limit (scripts/fuzz:
// -max_len=65536), so kMaxResourceEntries is never reached here.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/text.h"
#include "extras/resource_updater.h"
#include "fuzz/support/fuzz_platform.h"
#include "support/fuzz_platform.h"

using hhsync::fuzz::Check;

namespace {

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == at) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

using Fields = std::tuple<std::string, std::string, std::string>;  // type, revision, name

bool Expected(std::string text, std::map<std::string, Fields>* list) {
  const size_t end = text.find_last_not_of(" \t\r\n\v\f");
  text.erase(end == std::string::npos ? 0 : end + 1);
  std::erase(text, '\r');
  const std::vector<std::string> lines = Split(text, '\n');
  if (!hhsync::EqualsNoCase(lines[0], "OK")) return false;
  for (size_t i = 2; i < lines.size(); ++i) {
    if (lines[i].size() < 3) continue;
    std::vector<std::string> f = Split(lines[i], '|');
    f.resize(std::max<size_t>(f.size(), 4));
    (*list)[f[0]] = Fields{f[1], f[2], f[3]};
  }
  return true;
}

void CheckList(const hhsync::ResourceUpdater::RecordMap& records,
               const std::map<std::string, Fields>& expected) {
  Check(records.size() == expected.size(), "entry count differs from the rules");
  auto want = expected.begin();
  for (const auto& [rid, record] : records) {
    Check(rid == want->first && record->rid() == rid, "rid differs from the rules");
    Check(Fields{record->type(), record->revision(), record->name()} == want->second,
          "fields differ from the rules");
    ++want;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  static hhsync::fuzz::FuzzPlatform platform;
  hhsync::ResourceUpdater updater(platform.mount(), platform.resourceDesktop(), "u");
  const bool ok = updater.ParseStatusList(reply);

  std::map<std::string, Fields> expected;
  Check(ok == Expected(reply, &expected), "outcome differs from the rules");
  if (!ok) return 0;
  CheckList(updater.downloadList(), expected);
  CheckList(updater.statusList(), expected);
  for (const auto& [rid, record] : updater.statusList()) {
    Check(updater.downloadList().at(rid).get() != record.get(), "the two lists share a record");
  }
  return 0;
}
