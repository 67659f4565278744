#include "extras/keep_record.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "device/device_database.h"
#include "device/records.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

TEST(KeepRecordTest, TextFormOrderAndEscapes) {
  struct Case {
    uint32_t v100;
    const char *t101, *t103, *t104, *t105, *text;
  };
  for (const Case& c : std::vector<Case>{
           {7, "x&y", "1|2", "a b", "50%", "7|a+b|x%26y|50%25|1+2"},
           {1, "line\r\nnext", "", "", "", "1||line%0d%0anext||"},
           // Every escape, "%" first so later "%"s are not escaped again.
           {0, "%&#*$ \n\r", "", "", "", "0||%25%26%23%2a%24+%0a%0d||"},
           // "+", "=" and a "|" outside the last field pass unchanged.
           {4294967295u, "a+b=c", "z", "p|q", "r|s", "4294967295|p|q|a+b=c|r|s|z"},
       }) {
    KeepRecord record(c.v100, c.t101, c.t103, c.t104, c.t105);
    EXPECT_EQ(record.ToText(), c.text);
  }
}

TEST(KeepRecordTest, PageRequestOnlyWhenTextStartsWithMColon) {
  for (auto [text, page] : std::vector<std::pair<const char*, bool>>{
           {"m:news", true}, {"m:", true}, {"xm:news", false}, {"", false}}) {
    EXPECT_EQ(KeepRecord(0, text, "", "", "").IsPageRequest(), page) << text;
  }
}

TEST(KeepRecordTest, ReadsFivePropertiesAndTellsOfEachMissingOne) {
  test::TestPlatform p;
  std::string err;
  ASSERT_TRUE(p.handheld().CreateVolume("vol", &err)) << err;
  p.Connect();
  VolumeMount& mount = p.mount();
  DeviceDatabase volume(mount, "vol");
  p.AddRecord("vol", "keep",
              {CePropVal::Ui4(UintProp(100), 7), CePropVal::Text(TextProp(101), u"m:x&y"),
               CePropVal::Text(TextProp(103), u"1|2"), CePropVal::Text(TextProp(104), u"a b"),
               CePropVal::Text(TextProp(105), u"50% caf\u00e9"), CePropVal::Ui4(UintProp(106), 9)});
  p.AddRecord("vol", "keep",
              {CePropVal::Text(TextProp(101), u"hello"), CePropVal::Text(TextProp(104), u"t")});
  CEOID id = 0;
  DbHandle handle;
  ASSERT_TRUE(volume.OpenExisting("keep", &handle, &id));

  KeepRecord full(volume, handle);
  EXPECT_EQ(full.ToText(), "7|a+b|m:x%26y|50%25+caf\xe9|1+2");  // ANSI code page
  EXPECT_EQ(full.text103(), "1 2");                             // the blank stays in the field
  EXPECT_TRUE(full.IsPageRequest());
  EXPECT_TRUE(p.ui().Messages().empty());

  KeepRecord partial(volume, handle);  // 100, 103 and 105 are missing
  EXPECT_EQ(partial.ToText(), "0|t|hello||");
  auto shown = p.ui().Messages();
  ASSERT_EQ(shown.size(), 3u);
  for (const auto& m : shown) {
    EXPECT_EQ(m.text, "prop not found");
    EXPECT_EQ(m.style.buttons, MbButtons::kOk);
  }

  KeepRecord none(volume, handle);  // past the end: empty, no message
  EXPECT_EQ(p.ui().Messages().size(), 3u);
  handle.Close();
}

}  // namespace
}  // namespace hhsync
