#pragma once
// Escaping for request parameters.

#include <string>

namespace hhsync {

// Bytes from 0x27 to 0x7A are copied; every other byte becomes "%" and two
// uppercase hex digits.
std::string UrlEncode(const std::string& text);

}  // namespace hhsync
