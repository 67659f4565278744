// Runs the real hhctl to make and show S.DAT files, and loads what it made
// with ConfigFile.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/config_file.h"
#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"
#include "support/process.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::RunResult;

class HhctlSdatTest : public ::testing::Test {
 protected:
  RunResult Sdat(std::vector<std::string> args) {
    args.insert(args.begin(), {HHCTL_BIN, "sdat"});
    return test::RunProcess(args);
  }
  // Writes a file in the directory and gives its path.
  std::string Input(const std::string& name, const std::string& bytes) {
    test::WriteFile(dir_.File(name), bytes);
    return dir_.File(name);
  }

  test::TempDir dir_;
  std::string out_ = dir_.File("S.DAT");
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

TEST_F(HhctlSdatTest, PackedEntriesAreListedAndLoadBack) {
  const std::string props = Input(
      "props",
      "# product settings\r\nname=Demo\r\nregistry=Software\\Co\\App\\\r\nexname=app.exe\r\n");
  const std::string bmp = Input("main.bmp", TinyBmp());
  const std::string text = Input("readme.txt", "caf\xE9 notes");
  RunResult pack = Sdat({"pack", out_, "--props", "sync.properties=" + props,
                         "--bitmap=main.bmp=" + bmp, "--text", "readme=" + text});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;

  RunResult list = Sdat({"list", out_});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  for (const char* line :
       {"3 entries\n", "\nsync.properties  property set (type 14)", "\n    name=Demo\n",
        "\n    exname=app.exe\n", "\nmain.bmp  bitmap (type 3)  62 bytes",
        "\nreadme  text (type 1)  10 bytes"}) {
    EXPECT_NE(list.out.find(line), std::string::npos) << line << " in\n" << list.out;
  }
  EXPECT_EQ(list.out.find("product settings"), std::string::npos) << list.out;

  EnvPaths paths(dir_.path());
  ScriptedUi ui;
  ConfigFile config(paths, ui);
  ASSERT_FALSE(config.LoadFailed());
  const PropertySet* set = config.GetPropertySet("sync.properties");
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->size(), 3u);
  EXPECT_EQ(set->Get("registry"), "Software\\Co\\App\\");
  const std::string tiny = TinyBmp();
  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(*config.GetBitmap("main.bmp"), std::vector<uint8_t>(tiny.begin(), tiny.end()));
  ASSERT_NE(config.GetText("readme"), nullptr);
  EXPECT_EQ(*config.GetText("readme"), "caf\xE9 notes");
}

TEST_F(HhctlSdatTest, ListShowsATruncatedDirectory) {
  const std::string text = Input("t", "hello");
  ASSERT_EQ(Sdat({"pack", out_, "--text", "a=" + text, "--text", "b=" + text}).exitCode, 0);
  const std::string image = test::ReadFile(out_);
  test::WriteFile(out_, image.substr(0, image.size() - 2));  // cuts into b's data
  RunResult list = Sdat({"list", out_});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("a  text (type 1)  5 bytes"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("b  text"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("ends inside entry 2"), std::string::npos) << list.out;
}

TEST_F(HhctlSdatTest, BadArgumentsExitWithTwoAndUnreadableInputWithOne) {
  const std::string text = Input("t", "x");
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"unpack", out_},
                                             {"pack"},
                                             {"pack", out_, "--props", text},
                                             {"pack", out_, "--text", "=" + text},
                                             {"pack", out_, "--text"},
                                             {"pack", out_, "--font", "a=" + text},
                                             {"list", out_, "extra"}}) {
    EXPECT_EQ(Sdat(args).exitCode, 2) << (args.empty() ? "(none)" : args.back());
  }

  const std::string missing = dir_.File("missing");
  RunResult pack = Sdat({"pack", out_, "--text", "a=" + missing});
  EXPECT_EQ(pack.exitCode, 1);
  EXPECT_NE(pack.err.find("missing"), std::string::npos) << pack.err;
  EXPECT_EQ(Sdat({"list", missing}).exitCode, 1);
  EXPECT_EQ(Sdat({"pack", out_, "--props", "p=" + Input("big", std::string(70000, 'x'))}).exitCode,
            1);
  EXPECT_FALSE(test::FileExists(out_));
}

}  // namespace
}  // namespace hhsync
