// The profile exchange: reading the server's profile reply into the category
// set, over an in-memory internet client and an emulated handheld.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/config_file.h"
#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "content/category_list.h"
#include "content/content_item.h"
#include "device/device_database.h"
#include "settings/sync_settings.h"
#include "support/memory_http.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::MemoryHttp;
using test::TestPlatform;

constexpr const char* kPath = "Software\\Acme\\News\\";
constexpr const char* kVolume = "content.vol";

class ProfileExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.Connect();
    platform_.SetHttp(&http_);
    SetDevice("baseurl", "http://content.test/zavrik");
    SetDevice("loginurl", "http://content.test/login");
    props_.Set("registry", kPath);
    std::string err;
    ASSERT_TRUE(platform_.handheld().CreateVolume(kVolume, &err)) << err;
    volume_ = std::make_unique<DeviceDatabase>(platform_.ports(), kVolume);
    ASSERT_TRUE(volume_->mounted());
  }
  void TearDown() override { volume_.reset(); }

  void SetDevice(const std::string& name, const std::string& value) {
    std::string err;
    ASSERT_TRUE(platform_.handheld().RegSet(std::string(kPath) + name, value, &err)) << err;
  }

  // Runs the exchange over reply; the progress dialog and the category set
  // stay for inspection.
  bool Exchange(const std::string& reply) {
    http_.Serve("/zavrik/update/profile?", reply);
    // One run's objects at a time: the log file is held by one dialog.
    categories_.reset();
    progress_.reset();
    settings_.reset();
    settings_ = std::make_unique<SyncSettings>(platform_.ports(), &props_);
    progress_ =
        std::make_unique<ProgressDialog>(platform_.ports(), nullptr, "News", true, false, kPath);
    progress_->OnInitDialog();  // bars step by 1
    categories_ = std::make_unique<CategoryList>(platform_.ports());
    SyncRunner runner(platform_.ports());
    return runner.ExchangeProfile(*settings_, *progress_, *categories_);
  }

  // A compact picture of the category set: key=version[items...] per category.
  std::string Picture() {
    std::string out;
    for (const auto& [key, category] : categories_->categories()) {
      out += key + "=" + std::to_string(category->version()) + (category->fromServer ? "" : "*");
      out += "[";
      for (const auto& id : ItemIds(*category)) {
        const ContentItem* item = category->FindItem(id);
        out += item->title + "|" + item->contentId + "|" + item->field3 + "|" + item->field4 + "|" +
               item->version + "|" + item->categoryKey + "|" + item->field7 + ";";
      }
      out += "]";
    }
    return out;
  }
  std::vector<std::string> ItemIds(Category& category) {
    std::vector<std::string> ids;
    for (const char* id : {"1", "2", "3", "4", "5", "6", "7", "8", "9"}) {
      if (category.FindItem(id)) ids.push_back(id);
    }
    return ids;
  }

  TestPlatform platform_;
  MemoryHttp http_;
  PropertySet props_;
  std::unique_ptr<DeviceDatabase> volume_;
  std::unique_ptr<SyncSettings> settings_;
  std::unique_ptr<ProgressDialog> progress_;
  std::unique_ptr<CategoryList> categories_;
};

constexpr const char* kReply =
    "OK\n"
    "2\n"
    "news|3|0\n"
    "sport|5|1\n"
    "3\n"
    "Headlines|1|a|b|10|news|x\n"
    "Scores|2|c|d|11|sport|y\n"
    "Weather|3|e|f|12|weather|z\n";

TEST_F(ProfileExchangeTest, OkReplyFillsCategoriesAndItems) {
  ASSERT_TRUE(Exchange(kReply));
  EXPECT_EQ(Picture(),
            "news=3[Headlines|1|a|b|10|news|x;]"
            "sport=5[Scores|2|c|d|11|sport|y;]"
            "weather=0*[Weather|3|e|f|12|weather|z;]");
  EXPECT_EQ(categories_->contentCount(), 3);
  ASSERT_EQ(http_.requests().size(), 1u);
  EXPECT_EQ(http_.requests()[0].object.rfind("/zavrik/update/profile?", 0), 0u);
  EXPECT_EQ(http_.requests()[0].verb, "GET");
  // Both status texts advanced the upper bar by one.
  ProgressDialog::View view = progress_->Snapshot();
  EXPECT_EQ(view.status, "Reading Status");
  EXPECT_EQ(view.upper.position, 2);
  EXPECT_EQ(view.lower.range, 0);  // 3 / 20
}

