// The keep list against the reference server: what is posted, how the reply
// is read, and when the handheld's "keep" database goes.

#include "extras/keep_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/config_file.h"
#include "app/dialogs/progress_dialog.h"
#include "device/device_database.h"
#include "device/records.h"
#include "platform/curl/curl_http.h"
#include "settings/sync_settings.h"
#include "support/reference_server_fixture.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::ReferenceServerProcess;
using test::TestPlatform;

constexpr const char* kPath = "Software\\Acme\\News\\";

std::vector<CePropVal> Entry(uint32_t value, const std::u16string& text101,
                             const std::u16string& text104 = u"t104") {
  return {CePropVal::Ui4(UintProp(100), value), CePropVal::Text(TextProp(101), text101),
          CePropVal::Text(TextProp(103), u"t|103"), CePropVal::Text(TextProp(104), text104),
          CePropVal::Text(TextProp(105), u"t105")};
}

class KeepListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(server_.Start(&err)) << err;
    p_.SetHttp(&http_);
    ASSERT_TRUE(p_.handheld().CreateVolume("vol", &err)) << err;
    ASSERT_TRUE(p_.handheld().RegSet(std::string(kPath) + "baseurl", server_.BaseUrl(), &err))
        << err;
    p_.Connect();
    volume_ = std::make_unique<DeviceDatabase>(p_.ports(), "vol");
    ASSERT_TRUE(volume_->mounted());
    props_.Set("registry", kPath);
    props_.Set("partner", "acme");
    settings_ = std::make_unique<SyncSettings>(p_.ports(), &props_);
    progress_ = std::make_unique<ProgressDialog>(p_.ports(), nullptr, "News", false, false, kPath);
    progress_->OnInitDialog();
  }

  void AddEntry(const std::vector<CePropVal>& props) {
    CEOID id = 0;
    std::string err;
    ASSERT_TRUE(p_.handheld().AddRecord("vol", "keep", props, &id, &err)) << err;
  }

  bool HasKeepDatabase() {
    for (const auto& volume : p_.Dump().volumes) {
      for (const auto& db : volume.databases) {
        if (db.name == "keep") return true;
      }
    }
    return false;
  }

  // Bodies the server received, one per post.
  std::vector<std::string> Received() {
    std::vector<std::string> bodies;
    for (const auto& request : server_.RequestLog()) {
      if (request["method"] == "POST") bodies.push_back(request["body"].get<std::string>());
    }
    return bodies;
  }

  // One entry on the handheld, posted with the given reply.
  std::unique_ptr<KeepList> PostOneWithReply(const std::string& reply) {
    AddEntry(Entry(1, u"x"));
    server_.WriteFile("keep-reply.txt", reply);
    auto list = std::make_unique<KeepList>(p_.ports());
    list->Upload(*progress_, *settings_);
    return list;
  }

  ReferenceServerProcess server_;
  CurlHttp http_;
  TestPlatform p_;
  std::unique_ptr<DeviceDatabase> volume_;
  PropertySet props_;
  std::unique_ptr<SyncSettings> settings_;
  std::unique_ptr<ProgressDialog> progress_;
};

