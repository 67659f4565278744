// The profile exchange: reading the server's profile reply into the category
// set, over an in-memory internet client and an emulated handheld.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/dialogs/progress_dialog.h"
#include "app/sync_runner.h"
#include "content/category_list.h"
#include "content/content_item.h"
#include "device/device_database.h"
#include "formats/sdat.h"
#include "settings/sync_settings.h"
#include "support/content_fixture.h"

namespace hhsync {
namespace {

constexpr const char* kReply =
    "OK\n2\nnews|3|0\nsport|5|1\n3\n"
    "Headlines|1|a|b|10|news|x\nScores|2|c|d|11|sport|y\nWeather|3|e|f|12|weather|z\n";

class ProfileExchangeTest : public test::ContentStepTest {
 protected:
  // Runs the exchange over reply (a status of 404 when null); the dialog and
  // the category set stay for inspection.
  bool Exchange(const char* reply, RunOptions options = {}) {
    http_.Serve("/zavrik/update/profile?", MemoryReply{reply ? 200 : 404, reply ? reply : "", -1});
    categories_.reset();
    NewRun();
    categories_ = std::make_unique<CategoryList>(mount_, platform_.ui());
    return SyncRunner(platform_.ports(), options)
        .ExchangeProfile({*progress_, *settings_, *link_}, *categories_);
  }
  bool Exchange(const std::string& reply) { return Exchange(reply.c_str()); }

  // key=version[items] per category, "*" after a category the profile did
  // not list; an item as its seven fields.
  std::string Picture() {
    std::string out;
    for (const auto& [key, category] : categories_->categories()) {
      out += key + "=" + std::to_string(category->version()) +
             (category->state().fromServer ? "[" : "*[");
      for (const char* id : {"1", "2", "3", "4"}) {
        const ContentItem* i = category->FindItem(id);
        if (i) {
          for (std::string_view f : {i->title(), i->contentId(), i->field3(), i->field4(),
                                     i->version(), i->categoryKey()}) {
            out.append(f).append("|");
          }
          out.append(i->field7()).append(";");
        }
      }
      out += "]";
    }
    return out;
  }

