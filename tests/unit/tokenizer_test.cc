#include "base/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace hhsync {
namespace {

std::vector<std::string> AllTokens(Tokenizer& t) {
  std::vector<std::string> out;
  while (t.HasMore()) out.push_back(t.Next());
  return out;
}

TEST(TokenizerTest, SplitsAtEveryDelimiterAfterRemovingCarriageReturns) {
  struct Case {
    std::string text;
    std::string delimiters;
    std::vector<std::string> tokens;
  };
  const std::vector<Case> cases = {
      {"a||b", "|", {"a", "", "b"}},
      {"a\r\nb\r\n", "\n", {"a", "b"}},  // a trailing delimiter adds no token
      {"x\ry|\rz\r", "|", {"xy", "z"}},
      {"", "\n", {}},
      {"\r\r\r", "\n", {}},
      {"|", "|", {""}},
      {"a,b;c,,d", ",;", {"a", "b", "c", "", "d"}},
      {"a|b", "", {"a|b"}},
      {std::string("caf\xE9|a\0b", 8), "|", {"caf\xE9", std::string("a\0b", 3)}},
  };
  for (const Case& c : cases) {
    Tokenizer t(c.text, c.delimiters);
    EXPECT_EQ(AllTokens(t), c.tokens) << c.text;
    EXPECT_EQ(t.Next(), "") << c.text;  // beyond the end
    EXPECT_FALSE(t.HasMore()) << c.text;
  }
}

TEST(TokenizerTest, NextHasMoreTokenAndReset) {
  Tokenizer t("a|b|", "|");
  EXPECT_TRUE(t.HasMore());
  EXPECT_TRUE(t.HasMore());  // looking does not consume
  EXPECT_EQ(t.Next(), "a");
  EXPECT_EQ(t.Next(), "b");  // Next works without HasMore
  EXPECT_EQ(t.Next(), "");
  EXPECT_EQ(t.Token(), "b");

  t.Reset("1,2\r\n3", ",\n");
  EXPECT_EQ(t.Token(), "");
  EXPECT_EQ(AllTokens(t), (std::vector<std::string>{"1", "2", "3"}));
}

// Millions of tokens in a large text: an implementation that copied the rest
// of the text for every token would need on the order of 10^13 byte copies
// here and never finish within the test's time limit.
TEST(TokenizerTest, LargeTextIsSplitInOnePass) {
  constexpr std::size_t kLines = 4'000'000;
  std::string text;
  text.reserve(kLines * 5);
  for (std::size_t i = 0; i < kLines; ++i) {
    text += static_cast<char>('a' + i % 26);
    text += (i % 3 == 0) ? "\r\n" : "\n";
  }
  Tokenizer t(text, "\n");
  std::size_t count = 0;
  bool allMatch = true;
  while (t.HasMore()) {
    std::string token = t.Next();
    allMatch = allMatch && token.size() == 1 && token[0] == static_cast<char>('a' + count % 26);
    ++count;
  }
  EXPECT_EQ(count, kLines);
  EXPECT_TRUE(allMatch);
}

TEST(TextTest, SurrogatePairsBecomeOneCodePointAtEitherEndOfTheirRange) {
  EXPECT_EQ(WideToUtf8(u"\xD800\xDC00"), "\xF0\x90\x80\x80");  // U+10000
  EXPECT_EQ(WideToUtf8(u"\xDBFF\xDFFF"), "\xF4\x8F\xBF\xBF");  // U+10FFFF
  // A half of a pair alone is a replacement character.
  EXPECT_EQ(WideToUtf8(u"\xDBFF"), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(u"\xDFFFx"), "\xEF\xBF\xBDx");
}

TEST(TextTest, Utf8DecodesUpToTheLastCodePointAndOnlyTheBytesItIsGiven) {
  EXPECT_EQ(Utf8ToWide("\xF4\x8F\xBF\xBF"), u"\xDBFF\xDFFF");  // U+10FFFF
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), u"\xFFFD");        // one past it
  // A sequence cut by the end of its input is not completed by what follows.
  const std::string whole = "\xC3\xA9";
  EXPECT_EQ(Utf8ToWide(std::string_view(whole.data(), 1)), u"\xFFFD");
}

}  // namespace
}  // namespace hhsync
