#include "base/tokenizer.h"

namespace hhsync {

Tokenizer::Tokenizer(std::string_view text, std::string_view delimiters) {
  Reset(text, delimiters);
}

void Tokenizer::Reset(std::string_view text, std::string_view delimiters) {
  text_.assign(text);
  std::erase(text_, '\r');
  offset_ = 0;
  delimiters_.assign(delimiters);
  token_.clear();
  length_ = static_cast<std::ptrdiff_t>(text_.size());
  position_ = kNotLookedUp;
}

bool Tokenizer::HasMore() {
  length_ = static_cast<std::ptrdiff_t>(text_.size() - offset_);
  std::size_t found = text_.find_first_of(delimiters_, offset_);
  if (found != std::string::npos) {
    position_ = static_cast<std::ptrdiff_t>(found - offset_);
  } else {
    position_ = length_ > 0 ? length_ : kNotLookedUp;
  }
  return position_ >= 0;
}

std::string Tokenizer::Next() {
  if (!HasMore()) return std::string();  // nothing is left: the empty rest
  const auto pos = static_cast<std::size_t>(position_);
  token_.assign(text_, offset_, pos);
  // Past the one delimiter, or to the end when the rest was the last token.
  offset_ = position_ != length_ ? offset_ + pos + 1 : text_.size();
  position_ = kNotLookedUp;
  return token_;
}

}  // namespace hhsync
