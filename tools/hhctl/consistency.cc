#include "consistency.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "base/text.h"

namespace hhctl {
namespace {

using hhsync::CePropVal;
using hhsync::HandheldDump;

constexpr hhsync::CEPROPID kCategoryKey = 0x0064001F;
constexpr hhsync::CEPROPID kCategoryVersion = 0x00650013;
constexpr hhsync::CEPROPID kContentId = 0x00640013;
constexpr hhsync::CEPROPID kInlineData = 0x006C0041;
constexpr hhsync::CEPROPID kSequence = 0x007C0013;
constexpr hhsync::CEPROPID kResourceId = 0x00640013;
constexpr hhsync::CEPROPID kResourceRevision = 0x0065001F;
constexpr std::size_t kTableKeyChars = 24;

const CePropVal* Prop(const HandheldDump::Record& record, hhsync::CEPROPID id) {
  for (const CePropVal& p : record.props) {
    if (p.propid == id) return &p;
  }
  return nullptr;
}

std::string Text(const CePropVal* p) { return p ? hhsync::WideToUtf8(p->lpwsz) : std::string(); }

// A number as the program turns it into a content id or rid.
std::string IdText(const CePropVal* p) {
  return p ? std::to_string(static_cast<int32_t>(p->ulVal)) : std::string();
}

// The content table of a category key: "c_" and its first 24 characters.
std::string TableName(const std::string& key) {
  return "c_" + hhsync::WideToUtf8(hhsync::Utf8ToWide(key).substr(0, kTableKeyChars));
}

// The id of a record database "J" + id or "JJ" + id (ids are numbers);
// empty when name is neither.
std::string RecordDatabaseId(const std::string& name, bool* second) {
  std::size_t prefix = name.rfind("JJ", 0) == 0 ? 2 : name.rfind("J", 0) == 0 ? 1 : 0;
  if (prefix == 0) return "";
  std::string id = name.substr(prefix);
  std::string digits = !id.empty() && id[0] == '-' ? id.substr(1) : id;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return "";
  *second = prefix == 2;
  return id;
}

class Checker {
 public:
  explicit Checker(const HandheldDump::Volume& volume) {
    for (const auto& db : volume.databases) byName_[hhsync::AsciiLower(db.name)] = &db;
  }

  std::vector<Finding> Run() {
    Categories();
    Items();
    Leftovers();
    Resources();
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
      return Rank(a.kind) < Rank(b.kind);
    });
    return findings_;
  }

 private:
  static int Rank(const std::string& kind) {
    static const std::vector<std::string> kOrder = {
        "missing-table",         "orphan-table",   "duplicate-category",
        "shared-table",          "duplicate-item", "missing-record-database",
        "record-count-mismatch", "sequence-gap",   "leftover-record-database",
        "resource-mismatch"};
    return static_cast<int>(std::find(kOrder.begin(), kOrder.end(), kind) - kOrder.begin());
  }

  const HandheldDump::Database* Find(const std::string& name) const {
    auto it = byName_.find(hhsync::AsciiLower(name));
    return it == byName_.end() ? nullptr : it->second;
  }

  void Add(std::string kind, std::string database, std::string key, std::string detail) {
    findings_.push_back({std::move(kind), std::move(database), std::move(key), std::move(detail)});
  }

  void Categories() {
    const HandheldDump::Database* cats = Find("cats");
    std::map<std::string, int> keys;
    std::set<std::string> named;                          // content tables, lower case
    std::map<std::string, std::set<std::string>> owners;  // content table -> its keys
    if (cats) {
      for (const auto& record : cats->records) {
        const CePropVal* key = Prop(record, kCategoryKey);
        if (!key) continue;
        const std::string text = Text(key);
        ++keys[text];
        const std::string table = TableName(text);
        named.insert(hhsync::AsciiLower(table));
        owners[hhsync::AsciiLower(table)].insert(text);
        if (Find(table)) continue;
        const CePropVal* version = Prop(record, kCategoryVersion);
        const uint32_t v = version ? version->ulVal : 0;
        Add("missing-table", cats->name, text,
            "\"cats\" names the category (version " + std::to_string(v) + ") but " + table +
                " is not there");
      }
    }
    for (const auto& [name, db] : byName_) {
      if (name.rfind("c_", 0) != 0 || named.count(name) != 0) continue;
      Add("orphan-table", db->name, "", "no \"cats\" record names this content table");
    }
    for (const auto& [key, count] : keys) {
      if (count > 1) {
        Add("duplicate-category", "cats", key, std::to_string(count) + " records of this key");
      }
    }
    for (const auto& [table, sharing] : owners) {
      if (sharing.size() < 2) continue;
      std::string list;
      for (const std::string& key : sharing) list += (list.empty() ? "" : ", ") + key;
      Add("shared-table", TableName(*sharing.begin()), *sharing.begin(),
          std::to_string(sharing.size()) + " categories name this content table: " + list);
    }
  }