  std::unique_ptr<CategoryList> categories_;
};

// kReply lists five entries: two categories and three status lines.
TEST_F(ProfileExchangeTest, AProfileOfExactlyTheCapIsReadAndOneMoreFails) {
  EXPECT_TRUE(Exchange(kReply, RunOptions{.maxProfileEntries = 5}));
  EXPECT_FALSE(Exchange(kReply, RunOptions{.maxProfileEntries = 4}));
}

TEST_F(ProfileExchangeTest, OkReplyFillsCategoriesAndItems) {
  const std::string picture =
      "news=3[Headlines|1|a|b|10|news|x;]sport=5[Scores|2|c|d|11|sport|y;]"
      "weather=0*[Weather|3|e|f|12|weather|z;]";
  ASSERT_TRUE(Exchange(kReply));
  EXPECT_EQ(Picture(), picture);
  EXPECT_EQ(categories_->contentCount(), 3);
  ASSERT_EQ(http_.requests().size(), 1u);
  EXPECT_EQ(http_.requests()[0].object.rfind("/zavrik/update/profile?", 0), 0u);

  // Carriage returns are ignored; the status word is read in any case.
  std::string crlf;
  for (char c : std::string(kReply)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_TRUE(Exchange(crlf));
  EXPECT_EQ(Picture(), picture);
  ASSERT_TRUE(Exchange("ok" + std::string(kReply + 2)));
  EXPECT_EQ(Picture(), picture);

  // A category whose "cats" record holds the profile's version drops its
  // items as they arrive; they still count.
  std::string err;
  for (auto [key, version] : {std::pair{u"news", 3u}, std::pair{u"sport", 4u}}) {
    ASSERT_TRUE(platform_.handheld().AddRecord(
        kVolume, "cats",
        {CePropVal::Text(kPropCategoryKey, key), CePropVal::Ui4(kPropCategoryVersion, version)},
        nullptr, &err))
        << err;
  }
  ASSERT_TRUE(Exchange(kReply));
  EXPECT_EQ(Picture(), "news=3[]" + picture.substr(picture.find("sport")));
  EXPECT_EQ(categories_->contentCount(), 3);
}

TEST_F(ProfileExchangeTest, LineEdgeCases) {
  // Five fields: the category key and field 7 are empty.
  ASSERT_TRUE(Exchange("OK\n0\n1\nShort|4|a|b|9\n"));
  EXPECT_EQ(Picture(), "=0*[Short|4|a|b|9||;]");
  // The first line of a category wins, the last line of a content id.
  ASSERT_TRUE(
      Exchange("OK\n3\nnews|3|0\nsport|4|0\nnews|9|0\n2\n"
               "Old|1|a|b|1|news|x\nNew|1|c|d|2|news|y\n"));
  EXPECT_EQ(Picture(), "news=3[New|1|c|d|2|news|y;]sport=4[]");
  EXPECT_EQ(categories_->contentCount(), 2);
  // More categories announced than sent: the missing lines are one category
  // with an empty key, however many were announced.
  ASSERT_TRUE(Exchange("OK\n2000000000\nnews|3|0\n"));
  EXPECT_EQ(Picture(), "=0[]news=3[]");
}

TEST_F(ProfileExchangeTest, ReplyEndingAfterTheStatusCountHasNoItems) {
  // A reply that ends after the status count: no items, still true.
  ASSERT_TRUE(Exchange("OK\n1\nnews|3|0\n250\n"));
  EXPECT_EQ(Picture(), "news=3[]");
}

TEST_F(ProfileExchangeTest, RepliesThatEndTheExchange) {
  // A shell failure must not fall back to the registered browser.
  auto& r = platform_.registry();
  r.CreateKey(RegRoot::kClassesRoot, ".htm");
  r.SetValue(RegRoot::kClassesRoot, ".htm", "", RegValue::String("htmlfile"));
  r.CreateKey(RegRoot::kClassesRoot, "htmlfile\\shell\\open\\command");
  r.SetValue(RegRoot::kClassesRoot, "htmlfile\\shell\\open\\command", "",
             RegValue::String("browser %1"));
  struct Case {
    const char* reply;
    bool shellOpens;
    const char* opened;  // the page opened, or null
    bool beep;
  };
  const Case cases[] = {
      {"REDIRECT\n?m=renew&x=1\nupdate\n", true, "http://content.test:8080/login?m=renew&x=1",
       false},
      {"redirect\r\n/page\r\nUPDATE\r\n", true, "http://content.test:8080/login/page", false},
      {"REDIRECT\n?m=x\nupdate\n", false, "http://content.test:8080/login?m=x", true},
      {"REDIRECT\n?m=x\nlogin\n", true, nullptr, false},
      {"ERROR\nnews|3|0\nupdate\n", true, nullptr, false},
      {"OKAY\n1\nnews|3|0\n", true, nullptr, false},
      {nullptr, true, nullptr, false},  // the fetch failed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply ? c.reply : "404");
    platform_.shell().SetOpenSucceeds(c.shellOpens);
    std::size_t opened = platform_.shell().Opened().size();
    std::size_t beeps = platform_.shell().Beeps().size();
    EXPECT_FALSE(Exchange(c.reply));
    EXPECT_EQ(categories_->size(), 0u);
    std::vector<std::string> pages = platform_.shell().Opened();
    ASSERT_EQ(pages.size(), opened + (c.opened ? 1 : 0));
    if (c.opened) {
      EXPECT_EQ(pages.back(), c.opened);
      EXPECT_EQ(platform_.shell().LastShow(), 1);  // normal show
    }
    EXPECT_EQ(platform_.shell().Beeps().size(), beeps + (c.beep ? 1 : 0));
    EXPECT_TRUE(platform_.shell().Commands().empty());
  }
  EXPECT_EQ(platform_.shell().Beeps(), std::vector<unsigned>{0});
}

}  // namespace
}  // namespace hhsync
