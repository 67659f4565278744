// The companion tool hhctl, run as the real binary: `device` against a
// handheld image, `registry` against a store, `edm` and `sdat` packing and
// listing their formats (their readers in the program are tested on their
// own: content_record_test.cc, config_file_test.cc), and the command line
// itself: help, version and bad arguments.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"
#include "platform/fake/fake_clock.h"
#include "support/bmp.h"
#include "support/edm_body.h"
#include "support/processes.h"

namespace hhsync {
namespace {

using test::BigEndian;
using test::EdmBody;
using test::RunResult;

class HhctlTest : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), HHCTL_BIN);
    return test::RunProcess(args, env);
  }
  RunResult Device(std::vector<std::string> args) {
    args.insert(args.begin(), {"device", "--image", image_});
    return Run(args);
  }
  RunResult Edm(std::vector<std::string> args) {
    args.insert(args.begin(), "edm");
    return Run(args);
  }
  RunResult Sdat(std::vector<std::string> args) {
    args.insert(args.begin(), "sdat");
    return Run(args);
  }
  RunResult Registry(std::vector<std::string> args) {
    args.insert(args.begin(), {"registry", "--store", store_});
    return Run(args);
  }
  // Writes a file in the directory and gives its path.
  std::string Input(const std::string& name, const std::string& bytes) {
    test::WriteFile(dir_.File(name), bytes);
    return dir_.File(name);
  }
  // Packs count and the records, checks the bytes, and lists them.
  std::string EdmPackAndList(uint32_t count, const std::vector<std::string>& records) {
    std::vector<std::string> args = {"pack", out_, "--count", std::to_string(count)};
    for (std::size_t i = 0; i < records.size(); ++i) {
      args.push_back(Input("r" + std::to_string(i), records[i]));
    }
    EXPECT_EQ(Edm(args).exitCode, 0);
    EXPECT_EQ(test::ReadFile(out_), EdmBody(count, records));
    return Edm({"list", out_}).out;
  }

  test::TempDir dir_;
  std::string image_ = dir_.File("phone.db");
  std::string out_ = dir_.File("out");
  std::string store_ = dir_.File("registry.db");
  FakeClock clock_;
};

TEST_F(HhctlTest, DeviceBuildsAHandheldThatTheProgramSideSeesAndDumpsIt) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"init"},
           {"volume", "create", "news.vol"},
           {"reg", "set", "Software\\Acme\\News\\dbp", "news.vol"},
           {"library", "install", "zvdll"},
           {"record", "add", "news.vol", "keep", "--prop", "0x00640013=5", "--prop",
            "0x0065001F=h\xC3\xA9llo", "--prop", "0x00660041=00Ff10"},
           {"fault", "add", "CeMountDBVol", "--nth", "2", "--error", "112"},
           {"disconnect"}}) {
    RunResult r = Device(args);
    ASSERT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
  }
  EXPECT_EQ(Device({"init"}).exitCode, 1);
  RunResult get = Device({"reg", "get", "SOFTWARE\\acme\\news\\DBP"});
  EXPECT_EQ(get.exitCode, 0);
  EXPECT_EQ(get.out, "news.vol\n");
  RunResult absent = Device({"reg", "get", "Software\\Acme\\News\\sd6"});
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_EQ(absent.out, "");

  {  // The program's side of the same image.
    EmulatedHandheld h(image_, clock_);
    RapiInit init;
    h.CeRapiInitEx(&init);
    EXPECT_EQ(h.WaitForInit(&init, 5000), kWaitTimeout);
    ASSERT_EQ(Device({"connect"}).exitCode, 0);
    ASSERT_EQ(h.WaitForInit(&init, 5000), kWaitObject0);
    CeGuid g1, g2;
    EXPECT_TRUE(h.CeMountDBVol(&g1, u"news.vol", kOpenExisting));
    EXPECT_FALSE(h.CeMountDBVol(&g2, u"news.vol", kOpenExisting));
    EXPECT_EQ(h.CeGetLastError(), ce_error::kDiskFull);
    ASSERT_EQ(Device({"fault", "clear"}).exitCode, 0);
    EXPECT_FALSE(h.CeMountDBVol(&g2, u"news.vol", kOpenExisting));
    EXPECT_EQ(h.CeGetLastError(), ce_error::kAlreadyExists);
  }

  // The record as added, its blob given in mixed case.
  const nlohmann::json j = nlohmann::json::parse(Device({"dump", "--json"}).out);
  EXPECT_EQ(j["volumes"]["news.vol"]["keep"]["records"][0]["props"],
            (nlohmann::json{
                {"0x00640013", 5}, {"0x0065001F", "h\xC3\xA9llo"}, {"0x00660041", "00ff10"}}));
}

