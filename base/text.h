#pragma once
// Text: conversions at the edge of the handheld (the program's own text is
// 8-bit, in the PC's ANSI code page: Windows-1252 unless the platform
// installs the system's own; the handheld holds UTF-16; the companion tool
// talks UTF-8 with the terminal), and the small helpers every reader of
// settings and replies shares.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hhsync {

// The PC's 8-bit code page as a platform knows it (on Windows, the ANSI code
// page the system converts with).
class AnsiCodePage {
 public:
  virtual ~AnsiCodePage() = default;
  virtual std::u16string ToWide(std::string_view text) const = 0;
  virtual std::string FromWide(std::u16string_view text) const = 0;
};
// Makes AnsiToWide and WideToAnsi convert with codePage from now on; null
// goes back to Windows-1252. Called at start-up, before any thread.
void UseAnsiCodePage(const AnsiCodePage* codePage);

// The ANSI code page to UTF-16. With Windows-1252 every byte maps to one
// unit; the five bytes the code page leaves undefined map to the control
// characters of the same value.
std::u16string AnsiToWide(std::string_view text);
// UTF-16 to the ANSI code page; a unit the code page cannot hold becomes '?'.
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

// Equal when the texts differ at most in the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);
// ASCII letters in lower case, everything else unchanged.
std::string AsciiLower(std::string text);
// Leading decimal digits (after optional blanks and sign) as a number, 0 when
// there are none, as C's atoi reads them; saturates at the int range.
int AtoI(std::string_view text);
// The decimal digits at the very start of text as a number (no blanks, no
// sign), 0 when it does not begin with a digit; saturates at INT_MAX.
int LeadingDigits(std::string_view text);
// Removes every trailing character that is one of characters.
void TrimRight(std::string* text, std::string_view characters);

// printf-style formatting into a string.
#if defined(__GNUC__)
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
std::string FormatText(const char* format, ...);
#endif

}  // namespace hhsync
