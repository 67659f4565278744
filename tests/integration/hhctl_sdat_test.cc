// Runs the real hhctl to make and show S.DAT files, and loads what it made
// with ConfigFile.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"

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

class HhctlSdatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("hhsync_sdat_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    fs::path p = dir_ / name;
    std::ofstream out(p, std::ios::binary);
    out << bytes;
    return p.string();
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
};

// A 2x1 24-bit BMP file image: 54 header bytes and one padded row.
std::string TinyBmp() {
  std::string b = "BM";
  b += std::string("\x3E\0\0\0", 4);  // file size 62
  b += std::string(4, '\0');
  b += std::string("\x36\0\0\0", 4);  // pixels at 54
  b += std::string("\x28\0\0\0", 4);  // info header size 40
  b += std::string("\x02\0\0\0\x01\0\0\0\x01\0\x18\0", 12);
  b += std::string(24, '\0');
  b += std::string("\xFF\0\0\0\xFF\0\0\0", 8);
  return b;
}

TEST_F(HhctlSdatTest, PackListAndLoad) {
  std::string props = Write(
      "sync.txt.props",
      "# product settings\r\nname=Demo\r\nregistry=Software\\Co\\App\\\r\nexname=app.exe\r\n");
  std::string bmp = Write("main.bmp", TinyBmp());
  std::string text = Write("readme.txt", "caf\xE9 notes");
  std::string out = (dir_ / "S.DAT").string();

  RunResult pack = Hhctl({"sdat", "pack", out, "--props", "sync.properties=" + props,
                          "--bitmap=main.bmp=" + bmp, "--text", "readme=" + text});
  ASSERT_EQ(pack.exitCode, 0) << pack.out;

  // The file's own layout: first byte 0, three entries in argument order.
  std::string image = Read("S.DAT");
  ASSERT_GE(image.size(), 5u);
  EXPECT_EQ(image[0], '\0');
  std::vector<uint8_t> bytes(image.begin(), image.end());
  SdatDirectory dir = ReadSdatDirectory(bytes);
  ASSERT_TRUE(dir.complete);
  ASSERT_EQ(dir.count, 3u);
  ASSERT_EQ(dir.records.size(), 3u);
  EXPECT_EQ(dir.records[0].name, "sync.properties");
  EXPECT_EQ(dir.records[0].type, 14);
  EXPECT_EQ(dir.records[1].name, "main.bmp");
  EXPECT_EQ(dir.records[1].type, 3);
  EXPECT_EQ(dir.records[2].name, "readme");
  EXPECT_EQ(dir.records[2].type, 1);
  EXPECT_EQ(dir.records[2].length, 10);

  RunResult list = Hhctl({"sdat", "list", out});
  ASSERT_EQ(list.exitCode, 0) << list.out;
  EXPECT_NE(list.out.find("3 entries"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("sync.properties  property set (type 14)"), std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("    name=Demo\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("    exname=app.exe\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("product settings"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("main.bmp  bitmap (type 3)  62 bytes"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("readme  text (type 1)  10 bytes"), std::string::npos) << list.out;

  EnvPaths paths(dir_.string());
  ScriptedUi ui;
  ConfigFile config(paths, ui);
  ASSERT_FALSE(config.LoadFailed());
  const PropertySet* set = config.GetPropertySet("sync.properties");
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->Get("name"), "Demo");
  EXPECT_EQ(set->Get("registry"), "Software\\Co\\App\\");
  EXPECT_EQ(set->size(), 3u);
  const std::vector<uint8_t>* bitmap = config.GetBitmap("main.bmp");
  ASSERT_NE(bitmap, nullptr);
  std::string tiny = TinyBmp();
  EXPECT_EQ(*bitmap, std::vector<uint8_t>(tiny.begin(), tiny.end()));
  ASSERT_NE(config.GetText("readme"), nullptr);
  EXPECT_EQ(*config.GetText("readme"), "caf\xE9 notes");
}

TEST_F(HhctlSdatTest, PackWithoutEntriesMakesAnEmptyArchive) {
  std::string out = (dir_ / "S.DAT").string();
  RunResult pack = Hhctl({"sdat", "pack", out});
  ASSERT_EQ(pack.exitCode, 0) << pack.out;
  EXPECT_EQ(Read("S.DAT"), std::string(5, '\0'));
  RunResult list = Hhctl({"sdat", "list", out});
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_NE(list.out.find("0 entries"), std::string::npos) << list.out;
}

TEST_F(HhctlSdatTest, ListShowsATruncatedDirectory) {
  std::string text = Write("t", "hello");
  std::string out = (dir_ / "S.DAT").string();
  ASSERT_EQ(Hhctl({"sdat", "pack", out, "--text", "a=" + text, "--text", "b=" + text}).exitCode, 0);
  std::string image = Read("S.DAT");
  Write("S.DAT", image.substr(0, image.size() - 2));  // cuts into b's data
  RunResult list = Hhctl({"sdat", "list", out});
  EXPECT_EQ(list.exitCode, 0) << list.out;
  EXPECT_NE(list.out.find("a  text (type 1)  5 bytes"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("b  text"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("ends inside entry 2"), std::string::npos) << list.out;
}

TEST_F(HhctlSdatTest, BadArgumentsExitWithTwo) {
  std::string text = Write("t", "x");
  std::string out = (dir_ / "S.DAT").string();
  EXPECT_EQ(Hhctl({"sdat"}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "unpack", out}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "pack"}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "pack", out, "--props", text}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "pack", out, "--text", "=" + text}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "pack", out, "--text", "name="}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "pack", out, "--text"}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "pack", out, "--font", "a=" + text}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "list"}).exitCode, 2);
  EXPECT_EQ(Hhctl({"sdat", "list", out, "extra"}).exitCode, 2);
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(HhctlSdatTest, UnreadableInputExitsWithOne) {
  std::string out = (dir_ / "S.DAT").string();
  RunResult pack = Hhctl({"sdat", "pack", out, "--text", "a=" + (dir_ / "missing").string()});
  EXPECT_EQ(pack.exitCode, 1);
  EXPECT_NE(pack.out.find("missing"), std::string::npos) << pack.out;
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(Hhctl({"sdat", "list", (dir_ / "missing").string()}).exitCode, 1);
  EXPECT_EQ(Hhctl({"sdat", "pack", out, "--text", "a=" + dir_.string()}).exitCode, 1);
  std::string big = Write("big", std::string(70000, 'x'));
  EXPECT_EQ(Hhctl({"sdat", "pack", out, "--props", "p=" + big}).exitCode, 1);
}

}  // namespace
}  // namespace hhsync
