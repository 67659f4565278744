#include "app/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hhsync {
namespace {

std::vector<std::string> AllTokens(Tokenizer& t) {
  std::vector<std::string> out;
  while (t.HasMore()) out.push_back(t.Next());
  return out;
}

TEST(TokenizerTest, TwoDelimitersInARowGiveAnEmptyToken) {
  Tokenizer t("a||b", "|");
  ASSERT_TRUE(t.HasMore());
  EXPECT_EQ(t.Next(), "a");
  ASSERT_TRUE(t.HasMore());
  EXPECT_EQ(t.Next(), "");
  ASSERT_TRUE(t.HasMore());
  EXPECT_EQ(t.Next(), "b");
  EXPECT_FALSE(t.HasMore());
}

TEST(TokenizerTest, CarriageReturnsAreRemovedAndTrailingDelimiterAddsNoToken) {
  Tokenizer t("a\r\nb\r\n", "\n");
  EXPECT_EQ(AllTokens(t), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(t.HasMore());
}

TEST(TokenizerTest, CarriageReturnsInsideTokensAreRemovedToo) {
  Tokenizer t("x\ry|\rz\r", "|");
  EXPECT_EQ(AllTokens(t), (std::vector<std::string>{"xy", "z"}));
}

TEST(TokenizerTest, BeyondTheEndGivesEmptyStrings) {
  Tokenizer t("only", ",");
  EXPECT_EQ(t.Next(), "only");
  EXPECT_FALSE(t.HasMore());
  EXPECT_EQ(t.Next(), "");
  EXPECT_EQ(t.Next(), "");
  EXPECT_FALSE(t.HasMore());
}

TEST(TokenizerTest, EmptyTextHasNoTokens) {
  Tokenizer t("", "\n");
  EXPECT_FALSE(t.HasMore());
  EXPECT_EQ(t.Next(), "");
  Tokenizer onlyReturns("\r\r\r", "\n");
  EXPECT_FALSE(onlyReturns.HasMore());
}

TEST(TokenizerTest, LeadingDelimiterGivesEmptyFirstToken) {
  Tokenizer t("|a", "|");
  EXPECT_EQ(AllTokens(t), (std::vector<std::string>{"", "a"}));
  Tokenizer single("|", "|");
  EXPECT_EQ(AllTokens(single), (std::vector<std::string>{""}));
}

TEST(TokenizerTest, AnyCharacterOfTheSetDelimits) {
  Tokenizer t("a,b;c,,d", ",;");
  EXPECT_EQ(AllTokens(t), (std::vector<std::string>{"a", "b", "c", "", "d"}));
}

TEST(TokenizerTest, WithoutDelimiterTheWholeTextIsOneToken) {
  Tokenizer t("no delimiter here", "|");
  EXPECT_EQ(AllTokens(t), (std::vector<std::string>{"no delimiter here"}));
  Tokenizer emptySet("a|b", "");
  EXPECT_EQ(AllTokens(emptySet), (std::vector<std::string>{"a|b"}));
}

TEST(TokenizerTest, HasMoreDoesNotConsume) {
  Tokenizer t("a|b", "|");
  EXPECT_TRUE(t.HasMore());
  EXPECT_TRUE(t.HasMore());
  EXPECT_EQ(t.Next(), "a");
  EXPECT_TRUE(t.HasMore());
  EXPECT_EQ(t.Next(), "b");
}

TEST(TokenizerTest, NextWithoutHasMoreWorks) {
  Tokenizer t("a|b|", "|");
  EXPECT_EQ(t.Next(), "a");
  EXPECT_EQ(t.Next(), "b");
  EXPECT_EQ(t.Next(), "");
  EXPECT_EQ(t.Token(), "b");
}

TEST(TokenizerTest, ResetStartsOverAndEmptiesToken) {
  Tokenizer t("a|b", "|");
  EXPECT_EQ(t.Next(), "a");
  EXPECT_EQ(t.Token(), "a");
  t.Reset("1,2\r\n3", ",\n");
  EXPECT_EQ(t.Token(), "");
  EXPECT_EQ(AllTokens(t), (std::vector<std::string>{"1", "2", "3"}));
}

TEST(TokenizerTest, KeepsHighBytesAndZeroBytes) {
  std::string text("caf\xE9|a\0b", 8);
  Tokenizer t(text, "|");
  EXPECT_EQ(t.Next(), "caf\xE9");
  EXPECT_EQ(t.Next(), std::string("a\0b", 3));
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
  EXPECT_EQ(t.Next(), "");
}

}  // namespace
}  // namespace hhsync
