#include "sweep_catalogue.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "base/byte_order.h"
#include "base/text.h"
#include "command.h"
#include "extras/keep_list.h"
#include "extras/keep_record.h"
#include "formats/edm.h"
#include "reference_server_http.h"

namespace hhctl {
namespace {

namespace fs = std::filesystem;
using hhsync::CePropVal;

// length bytes derived from seed.
std::string Filler(uint32_t length, uint32_t seed) {
  std::string out;
  for (uint32_t i = 0; i < length; ++i) out += static_cast<char>('a' + (seed + i * 7) % 26);
  return out;
}

// A record of the split form: a tag, the length of part 1, then filler.
std::string SplitRecord(uint32_t firstPart, uint32_t length, uint32_t seed) {
  std::string r = "TAG!" + hhsync::Be32Bytes(firstPart);
  return r + Filler(length - static_cast<uint32_t>(r.size()), seed);
}

std::string ItemBody(const Item& item) {
  const uint32_t seed = item.id * 7 + item.version * 131;
  if (item.records == 1) return hhsync::PackEdm(1, {Filler(20 + item.id % 17, seed)});
  std::vector<std::string> records;
  for (uint32_t i = 0; i < item.records; ++i) {
    const uint32_t first = 12 + (item.id + 3 * i) % 20;
    const uint32_t length = first + 8 + (item.id * 5 + i * 11) % 48;
    records.push_back(SplitRecord(first, length, seed + i));
  }
  return hhsync::PackEdm(item.records, records);
}

// Every third item keeps its one record inline; the others are split over
// 2 to 4 records in "J"/"JJ" databases.
Item MakeItem(uint32_t id, const std::string& category, uint32_t version = 1) {
  return Item{id, category, version, id % 3 == 0 ? 1u : 2 + id % 3};
}

std::vector<Resource> MakeResources(int datRevision) {
  const std::string rev = "r" + std::to_string(datRevision);
  return {{"1", "CAB", "r1", "app.cab", "cab-bytes-of-the-application"},
          {"2", "INI", "r1", "setup.ini", "[setup]\r\nname=news\r\n"},
          {"3", "DAT", rev, "skin.dat", "data-resource-" + rev},
          {"4", "PRC", "r1", "tool.prc", "prc-bytes"}};
}

KeepEntry MakeKeep(uint32_t value, const std::string& name, bool page) {
  return {value, (page ? "m:" : "note-") + name, "c-" + name, "d-" + name, "e-" + name};
}

std::string KeepText(const KeepEntry& e) {
  return hhsync::KeepRecord(e.value, e.text101, e.text103, e.text104, e.text105).ToText();
}

}  // namespace

// Catalogue 1: 4 categories of 5 items each.
Catalogue CatalogueV1() {
  Catalogue c;
  const char* keys[] = {"news", "sport", "weather", "arts"};
  for (int k = 0; k < 4; ++k) {
    c.categories.push_back({keys[k], 1});
    for (uint32_t i = 0; i < 5; ++i) c.items.push_back(MakeItem(1001 + k * 5 + i, keys[k]));
  }
  c.resources = MakeResources(1);
  return c;
}

// Catalogue 2: "news" bumped with item 1002 changed, 1021 added and 1004
// removed; "weather" removed; "travel" new; the DAT resource revised.
Catalogue CatalogueV2() {
  Catalogue c;
  c.categories = {{"news", 2}, {"sport", 1}, {"arts", 1}, {"travel", 1}};
  const Catalogue v1 = CatalogueV1();
  for (const Item& item : v1.items) {
    if (item.category == "weather" || item.id == 1004) continue;
    c.items.push_back(item.id == 1002 ? MakeItem(1002, "news", 2) : item);
  }
  c.items.push_back(MakeItem(1021, "news"));
  for (uint32_t id : {1031u, 1032u, 1033u}) c.items.push_back(MakeItem(id, "travel"));
  c.resources = MakeResources(2);
  return c;
}

Catalogue KillCatalogue(unsigned itemCount) {
  Catalogue c;
  const unsigned categories = std::max(1u, std::min(8u, itemCount));
  for (unsigned k = 0; k < categories; ++k) c.categories.push_back({"cat" + std::to_string(k), 1});
  for (unsigned i = 0; i < itemCount; ++i) {
    const uint32_t records = i % 5 == 0 ? 1 : 2 + i % 4;
    c.items.push_back(Item{2001 + i, "cat" + std::to_string(i % categories), 1, records});
  }
  c.resources = MakeResources(1);
  return c;
}

void WriteCatalogue(const Catalogue& c, const fs::path& root) {
  ClearDirectory(root);
  std::string profile = "OK\n" + std::to_string(c.categories.size()) + "\n";
  for (const auto& [key, version] : c.categories) {
    profile += key + "|" + std::to_string(version) + "|0\n";
  }
  profile += std::to_string(c.items.size()) + "\n";
  for (const Item& item : c.items) {
    const std::string id = std::to_string(item.id);
    const std::string version = std::to_string(item.version);
    profile += "Item " + id + "|" + id + "|a" + id + "|b" + id + "|" + version + "|" +
               item.category + "|c" + id + "\n";
    WriteBytes(root / "data" / id / (version + ".edm"), ItemBody(item));
  }
  WriteBytes(root / "profile.txt", profile);
  std::string list = "OK\nlist\n";
  for (const Resource& r : c.resources) {
    list += r.rid + "|" + r.type + "|" + r.revision + "|" + r.name + "\n";
    WriteBytes(root / "resources" / r.rid, r.bytes);
  }
  WriteBytes(root / "resources.txt", list);
}

std::vector<KeepEntry> KeepsV1() {
  return {MakeKeep(11, "one", false), MakeKeep(12, "two", true), MakeKeep(13, "three", false)};
}

std::vector<KeepEntry> KeepsV2() {
  return {MakeKeep(21, "four", false), MakeKeep(22, "five", true)};
}

std::vector<KeepEntry> KillKeeps() {
  return {MakeKeep(31, "k1", false), MakeKeep(32, "k2", true), MakeKeep(33, "k3", false),
          MakeKeep(34, "k4", true), MakeKeep(35, "k5", false)};
}

std::vector<CePropVal> KeepProps(const KeepEntry& e) {
  return {CePropVal::Ui4(0x00640013, e.value),
          CePropVal::Text(0x0065001F, hhsync::Utf8ToWide(e.text101)),
          CePropVal::Text(0x0067001F, hhsync::Utf8ToWide(e.text103)),
          CePropVal::Text(0x0068001F, hhsync::Utf8ToWide(e.text104)),
          CePropVal::Text(0x0069001F, hhsync::Utf8ToWide(e.text105))};
}

std::vector<std::string> KeepTexts(const std::vector<KeepEntry>& entries) {
  std::vector<std::string> out;
  for (const KeepEntry& e : entries) out.push_back(KeepText(e));
  return out;
}

std::set<std::string> KeepOnHandheld(const hhsync::HandheldDump& dump) {
  std::set<std::string> out;
  for (const auto& v : dump.volumes) {
    for (const auto& db : v.databases) {
      if (!hhsync::EqualsNoCase(db.name, hhsync::kKeepDatabase)) continue;
      for (const auto& record : db.records) {
        KeepEntry e;
        const std::map<hhsync::CEPROPID, std::string*> texts = {{0x0065001F, &e.text101},
                                                                {0x0067001F, &e.text103},
                                                                {0x0068001F, &e.text104},
                                                                {0x0069001F, &e.text105}};
        for (const CePropVal& p : record.props) {
          if (p.propid == 0x00640013) e.value = p.ulVal;
          if (auto it = texts.find(p.propid); it != texts.end()) {
            *it->second = hhsync::WideToUtf8(p.lpwsz);
          }
        }
        out.insert(KeepText(e));
      }
    }
  }
  return out;
}

std::string ReadBytes(const fs::path& path) {
  return http::ReadWholeFile(path.string()).value_or("");
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw Failure("cannot write " + path.string());
}

void ClearDirectory(const fs::path& dir) {
  fs::create_directories(dir);
  for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
}

}  // namespace hhctl
