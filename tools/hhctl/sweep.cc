#include "sweep.h"

#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "app/config_file.h"
#include "base/byte_order.h"
#include "base/text.h"
#include "command.h"
#include "convergence.h"
#include "desktop_faults.h"
#include "emulator/emulated_handheld.h"
#include "extras/keep_list.h"
#include "extras/keep_record.h"
#include "formats/edm.h"
#include "platform/linux/system_clock.h"
#include "platform/sqlite/sqlite_registry.h"
#include "reference_server.h"
#include "settings/sync_settings.h"
#include "sqlite_files.h"
#include "sweep_cases.h"
#include "tools/support/child_process.h"

namespace hhctl {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using Json = nlohmann::ordered_json;
using hhsync::CePropVal;
using hhsync::EmulatedHandheld;
using hhsync::HandheldDump;
using hhsync::PackEdm;
using hhsync::RegRoot;

// The product the scenarios are made for.
constexpr const char* kRegistryPath = "Software\\Sweep\\News\\";
constexpr const char* kDesktopKey = "Software\\Sweep\\News";
constexpr const char* kVolume = "news.vol";
constexpr const char* kSyncProperties =
    "name=Sweep News\nregistry=Software\\Sweep\\News\\\nexname=news.exe\npartner=sweep\n"
    "product=news\n";
// A fault at this call never fires; its counter counts the operation's calls.
constexpr uint32_t kCountingNth = 0xFFFFFFFFu;
// Files of the program directory that are not part of the compared state:
// the stores (compared by content), the log and the configuration.
const char* const kUncomparedFiles[] = {"handheld.db", "registry.db", "sync.txt", "S.DAT"};
// The file the reference server appends each keep body to.
constexpr const char* kKeepReceived = "keep-received.txt";

double MsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The file's bytes; nullopt when there is no file.
std::optional<std::string> ReadIfPresent(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  return ReadBytes(path);
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

std::string Fixed(double v, int decimals) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// ------------------------------------------------------------ the content

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

struct Item {
  uint32_t id = 0;
  std::string category;
  uint32_t version = 1;
  uint32_t records = 1;  // 1: the data lives inside the index record
};

std::string ItemBody(const Item& item) {
  const uint32_t seed = item.id * 7 + item.version * 131;
  if (item.records == 1) return PackEdm(1, {Filler(20 + item.id % 17, seed)});
  std::vector<std::string> records;
  for (uint32_t i = 0; i < item.records; ++i) {
    const uint32_t first = 12 + (item.id + 3 * i) % 20;
    const uint32_t length = first + 8 + (item.id * 5 + i * 11) % 48;
    records.push_back(SplitRecord(first, length, seed + i));
  }
  return PackEdm(item.records, records);
}

struct Resource {
  std::string rid, type, revision, name, bytes;
};

struct Catalogue {
  std::vector<std::pair<std::string, uint32_t>> categories;  // key, version
  std::vector<Item> items;
  std::vector<Resource> resources;
};

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
  Catalogue v1 = CatalogueV1();
  Catalogue c;
  c.categories = {{"news", 2}, {"sport", 1}, {"arts", 1}, {"travel", 1}};
  for (const Item& item : v1.items) {
    if (item.category == "weather" || item.id == 1004) continue;
    c.items.push_back(item.id == 1002 ? MakeItem(1002, "news", 2) : item);
  }
  c.items.push_back(MakeItem(1021, "news"));
  for (uint32_t id : {1031u, 1032u, 1033u}) c.items.push_back(MakeItem(id, "travel"));
  c.resources = MakeResources(2);
  return c;
}

// The kill test's catalogue: items spread over up to 8 categories, four in
// five split over 2 to 5 records.
Catalogue KillCatalogue(unsigned itemCount) {
  Catalogue c;
  const unsigned categories = std::max(1u, std::min(8u, itemCount));
  for (unsigned k = 0; k < categories; ++k) c.categories.push_back({"cat" + std::to_string(k), 1});
  for (unsigned i = 0; i < itemCount; ++i) {
    Item item;
    item.id = 2001 + i;
    item.category = "cat" + std::to_string(i % categories);
    item.records = i % 5 == 0 ? 1 : 2 + i % 4;
    c.items.push_back(item);
  }
  c.resources = MakeResources(1);
  return c;
}

// Replaces everything under the server's root with the catalogue's files.
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

struct KeepEntry {
  uint32_t value;
  std::string text101, text103, text104, text105;
};

std::vector<CePropVal> KeepProps(const KeepEntry& e) {
  return {CePropVal::Ui4(0x00640013, e.value),
          CePropVal::Text(0x0065001F, hhsync::Utf8ToWide(e.text101)),
          CePropVal::Text(0x0067001F, hhsync::Utf8ToWide(e.text103)),
          CePropVal::Text(0x0068001F, hhsync::Utf8ToWide(e.text104)),
          CePropVal::Text(0x0069001F, hhsync::Utf8ToWide(e.text105))};
}

// The entry as the program posts it.
std::string KeepText(const KeepEntry& e) {
  return hhsync::KeepRecord(e.value, e.text101, e.text103, e.text104, e.text105).ToText();
}

// The text form of a record of the handheld's "keep" database.
std::string KeepTextOfRecord(const HandheldDump::Record& record) {
  KeepEntry e{0, "", "", "", ""};
  for (const CePropVal& p : record.props) {
    switch (p.propid) {
      case 0x00640013:
        e.value = p.ulVal;
        break;
      case 0x0065001F:
        e.text101 = hhsync::WideToUtf8(p.lpwsz);
        break;
      case 0x0067001F:
        e.text103 = hhsync::WideToUtf8(p.lpwsz);
        break;
      case 0x0068001F:
        e.text104 = hhsync::WideToUtf8(p.lpwsz);
        break;
      case 0x0069001F:
        e.text105 = hhsync::WideToUtf8(p.lpwsz);
        break;
      default:
        break;
    }
  }
  return KeepText(e);
}

KeepEntry MakeKeep(uint32_t value, const std::string& name, bool page) {
  return {value, (page ? "m:" : "note-") + name, "c-" + name, "d-" + name, "e-" + name};
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

std::vector<std::string> KeepTexts(const std::vector<KeepEntry>& entries) {
  std::vector<std::string> out;
  for (const KeepEntry& e : entries) out.push_back(KeepText(e));
  return out;
}

// ------------------------------------------------------------- the bench

// A temporary directory with a program directory ("home"), the server's root
// and saved start states, the reference server running on loopback in this
// process, and a way to run hhsync there.
class Bench {
 public:
  struct Run {
    int exitCode = -1;
    bool killed = false;    // ended by our SIGKILL at the chosen moment
    bool timedOut = false;  // ended by our SIGKILL at the time limit
    double ms = 0;
    double lastRequestMs = 0;  // when the server saw the run's last request
    std::string err;
    // The report file's bytes when the run started and when it had ended;
    // nullopt when there was none.
    std::optional<std::string> reportBefore;
    std::optional<std::string> report;
  };

  Bench(const SweepOptions& options, std::ostream& log) : options_(options), log_(log) {
    // Pages are "opened" and installations "run" by a program that does
    // nothing, so that no run leaves a process behind in the directory.
    for (const char* candidate : {"/bin/true", "/usr/bin/true"}) {
      if (::access(candidate, X_OK) == 0) {
        opener_ = candidate;
        break;
      }
    }
    if (opener_.empty()) throw Failure("no 'true' program to stand in for the browser");
    std::string pattern = (fs::temp_directory_path() / "hhsync-sweep-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw Failure("cannot make a temporary directory");
    dir_ = pattern;
    fs::create_directories(home());
    fs::create_directories(serverRoot());
    fs::create_directories(dir_ / "runs");
    fs::create_directories(reportDir());

    ReferenceServer::Options serverOptions;
    serverOptions.root = serverRoot().string();
    server_ = std::make_unique<ReferenceServer>(serverOptions);
    std::string error;
    if (!server_->Bind(0, &error)) throw Failure("reference server: " + error);
    serverThread_ = std::thread([this] { server_->Run(); });
  }

  ~Bench() {
    server_->Stop();
    serverThread_.join();
    if (options_.keepDir) {
      log_ << "hhctl sweep: kept " << dir_.string() << "\n";
    } else {
      std::error_code ec;
      fs::remove_all(dir_, ec);
    }
  }

  const fs::path& dir() const { return dir_; }
  fs::path home() const { return dir_ / "home"; }
  fs::path image() const { return home() / "handheld.db"; }
  fs::path store() const { return home() / "registry.db"; }
  fs::path serverRoot() const { return dir_ / "server"; }
  // Where every run writes its report: outside the program directory, so
  // that the report is no part of the compared state and outlives Restore.
  fs::path reportDir() const { return dir_ / "report"; }
  fs::path reportPath() const { return reportDir() / "report.json"; }

  // Removes the report, so that the next run's report is its own or none.
  void ClearReport() { fs::remove(reportPath()); }
  std::string baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(server_->port()) + "/zavrik";
  }

  // Puts the catalogue's files in place of everything the server has.
  void Serve(const Catalogue& catalogue) {
    serverLayout_.clear();
    WriteCatalogue(catalogue, serverRoot());
  }

  // A handheld as an installation leaves it, with the keep entries, and a
  // program directory with S.DAT and a desktop registry store.
  void MakeStart(const std::vector<KeepEntry>& keeps) {
    ClearDirectory(home());
    std::vector<uint8_t> sdat;
    std::string err;
    const std::string props = kSyncProperties;
    if (!hhsync::BuildSdat({{"sync.properties", hhsync::kSdatPropertySet,
                             std::vector<uint8_t>(props.begin(), props.end())}},
                           &sdat, &err)) {
      throw Failure("S.DAT: " + err);
    }
    WriteBytes(home() / "S.DAT", std::string(sdat.begin(), sdat.end()));
    Check(EmulatedHandheld::Init(image().string(), &err), err);
    {
      EmulatedHandheld h(image().string(), clock_);
      Check(h.CreateVolume(kVolume, &err), err);
      Check(h.InstallLibrary("zvdll", &err), err);
      const std::pair<const char*, std::string> settings[] = {
          {"baseurl", baseUrl()},
          {"dbp", kVolume},
          {"loginurl", "http://login.invalid/page"},
          {"ni", "NO"},
          {"log", "YES"}};
      for (const auto& [name, value] : settings) {
        Check(h.RegSet(kRegistryPath + std::string(name), value, &err), err);
      }
    }
    AddKeeps(keeps);
    hhsync::SqliteRegistry desktop(store().string());
    bool ok = desktop.CreateKey(RegRoot::kLocalMachine, kDesktopKey) &&
              desktop.CreateKey(RegRoot::kLocalMachine, hhsync::kAppManagerKey) &&
              desktop.SetValue(RegRoot::kLocalMachine, hhsync::kAppManagerKey, "",
                               hhsync::RegValue::String(opener_));
    if (!ok) throw Failure("cannot write the desktop registry store " + store().string());
  }

  void AddKeeps(const std::vector<KeepEntry>& keeps) {
    EmulatedHandheld h(image().string(), clock_);
    std::string err;
    for (const KeepEntry& k : keeps) {
      hhsync::CEOID id = 0;
      Check(h.AddRecord(kVolume, "keep", KeepProps(k), &id, &err), err);
    }
  }

  // Saves the program directory and the server's root as a start state.
  void Snapshot(const std::string& name) {
    Quiesce(image());
    Quiesce(store());
    const fs::path saved = dir_ / ("start-" + name);
    fs::remove_all(saved);
    fs::create_directories(saved);
    fs::copy(home(), saved / "home", fs::copy_options::recursive);
    fs::copy(serverRoot(), saved / "server", fs::copy_options::recursive);
    serverLayout_ = name;
  }

  void Restore(const std::string& name) {
    const fs::path saved = dir_ / ("start-" + name);
    ClearDirectory(home());
    fs::copy(saved / "home", home(), fs::copy_options::recursive);
    // A run changes nothing on the server but the received keep entries, so
    // the catalogue is copied only when another start state laid it out.
    if (serverLayout_ == name) {
      fs::remove(serverRoot() / kKeepReceived);
      if (fs::exists(saved / "server" / kKeepReceived)) {
        fs::copy_file(saved / "server" / kKeepReceived, serverRoot() / kKeepReceived);
      }
    } else {
      ClearDirectory(serverRoot());
      fs::copy(saved / "server", serverRoot(), fs::copy_options::recursive);
      serverLayout_ = name;
    }
  }

  // The program directory with its files, for a desktop fault.
  DesktopPlace Place() const { return {home(), image(), store(), dir_ / "desktop"}; }

  // How one run goes: where its program directory is (a desktop fault may
  // move it), and whether it is killed with SIGKILL a delay after the
  // server has seen a request of it. The requests after that one are held
  // until the kill, so the run is still working when it comes.
  struct RunSpec {
    std::optional<DesktopPlace> place;
    uint32_t killAtRequest = 0;  // 0: not killed
    double killDelayMs = 0;
  };

  // Answers the next run's requests with these faults (none: as the files
  // say), counting its requests from the first.
  void SetServerFaults(std::vector<ReferenceServer::Fault> faults) {
    server_->SetFaults(std::move(faults));
  }
  uint32_t RequestsSeen() const { return server_->RequestsSeen(); }

  // Runs hhsync once in the program directory.
  Run RunHhsync() { return RunHhsync(RunSpec()); }
  Run RunHhsync(const RunSpec& spec) {
    const DesktopPlace place = spec.place.value_or(Place());
    std::vector<std::string> env = {"HHSYNC_HOME=" + place.home.string(),
                                    "HHSYNC_DEVICE=" + place.image.string(),
                                    "HHSYNC_REGISTRY=" + place.store.string(),
                                    "HHSYNC_UI=none",
                                    "HHSYNC_OPEN=" + opener_,
                                    "HHSYNC_REPORT=" + reportPath().string(),
                                    "HHSYNC_STALL_SECONDS=" + std::to_string(kSweepStallSeconds)};
    for (const char* name : {"PATH", "HOME", "TMPDIR"}) {
      if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
    }
    const std::string& program = options_.hhsync;

    // A killed run may leave its report's temporary file beside the report;
    // hhsync removes such files only in its own program directory.
    for (const auto& entry : fs::directory_iterator(reportDir())) {
      if (entry.path() != reportPath()) fs::remove_all(entry.path());
    }
    Run run;
    run.reportBefore = ReadIfPresent(reportPath());

    const std::string errPath = (dir_ / "runs" / "err").string();
    fs::remove(errPath);
    const uint32_t killAt = spec.killAtRequest;
    if (killAt != 0) {
      SetServerFaults({});
      server_->SetGate(killAt);
    }
    hhsync::ChildProcess child;
    std::string error;
    const auto start = SteadyClock::now();
    if (!child.Start({program}, env, "", errPath, &error)) {
      server_->OpenGate();
      throw Failure(error);
    }

    const double limitMs = options_.timeoutSeconds * 1000;
    std::optional<SteadyClock::time_point> reached;  // when the kill's request came
    uint32_t seenBefore = 0;
    while (child.Running()) {
      const double elapsed = MsSince(start);
      bool killNow = false;
      const uint32_t seen = server_->RequestsSeen();
      if (seen != seenBefore) {
        seenBefore = seen;
        run.lastRequestMs = elapsed;
      }
      if (killAt != 0) {
        if (seen >= killAt && !reached) reached = SteadyClock::now();
        // A later request waits at the gate: the run can go no further.
        killNow = reached && (MsSince(*reached) >= spec.killDelayMs || seen > killAt);
      }
      if (killNow || elapsed >= limitMs) {
        child.Kill();
        const bool byUs = child.endSignal() == SIGKILL;
        run.killed = byUs && killNow;
        run.timedOut = byUs && !killNow;
        break;
      }
      // Fine steps while a kill waits, coarser ones otherwise.
      std::this_thread::sleep_for(std::chrono::microseconds(killAt != 0 ? 50 : 500));
    }
    if (killAt != 0) server_->OpenGate();
    run.ms = MsSince(start);
    run.exitCode = child.exitCode();
    run.err = ReadBytes(errPath);
    run.report = ReadIfPresent(reportPath());
    if (options_.verbose && !run.err.empty()) log_ << run.err;
    if (run.timedOut) {
      log_ << "hhctl sweep: hhsync ran longer than " << options_.timeoutSeconds
           << " s and was killed\n";
    }
    return run;
  }

  bool TryDump(HandheldDump* dump, std::string* err) {
    EmulatedHandheld h(image().string(), clock_);
    return h.Dump(dump, err);
  }

  HandheldDump Dump() {
    HandheldDump dump;
    std::string err;
    Check(TryDump(&dump, &err), err);
    return dump;
  }

  void AddFaults(const std::vector<hhsync::InjectedFault>& faults) {
    EmulatedHandheld h(image().string(), clock_);
    std::string err;
    for (const auto& f : faults) Check(h.AddFault(f, &err), err);
  }

  void ClearFaults() {
    EmulatedHandheld h(image().string(), clock_);
    std::string err;
    Check(h.ClearFaults(&err), err);
  }

  // The state the last run left (see convergence.h); the dump it was made
  // from goes to *dumpOut when given.
  SyncState Capture(HandheldDump* dumpOut = nullptr) {
    HandheldDump dump = Dump();
    SyncState state = StateOf(dump);
    if (dumpOut) *dumpOut = std::move(dump);
    return state;
  }

  // The state with the handheld part taken from a dump already made.
  SyncState StateOf(const HandheldDump& dump) {
    SyncState state = StateFromDump(dump);
    {
      hhsync::SqliteRegistry desktop(store().string());
      for (RegRoot root : {RegRoot::kLocalMachine, RegRoot::kCurrentUser, RegRoot::kClassesRoot}) {
        AddDesktopRegistry(&state, root, desktop.List(root, ""));
      }
    }
    for (const auto& entry : fs::directory_iterator(home())) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().filename().string();
      // Temporary files of unfinished downloads are the program's own.
      if (name.rfind(".hhsync-", 0) == 0) continue;
      bool compared = true;
      for (const char* skip : kUncomparedFiles) {
        if (name.rfind(skip, 0) == 0) compared = false;
      }
      if (compared) AddFile(&state, name, ReadBytes(entry.path()));
    }
    return state;
  }

  std::string KeepReceived() const { return ReadBytes(serverRoot() / kKeepReceived); }

 private:
  static void Check(bool ok, const std::string& err) {
    if (!ok) throw Failure(err);
  }

  const SweepOptions& options_;
  std::ostream& log_;
  fs::path dir_;
  std::string opener_;
  hhsync::SystemClock clock_;
  std::unique_ptr<ReferenceServer> server_;
  std::thread serverThread_;
  std::string serverLayout_;  // the start state the server's root holds, if any
};

// The message boxes a run showed, in order.
std::vector<std::string> MessageBoxes(const std::string& err) {
  std::vector<std::string> out;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    const std::string prefix = "hhsync: message: ";
    if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
  }
  return out;
}

