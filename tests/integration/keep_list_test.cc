// The keep list against the reference server: what is posted, how the reply
// is read, and when the handheld's "keep" database goes.

#include "extras/keep_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/content_fixture.h"

namespace hhsync {
namespace {

class KeepListTest : public test::HandheldServerTest {
 protected:
  void AddEntry(uint32_t value, const std::u16string& text101) {
    AddRecord("keep",
              {CePropVal::Ui4(UintProp(100), value), CePropVal::Text(TextProp(101), text101),
               CePropVal::Text(TextProp(103), u"t|103"), CePropVal::Text(TextProp(104), u"t104"),
               CePropVal::Text(TextProp(105), u"t105")});
  }
  // One entry on the handheld, posted and answered with reply.
  std::unique_ptr<KeepList> PostOne(const std::string& reply) {
    AddEntry(1, u"x");
    server_.WriteFile("keep-reply.txt", reply);
    auto list = std::make_unique<KeepList>(mount_, *platform_.ports().recorder);
    list->Upload({*progress_, *settings_, *link_});
    return list;
  }
};

TEST_F(KeepListTest, ThreeEntriesArePostedWithCountAndFifteenFields) {
  AddEntry(7, u"x&y");
  AddEntry(8, u"m:page");
  AddEntry(9, u"50%");
  server_.WriteFile("keep-reply.txt", "OK\nwelcome back\n");
  KeepList list(mount_, *platform_.ports().recorder);
  list.Upload({*progress_, *settings_, *link_});

  // The form's headers are checked with the post itself (server_link_test.cc).
  auto log = server_.RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0]["path"], "/zavrik/update/keep");
  EXPECT_EQ(log[0]["body"],
            "p=acme&count=3&keep=7|t104|x%26y|t105|t+103|8|t104|m:page|t105|t+103|"
            "9|t104|50%25|t105|t+103|");
  EXPECT_EQ(list.Message(), "welcome back");
  EXPECT_TRUE(list.ShouldOpenBrowser());
  EXPECT_TRUE(Records("keep").empty());
}

TEST_F(KeepListTest, ReplyDecidesMessageBrowserAndDeletion) {
  struct Case {
    std::string reply, companion, content, message;  // companion "-": no server
    bool browser, deleted;
  };
  for (const Case& c : std::vector<Case>{
           {"OK\n", "", "", "no", true, true},
           {"OK\nnob\n", "", "", "nob", false, true},
           {"OK\nNOB\n", "", "", "NOB", true, true},
           {"ok \t\r\nsee you  \r\nignored\n", "", "", "see you", true, true},
           // Refused, or broken off in either line: the entries stay.
           {"FAIL\nnob\n", "", "", "", true, false},
           {"OK\nhello\n", ".status", "500", "", true, false},
           {"OK\nhello\n", ".cut", "1", "", true, false},
           {"OK\nhello\n", "-", "", "", true, false},
       }) {
    SCOPED_TRACE(c.reply + c.companion + c.content);
    if (c.companion == "-") server_.Stop();
    if (!c.content.empty()) server_.WriteFile("keep-reply.txt" + c.companion, c.content);
    const std::size_t logged = test::ReadFile(Program("sync.txt")).size();
    auto list = PostOne(c.reply);
    // Only a failed transfer (no server, a cut reply) leaves an error line.
    const std::string log = test::ReadFile(Program("sync.txt")).substr(logged);
    EXPECT_EQ(log.find("Error:  ") != std::string::npos,
              c.companion == "-" || c.companion == ".cut")
        << log;
    EXPECT_EQ(list->Message(), c.message);
    EXPECT_EQ(list->ShouldOpenBrowser(), c.browser);
    EXPECT_EQ(Records("keep").empty(), c.deleted);
    if (!c.content.empty())
      std::filesystem::remove(server_.root() + "/keep-reply.txt" + c.companion);
    volume_->DeleteDatabaseByName("keep");
  }
}

TEST_F(KeepListTest, NothingIsSentWithoutEntriesOrHttpOrWhenCancelled) {
  KeepList missing(mount_, *platform_.ports().recorder);
  DbHandle handle;
  CEOID oid = 0;
  ASSERT_TRUE(volume_->OpenOrCreate("keep", 0, 0, &handle, &oid));
  handle.Close();
  KeepList empty(mount_, *platform_.ports().recorder);
  for (KeepList* list : {&missing, &empty}) {
    EXPECT_EQ(list->records(), nullptr);
    list->Upload({*progress_, *settings_, *link_});
    EXPECT_FALSE(list->ShouldOpenBrowser());
    EXPECT_FALSE(list->AllPageRequests());
  }
  AddEntry(1, u"x");
  platform_.SetDevice(std::string(kPath) + "baseurl",
                      "https://127.0.0.1:" + std::to_string(server_.port()) + "/zavrik");
  SyncSettings https(platform_.ports(), &props_);
  KeepList(mount_, *platform_.ports().recorder).Upload({*progress_, https, *link_});
  EXPECT_EQ(progress_->Snapshot().status, "");
  progress_->OnCancel();
  KeepList(mount_, *platform_.ports().recorder).Upload({*progress_, *settings_, *link_});
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_EQ(Records("keep").size(), 1u);
}

TEST_F(KeepListTest, ADatabaseThatCannotBeOpenedOrCountedIsAFailedReadNotAnAbsentList) {
  // No database at all: nothing to read, nothing failed.
  KeepList missing(mount_, *platform_.ports().recorder);
  missing.Upload({*progress_, *settings_, *link_});
  EXPECT_FALSE(missing.facts().readFailed);
  EXPECT_FALSE(missing.ReadFailed());
  EXPECT_EQ(missing.facts().entriesRead, 0);

  AddEntry(1, u"x");
  AddEntry(2, u"y");
  for (const char* operation : {"CeOpenDatabaseEx", "CeOidGetInfoEx"}) {
    SCOPED_TRACE(operation);
    platform_.AddFault(operation, 1, false, 87);
    KeepList list(mount_, *platform_.ports().recorder);
    platform_.ClearFaults();
    EXPECT_TRUE(list.ReadFailed());
    list.Upload({*progress_, *settings_, *link_});
    EXPECT_TRUE(list.facts().readFailed);
    EXPECT_FALSE(list.facts().posted);
    EXPECT_EQ(list.records(), nullptr);
    EXPECT_FALSE(list.ShouldOpenBrowser());
  }
  EXPECT_TRUE(server_.RequestLog().empty());
  EXPECT_EQ(Records("keep").size(), 2u) << "the entries stay for the next sync";
}

TEST_F(KeepListTest, AllPageRequestsOnlyWhenEveryEntryAsksForAPage) {
  AddEntry(1, u"m:a");
  AddEntry(2, u"m:b");
  EXPECT_TRUE(KeepList(mount_, *platform_.ports().recorder).AllPageRequests());
  AddEntry(3, u"plain");
  EXPECT_FALSE(KeepList(mount_, *platform_.ports().recorder).AllPageRequests());
}

}  // namespace
}  // namespace hhsync
