#include "emulator/packed_props.h"

#include <algorithm>

namespace hhsync {
namespace {

void PutLe32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::string PackProps(const std::vector<CePropVal>& values) {
  std::vector<const CePropVal*> order;
  order.reserve(values.size());
  for (const CePropVal& v : values) order.push_back(&v);
  std::stable_sort(order.begin(), order.end(),
                   [](const CePropVal* a, const CePropVal* b) { return a->propid < b->propid; });
  std::string out;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i + 1 < order.size() && order[i + 1]->propid == order[i]->propid) continue;
    const CePropVal& v = *order[i];
    PutLe32(out, v.propid);
    switch (PropType(v.propid)) {
      case CEVT_UI4:
        PutLe32(out, 4);
        PutLe32(out, v.ulVal);
        break;
      case CEVT_LPWSTR:
        PutLe32(out, static_cast<uint32_t>(v.lpwsz.size() * 2));
        for (char16_t u : v.lpwsz) {
          out += static_cast<char>(u & 0xFF);
          out += static_cast<char>(u >> 8);
        }
        break;
      default:
        PutLe32(out, static_cast<uint32_t>(v.blob.size()));
        out.append(v.blob.begin(), v.blob.end());
        break;
    }
  }
  return out;
}

CePropVal UnpackProp(CEPROPID id, const uint8_t* p, uint32_t n) {
  CePropVal v;
  v.propid = id;
  switch (PropType(id)) {
    case CEVT_UI4:
      if (n != 4) throw std::runtime_error("damaged record");
      v.ulVal = ReadLe32(p);
      break;
    case CEVT_LPWSTR:
      v.lpwsz.reserve(n / 2);
      for (uint32_t i = 0; i + 1 < n; i += 2) {
        v.lpwsz += static_cast<char16_t>(p[i] | (p[i + 1] << 8));
      }
      break;
    default:
      v.blob.assign(p, p + n);
      break;
  }
  return v;
}

std::vector<CePropVal> UnpackProps(const void* data, std::size_t size) {
  std::vector<CePropVal> out;
  ForEachPacked(data, size, [&](CEPROPID id, const uint8_t* p, uint32_t n) {
    out.push_back(UnpackProp(id, p, n));
  });
  return out;
}

}  // namespace hhsync