std::vector<std::string> Keys(const std::map<std::string, DatabaseState>& databases) {
  std::vector<std::string> out;
  for (const auto& [key, db] : databases) out.push_back(db.volume + "/" + db.name);
  return out;
}

Json DifferencesJson(const std::vector<Difference>& differences) {
  Json out = Json::array();
  for (const Difference& d : differences) out.push_back({{"where", d.where}, {"what", d.what}});
  return out;
}

// Rows of text with aligned columns; the last column is left unpadded.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                const std::vector<bool>& rightAligned) {
  std::vector<std::size_t> width;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i + 1 < row.size(); ++i) {
      if (width.size() <= i) width.resize(i + 1, 0);
      width[i] = std::max(width[i], row[i].size());
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i + 1 == row.size()) {
        line += row[i];
        break;
      }
      const std::string pad(width[i] - row[i].size(), ' ');
      const bool right = i < rightAligned.size() && rightAligned[i];
      line += right ? pad + row[i] : row[i] + pad;
      line += "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
}

// ------------------------------------------------------------- reports

// The outcomes a clean sync after a fault or a kill may report: those of
// the fault-free run and of the clean sync after it, which left the
// reference state (a clean sync after a run that did all its work is the
// second of these). Throws Failure when either run left no whole report:
// without it there is nothing to hold the other reports against.
std::vector<std::string> ReferenceOutcomes(const Bench::Run& run, const Bench::Run& again) {
  std::vector<std::string> outcomes;
  for (const Bench::Run* r : {&run, &again}) {
    const ReportRead read = ReadReport(r->report);
    if (!read.whole) throw Failure("the report of a fault-free run: " + read.problem);
    if (std::find(outcomes.begin(), outcomes.end(), read.outcome) == outcomes.end()) {
      outcomes.push_back(read.outcome);
    }
  }
  return outcomes;
}