TEST_F(KeepListTest, ThreeEntriesArePostedWithCountAndFifteenFields) {
  AddEntry(Entry(7, u"x&y", u"a b"));
  AddEntry(Entry(8, u"m:page"));
  AddEntry(Entry(9, u"50%"));
  server_.WriteFile("keep-reply.txt", "OK\nwelcome back\n");

  KeepList list(p_.ports());
  ASSERT_NE(list.records(), nullptr);
  EXPECT_EQ(list.records()->size(), 3u);
  EXPECT_NE(list.keepDbOid(), 0u);
  list.Upload(*progress_, *settings_);

  auto bodies = Received();
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0],
            "p=acme&count=3&keep=7|a+b|x%26y|t105|t+103|8|t104|m:page|t105|t+103|"
            "9|t104|50%25|t105|t+103|");
  std::string keep = bodies[0].substr(bodies[0].find("&keep=") + 6);
  EXPECT_EQ(std::count(keep.begin(), keep.end(), '|'), 15);
  EXPECT_EQ(keep.back(), '|');
  EXPECT_EQ(server_.ReadFile("keep-received.txt"), bodies[0] + "\n");

  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["path"], "/zavrik/update/keep");
  EXPECT_EQ(log[0]["version"], "HTTP/1.0");
  EXPECT_EQ(log[0]["headers"]["Content-Type"], "application/x-www-form-urlencoded");
  EXPECT_EQ(log[0]["headers"]["User-Agent"], "Tessary Conduit");

  EXPECT_EQ(list.Message(), "welcome back");
  EXPECT_TRUE(list.ShouldOpenBrowser());
  EXPECT_FALSE(HasKeepDatabase());

  auto view = progress_->Snapshot();
  EXPECT_EQ(view.status, "Sending...");
  EXPECT_EQ(view.upper.range, 2);
  EXPECT_EQ(view.upper.position, 0);
  EXPECT_EQ(view.lower.range, 100);
  EXPECT_EQ(view.lower.position, 0);
}

TEST_F(KeepListTest, OkWithoutSecondLineGivesMessageNo) {
  auto list = PostOneWithReply("OK\n");
  EXPECT_EQ(list->Message(), "no");
  EXPECT_TRUE(list->ShouldOpenBrowser());
  EXPECT_FALSE(HasKeepDatabase());
}

TEST_F(KeepListTest, EmptySecondLineGivesMessageNo) {
  auto list = PostOneWithReply("OK\n  \r\n");
  EXPECT_EQ(list->Message(), "no");
  EXPECT_FALSE(HasKeepDatabase());
}

TEST_F(KeepListTest, NobExactlyMeansNoBrowser) {
  auto list = PostOneWithReply("OK\nnob\n");
  EXPECT_EQ(list->Message(), "nob");
  EXPECT_FALSE(list->ShouldOpenBrowser());
  EXPECT_FALSE(HasKeepDatabase());
}

TEST_F(KeepListTest, NobInCapitalsIsAMessage) {
  auto list = PostOneWithReply("OK\nNOB\n");
  EXPECT_EQ(list->Message(), "NOB");
  EXPECT_TRUE(list->ShouldOpenBrowser());
}

TEST_F(KeepListTest, LowerCaseOkIsAcceptedAndTrailingBlanksGo) {
  auto list = PostOneWithReply("ok \t\r\nsee you  \r\nignored\n");
  EXPECT_EQ(list->Message(), "see you");
  EXPECT_TRUE(list->ShouldOpenBrowser());
  EXPECT_FALSE(HasKeepDatabase());
}

TEST_F(KeepListTest, OtherFirstLineKeepsTheEntries) {
  auto list = PostOneWithReply("FAIL\nnob\n");
  EXPECT_EQ(Received().size(), 1u);
  EXPECT_TRUE(HasKeepDatabase());
  EXPECT_EQ(list->Message(), "");
  EXPECT_TRUE(list->ShouldOpenBrowser());
}

TEST_F(KeepListTest, ErrorStatusKeepsTheEntries) {
  server_.WriteFile("keep-reply.txt.status", "500");
  auto list = PostOneWithReply("OK\nnob\n");
  EXPECT_EQ(Received().size(), 1u);
  EXPECT_TRUE(HasKeepDatabase());
  EXPECT_TRUE(list->ShouldOpenBrowser());
  EXPECT_EQ(list->Message(), "");
}

TEST_F(KeepListTest, ConnectionCutBeforeTheFirstLineKeepsTheEntries) {
  server_.WriteFile("keep-reply.txt.cut", "1");
  auto list = PostOneWithReply("OK\nhello\n");
  EXPECT_EQ(Received().size(), 1u);
  EXPECT_TRUE(HasKeepDatabase());
  EXPECT_TRUE(list->ShouldOpenBrowser());
}

