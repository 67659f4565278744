// The Tokenizer on any text and any delimiter set. The first byte of the
// input gives the number of delimiters (its value modulo 5), the bytes after
// it the delimiters, the rest the text. Checked: the tokens and the single
// delimiters between them put back together give the text without its
// carriage returns; no token holds a delimiter; a text used up answers
// HasMore false and gives empty tokens.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/tokenizer.h"
#include "fuzz/support/fuzz_platform.h"

using hhsync::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t count = input.empty() ? 0 : static_cast<uint8_t>(input[0]) % 5;
  input.remove_prefix(input.empty() ? 0 : 1);
  count = std::min(count, input.size());
  const std::string_view delimiters = input.substr(0, count);
  const std::string_view text = input.substr(count);

  std::string plain(text);
  std::erase(plain, '\r');

  hhsync::Tokenizer tokens(text, delimiters);
  std::size_t at = 0;  // where the next token starts in plain
  std::size_t taken = 0;
  while (tokens.HasMore()) {
    Check(at < plain.size(), "HasMore with nothing left");
    const std::string token = tokens.Next();
    Check(token == tokens.Token(), "Token differs from what Next returned");
    Check(plain.compare(at, token.size(), token) == 0, "token differs from the text");
    Check(token.find_first_of(delimiters) == std::string::npos, "token holds a delimiter");
    at += token.size();
    if (at < plain.size()) {
      Check(delimiters.find(plain[at]) != std::string_view::npos, "token not ended by a delimiter");
      ++at;
    }
    Check(++taken <= plain.size() + 1, "more tokens than bytes");
  }
  Check(at == plain.size(), "the tokens do not cover the text");
  Check(tokens.Next().empty() && !tokens.HasMore(), "a used-up text gives more");

  // Reset starts over on the same text with the same outcome for the first
  // token.
  tokens.Reset(text, delimiters);
  const std::size_t end = plain.find_first_of(delimiters);
  Check(tokens.Next() == plain.substr(0, end), "first token after Reset");
  return 0;
}