std::string JoinOutcomes(const std::vector<std::string>& outcomes) {
  std::string out;
  for (const std::string& o : outcomes) out += (out.empty() ? "" : "/") + o;
  return out;
}

// Whether a difference is the handheld's "keep" database.
bool IsKeepDatabase(const Difference& d) {
  const std::string where = hhsync::AsciiLower(d.where);
  const std::string keep = std::string("/") + hhsync::kKeepDatabase;
  return where.rfind("handheld db ", 0) == 0 && where.size() > keep.size() &&
         where.compare(where.size() - keep.size(), keep.size(), keep) == 0;
}

// A report that says "complete" promises what a fault-free run leaves: a
// run whose state still differs from the reference must not claim it. The
// one exception is the keep list, which does not decide the outcome: keep
// entries may stay on the handheld when the report's keep section says the
// list was not all dealt with. Empty when the claim holds (or was not
// made), else the finding.
std::string CompleteClaimFinding(const std::string& which, const ReportRead& read,
                                 const std::vector<Difference>& differences) {
  if (!read.whole || read.outcome != "complete") return "";
  std::vector<Difference> unexplained;
  for (const Difference& d : differences) {
    if (!(read.keepLeft && IsKeepDatabase(d))) unexplained.push_back(d);
  }
  if (unexplained.empty()) return "";
  const bool keep = std::any_of(unexplained.begin(), unexplained.end(), IsKeepDatabase);
  return which + " report says complete, but the run left " + std::to_string(unexplained.size()) +
         " differences from the reference" +
         (keep ? " (its keep section does not say the keep list was left)" : "") + ": " +
         Summarize(unexplained, 200);
}

