// Runs the real hhctl to pack and list ".edm" content data bodies.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/edm_body.h"
#include "support/process.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::BigEndian;
using test::EdmBody;
using test::RunResult;

class HhctlEdmTest : public ::testing::Test {
 protected:
  RunResult Edm(std::vector<std::string> args) {
    args.insert(args.begin(), {HHCTL_BIN, "edm"});
    return test::RunProcess(args);
  }
  // Writes a record file in the directory and gives its path.
  std::string Input(const std::string& name, const std::string& bytes) {
    test::WriteFile(dir_.File(name), bytes);
    return dir_.File(name);
  }

  test::TempDir dir_;
  std::string out_ = dir_.File("out.edm");
};

TEST_F(HhctlEdmTest, PackWritesCountAndLengthPrefixedRecordsThatListShows) {
  // Records whose bytes 4 to 7 give the length of their first part.
  const std::string a = "hdr0" + BigEndian(10) + "ab" + "second part";
  const std::string b = "hdr1" + BigEndian(8) + "xyz";
  RunResult r = Edm({"pack", out_, "--count", "2", Input("a", a), Input("b", b)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test::ReadFile(out_), EdmBody(2, {a, b}));
  r = Edm({"list", out_});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "count: 2\n"
            "record 0: length 21, first part 10\n"
            "record 1: length 11, first part 8\n"
            "records: 2\n");

  // A single record is whole: no first part.
  ASSERT_EQ(Edm({"pack", out_, "--count", "1", Input("a", "whole record")}).exitCode, 0);
  EXPECT_EQ(Edm({"list", out_}).out, "count: 1\nrecord 0: length 12\nrecords: 1\n");
  ASSERT_EQ(Edm({"pack", out_, "--count", "0"}).exitCode, 0);
  EXPECT_EQ(Edm({"list", out_}).out, "count: 0\nrecords: 0\n");
}

TEST_F(HhctlEdmTest, ListNotesOddCountsAndWhereATruncatedBodyEnds) {
  const std::string big(66001, 'r');
  RunResult r = Edm({"pack", out_, "--count", "5", Input("big", big), Input("s", "tiny")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test::ReadFile(out_), EdmBody(5, {big, "tiny"}));
  r = Edm({"list", out_});
  for (const char* line : {"record 0: length 66001, first part 1920103026\n",
                           "record 1: length 4, first part (record too short)\n",
                           "note: the count says 5 but 2 complete records follow"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  }

  const std::string whole = EdmBody(2, {"first record", "second record"});
  test::WriteFile(out_, whole.substr(0, whole.size() - 3));
  r = Edm({"list", out_});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("note: truncated: record 1 announces 13 bytes but only 10 follow"),
            std::string::npos)
      << r.out;
  test::WriteFile(out_, whole.substr(0, 4 + 4 + 12 + 2));
  r = Edm({"list", out_});
  EXPECT_NE(r.out.find("note: truncated: the length of record 1 is cut short: 2 of 4 bytes"),
            std::string::npos)
      << r.out;
}

TEST_F(HhctlEdmTest, BadArgumentsExitWithTwoAndUnreadableInputWithOne) {
  EXPECT_EQ(Edm({"pack", out_, Input("a", "r")}).exitCode, 2);  // no --count
  EXPECT_EQ(Edm({"frob"}).exitCode, 2);
  EXPECT_EQ(Edm({"pack", out_, "--count", "1", dir_.File("missing")}).exitCode, 1);
  EXPECT_EQ(Edm({"list", dir_.File("missing")}).exitCode, 1);
}

}  // namespace
}  // namespace hhsync
