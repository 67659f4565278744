#include "app/config_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/scripted_ui.h"
#include "platform/linux/env_paths.h"

namespace hhsync {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

// S.DAT bytes written out field by field, independent of BuildSdat, with
// room to give an entry an offset or length of its own.
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

void Put32(Bytes* b, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b->push_back(static_cast<uint8_t>(v >> shift));
}
void Put16(Bytes* b, uint16_t v) {
  b->push_back(static_cast<uint8_t>(v >> 8));
  b->push_back(static_cast<uint8_t>(v));
}

Bytes RawSdat(const std::vector<RawEntry>& entries, std::optional<uint32_t> count = {},
              uint8_t firstByte = 0) {
  std::size_t dataStart = 5;
  for (const auto& e : entries) dataStart += 8 + e.name.size() + 1;
  Bytes b{firstByte};
  Put32(&b, count.value_or(static_cast<uint32_t>(entries.size())));
  std::size_t at = dataStart;
  for (const auto& e : entries) {
    Put32(&b, e.offset.value_or(static_cast<uint32_t>(at)));
    Put16(&b, e.type);
    Put16(&b, e.length.value_or(static_cast<uint16_t>(e.data.size())));
    b.insert(b.end(), e.name.begin(), e.name.end());
    b.push_back(0);
    at += e.data.size();
  }
  for (const auto& e : entries) b.insert(b.end(), e.data.begin(), e.data.end());
  return b;
}

// A BMP file image of 54 header bytes and the given pixel bytes whose file
// header declares declaredSize (the real size when 0 is not wanted).
std::string Bmp(const std::string& pixels, std::optional<uint32_t> declaredSize = {}) {
  uint32_t size = declaredSize.value_or(static_cast<uint32_t>(54 + pixels.size()));
  std::string b = "BM";
  for (int i = 0; i < 4; ++i) b += static_cast<char>((size >> (8 * i)) & 0xFF);
  b += std::string(4, '\0');
  b += std::string("\x36\0\0\0", 4);  // pixel data offset 54
  b += std::string("\x28\0\0\0", 4);  // info header size 40
  b += std::string(36, '\x01');
  return b + pixels;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("hhsync_config_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
    paths_.emplace(dir_.string());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void WriteSdat(const Bytes& bytes) {
    std::ofstream out(dir_ / "S.DAT", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  ConfigFile Load(const Bytes& bytes) {
    WriteSdat(bytes);
    return ConfigFile(*paths_, ui_);
  }

  fs::path dir_;
  std::optional<EnvPaths> paths_;
  ScriptedUi ui_;
};

TEST_F(ConfigFileTest, MissingFileShowsMessageAndLoadFails) {
  ConfigFile config(*paths_, ui_);
  EXPECT_TRUE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 0u);
  EXPECT_EQ(config.GetPropertySet("sync.properties"), nullptr);
  auto shown = ui_.Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Unable to open configuration file.");
  EXPECT_EQ(shown[0].style.buttons, MbButtons::kOk);
}

TEST_F(ConfigFileTest, UnreadableFileShowsMessageAndLoadFails) {
  fs::create_directory(dir_ / "S.DAT");  // opens on Linux, but cannot be read
  ConfigFile config(*paths_, ui_);
  EXPECT_TRUE(config.LoadFailed());
  EXPECT_EQ(ui_.Texts(), std::vector<std::string>{"Unable to open configuration file."});
}

TEST_F(ConfigFileTest, ZeroEntriesLoadsWithNoEntries) {
  ConfigFile config = Load(RawSdat({}));
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 0u);
  EXPECT_EQ(config.GetPropertySet("sync.properties"), nullptr);
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST_F(ConfigFileTest, EmptyFileLoadsWithNoEntries) {
  ConfigFile config = Load({});
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 0u);
  EXPECT_TRUE(ui_.Texts().empty());
}

TEST_F(ConfigFileTest, ReadsEveryKindOfEntry) {
  std::string bmp = Bmp("\x10\x20\x30\x40");
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
  EXPECT_EQ(props->Get("name"), "Demo");
  EXPECT_EQ(props->Get("registry"), "Software\\Co\\App\\");
  std::string value;
  EXPECT_TRUE(props->Lookup("name", &value));
  EXPECT_EQ(value, "Demo");
  EXPECT_FALSE(props->Lookup("nologo", &value));
  EXPECT_EQ(props->Find("nologo"), nullptr);
  EXPECT_EQ(props->Get("nologo", "NO"), "NO");

  const Bytes* image = config.GetBitmap("main.bmp");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(*image, Bytes(bmp.begin(), bmp.end()));

  ASSERT_NE(config.GetText("notes"), nullptr);
  EXPECT_EQ(*config.GetText("notes"), "caf\xE9 \x93quoted\x94");  // bytes kept, not converted
  ASSERT_NE(config.GetText("more"), nullptr);
  EXPECT_EQ(*config.GetText("more"), "second kind of text");

  // Lookups by the wrong kind find nothing.
  EXPECT_EQ(config.GetBitmap("sync.properties"), nullptr);
  EXPECT_EQ(config.GetText("main.bmp"), nullptr);
  EXPECT_EQ(config.GetPropertySet("notes"), nullptr);
  EXPECT_EQ(config.GetBitmap("absent"), nullptr);
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
                                     "empty="}}));
  const PropertySet* props = config.GetPropertySet("p");
  ASSERT_NE(props, nullptr);
  PropertySet::Map expected{{"a", "b=c"},
                            {" name", "spaced"},
                            {"k", "2"},
                            {"", "no key"},
                            {"trail", " value with blanks "},
                            {"empty", ""}};
  EXPECT_EQ(props->Entries(), expected);
  EXPECT_FALSE(props->Has("name"));
  EXPECT_FALSE(props->Has("#name"));
}