// The finding about a clean sync's report, empty when it is whole and ends
// as a reference run did.
std::string CleanReportFinding(const ReportRead& read, const std::vector<std::string>& expected) {
  if (!read.whole) return "clean run's report: " + read.problem;
  if (std::find(expected.begin(), expected.end(), read.outcome) == expected.end()) {
    return "clean run's report says " + read.outcome + ", not " + JoinOutcomes(expected);
  }
  return "";
}

// ------------------------------------------------------------- the sweep

struct Reference {
  std::string scenario;
  std::vector<std::string> expectedKeep;
  std::map<std::string, uint32_t> counts;  // calls of every faultable operation
  std::vector<ServerRequest> requests;     // the fault-free run's requests, in order
  double runMs = 0;                        // the fault-free run
  std::vector<std::string> outcomes;       // see ReferenceOutcomes
  SyncState state;
};

struct CaseResult {
  FaultCase fault;
  std::string skipped;  // why the case could not be run here; empty when it ran
  bool fired = false;
  bool converged = false;
  std::vector<Difference> differences;
  std::vector<std::string> leftovers;
  KeepTally keep;
  // Keep entries received twice: after the faulted run posted them and left
  // them on the handheld (at-least-once delivery), or otherwise (a fault).
  int twiceInWindow = 0;
  int twiceOutside = 0;
  std::vector<std::string> messages;
  Bench::Run faulted;
  Bench::Run clean;
  // The faulted run's state against the reference, before the clean sync.
  std::vector<Difference> differencesAfterFault;
  ReportRead faultedReport;
  ReportRead cleanReport;
  bool reportLie = false;                   // the faulted run claimed complete wrongly
  std::vector<std::string> reportFindings;  // every report check that failed

  bool Clean() const {
    return converged && keep.lost() == 0 && twiceOutside == 0 && keep.unexpected.empty() &&
           keep.malformed == 0 && !faulted.timedOut && !clean.timedOut;
  }
  bool ReportOk() const { return reportFindings.empty(); }
};

// Makes the scenario's start state and saves it.
std::vector<std::string> PrepareScenario(Bench& bench, const std::string& name) {
  bench.Serve(CatalogueV1());
  bench.MakeStart(KeepsV1());
  if (name == "first") {
    bench.Snapshot(name);
    return KeepTexts(KeepsV1());
  }
  // A clean first sync of catalogue 1, then catalogue 2 on the server and
  // two new keep entries on the handheld.
  Bench::Run first = bench.RunHhsync();
  if (first.exitCode != 0) throw Failure("the first sync for the resync scenario failed");
  HandheldDump dump = bench.Dump();
  bool haveCats = false;
  for (const auto& v : dump.volumes) {
    for (const auto& db : v.databases) {
      if (db.name == "cats" && db.records.size() == CatalogueV1().categories.size())
        haveCats = true;
    }
  }
  if (!haveCats)
    throw Failure("the first sync for the resync scenario did not write every category");
  bench.Serve(CatalogueV2());
  bench.AddKeeps(KeepsV2());
  bench.Snapshot(name);
  return KeepTexts(KeepsV2());
}

// The fault-free run with every call and request counted, then one more
// clean sync.
Reference MakeReference(Bench& bench, const std::string& scenario,
                        std::vector<std::string> expectedKeep) {
  Reference ref;
  ref.scenario = scenario;
  ref.expectedKeep = std::move(expectedKeep);
  bench.Restore(scenario);
  std::vector<hhsync::InjectedFault> counters;
  for (const std::string& op : EmulatedHandheld::FaultableOperations()) {
    counters.push_back({op, kCountingNth, false, 0, 0});
  }
  bench.AddFaults(counters);
  bench.ClearReport();
  bench.SetServerFaults({});
  Bench::Run run = bench.RunHhsync();
  if (run.exitCode != 0) {
    throw Failure("the fault-free run of scenario " + scenario + " failed: " + run.err);
  }
  ref.runMs = run.ms;
  for (const auto& f : bench.Dump().faults) ref.counts[f.operation] = f.calls;
  for (const ReportRead::Request& r : ReadReport(run.report).requests) {
    ref.requests.push_back({r.method, r.url, r.bytes});
  }
  if (ref.requests.size() != bench.RequestsSeen()) {
    throw Failure("the fault-free run of scenario " + scenario + " reported " +
                  std::to_string(ref.requests.size()) + " requests; the server saw " +
                  std::to_string(bench.RequestsSeen()));
  }
  bench.ClearFaults();
  bench.ClearReport();
  Bench::Run again = bench.RunHhsync();
  ref.state = bench.Capture();
  ref.outcomes = ReferenceOutcomes(run, again);
  return ref;
}

// The keep entries the server has received that the handheld still holds:
// posted by a run that did not get to delete them.
std::set<std::string> KeepLeftAfterPost(const HandheldDump& dump, const KeepTally& posted) {
  std::set<std::string> out;
  for (const auto& v : dump.volumes) {
    for (const auto& db : v.databases) {
      if (!hhsync::EqualsNoCase(db.name, hhsync::kKeepDatabase)) continue;
      for (const auto& record : db.records) {
        const std::string text = KeepTextOfRecord(record);
        auto it = posted.delivered.find(text);
        if (it != posted.delivered.end() && it->second > 0) out.insert(text);
      }
    }
  }
  return out;
}

// Sets up a case's handheld faults.
void ArmHandheld(Bench& bench, const FaultCase& fault) {
  std::vector<hhsync::InjectedFault> faults;
  if (fault.lasting) {
    faults.push_back({fault.what, fault.nth, true, fault.error, 0});
  } else {
    for (uint32_t i = 0; i < fault.calls; ++i) {
      faults.push_back({fault.what, fault.nth + i, false, fault.error, 0});
    }
  }
  bench.AddFaults(faults);
}

