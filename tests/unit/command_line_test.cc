// Command lines: quoting one argument so that splitting gives it back, and
// the program name found among blanks the way the desktop finds it.

#include "base/command_line.h"

#include <gtest/gtest.h>

#include <set>

namespace hhsync {
namespace {

using V = std::vector<std::string>;

TEST(CommandLineTest, SplittingFollowsTheDesktopsQuotingRules) {
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\b.exe\" -x  \"a b\" c"),
            (V{"C:\\Program Files\\b.exe", "-x", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\"b \"c\\\\\" d\\e"), (V{"p", "a\\\"b", "c\\", "d\\e"}));
  EXPECT_EQ(SplitCommandLine("  \t "), V{});
}

TEST(CommandLineTest, AQuotedArgumentSplitsBackToItself) {
  const std::string texts[] = {"plain",
                               "",
                               "a b",
                               "tab\there",
                               "say \"hi\"",
                               "trailing\\",
                               "dir with blank\\",
                               "back\\\\\"slash",
                               "http://h/p?m=a b&c#d",
                               "\"",
                               "\\\\server\\share\\x y.ini"};
  for (const std::string& text : texts) {
    const std::string line = "prog " + QuoteArgument(text) + " next";
    EXPECT_EQ(SplitCommandLine(line), (V{"prog", text, "next"})) << line;
  }
  EXPECT_EQ(QuoteArgument("/tmp/a.ini"), "/tmp/a.ini") << "nothing to quote, nothing added";
  EXPECT_EQ(QuoteArgument("/my dir/a.ini"), "\"/my dir/a.ini\"");
}

TEST(CommandLineTest, AnUnquotedProgramPathWithBlanksIsFoundByItsPrefixes) {
  std::set<std::string> programs = {"/opt/my dir/ceappmgr", "/usr/bin/x"};
  std::vector<std::string> asked;
  auto isProgram = [&](const std::string& candidate) {
    asked.push_back(candidate);
    return programs.count(candidate) != 0;
  };
  EXPECT_EQ(SplitCommandLine("/opt/my dir/ceappmgr /a.ini \"/b c.ini\"", isProgram),
            (V{"/opt/my dir/ceappmgr", "/a.ini", "/b c.ini"}));
  EXPECT_EQ(asked, (V{"/opt/my", "/opt/my dir/ceappmgr"})) << "shortest prefix first";

  // The shortest prefix that is a program wins; none at all: the first word.
  EXPECT_EQ(SplitCommandLine("/usr/bin/x y", isProgram), (V{"/usr/bin/x", "y"}));
  EXPECT_EQ(SplitCommandLine("/no such/prog arg", isProgram), (V{"/no", "such/prog", "arg"}));
  // A quoted name is taken as it stands.
  asked.clear();
  EXPECT_EQ(SplitCommandLine("\"/opt/my dir/ceappmgr\" z", isProgram),
            (V{"/opt/my dir/ceappmgr", "z"}));
  EXPECT_TRUE(asked.empty());
}

TEST(ProgramNameTest, CaptionIsTheFileNameWithoutItsExtensionAndTheLineIsTheArguments) {
  EXPECT_EQ(ProgramCaptionOf("/usr/bin/acme.sync"), "acme");
  EXPECT_EQ(ProgramCaptionOf("C:\\Program Files\\Acme\\NEWS.EXE"), "NEWS");
  EXPECT_EQ(ProgramCaptionOf("/opt/v1.2/hhsync"), "hhsync") << "a dot in a folder is no extension";
  EXPECT_EQ(ProgramCaptionOf("/opt/.hidden"), ".hidden");
  EXPECT_EQ(ProgramCaptionOf(""), "hhsync");

  const char* argv[] = {"hhsync", "-first", "a b", ""};
  EXPECT_EQ(JoinArguments(4, argv), "-first a b ");
  EXPECT_EQ(JoinArguments(1, argv), "");
}

}  // namespace
}  // namespace hhsync
