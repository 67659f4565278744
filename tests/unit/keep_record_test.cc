#include "extras/keep_record.h"

#include <gtest/gtest.h>

#include "device/device_database.h"
#include "device/records.h"
#include "device/wide_text.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using test::TestPlatform;

TEST(KeepRecordTextTest, FieldsInOrderWithBarOfLastFieldBlankAndEscapes) {
  KeepRecord record(7, "x&y", "1|2", "a b", "50%");
  EXPECT_EQ(record.ToText(), "7|a+b|x%26y|50%25|1+2");
  // The blank that replaced the "|" stays in the field.
  EXPECT_EQ(record.text103(), "1 2");
}

TEST(KeepRecordTextTest, LineEndsBecomeLowerCaseHex) {
  KeepRecord record(1, "line\r\nnext", "", "", "");
  EXPECT_EQ(record.ToText(), "1||line%0d%0anext||");
}

TEST(KeepRecordTextTest, EveryEscapeOnceAndPercentFirst) {
  KeepRecord record(0, "%&#*$ \n\r", "", "", "");
  EXPECT_EQ(record.ToText(), "0||%25%26%23%2a%24+%0a%0d||");
  // A text that already looks escaped is escaped again, once.
  KeepRecord escaped(0, "%2a", "", "", "");
  EXPECT_EQ(escaped.ToText(), "0||%252a||");
}

TEST(KeepRecordTextTest, PlusEqualsAndBarsOfOtherFieldsPassUnchanged) {
  KeepRecord record(4294967295u, "a+b=c", "z", "p|q", "r|s");
  EXPECT_EQ(record.ToText(), "4294967295|p|q|a+b=c|r|s|z");
}

TEST(KeepRecordTextTest, PageRequestOnlyWhenTextStartsWithMColon) {
  EXPECT_TRUE(KeepRecord(0, "m:news", "", "", "").IsPageRequest());
  EXPECT_TRUE(KeepRecord(0, "m:", "", "", "").IsPageRequest());
  EXPECT_FALSE(KeepRecord(0, "xm:news", "", "", "").IsPageRequest());
  EXPECT_FALSE(KeepRecord(0, "M:news", "", "", "").IsPageRequest());
  EXPECT_FALSE(KeepRecord(0, "m", "", "", "").IsPageRequest());
  EXPECT_FALSE(KeepRecord(0, "", "", "", "").IsPageRequest());
}

class KeepRecordReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err;
    ASSERT_TRUE(p_.handheld().CreateVolume("vol", &err)) << err;
    p_.Connect();
    volume_ = std::make_unique<DeviceDatabase>(p_.ports(), "vol");
    ASSERT_TRUE(volume_->mounted());
  }
  void TearDown() override {
    if (handle_ != 0) volume_->CloseHandle(handle_);
  }
  void Add(const std::vector<CePropVal>& props) {
    CEOID id = 0;
    std::string err;
    ASSERT_TRUE(p_.handheld().AddRecord("vol", "keep", props, &id, &err)) << err;
  }
  void Open() {
    CEOID oid = 0;
    ASSERT_TRUE(volume_->OpenExisting("keep", &handle_, &oid));
  }

  TestPlatform p_;
  std::unique_ptr<DeviceDatabase> volume_;
  CeDbHandle handle_ = 0;
};

TEST_F(KeepRecordReadTest, ReadsTheFivePropertiesAndIgnoresOthers) {
  Add({CePropVal::Ui4(UintProp(100), 7), CePropVal::Text(TextProp(101), u"m:x&y"),
       CePropVal::Text(TextProp(103), u"1|2"), CePropVal::Text(TextProp(104), u"a b"),
       CePropVal::Text(TextProp(105), u"50% caf\u00e9"), CePropVal::Ui4(UintProp(106), 9)});
  Open();
  KeepRecord record(p_.ports(), handle_);
  EXPECT_EQ(record.value100(), 7u);
  EXPECT_EQ(record.text101(), "m:x&y");
  EXPECT_EQ(record.text105(), "50% caf\xe9");  // stored in the ANSI code page
  EXPECT_TRUE(record.IsPageRequest());
  EXPECT_EQ(record.ToText(), "7|a+b|m:x%26y|50%25+caf\xe9|1+2");
  EXPECT_TRUE(p_.ui().Messages().empty());
}

TEST_F(KeepRecordReadTest, EachMissingPropertyShowsPropNotFoundOnce) {
  Add({CePropVal::Text(TextProp(101), u"hello"), CePropVal::Text(TextProp(104), u"t")});
  Add({CePropVal::Ui4(UintProp(100), 3), CePropVal::Text(TextProp(101), u"m:p"),
       CePropVal::Text(TextProp(103), u"c"), CePropVal::Text(TextProp(104), u"d"),
       CePropVal::Text(TextProp(105), u"e")});
  Open();
  KeepRecord first(p_.ports(), handle_);
  auto shown = p_.ui().Messages();
  ASSERT_EQ(shown.size(), 3u);  // 100, 103 and 105 are missing
  for (const auto& m : shown) {
    EXPECT_EQ(m.text, "prop not found");
    EXPECT_EQ(m.style.buttons, MbButtons::kOk);
  }
  EXPECT_EQ(first.value100(), 0u);
  EXPECT_EQ(first.text103(), "");
  EXPECT_EQ(first.text105(), "");
  EXPECT_EQ(first.ToText(), "0|t|hello||");

  // Reading goes on with the next record.
  KeepRecord second(p_.ports(), handle_);
  EXPECT_EQ(p_.ui().Messages().size(), 3u);
  EXPECT_EQ(second.ToText(), "3|d|m:p|e|c");

  // Past the last record every field stays empty, without a message.
  KeepRecord none(p_.ports(), handle_);
  EXPECT_EQ(p_.ui().Messages().size(), 3u);
  EXPECT_EQ(none.ToText(), "0||||");
  EXPECT_FALSE(none.IsPageRequest());
}

}  // namespace
}  // namespace hhsync