TEST_F(KeepListTest, ConnectionCutInTheSecondLineKeepsTheEntries) {
  server_.WriteFile("keep-reply.txt.cut", "5");
  auto list = PostOneWithReply("OK\nhello\n");
  EXPECT_EQ(Received().size(), 1u);
  EXPECT_TRUE(HasKeepDatabase());
  EXPECT_EQ(list->Message(), "");
}

TEST_F(KeepListTest, UnreachableServerKeepsTheEntries) {
  server_.Stop();
  auto list = PostOneWithReply("OK\n");
  EXPECT_TRUE(HasKeepDatabase());
  EXPECT_TRUE(list->ShouldOpenBrowser());
}

TEST_F(KeepListTest, NoKeepDatabaseSendsNothing) {
  KeepList list(p_.ports());
  EXPECT_EQ(list.records(), nullptr);
  EXPECT_EQ(list.keepDbOid(), 0u);
  list.Upload(*progress_, *settings_);
  EXPECT_FALSE(list.ShouldOpenBrowser());
  EXPECT_FALSE(list.AllPageRequests());
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_EQ(progress_->Snapshot().status, "");
}

TEST_F(KeepListTest, EmptyKeepDatabaseSendsNothingAndStays) {
  CeDbHandle handle = 0;
  CEOID oid = 0;
  ASSERT_TRUE(volume_->OpenOrCreate("keep", 0, 0, &handle, &oid));
  volume_->CloseHandle(handle);
  KeepList list(p_.ports());
  EXPECT_EQ(list.records(), nullptr);
  list.Upload(*progress_, *settings_);
  EXPECT_FALSE(list.ShouldOpenBrowser());
  EXPECT_FALSE(list.AllPageRequests());
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_TRUE(HasKeepDatabase());
}

TEST_F(KeepListTest, CancelledDialogSendsNothing) {
  AddEntry(Entry(1, u"x"));
  KeepList list(p_.ports());
  progress_->OnCancel();
  list.Upload(*progress_, *settings_);
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_TRUE(HasKeepDatabase());
}

TEST_F(KeepListTest, HttpsBaseUrlSendsNothing) {
  std::string err;
  ASSERT_TRUE(
      p_.handheld().RegSet(std::string(kPath) + "baseurl",
                           "https://127.0.0.1:" + std::to_string(server_.port()) + "/zavrik", &err))
      << err;
  SyncSettings httpsSettings(p_.ports(), &props_);
  AddEntry(Entry(1, u"x"));
  KeepList list(p_.ports());
  list.Upload(*progress_, httpsSettings);
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_TRUE(HasKeepDatabase());
  EXPECT_EQ(progress_->Snapshot().status, "");
}

TEST_F(KeepListTest, AllPageRequestsOnlyWhenEveryEntryAsksForAPage) {
  AddEntry(Entry(1, u"m:a"));
  AddEntry(Entry(2, u"m:b"));
  EXPECT_TRUE(KeepList(p_.ports()).AllPageRequests());

  AddEntry(Entry(3, u"plain"));
  EXPECT_FALSE(KeepList(p_.ports()).AllPageRequests());

  // A page request after an ordinary entry does not bring it back.
  AddEntry(Entry(4, u"m:c"));
  KeepList mixed(p_.ports());
  EXPECT_EQ(mixed.records()->size(), 4u);
  EXPECT_FALSE(mixed.AllPageRequests());
}

TEST_F(KeepListTest, OrdinaryFirstEntryMeansNotAllPageRequests) {
  AddEntry(Entry(1, u"plain"));
  AddEntry(Entry(2, u"m:b"));
  EXPECT_FALSE(KeepList(p_.ports()).AllPageRequests());
}

}  // namespace
}  // namespace hhsync
