#include "base/tokenizer.h"

#include <utility>

namespace hhsync {

Tokenizer::Tokenizer(std::string_view text, std::string_view delimiters) {
  Reset(text, delimiters);
}

Tokenizer::Tokenizer(std::string&& text, std::string_view delimiters) {
  Reset(std::move(text), delimiters);
}

void Tokenizer::Reset(std::string_view text, std::string_view delimiters) {
  Reset(std::string(text), delimiters);
}

void Tokenizer::Reset(std::string&& text, std::string_view delimiters) {
  text_ = std::move(text);
  if (text_.find('\r') != std::string::npos) std::erase(text_, '\r');
  offset_ = 0;
  delimiters_.assign(delimiters);
  token_.clear();
  length_ = static_cast<std::ptrdiff_t>(text_.size());
  position_ = kNotLookedUp;
}

bool Tokenizer::HasMore() {
  length_ = static_cast<std::ptrdiff_t>(text_.size() - offset_);
  // One delimiter (lines, fields) is looked for with one scan; a set of them
  // character by character.
  std::size_t found = delimiters_.size() == 1 ? text_.find(delimiters_[0], offset_)
                                              : text_.find_first_of(delimiters_, offset_);
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

std::string_view Tokenizer::NextView() {
  if (!HasMore()) return {};
  const auto pos = static_cast<std::size_t>(position_);
  std::string_view token = std::string_view(text_).substr(offset_, pos);
  offset_ = position_ != length_ ? offset_ + pos + 1 : text_.size();
  position_ = kNotLookedUp;
  return token;
}

void Tokenizer::Split(std::string_view text, char delimiter, std::span<std::string_view> out) {
  std::size_t start = 0;
  for (std::string_view& field : out) {
    if (start >= text.size()) {
      field = {};
      continue;
    }
    std::size_t end = text.find(delimiter, start);
    if (end == std::string_view::npos) end = text.size();
    field = text.substr(start, end - start);
    start = end + 1;
  }
}

}  // namespace hhsync