  void Items() {
    for (const auto& [name, db] : byName_) {
      if (name.rfind("c_", 0) != 0) continue;
      std::map<std::string, int> ids;
      for (const auto& record : db->records) {
        const CePropVal* id = Prop(record, kContentId);
        if (!id) continue;
        const std::string text = IdText(id);
        ++ids[text];
        if (Prop(record, kInlineData) != nullptr) continue;
        splitIds_.insert(text);
        RecordDatabases(db->name, text);
      }
      for (const auto& [id, count] : ids) {
        if (count > 1) {
          Add("duplicate-item", db->name, id, std::to_string(count) + " index records of this id");
        }
      }
    }
  }

  // The record databases of a split item of table.
  void RecordDatabases(const std::string& table, const std::string& id) {
    const HandheldDump::Database* part1 = Find("J" + id);
    const HandheldDump::Database* part2 = Find("JJ" + id);
    if (!part1 || !part2) {
      for (const char* prefix : {"J", "JJ"}) {
        if (Find(prefix + id)) continue;
        Add("missing-record-database", prefix + id, id,
            "item " + id + " of " + table + " keeps its data in J" + id + " and JJ" + id + "; " +
                prefix + id + " is not there");
      }
      return;
    }
    if (part1->records.size() != part2->records.size()) {
      Add("record-count-mismatch", part1->name, id,
          part1->name + " holds " + std::to_string(part1->records.size()) + " records, " +
              part2->name + " " + std::to_string(part2->records.size()));
    }
    for (const HandheldDump::Database* part : {part1, part2}) Sequence(*part, id);
  }

  void Sequence(const HandheldDump::Database& db, const std::string& id) {
    std::vector<uint32_t> numbers;
    int without = 0;
    for (const auto& record : db.records) {
      const CePropVal* sequence = Prop(record, kSequence);
      if (sequence) {
        numbers.push_back(sequence->ulVal);
      } else {
        ++without;
      }
    }
    std::sort(numbers.begin(), numbers.end());
    std::string problem;
    if (without > 0) problem = std::to_string(without) + " records without a sequence number";
    for (std::size_t i = 0; i < numbers.size() && problem.empty(); ++i) {
      if (numbers[i] == i) continue;
      if (i > 0 && numbers[i] == numbers[i - 1]) {
        problem = "sequence number " + std::to_string(numbers[i]) + " twice";
      } else {
        problem = "sequence number " + std::to_string(i) + " is missing";
      }
    }
    if (!problem.empty()) {
      Add("sequence-gap", db.name, id,
          problem + " (" + std::to_string(db.records.size()) + " records, numbered from 0)");
    }
  }

  void Leftovers() {
    for (const auto& [name, db] : byName_) {
      bool second = false;
      const std::string id = RecordDatabaseId(db->name, &second);
      if (id.empty() || splitIds_.count(id) != 0) continue;
      Add("leftover-record-database", db->name, id,
          "no index record of a content table keeps its data here");
    }
  }

  // rid -> revisions of the records of that rid.
  static std::map<std::string, std::vector<std::string>> ResourceRecords(
      const HandheldDump::Database* db) {
    std::map<std::string, std::vector<std::string>> out;
    if (!db) return out;
    for (const auto& record : db->records) {
      const CePropVal* rid = Prop(record, kResourceId);
      if (!rid) continue;
      out[IdText(rid)].push_back(Text(Prop(record, kResourceRevision)));
    }
    return out;
  }

  void Resources() {
    const HandheldDump::Database* stored = Find("zavRes");
    const HandheldDump::Database* current = Find("zavResA");
    const auto storedRecords = ResourceRecords(stored);
    const auto currentRecords = ResourceRecords(current);
    for (const auto* side : {&storedRecords, &currentRecords}) {
      const std::string name = side == &storedRecords ? "zavRes" : "zavResA";
      for (const auto& [rid, revisions] : *side) {
        if (revisions.size() > 1) {
          Add("resource-mismatch", name, rid,
              std::to_string(revisions.size()) + " records of this rid in " + name);
        }
      }
    }
    for (const auto& [rid, revisions] : currentRecords) {
      auto it = storedRecords.find(rid);
      if (it == storedRecords.end()) {
        Add("resource-mismatch", "zavResA", rid,
            "recorded as current (revision " + revisions.front() +
                ") but zavRes holds no record of it");
      } else if (std::find(it->second.begin(), it->second.end(), revisions.front()) ==
                 it->second.end()) {
        Add("resource-mismatch", "zavResA", rid,
            "recorded as current in revision " + revisions.front() + ", zavRes holds revision " +
                it->second.front());
      }
    }
    for (const auto& [rid, revisions] : storedRecords) {
      if (currentRecords.count(rid) == 0) {
        Add("resource-mismatch", "zavRes", rid,
            "stored (revision " + revisions.front() + ") but not recorded as current in zavResA");
      }
    }
  }

  std::map<std::string, const HandheldDump::Database*> byName_;  // by lower-case name
  std::set<std::string> splitIds_;
  std::vector<Finding> findings_;
};

}  // namespace

std::vector<Finding> CheckContent(const HandheldDump::Volume& volume) {
  return Checker(volume).Run();
}

}  // namespace hhctl
