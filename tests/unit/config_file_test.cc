#include "app/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"
#include "support/bmp.h"
#include "support/edm_body.h"
#include "support/test_platform.h"

namespace hhsync {
namespace {

using Bytes = std::vector<uint8_t>;

// S.DAT bytes written out field by field (big-endian), independent of
// BuildSdat, with room to give an entry an offset or length of its own.
struct RawEntry {
  RawEntry(std::string n, uint16_t t, std::string d, std::optional<uint32_t> o = {},
           std::optional<uint16_t> l = {})
      : name(std::move(n)), type(t), data(std::move(d)), offset(o), length(l) {}
  std::string name;
  uint16_t type;
  std::string data;
  std::optional<uint32_t> offset;  // default: where the data is placed
  std::optional<uint16_t> length;  // default: data size
};

Bytes RawSdat(const std::vector<RawEntry>& entries, std::optional<uint32_t> count = {},
              uint8_t firstByte = 0) {
  using test::BigEndian;
  auto at = static_cast<uint32_t>(5);
  for (const auto& e : entries) at += static_cast<uint32_t>(8 + e.name.size() + 1);
  std::string b = static_cast<char>(firstByte) +
                  BigEndian(count.value_or(static_cast<uint32_t>(entries.size())));
  for (const auto& e : entries) {
    b += BigEndian(e.offset.value_or(at)) + BigEndian(e.type).substr(2) +
         BigEndian(e.length.value_or(static_cast<uint16_t>(e.data.size()))).substr(2) + e.name +
         '\0';
    at += static_cast<uint32_t>(e.data.size());
  }
  for (const auto& e : entries) b += e.data;
  return Bytes(b.begin(), b.end());
}

// A BMP file image of 54 header bytes and the given pixel bytes.
std::string Bmp(const std::string& pixels) {
  test::Bmp bmp;
  bmp.pixels.assign(pixels.begin(), pixels.end());
  return bmp.Text();
}

Bytes AsBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

class ConfigFileTest : public ::testing::Test {
 protected:
  ConfigFile Load(const Bytes& bytes) {
    test::WriteFile(dir_.File("S.DAT"), std::string(bytes.begin(), bytes.end()));
    return ConfigFile::Load(paths_, ui_);
  }

  test::TempDir dir_;
  EnvPaths paths_{dir_.path()};
  ScriptedUi ui_;
};

TEST_F(ConfigFileTest, MissingOrUnreadableFileShowsMessageAndLoadFails) {
  const ConfigFile missing = ConfigFile::Load(paths_, ui_);
  EXPECT_TRUE(missing.LoadFailed());
  EXPECT_EQ(missing.EntryCount(), 0u);
  auto shown = ui_.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to open configuration file.");
  EXPECT_EQ(shown[0].style.buttons, MbButtons::kOk);

  std::filesystem::create_directory(dir_.File("S.DAT"));  // opens, but cannot be read
  const ConfigFile unreadable = ConfigFile::Load(paths_, ui_);
  EXPECT_TRUE(unreadable.LoadFailed());
  EXPECT_EQ(ui_.Texts().size(), 2u);
}

TEST_F(ConfigFileTest, ReadsEveryKindOfEntry) {
  const std::string bmp = Bmp("\x10\x20\x30\x40");
  ConfigFile config =
      Load(RawSdat({{"sync.properties", 14, "name=Demo\nregistry=Software\\Co\\App\\\n"},
                    {"main.bmp", 3, bmp},
                    {"notes", 1, "caf\xE9 \x93quoted\x94"},
                    {"more", 2, "second kind of text"}},
                   std::nullopt, /*firstByte=*/0xA5));
  ASSERT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 4u);

  const PropertySet* props = config.GetPropertySet("sync.properties");
  ASSERT_NE(props, nullptr);
  EXPECT_EQ(props->size(), 2u);
  EXPECT_EQ(props->Get("registry"), "Software\\Co\\App\\");
  EXPECT_EQ(props->Get("nologo", "NO"), "NO");

  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(*config.GetBitmap("main.bmp"), AsBytes(bmp));
  ASSERT_NE(config.GetText("notes"), nullptr);
  EXPECT_EQ(*config.GetText("notes"), "caf\xE9 \x93quoted\x94");  // bytes kept, not converted
  ASSERT_NE(config.GetText("more"), nullptr);
  EXPECT_EQ(*config.GetText("more"), "second kind of text");

