#include "settings/request_urls.h"

#include <gtest/gtest.h>

#include "formats/sdat.h"
#include "settings/sync_settings.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

constexpr const char* kPath = "Software\\Acme\\News\\";

TEST(UrlEncodeTest, EscapesOutsideQuoteToZ) {
  EXPECT_EQ(UrlEncode("a b&c"), "a%20b%26c");
  EXPECT_EQ(UrlEncode("+=/?:@'()*,-._[]\\^`"), "+=/?:@'()*,-._[]\\^`");
  EXPECT_EQ(UrlEncode("\xe9\t!\"#$%&{|}~\x7f"), "%E9%09%21%22%23%24%25%26%7B%7C%7D%7E%7F");
  EXPECT_EQ(UrlEncode(std::string("\0z", 2)), "%00z");
}

TEST(RequestUrlTest, ProfileAndResourceUrlsAreWholeStrings) {
  test::TestPlatform p;
  p.Connect();
  auto set = [&](const std::string& name, const std::string& value) {
    p.SetDevice(kPath + name, value);
  };
  set("baseurl", "http://127.0.0.1:8080/zavrik");
  set("pu", "a b&c+=\xc3\xa9");  // the admin side takes UTF-8
  set("sd6", "A1 |x");
  set("pv", "3.1");
  set("nu", "17");
  set("dt", "d t\t");
  PropertySet props;
  props.Set("registry", kPath);
  props.Set("partner", "Acme & Co");
  props.Set("product", "news pro");
  SyncSettings s(p.ports(), &props);
  EXPECT_EQ(s.ProfileUrl(),
            "http://127.0.0.1:8080/zavrik/update/profile?su=a%20b%26c+=%E9|A1 |x&p=Acme & Co"
            "&pl=ce&ver=2.86&pv=3.1&u=17&pr=news pro&dt=d%20t%09&nrr=0");
  EXPECT_EQ(s.ResourceUrl(),
            "http://127.0.0.1:8080/zavrik/update/resource?pl=ce&x=SD6&p=Acme & Co&ver=2.86"
            "&pv=3.1&u=17&su=a%20b%26c+=%E9|A1 |x&pr=news pro&dt=d%20t%09");
  // nrr was created with its default; dt is read afresh for every URL.
  EXPECT_EQ(p.Device(kPath + std::string("nrr")), "0");
  set("dt", "new");
  set("nrr", "4");
  EXPECT_EQ(s.ProfileUrl().substr(s.ProfileUrl().find("&dt=")), "&dt=new&nrr=4");

  set("pu", "");
  set("sd6", "A1");
  SyncSettings t(p.ports(), &props);
  EXPECT_NE(t.ProfileUrl().find("?su=|A1&p="), std::string::npos);
}

}  // namespace
}  // namespace hhsync