TEST_F(ConfigFileTest, CrLfLinesGiveTheSameSetAsLf) {
  ConfigFile config =
      Load(RawSdat({{"lf", 14, "name=Demo\nproduct=7\n#x=y\npartner=p=q"},
                    {"crlf", 14, "name=Demo\r\nproduct=7\r\n#x=y\r\npartner=p=q\r\n"}}));
  const PropertySet* lf = config.GetPropertySet("lf");
  const PropertySet* crlf = config.GetPropertySet("crlf");
  ASSERT_NE(lf, nullptr);
  ASSERT_NE(crlf, nullptr);
  EXPECT_EQ(lf->size(), 3u);
  EXPECT_EQ(*lf, *crlf);
  EXPECT_EQ(crlf->Get("partner"), "p=q");
}

TEST_F(ConfigFileTest, SecondEntryWithTheSameNameWins) {
  std::string first = Bmp("\x01\x01");
  std::string second = Bmp("\x02\x02\x02\x02");
  ConfigFile config = Load(RawSdat(
      {{"main.bmp", 3, first}, {"x", 1, "text first"}, {"main.bmp", 3, second}, {"x", 14, "k=v"}}));
  EXPECT_EQ(config.EntryCount(), 2u);
  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(*config.GetBitmap("main.bmp"), Bytes(second.begin(), second.end()));
  EXPECT_EQ(config.GetText("x"), nullptr);
  ASSERT_NE(config.GetPropertySet("x"), nullptr);
  EXPECT_EQ(config.GetPropertySet("x")->Get("k"), "v");
}

TEST_F(ConfigFileTest, OtherTypesAreSkippedAndReplaceNothing) {
  ConfigFile config = Load(RawSdat({{"a", 1, "kept"},
                                    {"a", 7, "ignored", 0xFFFFFFF0u, 0xFFFF},
                                    {"b", 0, ""},
                                    {"c", 1, "after"}}));
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 2u);
  ASSERT_NE(config.GetText("a"), nullptr);
  EXPECT_EQ(*config.GetText("a"), "kept");
  ASSERT_NE(config.GetText("c"), nullptr);
  EXPECT_EQ(*config.GetText("c"), "after");
}

TEST_F(ConfigFileTest, BitmapFindsItsLengthFromItsHeader) {
  std::string bmp = Bmp("\x11\x22\x33\x44");
  // The bitmap's data is followed by the text's, so only the header tells
  // where the image ends; the length field of a bitmap is not used.
  ConfigFile config = Load(RawSdat({{"main.bmp", 3, bmp, std::nullopt, 3}, {"t", 1, "TAIL"}}));
  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(*config.GetBitmap("main.bmp"), Bytes(bmp.begin(), bmp.end()));
  ASSERT_NE(config.GetText("t"), nullptr);
  EXPECT_EQ(*config.GetText("t"), "TAIL");
}

TEST_F(ConfigFileTest, BitmapLengthIsClampedToTheFile) {
  std::string bmp = Bmp("\x11\x22", /*declaredSize=*/100000);
  ConfigFile config = Load(RawSdat({{"main.bmp", 3, bmp}}));
  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(*config.GetBitmap("main.bmp"), Bytes(bmp.begin(), bmp.end()));
}

