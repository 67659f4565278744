#pragma once
// Text conversions at the edge of the handheld. The program's own text is
// 8-bit Windows-1252 (the ANSI code page); the handheld holds UTF-16; the
// companion tool talks UTF-8 with the terminal.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hhsync {

// Windows-1252 to UTF-16. Every byte maps to one unit; the five bytes the
// code page leaves undefined map to the control characters of the same value.
std::u16string AnsiToWide(std::string_view text);
// UTF-16 to Windows-1252; a unit the code page cannot hold becomes '?'.
std::string WideToAnsi(std::u16string_view text);

// UTF-8 and UTF-16 (for the companion tool and JSON). Invalid input becomes
// U+FFFD.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);
// Windows-1252 to UTF-8, for showing the program's text on a terminal.
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

// UTF-16 text as little-endian bytes with a terminating zero unit, and back
// (up to the first zero unit or the end of the bytes).
std::vector<uint8_t> WideToBytes(std::u16string_view text);
std::u16string BytesToWide(const std::vector<uint8_t>& bytes);

}  // namespace hhsync
