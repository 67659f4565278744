// The handheld image's packed record properties, from any bytes. Checked:
// damaged bytes are refused with std::runtime_error and nothing else; bytes
// that unpack pack again to values that unpack the same, in id order with
// the last of a repeated id kept; and the packed form is stable (packing
// what it unpacks to gives the same bytes).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/packed_props.h"
#include "fuzz/support/fuzz_platform.h"

using hhsync::CePropVal;
using hhsync::fuzz::Check;

namespace {

bool Same(const CePropVal& a, const CePropVal& b) {
  return a.propid == b.propid && a.ulVal == b.ulVal && a.lpwsz == b.lpwsz && a.blob == b.blob;
}

bool Same(const std::vector<CePropVal>& a, const std::vector<CePropVal>& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](const auto& x, const auto& y) { return Same(x, y); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<CePropVal> values;
  try {
    values = hhsync::UnpackProps(data, size);
  } catch (const std::runtime_error&) {
    return 0;
  }
  // What packing must keep: the last value of each id, in id order.
  std::vector<CePropVal> expected = values;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const CePropVal& a, const CePropVal& b) { return a.propid < b.propid; });
  std::vector<CePropVal> kept;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i + 1 < expected.size() && expected[i + 1].propid == expected[i].propid) continue;
    kept.push_back(expected[i]);
  }

  const std::string packed = hhsync::PackProps(values);
  const std::vector<CePropVal> again = hhsync::UnpackProps(packed.data(), packed.size());
  Check(Same(again, kept), "packing changed the values");
  Check(hhsync::PackProps(again) == packed, "the packed form is not stable");
  return 0;
}