CaseResult RunCase(Bench& bench, const Reference& ref, const FaultCase& fault, bool mounts) {
  CaseResult result;
  result.fault = fault;
  bench.Restore(fault.scenario);
  Bench::RunSpec spec;
  std::unique_ptr<DesktopFault> desktop;
  if (fault.kind == "handheld") ArmHandheld(bench, fault);
  if (fault.kind == "desktop") {
    desktop = MakeDesktopFault(fault.what, bench.Place(), mounts, &result.skipped);
    if (!desktop) return result;
    spec.place = desktop->RunPlace();
  }
  std::vector<ReferenceServer::Fault> serverFaults;
  if (fault.serverFault) serverFaults.push_back(*fault.serverFault);
  bench.SetServerFaults(serverFaults);
  bench.ClearReport();
  result.faulted = bench.RunHhsync(spec);
  const uint32_t requests = bench.RequestsSeen();
  bench.SetServerFaults({});
  std::vector<std::string> causeWords;
  if (desktop) causeWords = desktop->CauseWords();
  desktop.reset();  // the fault is taken away; what the run left stays
  result.messages = MessageBoxes(result.faulted.err);
  HandheldDump afterFault;
  result.differencesAfterFault = Compare(ref.state, bench.Capture(&afterFault));
  const std::set<std::string> window =
      KeepLeftAfterPost(afterFault, TallyKeep(bench.KeepReceived(), ref.expectedKeep));
  if (fault.kind == "handheld") {
    for (const auto& f : afterFault.faults) {
      if (f.operation == fault.what && f.calls >= fault.nth) result.fired = true;
    }
    bench.ClearFaults();
  } else {
    result.fired = fault.kind != "server" || requests >= fault.nth;
  }
  bench.ClearReport();
  result.clean = bench.RunHhsync();
  SyncState state = bench.Capture();
  result.differences = Compare(ref.state, state);
  result.converged = result.differences.empty();
  result.leftovers = Keys(state.leftovers);
  result.keep = TallyKeep(bench.KeepReceived(), ref.expectedKeep);
  for (const auto& [entry, times] : result.keep.delivered) {
    if (times < 2) continue;
    ++(window.count(entry) != 0 ? result.twiceInWindow : result.twiceOutside);
  }

  // The faulted run's report must be whole, say complete only when the run
  // left what a fault-free run leaves, and name a desktop fault's cause;
  // the clean run's must end as the reference's runs did. A run killed at
  // the time limit (counted apart) never got to write one.
  result.faultedReport = ReadReport(result.faulted.report);
  result.cleanReport = ReadReport(result.clean.report);
  if (!result.faultedReport.whole && !result.faulted.timedOut) {
    result.reportFindings.push_back("faulted run's report: " + result.faultedReport.problem);
  }
  const std::string lie =
      CompleteClaimFinding("faulted run's", result.faultedReport, result.differencesAfterFault);
  result.reportLie = !lie.empty();
  if (result.reportLie) result.reportFindings.push_back(lie);
  if (!causeWords.empty() && result.faultedReport.whole &&
      std::none_of(causeWords.begin(), causeWords.end(), [&](const std::string& word) {
        return result.faultedReport.reason.find(word) != std::string::npos;
      })) {
    result.reportFindings.push_back("faulted run's report does not name the cause (\"" +
                                    causeWords.front() + "\"): " + result.faultedReport.outcome +
                                    ": " + result.faultedReport.reason);
  }
  const std::string clean = CleanReportFinding(result.cleanReport, ref.outcomes);
  if (!clean.empty() && !result.clean.timedOut) result.reportFindings.push_back(clean);
  return result;
}

Json CaseJson(const CaseResult& r) {
  Json j;
  j["scenario"] = r.fault.scenario;
  j["kind"] = r.fault.kind;
  j["op"] = r.fault.what;
  j["use"] = r.fault.use;
  j["nth"] = r.fault.nth;
  j["calls"] = r.fault.calls;
  j["lasting"] = r.fault.lasting;
  j["error"] = r.fault.error;
  j["skipped"] = r.skipped;
  j["fired"] = r.fired;
  j["converged"] = r.converged;
  j["leftovers"] = r.leftovers.size();
  j["leftover_databases"] = r.leftovers;
  j["keep_lost"] = r.keep.lost();
  j["keep_twice"] = r.keep.twice();
  j["keep_twice_at_least_once"] = r.twiceInWindow;
  j["keep_twice_outside_window"] = r.twiceOutside;
  j["keep_unexpected"] = r.keep.unexpected;
  j["keep_bodies"] = r.keep.bodies;
  j["keep_malformed"] = r.keep.malformed;
  Json delivered = Json::object();
  for (const auto& [entry, times] : r.keep.delivered) delivered[entry] = times;
  j["keep_delivered"] = delivered;
  j["clean"] = r.Clean();
  j["differences"] = DifferencesJson(r.differences);
  j["messages"] = r.messages;
  j["faulted_run_ms"] = static_cast<int64_t>(r.faulted.ms);
  j["faulted_run_timed_out"] = r.faulted.timedOut;
  j["clean_run_ms"] = static_cast<int64_t>(r.clean.ms);
  j["clean_run_timed_out"] = r.clean.timedOut;
  j["differences_after_fault"] = r.differencesAfterFault.size();
  j["report_outcome"] = r.faultedReport.outcome;
  j["report_reason"] = r.faultedReport.reason;
  j["clean_report_outcome"] = r.cleanReport.outcome;
  j["report_lie"] = r.reportLie;
  j["report_findings"] = r.reportFindings;
  j["report_ok"] = r.ReportOk();
  return j;
}

// The outcome of a report for a table cell: "?" when it is not whole.
std::string OutcomeCell(const ReportRead& read) { return read.whole ? read.outcome : "?"; }

std::vector<std::string> CaseRow(const CaseResult& r) {
  std::string notes = r.converged ? "" : Summarize(r.differences, 400);
  if (!r.skipped.empty()) notes = "not run: " + r.skipped;
  if (r.skipped.empty() && !r.fault.kind.empty() && !r.fired) {
    notes = "fault did not fire; " + notes;
  }
  if (!r.keep.unexpected.empty() || r.keep.malformed != 0) {
    notes += (notes.empty() ? "" : "; ") + std::to_string(r.keep.unexpected.size()) +
             " unexpected keep entries, " + std::to_string(r.keep.malformed) + " malformed bodies";
  }
  if (r.faulted.timedOut || r.clean.timedOut)
    notes += (notes.empty() ? "" : "; ") + std::string("timed out");
  for (const std::string& finding : r.reportFindings) {
    notes += (notes.empty() ? "" : "; ") + finding;
  }
  const std::string twice = std::to_string(r.twiceOutside) +
                            (r.twiceInWindow ? " (+" + std::to_string(r.twiceInWindow) + ")" : "");
  return {
      r.fault.scenario,
      r.fault.Name(),
      r.fault.use,
      std::to_string(r.fault.nth) + (r.fault.calls > 1 ? "+" : "") + (r.fault.lasting ? "..." : ""),
      r.fault.kind == "handheld" ? std::to_string(r.fault.error) : "-",
      r.skipped.empty() ? (r.converged ? "yes" : "no") : "-",
      std::to_string(r.leftovers.size()),
      std::to_string(r.keep.lost()),
      twice,
      r.skipped.empty() ? OutcomeCell(r.faultedReport) + "/" + OutcomeCell(r.cleanReport) +
                              (r.ReportOk() ? "" : " !")
                        : "-",
      notes};
}

// ------------------------------------------------------------ kill test

struct KillPoint {
  unsigned index = 0;
  uint32_t atRequest = 0;  // the request of the fault-free run the kill follows
  double delayMs = 0;      // after that request came
  Bench::Run killed;
  std::string imageIntegrity;
  std::string storeIntegrity;
  bool dumpOk = false;
  std::string dumpError;
  // How far from the reference the kill left the handheld: the number of
  // differences before the clean sync (0 when the run was nearly done).
  std::size_t differencesAfterKill = 0;
  bool converged = false;
  std::vector<Difference> differences;
  std::vector<std::string> leftovers;
  KeepTally keep;
  Bench::Run clean;
  double ms = 0;                   // the whole point: restore, runs, checks
  std::set<std::string> inWindow;  // posted before the kill and still on the handheld after it
  int twiceInWindow = 0;
  int twiceOutside = 0;
  // The report file the kill left: "none", "previous" (the report of the
  // run before, untouched), "new" (the run's own, whole: it was written
  // before the kill) or "broken" (anything else: a torn file).
  std::string reportAfterKill;
  ReportRead killedReport;
  ReportRead cleanReport;
  bool reportLie = false;                   // the killed run's own report claimed complete wrongly
  std::vector<std::string> reportFindings;  // every report check that failed

  bool Ok() const {
    return imageIntegrity == "ok" && storeIntegrity == "ok" && dumpOk && converged &&
           keep.lost() == 0 && keep.unexpected.empty() && keep.malformed == 0 &&
           reportFindings.empty();
  }
};