  EXPECT_EQ(config.GetText("main.bmp"), nullptr);  // not found by the wrong kind
}

TEST_F(ConfigFileTest, PropertyLinesFollowTheLineRules) {
  ConfigFile config = Load(RawSdat({{"p", 14,
                                     "a=b=c\n"
                                     " name=spaced\n"
                                     "#name=commented\n"
                                     "no equals sign\n"
                                     "\n"
                                     "k=1\n"
                                     "k=2\n"
                                     "=no key\n"
                                     "trail= value with blanks \n"
                                     "empty="},
                                    {"lf", 14, "name=Demo\n#x=y\npartner=p=q"},
                                    {"crlf", 14, "name=Demo\r\n#x=y\r\npartner=p=q\r\n"}}));
  const PropertySet* props = config.GetPropertySet("p");
  ASSERT_NE(props, nullptr);
  PropertySet::Map expected{{"a", "b=c"},
                            {" name", "spaced"},
                            {"k", "2"},
                            {"", "no key"},
                            {"trail", " value with blanks "},
                            {"empty", ""}};
  EXPECT_EQ(props->Entries(), expected);

  const PropertySet* lf = config.GetPropertySet("lf");
  const PropertySet* crlf = config.GetPropertySet("crlf");
  ASSERT_NE(lf, nullptr);
  ASSERT_NE(crlf, nullptr);
  EXPECT_EQ(lf->size(), 2u);
  EXPECT_EQ(*lf, *crlf);
}

TEST_F(ConfigFileTest, LaterEntryOfTheSameNameWinsAndOtherTypesAreSkipped) {
  const std::string second = Bmp("\x02\x02\x02\x02");
  ConfigFile config = Load(RawSdat({{"main.bmp", 3, Bmp("\x01\x01")},
                                    {"x", 1, "text first"},
                                    {"main.bmp", 3, second},
                                    {"x", 14, "k=v"},
                                    {"x", 7, "ignored", 0xFFFFFFF0u, 0xFFFF},
                                    {"c", 1, "after"}}));
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 3u);
  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(*config.GetBitmap("main.bmp"), AsBytes(second));
  EXPECT_EQ(config.GetText("x"), nullptr);
  ASSERT_NE(config.GetPropertySet("x"), nullptr);
  EXPECT_EQ(config.GetPropertySet("x")->Get("k"), "v");
  ASSERT_NE(config.GetText("c"), nullptr);
}

TEST_F(ConfigFileTest, BitmapFindsItsLengthFromItsHeader) {
  // The bitmap's data is followed by the text's, so only the header tells
  // where the image ends; the length field of a bitmap is not used.
  const std::string bmp = Bmp("\x11\x22\x33\x44");
  ConfigFile config = Load(RawSdat({{"main.bmp", 3, bmp, std::nullopt, 3}, {"t", 1, "TAIL"}}));
  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(*config.GetBitmap("main.bmp"), AsBytes(bmp));
  ASSERT_NE(config.GetText("t"), nullptr);
  EXPECT_EQ(*config.GetText("t"), "TAIL");

  // A size beyond what is there, or too small for the headers: the rest.
  for (auto [declared, length] : {std::pair{80, 80}, std::pair{336, 200}, std::pair{10, 200}}) {
    Bytes rest = {'B', 'M', static_cast<uint8_t>(declared), static_cast<uint8_t>(declared >> 8)};
    rest.resize(200);
    EXPECT_EQ(BitmapImageLength(rest), static_cast<std::size_t>(length)) << declared;
  }
  EXPECT_EQ(BitmapImageLength(Bytes{'B', 'M', 80, 0}), 4u);
}

TEST_F(ConfigFileTest, ADirectoryThatLiesEndsAtTheFirstEntryOutsideTheFile) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::size_t kept;
  };
  const std::vector<Case> cases = {
      {"data past the end",
       RawSdat({{"a", 1, "ok"}, {"b", 1, "short", std::nullopt, 5000}, {"c", 1, "never read"}}), 1},
      {"offset past the end", RawSdat({{"a", 14, "k=v"}, {"b", 3, Bmp(""), 0x7FFFFFFFu}}), 1},
      {"count too large", RawSdat({{"a", 1, "A"}, {"b", 1, "B"}}, 0xFFFFFFFFu), 2},
  };
  for (const Case& c : cases) {
    ConfigFile config = Load(c.bytes);
    EXPECT_FALSE(config.LoadFailed()) << c.what;
    EXPECT_EQ(config.EntryCount(), c.kept) << c.what;
    EXPECT_EQ(config.GetText("b") != nullptr || config.GetBitmap("b") != nullptr, c.kept >= 2)
        << c.what;
  }
}

