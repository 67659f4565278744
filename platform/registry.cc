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

std::string RegistryKeyPath(std::string_view path) {
  std::size_t b = 0, e = path.size();
  while (b < e && (path[b] == '\\' || path[b] == '/')) ++b;
  while (e > b && (path[e - 1] == '\\' || path[e - 1] == '/')) --e;
  std::string out(path.substr(b, e - b));
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string FoldRegistryName(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) {
      c = static_cast<char>(u + 32);
    }
  }
  return out;
}

}  // namespace hhsync