// Sorts out the report file a killed run left (KillPoint::reportAfterKill)
// and records what is wrong with it. differencesAfterKill: the state the
// kill left against the reference, for a report of the run's own that says
// complete; nullptr when the handheld could not be read.
void CheckKilledReport(KillPoint* p, const std::vector<Difference>* differencesAfterKill) {
  const Bench::Run& run = p->killed;
  const bool ended = !run.killed && !run.timedOut;
  p->killedReport = ReadReport(run.report);
  if (!run.report) {
    p->reportAfterKill = "none";
    if (run.reportBefore) {
      p->reportFindings.push_back("the killed run removed the previous report");
    } else if (ended) {
      p->reportFindings.push_back("the run ended without a report");
    }
  } else if (run.report == run.reportBefore) {
    p->reportAfterKill = "previous";
    if (ended) p->reportFindings.push_back("the run ended without a report of its own");
  } else if (p->killedReport.whole) {
    p->reportAfterKill = "new";
    if (differencesAfterKill) {
      const std::string lie =
          CompleteClaimFinding("killed run's", p->killedReport, *differencesAfterKill);
      p->reportLie = !lie.empty();
      if (p->reportLie) p->reportFindings.push_back(lie);
    }
  } else {
    p->reportAfterKill = "broken";
    p->reportFindings.push_back("report after the kill: " + p->killedReport.problem);
  }
}

}  // namespace

const std::vector<std::string>& SweepScenarios() {
  static const std::vector<std::string> kScenarios = {"first", "resync"};
  return kScenarios;
}

const std::vector<std::string>& SweepUses() {
  static const std::vector<std::string> kUses = {"first",      "second",    "middle", "last",
                                                 "first-pair", "last-pair", "lasting"};
  return kUses;
}

const std::vector<std::string>& AllSweepUses() {
  static const std::vector<std::string> kUses = {
      "first", "second", "middle", "last", "every", "first-pair", "last-pair", "pairs", "lasting"};
  return kUses;
}

const std::vector<std::string>& SweepKinds() {
  static const std::vector<std::string> kKinds = {"handheld", "server", "desktop"};
  return kKinds;
}

const std::vector<std::string>& SweepServerFaults() {
  static const std::vector<std::string> kFaults = {"cut-head", "cut-body", "status",
                                                   "garbage",  "stall",    "lasting"};
  return kFaults;
}

const std::vector<uint32_t>& DefaultSweepErrors() {
  static const std::vector<uint32_t> kErrors = {87, 112, 0, 5};
  return kErrors;
}

const std::vector<std::string>& ConnectionOperations() {
  static const std::vector<std::string> kOps = {"CeRapiInitEx", "WaitForInit", "CeRapiUninit"};
  return kOps;
}

int RunFaultSweep(const SweepOptions& options, std::ostream& out, std::ostream& log) {
  const auto started = SteadyClock::now();
  auto wanted = [&](const char* kind) {
    return std::find(options.kinds.begin(), options.kinds.end(), kind) != options.kinds.end();
  };
  // Mounts made for desktop faults must not outlive the sweep: it takes a
  // mount namespace of its own before any thread starts.
  bool mounts = false;
  std::string noMounts;
  if (wanted("desktop")) mounts = PrivateMountNamespace(&noMounts);
  Bench bench(options, log);

  std::vector<Reference> references;
  for (const std::string& scenario : options.scenarios) {
    if (options.verbose) log << "hhctl sweep: preparing scenario " << scenario << "\n";
    std::vector<std::string> keep = PrepareScenario(bench, scenario);
    references.push_back(MakeReference(bench, scenario, std::move(keep)));
  }

  // A stall outlasts the program's patience with it.
  const uint32_t stallMs = (kSweepStallSeconds + 2) * 1000;
  std::vector<FaultCase> all;
  for (const Reference& ref : references) {
    std::vector<FaultCase> cases;
    if (wanted("handheld")) {
      cases =
          HandheldCases(ref.scenario, ref.counts, options.operations, options.uses, options.errors);
    }
    if (wanted("server")) {
      std::vector<FaultCase> server =
          ServerCases(ref.scenario, ref.requests, options.serverFaults, stallMs);
      cases.insert(cases.end(), server.begin(), server.end());
    }
    if (wanted("desktop")) {
      std::vector<FaultCase> desktop = DesktopCases(ref.scenario, options.desktopFaults);
      cases.insert(cases.end(), desktop.begin(), desktop.end());
    }
    all.insert(all.end(), cases.begin(), cases.end());
  }
  const std::vector<FaultCase> chosen = Limit(all, options.limit);

  // The fault-free control of each scenario: the same two runs without a
  // fault must reproduce the reference, or the measurement means nothing.
  std::vector<CaseResult> controls;
  for (const Reference& ref : references) {
    FaultCase control;
    control.scenario = ref.scenario;
    control.use = "-";
    controls.push_back(RunCase(bench, ref, control, mounts));
  }

  std::vector<CaseResult> results;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const FaultCase& fault = chosen[i];
    const Reference& ref =
        *std::find_if(references.begin(), references.end(),
                      [&](const Reference& r) { return r.scenario == fault.scenario; });
    results.push_back(RunCase(bench, ref, fault, mounts));
    if (options.verbose) {
      const CaseResult& r = results.back();
      log << "hhctl sweep: case " << (i + 1) << "/" << chosen.size() << " " << fault.scenario << " "
          << fault.Name() << " " << fault.use << " (" << fault.nth << ")"
          << (fault.kind == "handheld" ? " error " + std::to_string(fault.error) : "") << ": "
          << (!r.skipped.empty() ? "not run"
              : r.converged      ? "converged"
                                 : "differs")
          << "\n";
    }
  }

  int converged = 0, leftoverCases = 0, lost = 0, twiceIn = 0, twiceOut = 0, unexpected = 0,
      notFired = 0, timeouts = 0, clean = 0, reportsBad = 0, reportLies = 0, skipped = 0;
  std::map<std::string, int> casesByKind;
  for (const CaseResult& r : results) {
    if (!r.skipped.empty()) {
      ++skipped;
      continue;
    }
    ++casesByKind[r.fault.kind];
    reportsBad += r.ReportOk() ? 0 : 1;
    reportLies += r.reportLie ? 1 : 0;
    converged += r.converged ? 1 : 0;
    leftoverCases += r.leftovers.empty() ? 0 : 1;
    lost += r.keep.lost();
    twiceIn += r.twiceInWindow;
    twiceOut += r.twiceOutside;
    unexpected += static_cast<int>(r.keep.unexpected.size()) + r.keep.malformed;
    notFired += r.fired ? 0 : 1;
    timeouts += (r.faulted.timedOut || r.clean.timedOut) ? 1 : 0;
    clean += r.Clean() ? 1 : 0;
  }
  const int ran = static_cast<int>(results.size()) - skipped;
  const bool controlsClean = std::all_of(controls.begin(), controls.end(), [](const CaseResult& r) {
    return r.Clean() && r.ReportOk();
  });
  const double percent = ran == 0 ? 100.0 : 100.0 * converged / ran;
  const double seconds = MsSince(started) / 1000;
  const bool ok = controlsClean && clean == ran && reportsBad == 0;

  if (options.json) {
    Json j;
    j["mode"] = "sweep";
    j["hhsync"] = options.hhsync;
    if (options.keepDir) j["dir"] = bench.dir().string();
    j["kinds"] = options.kinds;
    j["errors"] = options.errors;
    j["uses"] = options.uses;
    j["operations"] = options.operations;
    j["server_faults"] = options.serverFaults;
    j["desktop_faults"] = options.desktopFaults;
    j["mounts"] = mounts ? "" : noMounts;
    j["limit"] = options.limit;
    j["scenarios"] = Json::array();
    for (std::size_t i = 0; i < references.size(); ++i) {
      const Reference& ref = references[i];
      Json counts = Json::object();
      for (const auto& [op, n] : ref.counts) counts[op] = n;
      Json requests = Json::array();
      for (const ServerRequest& r : ref.requests) requests.push_back(RequestLabel(r.method, r.url));
      j["scenarios"].push_back({{"name", ref.scenario},
                                {"op_counts", counts},
                                {"requests", requests},
                                {"reference_run_ms", static_cast<int64_t>(ref.runMs)},
                                {"reference_outcomes", ref.outcomes},
                                {"control", CaseJson(controls[i])}});
    }
    j["cases"] = Json::array();
    for (const CaseResult& r : results) j["cases"].push_back(CaseJson(r));
    Json byKind = Json::object();
    for (const auto& [kind, n] : casesByKind) byKind[kind] = n;
    j["totals"] = {{"cases", results.size()},
                   {"cases_without_limit", all.size()},
                   {"cases_by_kind", byKind},
                   {"skipped", skipped},
                   {"converged", converged},
                   {"converged_percent", percent},
                   {"leftover_cases", leftoverCases},
                   {"keep_lost", lost},
                   {"keep_twice_at_least_once", twiceIn},
                   {"keep_twice_outside_window", twiceOut},
                   {"keep_unexpected", unexpected},
                   {"faults_not_fired", notFired},
                   {"timeouts", timeouts},
                   {"clean", clean},
                   {"reports_bad", reportsBad},
                   {"report_lies", reportLies},
                   {"controls_clean", controlsClean},
                   {"seconds", seconds}};
    j["ok"] = ok;
    out << j.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    return ok ? 0 : 1;
  }

  for (const Reference& ref : references) {
    out << "scenario " << ref.scenario << ": fault-free run " << Fixed(ref.runMs, 0)
        << " ms, reports " << JoinOutcomes(ref.outcomes) << ", " << ref.requests.size()
        << " requests; calls:";
    for (const auto& [op, n] : ref.counts) {
      if (n != 0) out << " " << op << "=" << n;
    }
    out << "\n";
  }
  out << "\n";
  std::vector<std::vector<std::string>> rows = {{"scenario", "fault", "use", "nth", "error",
                                                 "converged", "leftovers", "keep lost",
                                                 "keep twice", "reports", "differences"}};
  for (const CaseResult& r : controls) rows.push_back(CaseRow(r));
  for (const CaseResult& r : results) rows.push_back(CaseRow(r));
  PrintTable(out, rows, {false, false, false, true, true, false, true, true, true});
  out << "\ncases: " << ran;
  if (all.size() != results.size()) out << " (of " << all.size() << ", --limit)";
  if (skipped != 0) out << " (" << skipped << " not run here)";
  out << "  converged: " << converged << " (" << Fixed(percent, 1) << "%)"
      << "  leftover cases: " << leftoverCases << "  keep lost: " << lost
      << "  keep twice: " << twiceOut << " (+" << twiceIn << " at least once)"
      << "  bad reports: " << reportsBad << "  report lies: " << reportLies << "\n";
  if (unexpected != 0 || notFired != 0 || timeouts != 0) {
    out << "unexpected keep entries: " << unexpected << "  faults not fired: " << notFired
        << "  timeouts: " << timeouts << "\n";
  }
  const bool controlsConverged =
      std::all_of(controls.begin(), controls.end(), [](const CaseResult& r) { return r.Clean(); });
  out << "controls (no fault): " << (controlsConverged ? "converged" : "DID NOT CONVERGE")
      << (controlsConverged && !controlsClean ? ", BAD REPORT" : "") << "\n";
  out << "time: " << Fixed(seconds, 1) << " s\n";
  return ok ? 0 : 1;
}

