#pragma once
#include "base/text.h"

namespace hhsync {

// The system's ANSI code page (CP_ACP), as the Windows program converts
// between its 8-bit text and the handheld's UTF-16: double-byte code pages
// included, a character the code page cannot hold written as its default
// character.
class SystemCodePage final : public AnsiCodePage {
 public:
  std::u16string ToWide(std::string_view text) const override;
  std::string FromWide(std::u16string_view text) const override;
};

}  // namespace hhsync