TEST_F(HhctlTest, DeviceRefusesMissingImages) {
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
}

// `hhctl device verify` on handhelds made with hhctl: one as a complete sync
// leaves it, and that one broken in each of the ways verify knows.
class VerifyTest : public HhctlTest {
 protected:
  struct Rec {
    std::string db;
    std::vector<std::string> props;
  };
  static Rec Category(const std::string& key, int version) {
    return {"cats", {"0x0064001F=" + key, "0x00650013=" + std::to_string(version), "0x00660013=0"}};
  }
  // An index record; inline items carry their one data record in 0x6C.
  static Rec Item(const std::string& table, int id, bool inlineData) {
    Rec r{table, {"0x00640013=" + std::to_string(id), "0x0065001F=1", "0x0067001F=title"}};
    if (inlineData) r.props.push_back("0x006C0041=0a0b0000");
    return r;
  }
  static Rec Part(int part, int id, int sequence) {
    return {(part == 1 ? "J" : "JJ") + std::to_string(id),
            {(part == 1 ? "0x007A0041=01" : "0x007B0041=02"),
             "0x007C0013=" + std::to_string(sequence)}};
  }
  static Rec Resource(const std::string& db, int rid, const std::string& revision) {
    Rec r{db, {"0x00640013=" + std::to_string(rid), "0x0065001F=" + revision}};
    if (db == "zavRes") r.props.push_back("0x00680041=00");
    return r;
  }
  // What a complete sync of two categories leaves: "news" with an inline item
  // 101 and a split item 102 of two records, "sport" with an inline item, and
  // one resource.
  static std::vector<Rec> Synced() {
    return {Category("news", 3),
            Category("sport", 1),
            Item("c_news", 101, true),
            Item("c_news", 102, false),
            Part(1, 102, 0),
            Part(1, 102, 1),
            Part(2, 102, 0),
            Part(2, 102, 1),
            Item("c_sport", 201, true),
            Resource("zavRes", 1, "r1"),
            Resource("zavResA", 1, "r1")};
  }
  // A new image holding records; verify --json on it. exitCode: verify's.
  nlohmann::json Verify(const std::vector<Rec>& records, int* exitCode) {
    image_ = dir_.File("case" + std::to_string(++cases_) + ".db");
    EXPECT_EQ(Device({"init"}).exitCode, 0);
    EXPECT_EQ(Device({"volume", "create", "news.vol"}).exitCode, 0);
    EXPECT_EQ(Device({"reg", "set", "Software\\Acme\\News\\dbp", "news.vol"}).exitCode, 0);
    for (const Rec& r : records) {
      std::vector<std::string> args = {"record", "add", "news.vol", r.db};
      for (const std::string& prop : r.props) args.insert(args.end(), {"--prop", prop});
      EXPECT_EQ(Device(args).exitCode, 0) << r.db;
    }
    RunResult run = Device({"verify", "--registry", "Software\\Acme\\News", "--json"});
    *exitCode = run.exitCode;
    EXPECT_EQ(run.err, "");
    nlohmann::json findings = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_TRUE(findings.is_array()) << run.out;
    return findings;
  }
  // verify's findings on records as (kind, database, key), and the exit code
  // agreeing with them.
  std::vector<std::string> Findings(const std::vector<Rec>& records) {
    int exitCode = -1;
    const nlohmann::json findings = Verify(records, &exitCode);
    std::vector<std::string> out;
    for (const auto& f : findings) {
      EXPECT_FALSE(f["detail"].get<std::string>().empty()) << f;
      EXPECT_EQ(f["volume"], "news.vol");
      out.push_back(f["kind"].get<std::string>() + " " + f["database"].get<std::string>() + " " +
                    f["key"].get<std::string>());
    }
    EXPECT_EQ(exitCode, out.empty() ? 0 : 1);
    return out;
  }
  // Synced() without the records of database db.
  static std::vector<Rec> Without(const std::string& db, std::vector<Rec> records = Synced()) {
    records.erase(
        std::remove_if(records.begin(), records.end(), [&](const Rec& r) { return r.db == db; }),
        records.end());
    return records;
  }
  static std::vector<Rec> With(std::vector<Rec> more, std::vector<Rec> records = Synced()) {
    records.insert(records.end(), more.begin(), more.end());
    return records;
  }
  int cases_ = 0;
};

