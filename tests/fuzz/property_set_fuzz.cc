// Property text: PropertySet::FromText on any bytes, checked against the line
// rules read independently: lines end at line feeds, carriage returns are
// dropped, lines starting with '#' or without '=' are skipped, the key is
// what stands before the first '=', and a later line of a key wins.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "formats/sdat.h"
#include "fuzz/support/fuzz_platform.h"

using hhsync::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const hhsync::PropertySet set = hhsync::PropertySet::FromText(text);

  std::map<std::string, std::string, std::less<>> expected;
  std::string line;
  auto take = [&] {
    if (!line.empty() && line[0] != '#') {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos) expected[line.substr(0, eq)] = line.substr(eq + 1);
    }
    line.clear();
  };
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      take();
    } else {
      line += c;
    }
  }
  take();

  Check(set.Entries() == expected, "property set differs from the line rules");
  for (const auto& [key, value] : set) {
    Check(key.find_first_of("\r\n=") == std::string::npos, "key holds a line break or '='");
    Check(value.find_first_of("\r\n") == std::string::npos, "value holds a line break");
    Check(set.Has(key) && set.Get(key, "-") == value, "lookup differs from the entries");
  }
  return 0;
}
