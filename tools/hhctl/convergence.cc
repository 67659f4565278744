#include "convergence.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "base/text.h"

namespace hhctl {
namespace {

using hhsync::CePropVal;

// The content id property of a content table's index records.
constexpr hhsync::CEPROPID kContentIdProp = 0x00640013;

std::string Hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

// FNV-1a, 64 bits: enough to tell file contents apart in a report.
std::string Digest(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[48];
  std::snprintf(buf, sizeof buf, "%zu bytes %016llx", bytes.size(),
                static_cast<unsigned long long>(h));
  return buf;
}

std::string Cut(const std::string& text, std::size_t maxChars) {
  if (text.size() <= maxChars) return text;
  return text.substr(0, maxChars > 3 ? maxChars - 3 : 0) + "...";
}

// The name a content id gives its record databases: "J" or "JJ" followed by
// the id; empty when name is neither.
std::string RecordDatabaseId(const std::string& name) {
  if (name.rfind("JJ", 0) == 0 && name.size() > 2) return name.substr(2);
  if (name.rfind("J", 0) == 0 && name.size() > 1) return name.substr(1);
  return "";
}

void CompareMaps(const std::string& what, const std::map<std::string, std::string>& reference,
                 const std::map<std::string, std::string>& actual, std::vector<Difference>* out) {
  for (const auto& [key, value] : reference) {
    auto it = actual.find(key);
    if (it == actual.end()) {
      out->push_back({what + " " + key, "missing (reference: " + Cut(value, 40) + ")"});
    } else if (it->second != value) {
      out->push_back({what + " " + key, Cut(it->second, 40) + " instead of " + Cut(value, 40)});
    }
  }
  for (const auto& [key, value] : actual) {
    if (reference.count(key) == 0) out->push_back({what + " " + key, "extra: " + Cut(value, 40)});
  }
}

// Records of sorted multisets a that b lacks.
std::vector<std::string> Without(const std::vector<std::string>& a,
                                 const std::vector<std::string>& b) {
  std::vector<std::string> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

}  // namespace

std::string RecordText(const std::vector<CePropVal>& props) {
  std::vector<const CePropVal*> sorted;
  for (const CePropVal& p : props) sorted.push_back(&p);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const CePropVal* a, const CePropVal* b) { return a->propid < b->propid; });
  std::string out;
  for (const CePropVal* p : sorted) {
    if (!out.empty()) out += ';';
    out += Hex32(p->propid) + "=";
    switch (hhsync::PropType(p->propid)) {
      case hhsync::CEVT_UI4:
        out += std::to_string(p->ulVal);
        break;
      case hhsync::CEVT_LPWSTR:
        out += "\"" + hhsync::WideToUtf8(p->lpwsz) + "\"";
        break;
      default:
        out += "[" + HexBytes(p->blob) + "]";
        break;
    }
  }
  return out;
}

SyncState StateFromDump(const hhsync::HandheldDump& dump) {
  SyncState state;
  state.connected = dump.connected;
  for (const std::string& library : dump.libraries)
    state.libraries.push_back(hhsync::AsciiLower(library));
  std::sort(state.libraries.begin(), state.libraries.end());
  for (const auto& entry : dump.registry) {
    state.deviceRegistry[hhsync::AsciiLower(entry.path)] = entry.hasValue ? entry.value : kNoValue;
  }
  for (const auto& volume : dump.volumes) {
    // The content ids the volume's content tables name.
    std::set<std::string> named;
    for (const auto& db : volume.databases) {
      if (hhsync::AsciiLower(db.name).rfind("c_", 0) != 0) continue;
      for (const auto& record : db.records) {
        for (const CePropVal& p : record.props) {
          if (p.propid == kContentIdProp) {
            named.insert(std::to_string(static_cast<int32_t>(p.ulVal)));
          }
        }
      }
    }
    for (const auto& db : volume.databases) {
      DatabaseState d;
      d.volume = volume.name;
      d.name = db.name;
      for (const auto& sort : db.sorts) {
        if (!d.sorts.empty()) d.sorts += ';';
        d.sorts += Hex32(sort.propid) + ":" + std::to_string(sort.flags);
      }
      for (const auto& record : db.records) d.records.push_back(RecordText(record.props));
      std::sort(d.records.begin(), d.records.end());
      const std::string key = hhsync::AsciiLower(volume.name + "/" + db.name);
      const std::string id = RecordDatabaseId(db.name);
      if (!id.empty() && named.count(id) == 0) {
        state.leftovers[key] = std::move(d);
      } else {
        state.databases[key] = std::move(d);
      }
    }
  }
  return state;
}