TEST_F(ProfileExchangeTest, CarriageReturnsAreIgnored) {
  ASSERT_TRUE(Exchange(kReply));
  std::string withLf = Picture();
  std::string crlf;
  for (char c : std::string(kReply)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  ASSERT_TRUE(Exchange(crlf));
  EXPECT_EQ(Picture(), withLf);
}

TEST_F(ProfileExchangeTest, StatusWordInAnyCase) {
  std::string reply = kReply;
  reply.replace(0, 2, "ok");
  EXPECT_TRUE(Exchange(reply));
  EXPECT_EQ(categories_->size(), 3u);
  reply.replace(0, 2, "oK");
  EXPECT_TRUE(Exchange(reply));
}

TEST_F(ProfileExchangeTest, FiveFieldLineIsFiledUnderTheEmptyKey) {
  ASSERT_TRUE(Exchange("OK\n0\n1\nShort|4|a|b|9\n"));
  Category* empty = categories_->Find("");
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(empty->fromServer);
  ContentItem* item = empty->FindItem("4");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->title, "Short");
  EXPECT_EQ(item->version, "9");
  EXPECT_EQ(item->categoryKey, "");
  EXPECT_EQ(item->field7, "");
}

TEST_F(ProfileExchangeTest, ReplyEndingAfterTheStatusCountHasNoItems) {
  ASSERT_TRUE(Exchange("OK\n1\nnews|3|0\n250\n"));
  EXPECT_EQ(Picture(), "news=3[]");
  EXPECT_EQ(categories_->contentCount(), 0);
  EXPECT_EQ(progress_->Snapshot().lower.range, 12);
  EXPECT_EQ(progress_->Snapshot().lower.position, 0);
}

TEST_F(ProfileExchangeTest, EmptyStatusCountLeavesTheLowerBarAlone) {
  ASSERT_TRUE(Exchange("OK\n1\nnews|3|0\n"));
  ProgressDialog::View view = progress_->Snapshot();
  EXPECT_EQ(view.status, "Contacting Server for Profile");
  EXPECT_EQ(view.upper.position, 1);
  EXPECT_EQ(view.lower.range, 100);  // the bar's untouched range
}

TEST_F(ProfileExchangeTest, HundredStatusLinesStepTheLowerBarEveryTwentyLines) {
  std::string reply = "OK\n1\nnews|3|0\n100\n";
  for (int i = 1; i <= 100; ++i) {
    reply += "T|" + std::to_string(i) + "|a|b|1|news|x\n";
  }
  ASSERT_TRUE(Exchange(reply));
  ProgressDialog::View view = progress_->Snapshot();
  EXPECT_EQ(view.lower.range, 5);
  EXPECT_EQ(view.lower.position, 5);
  EXPECT_EQ(categories_->Find("news")->ItemCount(), 100u);

  // 39 lines: one step only (at line 20).
  reply = "OK\n1\nnews|3|0\n100\n";
  for (int i = 1; i <= 39; ++i) reply += "T|" + std::to_string(i) + "|a|b|1|news|x\n";
  ASSERT_TRUE(Exchange(reply));
  EXPECT_EQ(progress_->Snapshot().lower.position, 1);
}

TEST_F(ProfileExchangeTest, CategoryListedTwiceKeepsTheFirstVersion) {
  ASSERT_TRUE(Exchange("OK\n3\nnews|3|0\nsport|4|0\nnews|9|0\n0\n"));
  EXPECT_EQ(Picture(), "news=3[]sport=4[]");
}

TEST_F(ProfileExchangeTest, LaterLineOfTheSameContentIdWins) {
  ASSERT_TRUE(Exchange("OK\n1\nnews|3|0\n2\nOld|1|a|b|1|news|x\nNew|1|c|d|2|news|y\n"));
  EXPECT_EQ(Picture(), "news=3[New|1|c|d|2|news|y;]");
  EXPECT_EQ(categories_->contentCount(), 2);
}

