// Runs the real hhctl to pack and list ".edm" content data bodies.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/reference_server_fixture.h"

namespace hhsync {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;
  std::string out;  // standard output and standard error together
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

RunResult Hhctl(const std::vector<std::string>& args) {
  std::string cmd = Quote(HHCTL_BIN);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " 2>&1";
  RunResult r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = ::pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class HhctlEdmTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string dir_ = test::MakeFixtureDir("hhsync_edm_");
};

std::string BigEndian(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>((v >> 16) & 0xFF),
                     static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

TEST_F(HhctlEdmTest, PackWritesCountAndLengthPrefixedRecordsThatListShows) {
  // Records whose bytes 4 to 7 give the length of their first part.
  std::string a = "hdr0" + BigEndian(10) + "ab" + "second part";
  std::string b = "hdr1" + BigEndian(8) + "xyz";
  std::string out = dir_ + "/2.edm";
  RunResult r = Hhctl({"edm", "pack", out, "--count", "2", Write("a", a), Write("b", b)});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Read(out), BigEndian(2) + BigEndian(static_cast<uint32_t>(a.size())) + a +
                           BigEndian(static_cast<uint32_t>(b.size())) + b);

  r = Hhctl({"edm", "list", out});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(r.out,
            "count: 2\n"
            "record 0: length 21, first part 10\n"
            "record 1: length 11, first part 8\n"
            "records: 2\n");
}

TEST_F(HhctlEdmTest, ASingleRecordIsListedWithoutAFirstPart) {
  std::string out = dir_ + "/1.edm";
  ASSERT_EQ(Hhctl({"edm", "pack", out, "--count", "1", Write("a", "whole record")}).exitCode, 0);
  RunResult r = Hhctl({"edm", "list", out});
  EXPECT_EQ(r.out, "count: 1\nrecord 0: length 12\nrecords: 1\n");
}

TEST_F(HhctlEdmTest, OddCountsAndOversizedRecordsArePackedAsAsked) {
  std::string big(66001, 'r');
  std::string out = dir_ + "/odd.edm";
  RunResult r = Hhctl({"edm", "pack", out, "--count", "5", Write("big", big), Write("s", "tiny")});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(Read(out).substr(0, 8), BigEndian(5) + BigEndian(66001));
  EXPECT_EQ(Read(out).size(), 4u + 4 + 66001 + 4 + 4);
  r = Hhctl({"edm", "list", out});
  EXPECT_NE(r.out.find("count: 5\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("record 0: length 66001, first part 1920103026\n"), std::string::npos);
  EXPECT_NE(r.out.find("record 1: length 4, first part (record too short)\n"), std::string::npos);
  EXPECT_NE(r.out.find("note: the count says 5 but 2 complete records follow"), std::string::npos);

  ASSERT_EQ(Hhctl({"edm", "pack", out, "--count", "0"}).exitCode, 0);
  EXPECT_EQ(Read(out), BigEndian(0));
  EXPECT_EQ(Hhctl({"edm", "list", out}).out, "count: 0\nrecords: 0\n");
}

TEST_F(HhctlEdmTest, ListNamesWhereATruncatedBodyEnds) {
  std::string out = dir_ + "/cut.edm";
  ASSERT_EQ(Hhctl({"edm", "pack", out, "--count", "2", Write("a", "first record"),
                   Write("b", "second record")})
                .exitCode,
            0);
  std::string whole = Read(out);
  Write("cut.edm", whole.substr(0, whole.size() - 3));
  RunResult r = Hhctl({"edm", "list", out});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("record 0: length 12"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("note: truncated: record 1 announces 13 bytes but only 10 follow"),
            std::string::npos)
      << r.out;

  Write("cut.edm", whole.substr(0, 4 + 4 + 12 + 2));
  r = Hhctl({"edm", "list", out});
  EXPECT_NE(r.out.find("note: truncated: the length of record 1 is cut short: 2 of 4 bytes"),
            std::string::npos)
      << r.out;
}

TEST_F(HhctlEdmTest, BadArgumentsAreRefused) {
  EXPECT_EQ(Hhctl({"edm", "pack", dir_ + "/x.edm", Write("a", "r")}).exitCode, 2);  // no --count
  EXPECT_EQ(Hhctl({"edm", "pack", dir_ + "/x.edm", "--count", "1", dir_ + "/missing"}).exitCode, 1);
  EXPECT_EQ(Hhctl({"edm", "list", dir_ + "/missing"}).exitCode, 1);
  EXPECT_EQ(Hhctl({"edm", "frob"}).exitCode, 2);
}

}  // namespace
}  // namespace hhsync