void AddDesktopRegistry(SyncState* state, hhsync::RegRoot root,
                        const std::vector<hhsync::RegEntry>& entries,
                        const std::vector<std::string>& timeNames) {
  const char* rootName = root == hhsync::RegRoot::kLocalMachine  ? "HKLM"
                         : root == hhsync::RegRoot::kCurrentUser ? "HKCU"
                                                                 : "HKCR";
  for (const auto& e : entries) {
    std::string key =
        hhsync::AsciiLower(std::string(rootName) + "\\" + e.path) +
        (e.name.empty() ? " (default value)" : " value " + hhsync::AsciiLower(e.name));
    bool isTime = std::any_of(timeNames.begin(), timeNames.end(), [&](const std::string& n) {
      return hhsync::AsciiLower(n) == hhsync::AsciiLower(e.name);
    });
    std::string value;
    if (isTime) {
      value = kPresent;
    } else if (e.value.type == hhsync::RegType::kDword) {
      value = "dword:" + std::to_string(e.value.AsDword());
    } else {
      value = "sz:" + e.value.data;
    }
    state->desktopRegistry[key] = value;
  }
}

void AddFile(SyncState* state, const std::string& name, const std::string& bytes) {
  state->files[name] = Digest(bytes);
}

std::vector<Difference> Compare(const SyncState& reference, const SyncState& actual) {
  std::vector<Difference> out;
  if (reference.connected != actual.connected) {
    out.push_back({"handheld", std::string("connected ") + (actual.connected ? "yes" : "no") +
                                   " instead of " + (reference.connected ? "yes" : "no")});
  }
  if (reference.libraries != actual.libraries) {
    out.push_back({"handheld libraries", "differ"});
  }
  for (const auto& [key, ref] : reference.databases) {
    const std::string where = "handheld db " + ref.volume + "/" + ref.name;
    auto it = actual.databases.find(key);
    if (it == actual.databases.end()) {
      out.push_back({where, "missing (" + std::to_string(ref.records.size()) + " records)"});
      continue;
    }
    const DatabaseState& got = it->second;
    if (got.sorts != ref.sorts) {
      out.push_back({where, "sort orders [" + got.sorts + "] instead of [" + ref.sorts + "]"});
    }
    std::vector<std::string> missing = Without(ref.records, got.records);
    std::vector<std::string> extra = Without(got.records, ref.records);
    if (missing.empty() && extra.empty()) continue;
    std::string what = std::to_string(missing.size()) + " of " +
                       std::to_string(ref.records.size()) + " records missing, " +
                       std::to_string(extra.size()) + " extra";
    if (!missing.empty()) what += "; missing e.g. {" + Cut(missing.front(), 60) + "}";
    if (!extra.empty()) what += "; extra e.g. {" + Cut(extra.front(), 60) + "}";
    out.push_back({where, what});
  }
  for (const auto& [key, got] : actual.databases) {
    if (reference.databases.count(key) == 0) {
      out.push_back({"handheld db " + got.volume + "/" + got.name,
                     "extra (" + std::to_string(got.records.size()) + " records)"});
    }
  }
  // A record database nobody names takes the handheld's space for good.
  for (const auto& [key, got] : actual.leftovers) {
    if (reference.leftovers.count(key) == 0) {
      out.push_back({"handheld db " + got.volume + "/" + got.name,
                     "leftover (" + std::to_string(got.records.size()) +
                         " records, no index record names it)"});
    }
  }
  CompareMaps("handheld registry", reference.deviceRegistry, actual.deviceRegistry, &out);
  CompareMaps("desktop registry", reference.desktopRegistry, actual.desktopRegistry, &out);
  CompareMaps("file", reference.files, actual.files, &out);
  return out;
}

std::string Summarize(const std::vector<Difference>& differences, std::size_t maxChars) {
  std::string out;
  for (const Difference& d : differences) {
    if (!out.empty()) out += "; ";
    out += d.where + ": " + d.what;
  }
  return Cut(out, maxChars);
}