// Cuts a well-formed file at every length: loading never reads beyond it and
// keeps exactly the entries that lie wholly before the cut (a bitmap keeps
// what is left of its image).
TEST_F(ConfigFileTest, TruncatedFilesKeepTheEntriesBeforeTheCut) {
  const std::string bmp = Bmp("\x01\x02\x03\x04\x05\x06");
  const std::vector<RawEntry> entries{{"notes", 1, "hello"},
                                      {"sync.properties", 14, "name=Demo\nproduct=9\n"},
                                      {"main.bmp", 3, bmp}};
  const Bytes full = RawSdat(entries);
  std::vector<std::size_t> recordEnd;  // where each directory record ends
  std::size_t pos = 5;
  for (const auto& e : entries) recordEnd.push_back(pos += 8 + e.name.size() + 1);
  std::vector<std::size_t> dataEnd;  // where each entry's data ends
  for (const auto& e : entries) dataEnd.push_back(pos += e.data.size());
  const std::size_t bitmapStart = dataEnd[1];

  // A directory of no entries is whole once its count is there.
  EXPECT_TRUE(ReadSdatDirectory(Bytes(kSdatDirectoryStart, 0)).complete);
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Bytes cutFile(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    ConfigFile config = Load(cutFile);
    EXPECT_FALSE(config.LoadFailed());
    // A directory cut anywhere, a name before its zero byte too, is not whole.
    if (cut > 0 && cut < recordEnd.back()) {
      EXPECT_FALSE(ReadSdatDirectory(cutFile).complete);
    }

    // Entries are kept in order while each one's record fits and its data
    // fits (a bitmap needs only its start).
    std::size_t kept = 0;
    while (kept < entries.size() && recordEnd[kept] <= cut &&
           (kept == 2 ? bitmapStart <= cut : dataEnd[kept] <= cut)) {
      ++kept;
    }
    EXPECT_EQ(config.EntryCount(), kept);
    EXPECT_EQ(config.GetText("notes") != nullptr, kept >= 1);
    EXPECT_EQ(config.GetPropertySet("sync.properties") != nullptr, kept >= 2);
    EXPECT_EQ(config.GetBitmap("main.bmp") != nullptr, kept >= 3);
    if (kept >= 2) {
      EXPECT_EQ(config.GetPropertySet("sync.properties")->Get("product"), "9");
    }
    if (kept >= 3) {
      const Bytes& image = *config.GetBitmap("main.bmp");
      EXPECT_EQ(image.size(), cut - bitmapStart);
      EXPECT_TRUE(std::equal(image.begin(), image.end(), bmp.begin()));
    }
  }
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST(ConfigFileFormatTest, BuildSdatStoresALargeBitmapAndRefusesWhatCannotBeStored) {
  Bytes out;
  std::string error;
  // A bitmap too long for the length field is stored whole behind 0xFFFF.
  test::Bmp big;
  big.pixels.resize(70000 - 54, 0x5A);
  const Bytes image = big.Bytes();
  ASSERT_TRUE(BuildSdat({{"main.bmp", kSdatBitmap, image}, {"t", kSdatText, {'z'}}}, &out, &error))
      << error;
  SdatDirectory dir = ReadSdatDirectory(out);
  ASSERT_EQ(dir.records.size(), 2u);
  EXPECT_EQ(dir.records[0].length, 0xFFFF);
  EXPECT_EQ(dir.records[0].dataSize, 70000u);
  EXPECT_EQ(out[dir.records[1].offset], 'z');

  // Other entries that do not fit, and names holding a zero byte, are refused.
  EXPECT_FALSE(BuildSdat({{"t", kSdatText, Bytes(65536, 'x')}}, &out, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(BuildSdat({{std::string("a\0b", 3), kSdatText, {}}}, &out, &error));
}

}  // namespace
}  // namespace hhsync
