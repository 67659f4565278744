// The real hhsync binary in each of its modes: the reference server on
// loopback, an emulated handheld and a registry store in a temporary program
// directory, a recorder program as the page opener and as the CE
// application manager.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/linux/directory_lock.h"
#include "platform/sqlite/sqlite_registry.h"
#include "settings/registry_key.h"
#include "settings/sync_settings.h"
#include "support/edm_body.h"
#include "support/json_schema.h"
#include "support/processes.h"
#include "support/raw_server.h"
#include "support/report_check.h"
#include "tools/support/installation.h"

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
    const Installation installation{
        .syncProperties = kProps,
        .registryPath = kReg,
        .volume = "news.vol",
        .values = {{"baseurl", server_.BaseUrl()}, {"loginurl", "http://login.test/page"}},
        .companion = true,
        .desktopKey = "",
        .appManager = recorder_};
    std::string err;
    ASSERT_TRUE(InstallOnHandheld(p_.handheld(), installation, &err)) << err;
    ASSERT_TRUE(InstallOnDesktop(desktop_, installation));
    test::WriteSdat(File("S.DAT"), kProps);

    // One program records every start: as the page opener and as the
    // application manager.
    test::WriteFile(recorder_,
                    "#!/bin/sh\n{ printf '%s' \"$0\"; for a in \"$@\"; do printf ' [%s]' "
                    "\"$a\"; done; echo; } >> '" +
                        File("started.txt") + "'\n");
    chmod(recorder_.c_str(), 0755);
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
  // Runs hhsync with a report asked for. The run's summary line is expected
  // as the last line of standard error and taken off it; report() is the
  // run's report, which must validate (what it says is held against the
  // run in ReportedRunTest). After a complete sync the handheld's content
  // must verify clean.
  RunResult Hhsync(const std::string& mode = "", std::vector<std::string> env = {}) {
    std::vector<std::string> argv = {HHSYNC_BIN};
    if (!mode.empty()) argv.push_back(mode);
    env.insert(env.end(),
               {"HHSYNC_UI=none", "HHSYNC_OPEN=" + recorder_, "HHSYNC_REPORT=" + reportPath_});
    std::remove(reportPath_.c_str());
    RunResult run = test::RunProcess(argv, Env(env));
    summary_ = test::TakeSummaryLine(&run.err);
    EXPECT_FALSE(summary_.empty()) << "no summary line: " << run.err;
    report_ = nlohmann::json::parse(test::ReadFile(reportPath_), nullptr, false);
    EXPECT_TRUE(report_.is_object()) << "no report from the run: " << run.err;
    if (!report_.is_object()) return run;
    EXPECT_EQ(test::ValidateJson(test::ReportSchema(), report_), std::vector<std::string>{});
    EXPECT_EQ(summary_.rfind("hhsync: " + report_["outcome"].get<std::string>() + ": ", 0), 0u)
        << summary_;
    // Each outcome has its exit status.
    static const std::map<std::string, int> kStatus = {
        {"complete", 0},    {"not-due", 0},          {"page-only", 0},
        {"failed", 1},      {"partial", 3},          {"cancelled", 4},
        {"no-handheld", 5}, {"no-configuration", 6}, {"redirect", 7}};
    EXPECT_EQ(run.exitCode, kStatus.at(report_["outcome"].get<std::string>())) << summary_;
    if (report_["outcome"] == "complete" &&
        (report_["mode"] == "sync" || report_["mode"] == "first")) {
      RunResult verify = test::RunProcess(
          {HHCTL_BIN, "device", "--image", p_.imagePath(), "verify", "--registry", kReg});
      EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
    }
    return run;
  }
  const nlohmann::json& report() const { return report_; }
  const std::string& summary() const { return summary_; }
  void ExpectSummaryHas(const std::string& text) const {
    EXPECT_NE(summary_.find(text), std::string::npos) << summary_;
  }
  // The environment of a run in the program directory: HHSYNC_HOME and more.
  std::vector<std::string> Env(std::vector<std::string> more = {}) const {
    more.insert(more.begin(), "HHSYNC_HOME=" + p_.dir().path());
    return more;
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

  test::TestPlatform p_;  // its handheld is the image the program uses
  SqliteRegistry desktop_{File("registry.db")};
  test::ReferenceServerProcess server_;
  std::string recorder_ = File("recorder");
  test::TempDir reports_;
  std::string reportPath_ = reports_.File("report.json");
  nlohmann::json report_;
  std::string summary_;
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

TEST_F(HhsyncTest, ConfigurationStoresFrequencyOrTouchesNothingWithoutSdat) {
  // Without a display, a digit among the answers picks the entry.
  EXPECT_EQ(Hhsync("-config", {"HHSYNC_ANSWERS=3"}).err,
            "hhsync: Acme News Server Link: Once a week -> OK\n");
  EXPECT_EQ(RegistryKey(desktop_, kReg).Get("tu", ""), "168");
  EXPECT_EQ(
      summary().rfind("hhsync: complete: update frequency stored: Once a week (168 hours) (", 0),
      0u)
      << summary();

  std::remove(File("S.DAT").c_str());
  std::remove(File("registry.db").c_str());
  EXPECT_EQ(Hhsync("-config").err,
            "hhsync: message: Unable to open configuration file. [ok] -> ok\n");
  EXPECT_FALSE(test::FileExists(File("registry.db")));
  ExpectSummaryHas(": S.DAT at " + File("S.DAT") + " cannot be read: No such file or directory");

  // Garbage is a configuration without properties: the run goes on, and
  // says first what is wrong.
  test::WriteFile(File("S.DAT"), "\x7f\x45\x4c\x46 not a configuration");
  Hhsync();
  ExpectSummaryHas("; S.DAT at " + File("S.DAT") + " holds no sync.properties");
}

// Only the entries posted are deleted: one added while the post is on its
// way stays for the next sync.
TEST_F(HhsyncTest, AKeepEntryAddedWhileThePostIsOnItsWayStays) {
  AddKeep(1, u"one");
  AddKeep(2, u"two");
  server_.WriteFile("keep-reply.txt.delay", "1500");
  std::thread run([this] { Hhsync(); });
  auto posting = [this] {
    const std::vector<std::string> paths = Paths();
    return std::find(paths.begin(), paths.end(), "/zavrik/update/keep") != paths.end();
  };
  for (int i = 0; i < 500 && !posting(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  AddKeep(3, u"three");
  run.join();
  EXPECT_EQ(server_.ReadFile("keep-received.txt"),
            "p=acme&count=2&keep=1|t104|one|t105|t103|2|t104|two|t105|t103|\n");
  EXPECT_EQ(Count("keep"), 1) << "the entry added meanwhile is still there";

  std::remove((server_.root() + "/keep-reply.txt.delay").c_str());
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_EQ(Count("keep"), -1) << "posted and, the database empty, deleted";
  EXPECT_NE(server_.ReadFile("keep-received.txt").find("count=1&keep=3|"), std::string::npos);
}

// The report and the summary line around the run itself.

TEST_F(HhsyncTest, AReportThatCannotBeWrittenIsSaidAndChangesNothingElse) {
  const std::string nowhere = File("missing-dir/report.json");
  RunResult run = test::RunProcess({HHSYNC_BIN}, Env({"HHSYNC_UI=none", "HHSYNC_OPEN=" + recorder_,
                                                      "HHSYNC_REPORT=" + nowhere}));
  EXPECT_EQ(run.exitCode, 0);
  const std::string summary = test::TakeSummaryLine(&run.err);
  EXPECT_EQ(summary.rfind("hhsync: complete: 2 categories updated, 3 items, ", 0), 0u) << summary;
  EXPECT_EQ(run.err, "hhsync: the report could not be written to " + nowhere +
                         ": No such file or directory\n");
  EXPECT_FALSE(test::FileExists(nowhere));
  EXPECT_EQ(Count("c_news"), 2);
  EXPECT_EQ(Count("zavRes"), 3);
  EXPECT_NE(LastSync(), 0u) << "the sync is recorded as it would be without a report";
}

// A killed run's report is `hhctl sweep --kill`'s business (sweep_test.cc).
TEST_F(HhsyncTest, TheNextRunRemovesWhatAKilledRunLeftHalfWritten) {
  // Such as a cut download.
  test::WriteFile(p_.dir().File(".hhsync-download-Ab12Cd"), "half a resource");
  ASSERT_EQ(Hhsync().err, "");
  for (const auto& e : std::filesystem::directory_iterator(p_.dir().path())) {
    EXPECT_NE(e.path().filename().string().rfind(".hhsync-", 0), 0u) << e.path();
  }
}

// In the terminal front end the summary line goes to the terminal.
TEST_F(HhsyncTest, TheTerminalFrontEndShowsTheSummaryOnTheTerminal) {
  if (::access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script(1) is not installed";
  RunResult run = test::RunProcess({"/usr/bin/script", "-q", "-e", "-c", HHSYNC_BIN, "/dev/null"},
                                   Env({"HHSYNC_UI=tty", "HHSYNC_OPEN=" + recorder_}));
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  static const std::regex kSummary(
      "(^|\n|\r)hhsync: complete: 2 categories updated, 3 items, [0-9]+ B, [0-9]+\\.[0-9] s\r?\n");
  EXPECT_TRUE(std::regex_search(run.out, kSummary)) << run.out;
  EXPECT_EQ(Count("c_news"), 2);
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
    EXPECT_EQ(run.exitCode, 1) << "failed: " << run.err;
    const std::string log = test::ReadFile(File("sync.txt"));
    EXPECT_NE(log.find("Error:  12030 the reply is longer than"), std::string::npos) << log;
    EXPECT_EQ(Count("cats"), -1) << "a failed exchange touches nothing";
    ExpectSummaryHas("; no profile came back from " + server.BaseUrl() +
                     "/update/profile: the reply is longer than");
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
    EXPECT_EQ(run.exitCode, 3) << "partial: " << run.err;
    const std::string log = test::ReadFile(File("sync.txt"));
    EXPECT_NE(log.find("j:101-the reply is longer than"), std::string::npos) << log;
    EXPECT_NE(log.find("Internet problem:"), std::string::npos) << log;
    EXPECT_EQ(Count("J101"), -1);
    EXPECT_EQ(LastSync(), 0u);
  }
}

TEST_F(HhsyncTest, HelpVersionAndAnUnknownFrontEndTouchNothing) {
  const std::vector<std::string> env = Env({"HHSYNC_UI=none"});
  RunResult help = test::RunProcess({HHSYNC_BIN, "--help"}, env);
  EXPECT_EQ(help.exitCode, 0);
  for (const char* part : {"Usage: hhsync [-test | -first | -config]\n", "HHSYNC_CONNECT_WAIT_MS",
                           "  6  no-configuration\n"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part << " in " << help.out;
  }
  RunResult version = test::RunProcess({HHSYNC_BIN, "--version"}, env);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("hhsync [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << version.out;
  RunResult bogus = test::RunProcess({HHSYNC_BIN}, Env({"HHSYNC_UI=bogus"}));
  EXPECT_EQ(bogus.exitCode, 2);
  EXPECT_EQ(bogus.err, "hhsync: HHSYNC_UI=bogus is not a front end (wx, tty or none)\n");
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_TRUE(p_.Dump().calls.empty());
  EXPECT_FALSE(test::FileExists(File("sync.txt")));

  // Only the one and only argument counts: anything else is a sync.
  Hhsync("--help --version");
  EXPECT_EQ(report()["mode"], "sync");
  EXPECT_FALSE(server_.RequestLog().empty());
}

TEST_F(HhsyncTest, APageOpenedDoesNotHoldTheRunsOutput) {
  // An opener that stays, like a browser, and says it is there.
  const std::string opener = File("browser");
  test::WriteFile(opener, "#!/bin/sh\necho $$ > '" + File("browser.pid") +
                              "'\necho opening \"$1\"\nsleep 30\n");
  chmod(opener.c_str(), 0755);
  AddKeep(7, u"m:page");  // its post's reply names the page to open
  // As a script captures a run's words: the shell reads until the last
  // writer of the pipe has gone.
  RunResult run =
      test::RunProcess({"/bin/sh", "-c", "out=$(\"$0\" 2>&1); printf '%s' \"$out\"", HHSYNC_BIN},
                       Env({"HHSYNC_UI=none", "HHSYNC_OPEN=" + opener}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.rfind("hhsync: complete: ", 0), 0u) << run.out;
  EXPECT_EQ(run.out.find("opening"), std::string::npos) << "the opener's words are not the run's";
  // The run's output ended while the browser still runs.
  pid_t browser = 0;
  for (int i = 0; i < 400 && browser == 0; ++i) {
    browser = static_cast<pid_t>(std::atoi(test::ReadFile(File("browser.pid")).c_str()));
    if (browser == 0) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_GT(browser, 0) << "no page was opened";
  EXPECT_EQ(kill(browser, 0), 0) << "the run waited for the browser";
  kill(browser, SIGTERM);
}

TEST_F(HhsyncTest, ASecondRunOnTheSameDirectoryEndsWithoutTouchingAnything) {
  {
    DirectoryLock first(p_.dir().path(), 0);
    ASSERT_TRUE(first.locked());
    RunResult second = Hhsync();
    EXPECT_EQ(second.exitCode, 1) << "failed";
    EXPECT_EQ(second.err, "");
    ExpectSummaryHas("; another run is working in the program directory " + p_.dir().path());
    EXPECT_TRUE(Paths().empty());
    EXPECT_TRUE(p_.Dump().calls.empty());
    EXPECT_EQ(Device("pv"), std::nullopt) << "the handheld was not read";
  }
  EXPECT_EQ(Hhsync().err, "");
  EXPECT_FALSE(Paths().empty()) << "once the first run is over, the next one syncs";
}

TEST_F(HhsyncTest, WindowsAskedForWithoutADisplayEndBeforeTheHandheldIsTouched) {
  // Display ":9999" has no server; whether the GUI was built or not, the run
  // says in one line that HHSYNC_UI=wx cannot be had, and ends.
  for (const std::string display : {"DISPLAY=:9999", "DISPLAY="}) {
    std::remove(reportPath_.c_str());
    RunResult run = test::RunProcess(
        {HHSYNC_BIN},
        Env({"HHSYNC_UI=wx", display, "WAYLAND_DISPLAY=", "HHSYNC_REPORT=" + reportPath_}));
    EXPECT_EQ(run.exitCode, 2) << display;
    EXPECT_NE(run.err.find("HHSYNC_UI=wx"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    // Its report says why it did nothing.
    const nlohmann::json report =
        nlohmann::json::parse(test::ReadFile(reportPath_), nullptr, false);
    ASSERT_TRUE(report.is_object()) << display;
    EXPECT_EQ(report["outcome"], "failed");
    EXPECT_NE(report["reason"].get<std::string>().find("HHSYNC_UI=wx"), std::string::npos);
  }
  EXPECT_TRUE(p_.Dump().calls.empty());
  EXPECT_EQ(Device("pv"), std::nullopt) << "the handheld was not read";
  EXPECT_TRUE(Paths().empty());
  EXPECT_FALSE(test::FileExists(File("sync.txt")));
}

// No HHSYNC_UI, no display, standard input not a terminal: the front end
// is none, and its message boxes are lines under the program's file name.
TEST_F(HhsyncTest, WithoutDisplayOrTerminalMessageBoxesAreLinesUnderTheProgramsName) {
  const std::string renamed = File("newssync.bin");
  std::filesystem::copy_file(HHSYNC_BIN, renamed);
  RunResult run = test::RunProcess({renamed, "-test"}, Env({"DISPLAY=", "WAYLAND_DISPLAY="}));
  const std::string summary = test::TakeSummaryLine(&run.err, "newssync");
  EXPECT_EQ(run.err, "newssync: message: All OK: result= 0,0 [ok] -> ok\n");
  EXPECT_EQ(summary.rfind("newssync: complete: ", 0), 0u) << summary;
}

}  // namespace
}  // namespace hhsync
