// hhctl device, run as the real binary against a handheld image.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "support/process.h"

namespace hhsync {
namespace {

namespace fs = std::filesystem;

using test::RunProcess;
using test::RunResult;

class HhctlDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "hhctl_device_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    image_ = dir_ + "/phone.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs hhctl with the arguments; the environment is ours without the
  // HHSYNC_ variables, plus `env`.
  RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {HHCTL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, env);
  }

  RunResult Device(std::vector<std::string> args) {
    args.insert(args.begin(), {"device", "--image", image_});
    return Run(args);
  }

  std::string dir_;
  std::string image_;
};

TEST_F(HhctlDeviceTest, BuildsAHandheldAndDumpsIt) {
  ASSERT_EQ(Device({"init"}).exitCode, 0);
  RunResult again = Device({"init"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("exists"), std::string::npos);

  ASSERT_EQ(Device({"volume", "create", "news.vol"}).exitCode, 0);
  ASSERT_EQ(Device({"reg", "set", "Software\\Acme\\News\\dbp", "news.vol"}).exitCode, 0);
  ASSERT_EQ(Device({"library", "install", "zvdll"}).exitCode, 0);
  RunResult add = Device({"record", "add", "news.vol", "keep", "--prop", "0x00640013=5", "--prop",
                          "0x0065001F=h\xC3\xA9llo", "--prop", "0x00660041=00Ff10"});
  ASSERT_EQ(add.exitCode, 0) << add.err;

  RunResult get = Device({"reg", "get", "SOFTWARE\\acme\\news\\DBP"});
  EXPECT_EQ(get.exitCode, 0);
  EXPECT_EQ(get.out, "news.vol\n");
  RunResult absent = Device({"reg", "get", "Software\\Acme\\News\\sd6"});
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_EQ(absent.out, "");

  // The image is the one the handheld side sees.
  {
    FakeClock clock;
    EmulatedHandheld h(image_, clock);
    RapiInit init;
    h.CeRapiInitEx(&init);
    ASSERT_EQ(h.WaitForInit(init, 0), kWaitObject0);
    uint32_t outSize = 10;
    std::vector<uint8_t> out;
    EXPECT_EQ(h.CeRapiInvoke(u"zvdll", u"RAPIlaunchapp", "Software\\Acme\\News\\|news.exe|",
                             &outSize, &out),
              0);
  }

  RunResult dump = Device({"dump", "--json"});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  nlohmann::json j = nlohmann::json::parse(dump.out);
  EXPECT_EQ(j["connected"], true);
  EXPECT_EQ(j["registry"]["Software\\Acme\\News\\dbp"], "news.vol");
  std::string sd6 = j["registry"]["Software\\Acme\\News\\sd6"].get<std::string>();
  EXPECT_EQ(sd6.rfind("SD6-", 0), 0u);
  EXPECT_EQ(j["libraries"], nlohmann::json::array({"zvdll"}));
  const auto& keep = j["volumes"]["news.vol"]["keep"];
  EXPECT_EQ(keep["sort"], nlohmann::json::array());
  ASSERT_EQ(keep["records"].size(), 1u);
  EXPECT_GT(keep["records"][0]["id"].get<int64_t>(), 0);
  const auto& props = keep["records"][0]["props"];
  EXPECT_EQ(props["0x00640013"], 5);
  EXPECT_EQ(props["0x0065001F"], "h\xC3\xA9llo");
  EXPECT_EQ(props["0x00660041"], "00ff10");
  ASSERT_EQ(j["calls"].size(), 1u);
  EXPECT_EQ(j["calls"][0]["function"], "RAPIlaunchapp");
  EXPECT_EQ(j["calls"][0]["input"], "Software\\Acme\\News\\|news.exe|");

  RunResult human = Device({"dump"});
  EXPECT_EQ(human.exitCode, 0);
  EXPECT_NE(human.out.find("news.vol"), std::string::npos);
  EXPECT_NE(human.out.find("1 record"), std::string::npos);

  // The default image comes from the environment.
  RunResult viaEnv =
      Run({"device", "reg", "get", "Software\\Acme\\News\\dbp"}, {"HHSYNC_DEVICE=" + image_});
  EXPECT_EQ(viaEnv.out, "news.vol\n");
}

TEST_F(HhctlDeviceTest, DisconnectAndFaultsReachTheHandheldSide) {
  ASSERT_EQ(Device({"init"}).exitCode, 0);
  ASSERT_EQ(Device({"volume", "create", "news.vol"}).exitCode, 0);
  ASSERT_EQ(Device({"fault", "add", "CeMountDBVol", "--nth", "2", "--error", "112"}).exitCode, 0);
  ASSERT_EQ(Device({"disconnect"}).exitCode, 0);

  FakeClock clock;
  {
    EmulatedHandheld h(image_, clock);
    RapiInit init;
    h.CeRapiInitEx(&init);
    EXPECT_EQ(h.WaitForInit(init, 5000), kWaitTimeout);
    EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{5000});
  }
  ASSERT_EQ(Device({"connect"}).exitCode, 0);
  EmulatedHandheld h(image_, clock);
  RapiInit init;
  h.CeRapiInitEx(&init);
  EXPECT_EQ(h.WaitForInit(init, 5000), kWaitObject0);
  CeGuid g1, g2;
  EXPECT_TRUE(h.CeMountDBVol(&g1, u"news.vol", kOpenExisting));
  EXPECT_FALSE(h.CeMountDBVol(&g2, u"news.vol", kOpenExisting));
  EXPECT_EQ(h.CeGetLastError(), ce_error::kDiskFull);
  ASSERT_EQ(Device({"fault", "clear"}).exitCode, 0);
  EXPECT_FALSE(h.CeMountDBVol(&g2, u"news.vol", kOpenExisting));
  EXPECT_EQ(h.CeGetLastError(), ce_error::kAlreadyExists);
}

