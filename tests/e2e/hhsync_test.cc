// The real hhsync binary in each of its modes: the reference server on
// loopback, an emulated handheld and a registry store in a temporary program
// directory, a recorder program as the page opener and as the CE
// application manager.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/linux/directory_lock.h"
#include "platform/sqlite/sqlite_registry.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"
#include "support/edm_body.h"
#include "support/processes.h"
#include "support/raw_server.h"

namespace hhsync {
namespace {

using test::Bytes;
using test::EdmBody;
using test::RunResult;
using test::SplitRecord;

constexpr const char* kReg = "Software\\Acme\\News\\";
constexpr const char* kProps =
    "name=Acme News\nregistry=Software\\Acme\\News\\\nexname=news.exe\npartner=acme\n"
    "product=news\n";

class HhsyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    std::string err;
    ASSERT_TRUE(p_.handheld().CreateVolume("news.vol", &err));
    ASSERT_TRUE(p_.handheld().InstallLibrary("zvdll", &err));
    SetDevice("baseurl", server_.BaseUrl());
    SetDevice("dbp", "news.vol");
    SetDevice("loginurl", "http://login.test/page");
    test::WriteSdat(File("S.DAT"), kProps);

    // One program records every start: as the page opener and as the
    // application manager.
    test::WriteFile(recorder_,
                    "#!/bin/sh\n{ printf '%s' \"$0\"; for a in \"$@\"; do printf ' [%s]' "
                    "\"$a\"; done; echo; } >> '" +
                        File("started.txt") + "'\n");
    chmod(recorder_.c_str(), 0755);
    desktop_.CreateKey(RegRoot::kLocalMachine, kAppManagerKey);
    desktop_.SetValue(RegRoot::kLocalMachine, kAppManagerKey, "", RegValue::String(recorder_));
    RegistryKey(desktop_, kReg).Set("log", "YES");