TEST_F(VerifyTest, ASyncedHandheldIsConsistentAndSaysSo) {
  EXPECT_EQ(Findings(Synced()), std::vector<std::string>{});
  RunResult people = Device({"verify", "--registry", "Software\\Acme\\News\\"});
  EXPECT_EQ(people.exitCode, 0);
  EXPECT_EQ(people.out, "consistent: 1 volume checked\n");
  // An empty handheld holds nothing that could disagree.
  EXPECT_EQ(Findings({}), std::vector<std::string>{});
}

TEST_F(VerifyTest, EachKindOfBreakageIsFoundWhereItIs) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Findings(Without("c_sport")), V{"missing-table cats sport"});
  EXPECT_EQ(Findings(With({Item("c_weather", 301, true)})), V{"orphan-table c_weather "});
  EXPECT_EQ(Findings(With({Category("news", 3)})), V{"duplicate-category cats news"});
  // Two keys whose first 24 characters agree name one table.
  const std::string longKey = "abcdefghijklmnopqrstuvwx";
  EXPECT_EQ(Findings(With({Category(longKey + "1", 1), Category(longKey + "2", 1),
                           Item("c_" + longKey, 401, true)})),
            V{"shared-table c_" + longKey + " " + longKey + "1"});
  EXPECT_EQ(Findings(With({Item("c_news", 101, true)})), V{"duplicate-item c_news 101"});
  EXPECT_EQ(Findings(Without("JJ102")), V{"missing-record-database JJ102 102"});
  EXPECT_EQ(Findings(With({Part(1, 102, 2)})), V{"record-count-mismatch J102 102"});
  // Numbers 0 and 2 in J102: one missing, as many records as JJ102.
  std::vector<Rec> gap = Without("J102");
  gap.insert(gap.end(), {Part(1, 102, 0), Part(1, 102, 2)});
  EXPECT_EQ(Findings(gap), V{"sequence-gap J102 102"});
  std::vector<Rec> twice = Without("JJ102");
  twice.insert(twice.end(), {Part(2, 102, 1), Part(2, 102, 1)});
  EXPECT_EQ(Findings(twice), V{"sequence-gap JJ102 102"});
  // Record databases of a gone item, and of an item now kept inline.
  EXPECT_EQ(Findings(With({Part(1, 300, 0), Part(2, 300, 0), Part(1, 101, 0)})),
            (V{"leftover-record-database J101 101", "leftover-record-database J300 300",
               "leftover-record-database JJ300 300"}));
  // zavRes and zavResA: a side alone, differing revisions, a rid twice.
  EXPECT_EQ(Findings(With({Resource("zavResA", 2, "r1")})), V{"resource-mismatch zavResA 2"});
  EXPECT_EQ(Findings(With({Resource("zavRes", 2, "r1")})), V{"resource-mismatch zavRes 2"});
  EXPECT_EQ(Findings(With({Resource("zavRes", 2, "r2"), Resource("zavResA", 2, "r1")})),
            V{"resource-mismatch zavResA 2"});
  EXPECT_EQ(Findings(With({Resource("zavRes", 1, "r1")})), V{"resource-mismatch zavRes 1"});
  // Several at once come in the order of their kinds.
  EXPECT_EQ(Findings(With({Resource("zavResA", 2, "r1")}, Without("c_sport"))),
            (V{"missing-table cats sport", "resource-mismatch zavResA 2"}));
}

TEST_F(VerifyTest, FindingsForPeopleAndWhatKeepsTheCheckFromRunning) {
  int exitCode = 0;
  Verify(Without("c_sport"), &exitCode);
  RunResult people = Device({"verify", "--registry", "Software\\Acme\\News"});
  EXPECT_EQ(people.exitCode, 1);
  EXPECT_NE(people.out.find("missing-table  cats  sport: "), std::string::npos) << people.out;
  EXPECT_NE(people.out.find("1 finding in 1 volume"), std::string::npos) << people.out;
  // Without --registry every volume is checked.
  ASSERT_EQ(Device({"volume", "create", "other.vol"}).exitCode, 0);
  EXPECT_EQ(Device({"verify"}).exitCode, 1);
  // A path without dbp, a dbp naming no volume, no image: exit 2.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"verify", "--registry", "Software\\Other"}, {"verify", "--bogus"}}) {
    RunResult r = Device(args);
    EXPECT_EQ(r.exitCode, 2) << args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("hhctl: ", 0), 0u) << r.err;
  }
  ASSERT_EQ(Device({"reg", "set", "Software\\Acme\\News\\dbp", "gone.vol"}).exitCode, 0);
  EXPECT_EQ(Device({"verify", "--registry", "Software\\Acme\\News"}).exitCode, 2);
  image_ = dir_.File("missing.db");
  EXPECT_EQ(Device({"verify"}).exitCode, 2);
}