TEST_F(ConfigFileTest, BitmapWithUnusableSizeTakesTheRestOfTheFile) {
  std::string bmp = Bmp("\x11\x22", /*declaredSize=*/0);
  ConfigFile config = Load(RawSdat({{"main.bmp", 3, bmp}}));
  ASSERT_NE(config.GetBitmap("main.bmp"), nullptr);
  EXPECT_EQ(config.GetBitmap("main.bmp")->size(), bmp.size());
}

TEST(ConfigFileFormatTest, BitmapImageLengthUsesSizeFieldWithinBounds) {
  Bytes rest(200, 0);
  rest[0] = 'B';
  rest[1] = 'M';
  rest[2] = 80;  // little-endian 80
  EXPECT_EQ(BitmapImageLength(rest), 80u);
  rest[3] = 1;  // 336: more than there is
  EXPECT_EQ(BitmapImageLength(rest), 200u);
  rest[2] = 10;  // 266 still
  rest[3] = 0;   // 10: too small for the headers
  EXPECT_EQ(BitmapImageLength(rest), 200u);
  EXPECT_EQ(BitmapImageLength(std::span<const uint8_t>(rest.data(), 4)), 4u);
  EXPECT_EQ(BitmapImageLength({}), 0u);
}

TEST_F(ConfigFileTest, DataReachingPastTheEndEndsTheDirectory) {
  ConfigFile config = Load(RawSdat(
      {{"first", 1, "ok"}, {"long", 1, "short", std::nullopt, 5000}, {"after", 1, "never read"}}));
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 1u);
  ASSERT_NE(config.GetText("first"), nullptr);
  EXPECT_EQ(config.GetText("long"), nullptr);
  EXPECT_EQ(config.GetText("after"), nullptr);
}

TEST_F(ConfigFileTest, OffsetPastTheEndEndsTheDirectory) {
  ConfigFile config =
      Load(RawSdat({{"p", 14, "k=v"}, {"main.bmp", 3, Bmp(""), 0x7FFFFFFFu}, {"t", 1, "x"}}));
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 1u);
  EXPECT_NE(config.GetPropertySet("p"), nullptr);
  EXPECT_EQ(config.GetBitmap("main.bmp"), nullptr);
}

TEST_F(ConfigFileTest, CountLargerThanTheDirectoryKeepsWhatIsThere) {
  ConfigFile config = Load(RawSdat({{"a", 1, "A"}, {"b", 14, "k=v"}}, 0xFFFFFFFFu));
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 2u);
  EXPECT_NE(config.GetText("a"), nullptr);
  EXPECT_NE(config.GetPropertySet("b"), nullptr);
}

// Cuts a well-formed file at every length and checks that loading never
// reads beyond it and keeps exactly the entries that lie wholly before the
// cut (a bitmap keeps what is left of its image).
TEST_F(ConfigFileTest, TruncatedFilesKeepTheEntriesBeforeTheCut) {
  std::string bmp = Bmp("\x01\x02\x03\x04\x05\x06");
  std::vector<RawEntry> entries{{"notes", 1, "hello"},
                                {"sync.properties", 14, "name=Demo\nproduct=9\n"},
                                {"main.bmp", 3, bmp}};
  Bytes full = RawSdat(entries);
  SdatDirectory dir = ReadSdatDirectory(full);
  ASSERT_TRUE(dir.complete);
  ASSERT_EQ(dir.records.size(), 3u);
  std::vector<std::size_t> recordEnd;  // where each directory record ends
  {
    std::size_t pos = 5;
    for (const auto& e : entries) recordEnd.push_back(pos += 8 + e.name.size() + 1);
  }

  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ScriptedUi ui;
    WriteSdat(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
    ConfigFile config(*paths_, ui);
    EXPECT_FALSE(config.LoadFailed());
    EXPECT_TRUE(ui.Texts().empty());

    // The oracle: entries are kept in order while each one's record fits and
    // its data fits (a bitmap needs only its start).
    std::size_t expectKept = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const SdatRecord& rec = dir.records[i];
      bool fits = recordEnd[i] <= cut &&
                  (rec.type == 3 ? rec.offset <= cut : rec.offset + rec.length <= cut);
      if (!fits) break;
      ++expectKept;
    }
    EXPECT_EQ(config.EntryCount(), expectKept);
    EXPECT_EQ(config.GetText("notes") != nullptr, expectKept >= 1);
    EXPECT_EQ(config.GetPropertySet("sync.properties") != nullptr, expectKept >= 2);
    EXPECT_EQ(config.GetBitmap("main.bmp") != nullptr, expectKept >= 3);
    if (expectKept >= 1) {
      EXPECT_EQ(*config.GetText("notes"), "hello");
    }
    if (expectKept >= 2) {
      EXPECT_EQ(config.GetPropertySet("sync.properties")->Get("product"), "9");
    }
    if (expectKept >= 3) {
      const Bytes& image = *config.GetBitmap("main.bmp");
      EXPECT_EQ(image.size(), cut - dir.records[2].offset);
      EXPECT_TRUE(std::equal(image.begin(), image.end(), bmp.begin()));
    }
  }
}