    server_.WriteFile("profile.txt",
                      "OK\n2\nnews|3|0\nsport|1|0\n3\nHeadline A|101|a3|a4|1|news|a7\n"
                      "Headline B|102|b3|b4|2|news|b7\nMatch|201|m3|m4|5|sport|m7\n");
    server_.WriteFile("data/101/1.edm", EdmBody(1, {Bytes(10, 'a')}));
    server_.WriteFile("data/102/2.edm", EdmBody(3, {SplitRecord(12, 20, 'b'),
                                                    SplitRecord(9, 30, 'c'), SplitRecord(8, 8)}));
    server_.WriteFile("data/201/5.edm", EdmBody(2, {SplitRecord(10, 16, 'e')}));
    server_.WriteFile("resources.txt",
                      "OK\nlist\n1|CAB|r1|app.cab\n2|INI|r1|setup.ini\n3|DAT|r1|x\n");
    server_.WriteFile("resources/1", "cab-bytes");
    server_.WriteFile("resources/2", "[ini]\r\n");
    server_.WriteFile("resources/3", "data-resource");
  }
  std::string File(const std::string& name) const { return p_.dir().File(name); }
  void SetDevice(const std::string& name, const std::string& value) {
    p_.SetDevice(kReg + name, value);
  }
  std::optional<std::string> Device(const std::string& name) { return p_.Device(kReg + name); }
  void AddKeep(uint32_t v100, const std::u16string& t101) {
    p_.AddRecord("news.vol", "keep",
                 {CePropVal::Ui4(0x00640013, v100), CePropVal::Text(0x0065001F, t101),
                  CePropVal::Text(0x0067001F, u"t103"), CePropVal::Text(0x0068001F, u"t104"),
                  CePropVal::Text(0x0069001F, u"t105")});
  }
  RunResult Hhsync(const std::string& mode = "") {
    std::vector<std::string> argv = {HHSYNC_BIN};
    if (!mode.empty()) argv.push_back(mode);
    return test::RunProcess(
        argv, {"HHSYNC_HOME=" + p_.dir().path(), "HHSYNC_UI=none", "HHSYNC_OPEN=" + recorder_});
  }
  // The records in the handheld's database of that name; -1 when it is missing.
  int Count(const std::string& name) {
    const HandheldDump dump = p_.Dump();
    for (const auto& db : dump.volumes.at(0).databases) {
      if (db.name == name) return static_cast<int>(db.records.size());
    }
    return -1;
  }
  std::vector<std::string> Paths() {
    std::vector<std::string> out;
    for (const auto& r : server_.RequestLog()) out.push_back(r["path"]);
    return out;
  }
  uint32_t LastSync() {
    auto lst = desktop_.Query(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst");
    return lst ? lst->AsDword() : 0;
  }
  // What the recorder was started with, one line a start. Pages open without
  // waiting for the opener, so a start may land just after the run ended:
  // this waits (up to 10 s) until at least count starts are there.
  std::vector<std::string> Started(std::size_t count = 0) {
    std::vector<std::string> lines;
    for (int i = 0; i < 400; ++i) {
      lines.clear();
      std::istringstream in(test::ReadFile(File("started.txt")));
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (lines.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return lines;
  }
  bool WasStarted(const std::string& args) {
    for (int i = 0; i < 400; ++i) {
      auto started = Started();
      if (std::find(started.begin(), started.end(), recorder_ + " " + args) != started.end()) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }

  test::TestPlatform p_;  // its handheld is the image the program uses
  SqliteRegistry desktop_{File("registry.db")};
  test::ReferenceServerProcess server_;
  std::string recorder_ = File("recorder");
};

TEST_F(HhsyncTest, OrdinarySyncBringsCategoriesContentAndResources) {
  AddKeep(7, u"m:page");
  SetDevice("ni", "NO");
  EXPECT_EQ(Hhsync().err, "");

  EXPECT_EQ(Count("cats"), 2);
  EXPECT_EQ(Count("c_news"), 2);
  EXPECT_EQ(Count("J102"), 3);
  EXPECT_EQ(Count("J101"), -1) << "a single record lives in its index record";
  EXPECT_EQ(Count("keep"), -1) << "posted and deleted after the OK";
  EXPECT_EQ(Count("zavRes"), 3);
  EXPECT_EQ(test::ReadFile(File("app.cab")), "cab-byt") << "a short last read loses two bytes";
  EXPECT_EQ(server_.ReadFile("keep-received.txt"),
            "p=acme&count=1&keep=7|t104|m:page|t105|t103|\n");
  EXPECT_EQ(Started(2), (std::vector<std::string>{recorder_ + " [" + File("setup.ini") + "]",
                                                  recorder_ + " [http://login.test/page?m=no]"}));
  EXPECT_NE(LastSync(), 0u);
  EXPECT_EQ(Device("ni"), "NO");
}

TEST_F(HhsyncTest, FirstRunHandshakeClearsNiAndOpensTheFirstRunPage) {
  SetDevice("ni", "YES");
  SetDevice("dbpok", "OK");
  SetDevice("dllok", "ok");
  SetDevice("furl", "http://first.test/welcome");
  EXPECT_EQ(Hhsync("-first").err, "");
  EXPECT_EQ(Device("dbpok"), "DONE");
  EXPECT_EQ(Device("dllok"), "DONE");
  EXPECT_EQ(Device("ni"), "NO");
  EXPECT_TRUE(WasStarted("[http://first.test/welcome]"));
  EXPECT_NE(LastSync(), 0u);
}

TEST_F(HhsyncTest, NotYetDueOnlyPostsPageRequestsAndOpensTheBrowser) {
  RegistryKey(desktop_, kReg).Set("tu", "24");
  desktop_.CreateKey(RegRoot::kLocalMachine, "Software\\Acme\\News");
  desktop_.SetValue(RegRoot::kLocalMachine, "Software\\Acme\\News", "lst",
                    RegValue::Dword(static_cast<uint32_t>(time(nullptr) - 12 * 3600)));
  const uint32_t before = LastSync();
  // Without keep entries the run ends at once.
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_TRUE(Paths().empty());
  EXPECT_FALSE(test::FileExists(File("sync.txt"))) << "no progress dialog, no log";

  AddKeep(1, u"m:one");
  AddKeep(2, u"m:two");
  server_.WriteFile("keep-reply.txt", "OK\nhello\n");
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/zavrik/update/keep"}));
  EXPECT_EQ(Started(1),
            (std::vector<std::string>{recorder_ + " [http://login.test/page?m=hello]"}));
  EXPECT_EQ(LastSync(), before);
  EXPECT_EQ(Count("keep"), -1);
}

TEST_F(HhsyncTest, FailedContentStepLeavesBookkeepingAndFailedPostKeepsEntries) {
  SetDevice("ni", "YES");
  server_.WriteFile("keep-reply.txt", "FAIL\n");
  AddKeep(9, u"x");
  // The six resource records go in; every handheld write after them fails.
  p_.AddFault("CeWriteRecordProps", 7, true, 87);
  RunResult failed = Hhsync();
  EXPECT_NE(failed.err.find("hhsync: message: Unable to write category, please sync again."),
            std::string::npos)
      << failed.err;
  EXPECT_EQ(LastSync(), 0u);
  EXPECT_EQ(Device("ni"), "YES");
  EXPECT_EQ(Count("keep"), 1) << "entries stay after a failed post";
  EXPECT_EQ(Count("zavRes"), 3);
  // The browser still opens, with an empty message, after a failed post.
  EXPECT_TRUE(WasStarted("[http://login.test/page?m=]"));

  // The handheld takes writes again, but the resource list brings no change:
  // the sync is complete on the handheld yet not recorded.
  p_.ClearFaults();
  server_.WriteFile("keep-reply.txt", "OK\n");
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_EQ(LastSync(), 0u);

  // A changed resource makes the next sync complete.
  server_.WriteFile("resources.txt",
                    "OK\nlist\n1|CAB|r2|app.cab\n2|INI|r1|setup.ini\n3|DAT|r1|x\n");
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_NE(LastSync(), 0u);
  EXPECT_EQ(Device("ni"), "NO");
}

TEST_F(HhsyncTest, NoHandheldEndsAfterTheWaitAndFirstRunSaysSo) {
  std::string err;
  ASSERT_TRUE(p_.handheld().SetConnected(false, &err));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5000));
  EXPECT_EQ(Hhsync("-first").err,
            "hhsync: message: Unable to connect to Handheld device\\nIf this was a new Install, "
            "you will need to re-run\\nthis install with the device connected. [ok] -> ok\n");
  EXPECT_TRUE(Paths().empty());
}

TEST_F(HhsyncTest, TestModeReportsTheCompanionLibrary) {
  EXPECT_EQ(Hhsync("-test").err, "hhsync: message: All OK: result= 0,0 [ok] -> ok\n");
  std::string err;
  ASSERT_TRUE(p_.handheld().RemoveLibrary("zvdll", &err));
  RunResult missing = Hhsync("-test");
  EXPECT_EQ(missing.exitCode, 0);
  EXPECT_EQ(missing.err, "hhsync: message: Dll File Not found on handheld [ok] -> ok\n");
}

TEST_F(HhsyncTest, ConfigurationStoresFrequencyOrTouchesNothingWithoutSdat) {
  const auto before = static_cast<uint32_t>(time(nullptr));
  EXPECT_EQ(Hhsync("-config").err, "");
  EXPECT_EQ(RegistryKey(desktop_, kReg).Get("tu", ""), "0");
  EXPECT_GE(LastSync(), before);
  EXPECT_EQ(Device("pv"), std::nullopt) << "the configuration mode never reads the handheld";

  std::remove(File("S.DAT").c_str());
  std::remove(File("registry.db").c_str());
  EXPECT_EQ(Hhsync("-config").err,
            "hhsync: message: Unable to open configuration file. [ok] -> ok\n");
  EXPECT_FALSE(test::FileExists(File("registry.db")));
}

TEST_F(HhsyncTest, BlanksAmpersandsAndHashesGoOutAsBuiltAndTheSyncSucceeds) {
  test::WriteSdat(File("S.DAT"),
                  "name=Acme News\nregistry=Software\\Acme\\News\\\nexname=news.exe\n"
                  "partner=ac me&#1\nproduct=n ews\n");
  SetDevice("sd6", "s d&6#");
  server_.WriteFile("profile.txt", "OK\n1\nnews|3|0\n1\nHeadline|1 0#1&|a|b|v 1#&|news|c\n");
  server_.WriteFile("data/1 0#1&/v 1#&.edm", test::EdmBody(1, {Bytes(10, 'a')}));
  server_.WriteFile("resources.txt", "OK\nlist\n7|DAT|r1|x\n");
  server_.WriteFile("resources/7", "seven");
  EXPECT_EQ(Hhsync().err, "");

  std::vector<std::string> lines;
  for (const auto& request : server_.RequestLog()) {
    std::string head = request["head"];
    lines.push_back(head.substr(0, head.find("\r\n")));
  }
  const std::string resource =
      "/zavrik/update/resource?pl=ce&x=SD6&p=ac me&#1&ver=2.86&pv=2.87&u=0&su=|s d&6#&pr=n ews&dt=";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "GET /zavrik/update/profile?su=|s d&6#&p=ac me&#1&pl=ce&ver=2.86&pv=2.87"
                       "&u=0&pr=n ews&dt=&nrr=0 HTTP/1.0",
                       "GET " + resource + " HTTP/1.0", "GET " + resource + "&rid=7 HTTP/1.0",
                       "GET /zavrik/update/data/1 0#1&/v 1#&.edm HTTP/1.0"}));
  EXPECT_EQ(Count("c_news"), 1);
  EXPECT_EQ(Count("zavRes"), 1);
  EXPECT_NE(LastSync(), 0u) << "a complete sync";
}

