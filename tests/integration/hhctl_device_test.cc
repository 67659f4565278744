// hhctl device, run as the real binary against a handheld image.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "support/process.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::RunResult;

class HhctlDeviceTest : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), HHCTL_BIN);
    return test::RunProcess(args, env);
  }
  RunResult Device(std::vector<std::string> args) {
    args.insert(args.begin(), {"device", "--image", image_});
    return Run(args);
  }

  test::TempDir dir_;
  std::string image_ = dir_.File("phone.db");
  FakeClock clock_;
};

TEST_F(HhctlDeviceTest, BuildsAHandheldAndDumpsIt) {
  ASSERT_EQ(Device({"init"}).exitCode, 0);
  EXPECT_EQ(Device({"init"}).exitCode, 1);
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

  {  // The handheld side makes a remote call on the same image.
    EmulatedHandheld h(image_, clock_);
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
  const nlohmann::json j = nlohmann::json::parse(dump.out);
  EXPECT_EQ(j["connected"], true);
  EXPECT_EQ(j["registry"]["Software\\Acme\\News\\dbp"], "news.vol");
  EXPECT_EQ(j["registry"]["Software\\Acme\\News\\sd6"].get<std::string>().rfind("SD6-", 0), 0u);
  EXPECT_EQ(j["libraries"], nlohmann::json::array({"zvdll"}));
  const auto& keep = j["volumes"]["news.vol"]["keep"];
  EXPECT_EQ(keep["sort"], nlohmann::json::array());
  ASSERT_EQ(keep["records"].size(), 1u);
  EXPECT_GT(keep["records"][0]["id"].get<int64_t>(), 0);
  EXPECT_EQ(keep["records"][0]["props"],
            (nlohmann::json{
                {"0x00640013", 5}, {"0x0065001F", "h\xC3\xA9llo"}, {"0x00660041", "00ff10"}}));
  EXPECT_EQ(j["calls"], (nlohmann::json::array({{{"library", "zvdll"},
                                                 {"function", "RAPIlaunchapp"},
                                                 {"input", "Software\\Acme\\News\\|news.exe|"}}})));

  RunResult human = Device({"dump"});
  EXPECT_EQ(human.exitCode, 0);
  EXPECT_NE(human.out.find("1 record"), std::string::npos) << human.out;

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

  EmulatedHandheld h(image_, clock_);
  RapiInit init;
  h.CeRapiInitEx(&init);
  EXPECT_EQ(h.WaitForInit(init, 5000), kWaitTimeout);
  ASSERT_EQ(Device({"connect"}).exitCode, 0);
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
  // A missing image: a message naming it, and no file made.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"dump", "--json"}, {"connect"}, {"volume", "create", "x.vol"}}) {
    RunResult r = Device(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_NE(r.err.find(image_), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  RunResult viaHome = Run({"device", "dump"}, {"HHSYNC_HOME=" + dir_.path()});
  EXPECT_EQ(viaHome.exitCode, 1);
  EXPECT_NE(viaHome.err.find(dir_.File("handheld.db")), std::string::npos) << viaHome.err;
  EXPECT_FALSE(test::FileExists(image_));
  EXPECT_FALSE(test::FileExists(dir_.File("handheld.db")));

  ASSERT_EQ(Device({"init"}).exitCode, 0);
  ASSERT_EQ(Device({"volume", "create", "news.vol"}).exitCode, 0);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"frobnicate"},
           {"reg", "set", "K"},
           {"record", "add", "news.vol", "keep", "--prop", "0x00640013=five"},
           {"record", "add", "news.vol", "keep", "--prop", "0x00640002=1"},
           {"record", "add", "news.vol", "keep", "--prop", "0x00660041=abc"},
           {"fault", "add", "CeNothing", "--nth", "1", "--error", "2"},
           {"fault", "add", "CeMountDBVol", "--nth", "0", "--error", "2"},
           {"dump", "--yaml"}}) {
    RunResult r = Device(args);
    EXPECT_EQ(r.exitCode, 2) << (args.empty() ? "(none)" : args.back());
    EXPECT_EQ(r.err.rfind("hhctl: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // None of them changed the image.
  const nlohmann::json j = nlohmann::json::parse(Device({"dump", "--json"}).out);
  EXPECT_EQ(j["volumes"]["news.vol"], nlohmann::json::object());
}

}  // namespace
}  // namespace hhsync
