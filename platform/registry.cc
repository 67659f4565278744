#include "platform/registry.h"

namespace hhsync {

RegValue RegValue::Dword(uint32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return {RegType::kDword, bytes};
}

uint32_t RegValue::AsDword() const {
  if (type != RegType::kDword || data.size() != 4) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(data[i]);
  return v;
}

}  // namespace hhsync