// A server that answers the profile, then sends the rest of its answers
// without end, as a broken or hostile server might.
class EndlessServer {
 public:
  // profile: the whole profile reply; endless: the path whose answer never
  // ends, its start and the block that repeats after it.
  EndlessServer(std::string profile, std::string endlessPath, std::string start, std::string block)
      : server_([=](int fd, const test::RawRequest& request) {
          const std::string line = request.RequestLine();
          if (line.find(endlessPath) != std::string::npos) {
            if (!test::RawServer::Send(fd, "HTTP/1.0 200 OK\r\n\r\n" + start)) return;
            std::string chunk;
            while (chunk.size() < (1 << 20)) chunk += block;
            while (test::RawServer::Send(fd, chunk)) {
            }
          } else if (line.find("/update/profile") != std::string::npos) {
            test::RawServer::Send(fd, test::RawServer::Answer(200, profile));
          } else {
            test::RawServer::Send(fd, test::RawServer::Answer(404, ""));
          }
        }) {}
  std::string BaseUrl() const { return server_.Url("/zavrik"); }

 private:
  test::RawServer server_;
};

TEST_F(HhsyncTest, EndlessRepliesFailLikeACutConnectionAndTheRunEndsInOrder) {
  {
    EndlessServer server("", "/update/profile", "OK\n1\nnews|1|0\n1\n",
                         "Headline|101|a|b|1|news|c\n");
    SetDevice("baseurl", server.BaseUrl());
    RunResult run = Hhsync();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string log = test::ReadFile(File("sync.txt"));
    EXPECT_NE(log.find("Error:  12030 the reply is longer than"), std::string::npos) << log;
    EXPECT_EQ(Count("cats"), -1) << "a failed exchange touches nothing";
  }
  {
    // One item whose data never ends: 66000-byte records, split form.
    std::string record(66004, 'r');
    record.replace(0, 4, std::string("\x00\x01\x01\xD0", 4));  // 66000
    record.replace(8, 4, std::string("\x00\x00\x00\x10", 4));  // part 1: 16 bytes
    EndlessServer server("OK\n1\nnews|2|0\n1\nHeadline|101|a|b|9|news|c\n", "/update/data/",
                         std::string("\x00\x00\x00\x02", 4), record);
    SetDevice("baseurl", server.BaseUrl());
    RunResult run = Hhsync();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string log = test::ReadFile(File("sync.txt"));
    EXPECT_NE(log.find("j:101-the reply is longer than"), std::string::npos) << log;
    EXPECT_NE(log.find("Internet problem:"), std::string::npos) << log;
    EXPECT_EQ(Count("J101"), -1);
    EXPECT_EQ(LastSync(), 0u);
  }
}

TEST_F(HhsyncTest, ASecondRunOnTheSameDirectoryEndsWithoutTouchingAnything) {
  {
    DirectoryLock first(p_.dir().path(), 0);
    ASSERT_TRUE(first.locked());
    RunResult second = Hhsync();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.err.find("another run is working in " + p_.dir().path()), std::string::npos)
        << second.err;
    EXPECT_TRUE(Paths().empty());
    EXPECT_TRUE(p_.Dump().calls.empty());
    EXPECT_EQ(Device("pv"), std::nullopt) << "the handheld was not read";
  }
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_FALSE(Paths().empty()) << "once the first run is over, the next one syncs";
}

TEST_F(HhsyncTest, MessageBoxesCarryTheProgramsFileName) {
  const std::string renamed = File("newssync.bin");
  std::filesystem::copy_file(HHSYNC_BIN, renamed);
  RunResult run =
      test::RunProcess({renamed, "-test"}, {"HHSYNC_HOME=" + p_.dir().path(), "HHSYNC_UI=none"});
  EXPECT_EQ(run.err, "newssync: message: All OK: result= 0,0 [ok] -> ok\n");
}

}  // namespace
}  // namespace hhsync