int RunKillTest(const SweepOptions& options, std::ostream& out, std::ostream& log) {
  const auto started = SteadyClock::now();
  Bench bench(options, log);
  const Catalogue catalogue = KillCatalogue(options.items);
  bench.Serve(catalogue);
  const std::vector<std::string> expected = KeepTexts(KillKeeps());
  bench.MakeStart(KillKeeps());
  bench.Snapshot("kill");

  // The fault-free run gives the requests the kills follow.
  bench.Restore("kill");
  bench.ClearReport();
  bench.SetServerFaults({});
  Bench::Run measured = bench.RunHhsync();
  if (measured.exitCode != 0) throw Failure("the fault-free run failed: " + measured.err);
  const uint32_t requests = bench.RequestsSeen();
  if (requests < 2) throw Failure("the fault-free run made fewer than two requests");
  bench.ClearReport();
  Bench::Run again = bench.RunHhsync();
  const SyncState reference = bench.Capture();
  const std::vector<std::string> outcomes = ReferenceOutcomes(measured, again);
  if (options.verbose) {
    log << "hhctl sweep: fault-free run of " << options.items << " items took "
        << Fixed(measured.ms, 0) << " ms\n";
  }

  // A kill follows a request other than the last by up to twice the
  // fault-free run's mean time between requests: the run cannot get past
  // the next request before it. One kill in ten falls after the last
  // request instead, within the time the fault-free run went on after it
  // (the last writes, lst, the report); such a run may end first.
  const double gapMs = 2 * measured.ms / requests;
  const double tailMs = std::max(0.0, measured.ms - measured.lastRequestMs);
  std::mt19937_64 random(options.seed);
  auto fraction = [&random] {  // 53 random bits
    return static_cast<double>(random() >> 11) / 9007199254740992.0;
  };
  std::vector<KillPoint> points;
  for (unsigned i = 0; i < options.killPoints; ++i) {
    KillPoint p;
    p.index = i + 1;
    const bool tail = random() % 10 == 0;
    p.atRequest = tail ? requests : 1 + static_cast<uint32_t>(random() % (requests - 1));
    p.delayMs = fraction() * (tail ? tailMs : gapMs);
    const auto pointStart = SteadyClock::now();
    bench.Restore("kill");
    p.killed = bench.RunHhsync({std::nullopt, p.atRequest, p.delayMs});
    p.imageIntegrity = IntegrityCheck(bench.image());
    p.storeIntegrity = IntegrityCheck(bench.store());
    HandheldDump afterKill;
    p.dumpOk = bench.TryDump(&afterKill, &p.dumpError);
    // Entries the server has and the handheld still holds: the kill fell
    // between the server's acceptance and the deletion.
    const KeepTally posted = TallyKeep(bench.KeepReceived(), expected);
    std::vector<Difference> differencesAfterKill;
    if (p.dumpOk) {
      differencesAfterKill = Compare(reference, bench.StateOf(afterKill));
      p.differencesAfterKill = differencesAfterKill.size();
      for (const auto& v : afterKill.volumes) {
        for (const auto& db : v.databases) {
          if (db.name != "keep") continue;
          for (const auto& record : db.records) {
            const std::string text = KeepTextOfRecord(record);
            auto it = posted.delivered.find(text);
            if (it != posted.delivered.end() && it->second > 0) p.inWindow.insert(text);
          }
        }
      }
    }
    // The killed run leaves its report file for the next point's kill to
    // hold against; the clean run's report must be its own.
    CheckKilledReport(&p, p.dumpOk ? &differencesAfterKill : nullptr);
    bench.ClearReport();
    p.clean = bench.RunHhsync();
    p.cleanReport = ReadReport(p.clean.report);
    const std::string cleanFinding = CleanReportFinding(p.cleanReport, outcomes);
    if (!cleanFinding.empty() && !p.clean.timedOut) p.reportFindings.push_back(cleanFinding);
    try {
      SyncState state = bench.Capture();
      p.differences = Compare(reference, state);
      p.converged = p.differences.empty();
      p.leftovers = Keys(state.leftovers);
    } catch (const Failure& e) {
      p.differences.push_back({"handheld", std::string("cannot be read: ") + e.what()});
    }
    p.keep = TallyKeep(bench.KeepReceived(), expected);
    for (const auto& [entry, times] : p.keep.delivered) {
      if (times < 2) continue;
      if (p.inWindow.count(entry) != 0) {
        ++p.twiceInWindow;
      } else {
        ++p.twiceOutside;
      }
    }
    p.ms = MsSince(pointStart);
    if (options.verbose) {
      log << "hhctl sweep: kill " << p.index << "/" << options.killPoints << " at "
          << "request " << p.atRequest << " + " << Fixed(p.delayMs, 2)
          << " ms: " << (p.Ok() ? "ok" : "FAILED") << "\n";
    }
    points.push_back(std::move(p));
  }

  int ok = 0, converged = 0, intact = 0, leftoverPoints = 0, lost = 0, twiceIn = 0, twiceOut = 0,
      unexpected = 0, killedBeforeEnd = 0, reportsBad = 0, reportLies = 0;
  std::map<std::string, int> afterKill = {{"none", 0}, {"previous", 0}, {"new", 0}, {"broken", 0}};
  for (const KillPoint& p : points) {
    reportsBad += p.reportFindings.empty() ? 0 : 1;
    reportLies += p.reportLie ? 1 : 0;
    ++afterKill[p.reportAfterKill];
    ok += p.Ok() ? 1 : 0;
    converged += p.converged ? 1 : 0;
    intact += (p.imageIntegrity == "ok" && p.storeIntegrity == "ok" && p.dumpOk) ? 1 : 0;
    leftoverPoints += p.leftovers.empty() ? 0 : 1;
    lost += p.keep.lost();
    twiceIn += p.twiceInWindow;
    twiceOut += p.twiceOutside;
    unexpected += static_cast<int>(p.keep.unexpected.size()) + p.keep.malformed;
    killedBeforeEnd += p.killed.killed ? 1 : 0;
  }
  const bool allOk = ok == static_cast<int>(points.size());
  const double seconds = MsSince(started) / 1000;

  if (options.json) {
    Json j;
    j["mode"] = "kill";
    j["hhsync"] = options.hhsync;
    if (options.keepDir) j["dir"] = bench.dir().string();
    j["seed"] = options.seed;
    j["items"] = options.items;
    j["reference_run_ms"] = measured.ms;
    j["requests"] = requests;
    j["reference_outcomes"] = outcomes;
    j["points"] = Json::array();
    for (const KillPoint& p : points) {
      j["points"].push_back(
          {{"point", p.index},
           {"at_request", p.atRequest},
           {"delay_ms", p.delayMs},
           {"killed", p.killed.killed},
           {"image_integrity", p.imageIntegrity},
           {"store_integrity", p.storeIntegrity},
           {"dump_ok", p.dumpOk},
           {"dump_error", p.dumpError},
           {"differences_after_kill", p.differencesAfterKill},
           {"converged", p.converged},
           {"leftovers", p.leftovers.size()},
           {"leftover_databases", p.leftovers},
           {"keep_lost", p.keep.lost()},
           {"keep_twice_in_window", p.twiceInWindow},
           {"keep_twice_outside_window", p.twiceOutside},
           {"keep_unexpected", p.keep.unexpected},
           {"ok", p.Ok()},
           {"differences", DifferencesJson(p.differences)},
           {"report_after_kill", p.reportAfterKill},
           {"report_outcome", p.reportAfterKill == "new" ? p.killedReport.outcome : ""},
           {"clean_report_outcome", p.cleanReport.outcome},
           {"report_lie", p.reportLie},
           {"report_findings", p.reportFindings},
           {"report_ok", p.reportFindings.empty()},
           {"killed_run_ms", p.killed.ms},
           {"clean_run_ms", p.clean.ms},
           {"point_ms", p.ms}});
    }
    j["totals"] = {{"points", points.size()},
                   {"killed_before_end", killedBeforeEnd},
                   {"intact", intact},
                   {"converged", converged},
                   {"leftover_points", leftoverPoints},
                   {"keep_lost", lost},
                   {"keep_twice_in_window", twiceIn},
                   {"keep_twice_outside_window", twiceOut},
                   {"keep_unexpected", unexpected},
                   {"reports_after_kill",
                    {{"none", afterKill["none"]},
                     {"previous", afterKill["previous"]},
                     {"new", afterKill["new"]},
                     {"broken", afterKill["broken"]}}},
                   {"reports_bad", reportsBad},
                   {"report_lies", reportLies},
                   {"ok", ok},
                   {"seconds", seconds}};
    j["ok"] = allOk;
    out << j.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    return allOk ? 0 : 1;
  }

  out << "kill test: " << options.items << " items, seed " << options.seed << ", fault-free run "
      << Fixed(measured.ms, 0) << " ms, reports " << JoinOutcomes(outcomes) << "\n\n";
  std::vector<std::vector<std::string>> rows = {
      {"point", "kill after", "killed", "integrity", "diffs after kill", "converged", "leftovers",
       "keep lost", "twice in window", "twice outside", "reports", "differences"}};
  for (const KillPoint& p : points) {
    std::string integrity = p.imageIntegrity == "ok" && p.storeIntegrity == "ok" && p.dumpOk
                                ? "ok"
                                : "image: " + p.imageIntegrity + ", store: " + p.storeIntegrity +
                                      (p.dumpOk ? "" : ", dump: " + p.dumpError);
    std::string notes = p.converged ? "" : Summarize(p.differences, 400);
    for (const std::string& finding : p.reportFindings) {
      notes += (notes.empty() ? "" : "; ") + finding;
    }
    const std::string killedCell =
        p.reportAfterKill == "new" ? OutcomeCell(p.killedReport) : p.reportAfterKill;
    rows.push_back(
        {std::to_string(p.index),
         "request " + std::to_string(p.atRequest) + " + " + Fixed(p.delayMs, 2) + " ms",
         p.killed.killed ? "yes" : "no (ended first)", integrity,
         std::to_string(p.differencesAfterKill), p.converged ? "yes" : "no",
         std::to_string(p.leftovers.size()), std::to_string(p.keep.lost()),
         std::to_string(p.twiceInWindow), std::to_string(p.twiceOutside),
         killedCell + "/" + OutcomeCell(p.cleanReport) + (p.reportFindings.empty() ? "" : " !"),
         notes});
  }
  PrintTable(out, rows, {true, true, false, false, true, false, true, true, true, true});
  out << "\npoints: " << points.size() << "  killed before the end: " << killedBeforeEnd
      << "  intact: " << intact << "  converged: " << converged
      << "  leftover points: " << leftoverPoints << "  keep lost: " << lost
      << "  keep twice in window: " << twiceIn << "  keep twice outside: " << twiceOut << "\n";
  out << "report after the kill: " << afterKill["none"] << " none, " << afterKill["previous"]
      << " previous, " << afterKill["new"] << " new, " << afterKill["broken"]
      << " broken  bad reports: " << reportsBad << "  report lies: " << reportLies << "\n";
  if (unexpected != 0) out << "unexpected keep entries: " << unexpected << "\n";
  out << "time: " << Fixed(seconds, 1) << " s\n";
  return allOk ? 0 : 1;
}

}  // namespace hhctl