TEST_F(HhctlTest, EdmPackWritesCountAndLengthPrefixedRecordsThatListShows) {
  // Records whose bytes 4 to 7 give the length of their first part.
  EXPECT_EQ(EdmPackAndList(
                2, {"hdr0" + BigEndian(10) + "ab" + "second part", "hdr1" + BigEndian(8) + "xyz"}),
            "count: 2\n"
            "record 0: length 21, first part 10\n"
            "record 1: length 11, first part 8\n"
            "records: 2\n");
  // A single record is whole: no first part.
  EXPECT_EQ(EdmPackAndList(1, {"whole record"}), "count: 1\nrecord 0: length 12\nrecords: 1\n");
  EXPECT_EQ(EdmPackAndList(0, {}), "count: 0\nrecords: 0\n");
  const std::string odd = EdmPackAndList(5, {std::string(66001, 'r'), "tiny"});
  for (const char* line : {"record 0: length 66001, first part 1920103026\n",
                           "record 1: length 4, first part (record too short)\n",
                           "note: the count says 5 but 2 complete records follow"}) {
    EXPECT_NE(odd.find(line), std::string::npos) << line << " in\n" << odd;
  }
}

TEST_F(HhctlTest, EdmListShowsWhereATruncatedBodyEnds) {
  const std::string whole = EdmBody(2, {"first record", "second record"});
  test::WriteFile(out_, whole.substr(0, whole.size() - 3));
  RunResult r = Edm({"list", out_});
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

TEST_F(HhctlTest, SdatPackedEntriesAreListed) {
  RunResult pack = Sdat(
      {"pack", out_, "--props",
       "sync.properties=" +
           Input("props",
                 "# settings\r\nname=Demo\r\nregistry=Software\\Co\\App\\\r\nexname=app.exe\r\n"),
       "--bitmap=main.bmp=" + Input("main.bmp", test::Solid24(2, 1, 0, 0, 0).Text()), "--text",
       "readme=" + Input("readme.txt", "caf\xE9 notes")});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;

  RunResult list = Sdat({"list", out_});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  for (const char* line :
       {"3 entries\n", "\nsync.properties  property set (type 14)", "\n    name=Demo\n",
        "\n    exname=app.exe\n", "\nmain.bmp  bitmap (type 3)  62 bytes",
        "\nreadme  text (type 1)  10 bytes"}) {
    EXPECT_NE(list.out.find(line), std::string::npos) << line << " in\n" << list.out;
  }
  EXPECT_EQ(list.out.find("# settings"), std::string::npos) << list.out;
}

TEST_F(HhctlTest, SdatUnreadableOrOversizedInputExitsWithOne) {
  const std::string missing = dir_.File("missing");
  RunResult pack = Sdat({"pack", out_, "--text", "a=" + missing});
  EXPECT_EQ(pack.exitCode, 1);
  EXPECT_NE(pack.err.find("missing"), std::string::npos) << pack.err;
  EXPECT_EQ(Sdat({"list", missing}).exitCode, 1);
  EXPECT_EQ(Sdat({"pack", out_, "--props", "p=" + Input("big", std::string(70000, 'x'))}).exitCode,
            1);
  EXPECT_FALSE(test::FileExists(out_));
}

TEST_F(HhctlTest, RegistryGetPrintsTheValueAloneAndValuesMayBeginWithADash) {
  const std::string key = "Software\\Acme\\News";
  RunResult absent = Registry({"get", key});
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_EQ(absent.out, "");
  EXPECT_FALSE(test::FileExists(store_)) << "reading made a store";

  // A value that looks like an option is still the value: "-x" as it is,
  // "--x" after "--"; a number with a sign as well.
  for (const std::vector<std::string>& set :
       std::vector<std::vector<std::string>>{{"set", key, "-x"},
                                             {"set", key, "--value", "n", "-5"},
                                             {"set", "--root", "HKCU", key, "--", "--double"},
                                             {"set", key, "--value", "d", "--dword", "0x10"}}) {
    RunResult r = Registry(set);
    ASSERT_EQ(r.exitCode, 0) << set.back() << ": " << r.err;
  }
  EXPECT_EQ(Registry({"get", key}).out, "-x\n");
  EXPECT_EQ(Registry({"get", key, "--value", "n"}).out, "-5\n");
  EXPECT_EQ(Registry({"get", "--root", "HKCU", key}).out, "--double\n");
  EXPECT_EQ(Registry({"get", key, "--value", "d"}).out, "16\n");
  EXPECT_EQ(Registry({"list"}).out,
            "Software\\Acme\\News  (default)  REG_SZ  -x\n"
            "Software\\Acme\\News  d  REG_DWORD  16\n"
            "Software\\Acme\\News  n  REG_SZ  -5\n");
  EXPECT_EQ(Registry({"del", key, "--value", "n"}).exitCode, 0);
  EXPECT_EQ(Registry({"del", key, "--value", "n"}).exitCode, 1);

  ASSERT_EQ(Device({"init"}).exitCode, 0);
  ASSERT_EQ(Device({"reg", "set", "Software\\Acme\\News\\dbp", "-v"}).exitCode, 0);
  EXPECT_EQ(Device({"reg", "get", "Software\\Acme\\News\\dbp"}).out, "-v\n");
}

TEST_F(HhctlTest, EachKindOfCommandAnswersHelpAndTheProgramItsVersion) {
  // Every page comes from the one parser; one of each kind is asked for: the
  // program, a group, a group within a group, a command, commands whose
  // values may begin with a dash, and a group without commands.
  for (const std::string command : {"", " device", " device fault", " device reg get",
                                    " device reg set", " registry set", " serve"}) {
    std::vector<std::string> args;
    std::istringstream words(command);
    for (std::string word; words >> word;) args.push_back(word);
    args.push_back("--help");
    RunResult r = Run(args, {"HHSYNC_HOME=" + dir_.path()});
    EXPECT_EQ(r.exitCode, 0) << command << ": " << r.err;
    EXPECT_EQ(r.err, "") << command;
    EXPECT_NE(r.out.find("Usage: hhctl" + command + " "), std::string::npos) << r.out;
  }
  // Help does nothing else: no image, no store.
  EXPECT_EQ(Run({"device", "init", "--help"}, {"HHSYNC_HOME=" + dir_.path()}).exitCode, 0);
  EXPECT_FALSE(test::FileExists(dir_.File("handheld.db")));
  EXPECT_FALSE(test::FileExists(dir_.File("registry.db")));
  EXPECT_TRUE(std::regex_match(Run({"--version"}).out, std::regex("hhctl [0-9.]+ build [0-9]+\n")));
}

TEST_F(HhctlTest, UnknownOptionsAndMissingArgumentsAreOneLineAndExitTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           // Unknown options, commands and extra arguments.
           {"--bogus"},
           {"frobnicate"},
           {"device", "--image", image_, "reg", "list", "--bogus"},
           // Missing commands, arguments and option values, and a value out of
           // range.
           {},
           {"device", "--image", image_},
           {"device", "--image", image_, "reg"},
           {"device", "--image", image_, "reg", "get"},
           {"device", "--image"},
           {"serve", "--root", dir_.path(), "--port", "65536"},
           // Values a command cannot take.
           {"device", "--image", image_, "record", "add", "v", "keep", "--prop", "0x00640013=five"},
           {"device", "--image", image_, "record", "add", "v", "keep", "--prop", "0x00660041=abc"},
           {"device", "--image", image_, "fault", "add", "CeNothing", "--nth", "1", "--error", "2"},
           {"device", "--image", image_, "fault", "add", "CeMountDBVol", "--nth", "0", "--error",
            "2"},
           {"device", "--image", image_, "dump", "--yaml"},
           {"edm", "pack", out_, "r"},
           {"sdat", "pack", out_, "--props", "p"},
           // An unknown option, a second value or none at all, though values
           // may begin with a dash.
           {"registry", "--store", store_, "set", "K", "--x"},
           {"registry", "--store", store_, "set", "K", "-x", "-y"},
           {"registry", "--store", store_, "set", "K"},
           {"registry", "--store", store_, "set", "K", "a", "b"}}) {
    RunResult r = Run(args);
    std::string shown;
    for (const std::string& a : args) shown += " " + a;
    EXPECT_EQ(r.exitCode, 2) << shown;
    EXPECT_EQ(r.err.rfind("hhctl: ", 0), 0u) << shown << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << ": " << r.err;
    EXPECT_EQ(r.out, "") << shown;
  }
  EXPECT_FALSE(test::FileExists(image_));
  EXPECT_FALSE(test::FileExists(store_));
  EXPECT_FALSE(test::FileExists(out_));
}

}  // namespace
}  // namespace hhsync