TEST_F(ProfileExchangeTest, MoreCategoriesAnnouncedThanSent) {
  ASSERT_TRUE(Exchange("OK\n3\nnews|3|0\n"));
  // The two missing lines read as one category with an empty key.
  EXPECT_EQ(Picture(), "=0[]news=3[]");
}

TEST_F(ProfileExchangeTest, UnchangedCategoryDropsItsItems) {
  std::string err;
  CEOID id;
  ASSERT_TRUE(platform_.handheld().AddRecord(
      kVolume, "cats",
      {CePropVal::Text(kPropCategoryKey, u"news"), CePropVal::Ui4(kPropCategoryVersion, 3),
       CePropVal::Ui4(kPropCategoryInlineOnly, 1)},
      &id, &err))
      << err;
  ASSERT_TRUE(platform_.handheld().AddRecord(
      kVolume, "cats",
      {CePropVal::Text(kPropCategoryKey, u"sport"), CePropVal::Ui4(kPropCategoryVersion, 4),
       CePropVal::Ui4(kPropCategoryInlineOnly, 1)},
      &id, &err))
      << err;
  ASSERT_TRUE(Exchange(kReply));
  EXPECT_FALSE(categories_->Find("news")->acceptsContent);
  EXPECT_TRUE(categories_->Find("sport")->acceptsContent);
  EXPECT_EQ(Picture(),
            "news=3[]"
            "sport=5[Scores|2|c|d|11|sport|y;]"
            "weather=0*[Weather|3|e|f|12|weather|z;]");
  EXPECT_EQ(categories_->contentCount(), 3);
}

TEST_F(ProfileExchangeTest, RedirectUpdateOpensTheLoginPage) {
  EXPECT_FALSE(Exchange("REDIRECT\n?m=renew&x=1\nupdate\n"));
  EXPECT_EQ(platform_.shell().Opened(),
            std::vector<std::string>{"http://content.test/login?m=renew&x=1"});
  EXPECT_TRUE(platform_.shell().Beeps().empty());
  EXPECT_EQ(categories_->size(), 0u);
}

TEST_F(ProfileExchangeTest, RedirectInAnyCaseWithAnyCaseAction) {
  EXPECT_FALSE(Exchange("redirect\r\n/page\r\nUPDATE\r\n"));
  EXPECT_EQ(platform_.shell().Opened(), std::vector<std::string>{"http://content.test/login/page"});
}

TEST_F(ProfileExchangeTest, RedirectBeepsWhenTheBrowserCannotStart) {
  platform_.shell().SetOpenResult(2);
  EXPECT_FALSE(Exchange("REDIRECT\n?m=x\nupdate\n"));
  EXPECT_EQ(platform_.shell().Opened().size(), 1u);
  EXPECT_EQ(platform_.shell().Beeps(), std::vector<unsigned>{0});
}

TEST_F(ProfileExchangeTest, RedirectWithAnotherActionOpensNothing) {
  EXPECT_FALSE(Exchange("REDIRECT\n?m=x\nlogin\n"));
  EXPECT_TRUE(platform_.shell().Opened().empty());
  EXPECT_TRUE(platform_.shell().Beeps().empty());
}

TEST_F(ProfileExchangeTest, OtherStatusWordsEndTheExchange) {
  EXPECT_FALSE(Exchange("ERROR\nnews|3|0\nupdate\n"));
  EXPECT_FALSE(Exchange("OKAY\n1\nnews|3|0\n"));
  EXPECT_EQ(categories_->size(), 0u);
  EXPECT_TRUE(platform_.shell().Opened().empty());
}

TEST_F(ProfileExchangeTest, FailedFetchEndsTheExchange) {
  http_.Clear();
  settings_ = std::make_unique<SyncSettings>(platform_.ports(), &props_);
  progress_ =
      std::make_unique<ProgressDialog>(platform_.ports(), nullptr, "News", true, false, kPath);
  categories_ = std::make_unique<CategoryList>(platform_.ports());
  SyncRunner runner(platform_.ports());
  EXPECT_FALSE(runner.ExchangeProfile(*settings_, *progress_, *categories_));
  EXPECT_EQ(progress_->Snapshot().status, "Contacting Server for Profile");
  EXPECT_EQ(categories_->size(), 0u);
}

}  // namespace
}  // namespace hhsync
