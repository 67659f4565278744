#pragma once
// Escaping for request parameters.

#include <string>

namespace hhsync {

// Bytes from 0x27 to 0x7A are copied; every other byte becomes "%" and two
// uppercase hex digits.
std::string UrlEncode(const std::string& text);

// The program version sent as "ver": "2.86".
std::string ProgramVersion();

}  // namespace hhsync
