#pragma once
// The one text splitter of the program: cuts a text into tokens at any of a
// set of single delimiter characters, after removing every carriage return.
// The profile reply, the property sets of S.DAT and the resource status list
// are all read with it.
//
// Two delimiters in a row give an empty token; a delimiter at the very end of
// the text gives no extra empty token; a token asked for beyond the end is
// an empty string.
//
// The text is kept whole and consumed through an offset, so splitting a text
// of n bytes costs O(n) in all, however many tokens it holds.
//
// Thread safety: none; one Tokenizer is used by one thread at a time.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace hhsync {

class Tokenizer {
 public:
  Tokenizer() = default;
  Tokenizer(std::string_view text, std::string_view delimiters);
  // Takes the text over instead of copying it (a reply of hundreds of MB).
  Tokenizer(std::string&& text, std::string_view delimiters);
  Tokenizer(const char* text, std::string_view delimiters)
      : Tokenizer(std::string_view(text), delimiters) {}

  // Starts over with a new text and delimiter set; the last token is emptied.
  void Reset(std::string_view text, std::string_view delimiters);
  void Reset(std::string&& text, std::string_view delimiters);
  void Reset(const char* text, std::string_view delimiters) {
    Reset(std::string_view(text), delimiters);
  }

  // Looks up the next delimiter in what is left of the text. False only when
  // nothing is left.
  bool HasMore();

  // Takes the next token: the text up to the next delimiter (which is
  // dropped), or all that is left when there is no further delimiter. Returns
  // an empty string when nothing is left.
  std::string Next();

  // Next without a copy: the token as a view into the tokenizer's text,
  // valid until the next Reset or the tokenizer's end. Token() is not set.
  std::string_view NextView();

  // The first out.size() tokens of text split at the single delimiter, the
  // way successive Next calls give them (tokens beyond the text are empty).
  // text must hold no carriage return.
  static void Split(std::string_view text, char delimiter, std::span<std::string_view> out);

  // The token most recently taken.
  const std::string& Token() const { return token_; }

 private:
  static constexpr std::ptrdiff_t kNotLookedUp = -1;

  std::string text_;        // the whole text, carriage returns removed
  std::size_t offset_ = 0;  // start of what is left to split
  std::string delimiters_;
  std::string token_;
  // Index (relative to offset_) of the next delimiter, length_ when there is
  // none, kNotLookedUp before HasMore.
  std::ptrdiff_t position_ = kNotLookedUp;
  // Length of what was left when HasMore last looked.
  std::ptrdiff_t length_ = 0;
};

}  // namespace hhsync