TEST_F(ConfigFileTest, NameWithoutTerminatingZeroEndsTheDirectory) {
  // Two entries: "a" (empty text at offset 0), then one whose name runs to
  // the end of the file.
  Bytes withBrokenSecond{0, 0, 0, 0, 2};
  Put32(&withBrokenSecond, 0);
  Put16(&withBrokenSecond, 1);
  Put16(&withBrokenSecond, 0);
  withBrokenSecond.push_back('a');
  withBrokenSecond.push_back(0);
  Put32(&withBrokenSecond, 0);
  Put16(&withBrokenSecond, 1);
  Put16(&withBrokenSecond, 1);
  for (char c : std::string("never-ending-name"))
    withBrokenSecond.push_back(static_cast<uint8_t>(c));
  ConfigFile config = Load(withBrokenSecond);
  EXPECT_FALSE(config.LoadFailed());
  EXPECT_EQ(config.EntryCount(), 1u);
  ASSERT_NE(config.GetText("a"), nullptr);
  EXPECT_EQ(*config.GetText("a"), "");
}

TEST(ConfigFileFormatTest, BuildSdatWritesTheDirectoryThenTheData) {
  std::vector<SdatItem> items{{"p", kSdatPropertySet, {'k', '=', 'v'}},
                              {"bm", kSdatBitmap, {'B', 'M'}},
                              {"t", kSdatText, {}}};
  Bytes out;
  std::string error;
  ASSERT_TRUE(BuildSdat(items, &out, &error)) << error;
  // Directory: 5 + (8+2) + (8+3) + (8+2) = 36 bytes.
  // clang-format off
  Bytes expected{0, 0, 0, 0, 3,
                 0, 0, 0, 36, 0, 14, 0, 3, 'p', 0,
                 0, 0, 0, 39, 0, 3, 0, 2, 'b', 'm', 0,
                 0, 0, 0, 41, 0, 1, 0, 0, 't', 0,
                 'k', '=', 'v', 'B', 'M'};
  // clang-format on
  EXPECT_EQ(out, expected);
}

TEST(ConfigFileFormatTest, BuildSdatRefusesWhatCannotBeStored) {
  Bytes out;
  std::string error;
  std::vector<SdatItem> tooLong{{"t", kSdatText, Bytes(65536, 'x')}};
  EXPECT_FALSE(BuildSdat(tooLong, &out, &error));
  EXPECT_FALSE(error.empty());
  std::vector<SdatItem> zeroInName{{std::string("a\0b", 3), kSdatText, {}}};
  EXPECT_FALSE(BuildSdat(zeroInName, &out, &error));
}

TEST(ConfigFileFormatTest, LargeBitmapRoundTrips) {
  Bytes image(70000, 0x5A);
  image[0] = 'B';
  image[1] = 'M';
  image[2] = 0x70;  // 70000 = 0x00011170, little-endian
  image[3] = 0x11;
  image[4] = 0x01;
  image[5] = 0x00;
  std::vector<SdatItem> items{{"main.bmp", kSdatBitmap, image}, {"t", kSdatText, {'z'}}};
  Bytes out;
  std::string error;
  ASSERT_TRUE(BuildSdat(items, &out, &error)) << error;
  SdatDirectory dir = ReadSdatDirectory(out);
  ASSERT_TRUE(dir.complete);
  ASSERT_EQ(dir.records.size(), 2u);
  EXPECT_EQ(dir.records[0].length, 0xFFFF);
  EXPECT_EQ(dir.records[0].dataSize, 70000u);
  EXPECT_EQ(dir.records[1].name, "t");
  EXPECT_EQ(out[dir.records[1].offset], 'z');
}

}  // namespace
}  // namespace hhsync