bool ParseKeepBody(const std::string& body, std::vector<std::string>* entries) {
  entries->clear();
  const std::size_t countAt = body.find("&count=");
  const std::size_t keepAt = body.find("&keep=");
  if (body.rfind("p=", 0) != 0 || countAt == std::string::npos || keepAt == std::string::npos ||
      keepAt < countAt) {
    return false;
  }
  const std::string countText = body.substr(countAt + 7, keepAt - countAt - 7);
  if (countText.empty() || countText.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long count = std::stoul(countText);
  std::vector<std::string> fields;
  std::size_t pos = keepAt + 6;
  while (pos < body.size()) {
    std::size_t bar = body.find('|', pos);
    if (bar == std::string::npos) {
      fields.push_back(body.substr(pos));
      pos = body.size();
      break;
    }
    fields.push_back(body.substr(pos, bar - pos));
    pos = bar + 1;
  }
  const bool terminated = body.empty() || body.back() == '|' || keepAt + 6 == body.size();
  for (std::size_t i = 0; i + 5 <= fields.size(); i += 5) {
    entries->push_back(fields[i] + "|" + fields[i + 1] + "|" + fields[i + 2] + "|" + fields[i + 3] +
                       "|" + fields[i + 4]);
  }
  return terminated && fields.size() % 5 == 0 && entries->size() == count;
}

int KeepTally::lost() const {
  int n = 0;
  for (const auto& [entry, times] : delivered) n += times == 0 ? 1 : 0;
  return n;
}

int KeepTally::twice() const {
  int n = 0;
  for (const auto& [entry, times] : delivered) n += times > 1 ? 1 : 0;
  return n;
}

KeepTally TallyKeep(const std::string& received, const std::vector<std::string>& expected) {
  KeepTally tally;
  for (const std::string& e : expected) tally.delivered[e] = 0;
  std::size_t pos = 0;
  while (pos < received.size()) {
    std::size_t end = received.find('\n', pos);
    if (end == std::string::npos) end = received.size();
    std::string line = received.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    ++tally.bodies;
    std::vector<std::string> entries;
    if (!ParseKeepBody(line, &entries)) ++tally.malformed;
    for (const std::string& e : entries) {
      auto it = tally.delivered.find(e);
      if (it != tally.delivered.end()) {
        ++it->second;
      } else {
        tally.unexpected.push_back(e);
      }
    }
  }
  return tally;
}

const std::vector<std::string>& ReportKeys() {
  static const std::vector<std::string> kKeys = {
      "program",    "version", "mode",      "started",     "ended", "seconds",
      "outcome",    "reason",  "handheld",  "lst_written", "lst",   "requests",
      "categories", "keep",    "resources", "messages"};
  return kKeys;
}

const std::vector<std::string>& ReportOutcomes() {
  static const std::vector<std::string> kOutcomes = {"complete",         "partial",   "not-due",
                                                     "page-only",        "cancelled", "no-handheld",
                                                     "no-configuration", "redirect",  "failed"};
  return kOutcomes;
}

namespace {

// Why a parsed report does not have the shape ReadReport checks; empty
// when it has.
std::string ShapeProblem(const nlohmann::json& report) {
  if (!report.is_object()) return "not a JSON object";
  for (const std::string& key : ReportKeys()) {
    if (!report.contains(key)) return "no \"" + key + "\"";
  }
  for (const auto& [key, value] : report.items()) {
    if (std::find(ReportKeys().begin(), ReportKeys().end(), key) == ReportKeys().end()) {
      return "unknown key \"" + key + "\"";
    }
  }
  if (report["program"] != "hhsync") return "program is " + report["program"].dump();
  const nlohmann::json& outcome = report["outcome"];
  if (!outcome.is_string() || std::find(ReportOutcomes().begin(), ReportOutcomes().end(),
                                        outcome.get<std::string>()) == ReportOutcomes().end()) {
    return "unknown outcome " + outcome.dump();
  }
  return "";
}

// Whether a report's "keep" says entries may be left on the handheld.
bool KeepLeft(const nlohmann::json& keep) {
  if (!keep.is_object()) return false;
  auto flag = [&keep](const char* key) {
    auto it = keep.find(key);
    return it != keep.end() && it->is_boolean() && it->get<bool>();
  };
  auto count = [&keep](const char* key) {
    auto it = keep.find(key);
    return it != keep.end() && it->is_number_integer() ? it->get<int64_t>() : 0;
  };
  const int64_t entries = count("entries_read");
  return flag("read_failed") ||
         (entries > 0 &&
          (!flag("accepted") || count("entries_deleted") < entries || !flag("database_deleted")));
}

}  // namespace

ReportRead ReadReport(const std::optional<std::string>& bytes) {
  ReportRead read;
  if (!bytes) {
    read.problem = "missing";
    return read;
  }
  read.present = true;
  const nlohmann::json report = nlohmann::json::parse(*bytes, nullptr, false);
  read.problem = report.is_discarded() ? "not JSON (" + std::to_string(bytes->size()) + " bytes)"
                                       : ShapeProblem(report);
  if (!read.problem.empty()) return read;
  read.whole = true;
  read.outcome = report["outcome"].get<std::string>();
  if (report["reason"].is_string()) read.reason = report["reason"].get<std::string>();
  if (report["requests"].is_array()) {
    for (const nlohmann::json& r : report["requests"]) {
      if (!r.is_object()) continue;
      read.requests.push_back(
          {r.value("method", ""), r.value("url", ""), r.value("bytes", uint64_t{0})});
    }
  }
  read.keepLeft = KeepLeft(report["keep"]);
  return read;
}

}  // namespace hhctl