TEST_F(HhctlDeviceTest, RefusesBadArgumentsAndMissingImages) {
  // A missing image: a clear message, and no file made.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"dump", "--json"}, {"connect"}, {"volume", "create", "x.vol"}, {"reg", "list"}}) {
    RunResult r = Device(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_NE(r.err.find(image_), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  RunResult viaHome = Run({"device", "dump"}, {"HHSYNC_HOME=" + dir_});
  EXPECT_EQ(viaHome.exitCode, 1);
  EXPECT_NE(viaHome.err.find(dir_ + "/handheld.db"), std::string::npos) << viaHome.err;
  EXPECT_FALSE(fs::exists(image_));
  EXPECT_FALSE(fs::exists(dir_ + "/handheld.db"));

  ASSERT_EQ(Device({"init"}).exitCode, 0);
  ASSERT_EQ(Device({"volume", "create", "news.vol"}).exitCode, 0);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"frobnicate"},
           {"reg", "get"},
           {"reg", "set", "K"},
           {"volume", "create"},
           {"record", "add", "news.vol", "keep"},
           {"record", "add", "news.vol", "keep", "--prop", "0x00640013=five"},
           {"record", "add", "news.vol", "keep", "--prop", "0x00640002=1"},
           {"record", "add", "news.vol", "keep", "--prop", "0x00660041=abc"},
           {"record", "add", "news.vol", "keep", "--prop", "zz=1"},
           {"fault", "add", "CeMountDBVol", "--nth", "1"},
           {"fault", "add", "CeNothing", "--nth", "1", "--error", "2"},
           {"fault", "add", "CeMountDBVol", "--nth", "0", "--error", "2"},
           {"dump", "--yaml"}}) {
    RunResult r = Device(args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "(none)" : args.back());
    EXPECT_EQ(r.err.rfind("hhctl: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // None of them changed the image.
  RunResult dump = Device({"dump", "--json"});
  nlohmann::json j = nlohmann::json::parse(dump.out);
  EXPECT_EQ(j["volumes"]["news.vol"], nlohmann::json::object());
}

}  // namespace
}  // namespace hhsync
