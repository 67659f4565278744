#include "sweep_bench.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>

#include "command.h"
#include "platform/sqlite/sqlite_registry.h"
#include "reference_server_http.h"
#include "sqlite_files.h"
#include "tools/support/child_process.h"
#include "tools/support/installation.h"

namespace hhctl {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;
using hhsync::EmulatedHandheld;
using hhsync::HandheldDump;

// The product the scenarios are made for.
constexpr const char* kRegistryPath = "Software\\Sweep\\News\\";
constexpr const char* kVolume = "news.vol";
// Files of the program directory that are not part of the compared state:
// the stores (compared by content), the log and the configuration.
const char* const kUncomparedFiles[] = {"handheld.db", "registry.db", "sync.txt", "S.DAT"};
// The file the reference server appends each keep body to.
constexpr const char* kKeepReceived = "keep-received.txt";

double MsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

void Check(bool ok, const std::string& err) {
  if (!ok) throw Failure(err);
}

}  // namespace

Bench::Bench(const SweepOptions& options, std::ostream& log) : options_(options), log_(log) {
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
  for (const fs::path& d : {home(), serverRoot(), dir_ / "runs", reportPath().parent_path()}) {
    fs::create_directories(d);
  }
  ReferenceServer::Options serverOptions;
  serverOptions.root = serverRoot().string();
  server_ = std::make_unique<ReferenceServer>(serverOptions);
  std::string error;
  if (!server_->Bind(0, &error)) throw Failure("reference server: " + error);
  serverThread_ = std::thread([this] { server_->Run(); });
}

Bench::~Bench() {
  server_->Stop();
  serverThread_.join();
  if (options_.keepDir) {
    log_ << "hhctl sweep: kept " << dir_.string() << "\n";
  } else {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

void Bench::Serve(const Catalogue& catalogue) {
  serverLayout_.clear();
  WriteCatalogue(catalogue, serverRoot());
}

void Bench::MakeStart(const std::vector<KeepEntry>& keeps) {
  const hhsync::Installation installation{
      .syncProperties =
          "name=Sweep News\nregistry=Software\\Sweep\\News\\\nexname=news.exe\npartner=sweep\n"
          "product=news\n",
      .registryPath = kRegistryPath,
      .volume = kVolume,
      .values = {{"baseurl", "http://127.0.0.1:" + std::to_string(server_->port()) + "/zavrik"},
                 {"loginurl", "http://login.invalid/page"},
                 {"ni", "NO"},
                 {"log", "YES"}},
      .companion = true,
      .desktopKey = "Software\\Sweep\\News",
      .appManager = opener_};
  hhsync::Install(home(), store(), installation);
  AddKeeps(keeps);
}

void Bench::AddKeeps(const std::vector<KeepEntry>& keeps) {
  EmulatedHandheld h(image().string(), clock_);
  std::string err;
  for (const KeepEntry& k : keeps) {
    hhsync::CEOID id = 0;
    Check(h.AddRecord(kVolume, "keep", KeepProps(k), &id, &err), err);
  }
}

void Bench::Snapshot(const std::string& name) {
  Quiesce(image());
  Quiesce(store());
  const fs::path saved = dir_ / ("start-" + name);
  fs::remove_all(saved);
  fs::create_directories(saved);
  fs::copy(home(), saved / "home", fs::copy_options::recursive);
  fs::copy(serverRoot(), saved / "server", fs::copy_options::recursive);
  serverLayout_ = name;
}

void Bench::Restore(const std::string& name) {
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

std::vector<std::string> Bench::Environment(const DesktopPlace& place) const {
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
  return env;
}

HhsyncRun Bench::RunHhsync(const RunPlan& plan) {
  // A killed run may leave its report's temporary file beside the report;
  // hhsync removes such files only in its own program directory.
  for (const auto& entry : fs::directory_iterator(reportPath().parent_path())) {
    if (entry.path() != reportPath()) fs::remove_all(entry.path());
  }
  HhsyncRun run;
  run.reportBefore = http::ReadWholeFile(reportPath().string());
  const std::string errPath = (dir_ / "runs" / "err").string();
  fs::remove(errPath);
  if (plan.killAtRequest != 0) {
    SetServerFaults({});
    server_->SetGate(plan.killAtRequest);
  }
  hhsync::ChildProcess child;
  std::string error;
  const auto start = SteadyClock::now();
  if (!child.Start({options_.hhsync}, Environment(plan.place.value_or(Place())), "", errPath,
                   &error)) {
    server_->OpenGate();
    throw Failure(error);
  }
  Watch(child, plan, start, &run);
  if (plan.killAtRequest != 0) server_->OpenGate();
  run.exitCode = child.exitCode();
  run.err = ReadBytes(errPath);
  run.report = http::ReadWholeFile(reportPath().string());
  if (options_.verbose && !run.err.empty()) log_ << run.err;
  if (run.timedOut) {
    log_ << "hhctl sweep: hhsync ran longer than " << options_.timeoutSeconds
         << " s and was killed\n";
  }
  return run;
}

void Bench::Watch(hhsync::ChildProcess& child, const RunPlan& plan, SteadyClock::time_point start,
                  HhsyncRun* run) {
  const uint32_t killAt = plan.killAtRequest;
  const double limitMs = options_.timeoutSeconds * 1000;
  std::optional<SteadyClock::time_point> reached;  // when the kill's request came
  uint32_t seenBefore = 0;
  while (child.Running()) {
    const double elapsed = MsSince(start);
    bool killNow = false;
    const uint32_t seen = server_->RequestsSeen();
    if (seen != seenBefore) {
      seenBefore = seen;
      run->lastRequestMs = elapsed;
    }
    if (killAt != 0) {
      if (seen >= killAt && !reached) reached = SteadyClock::now();
      // A later request waits at the gate: the run can go no further.
      killNow = reached && (MsSince(*reached) >= plan.killDelayMs || seen > killAt);
    }
    if (killNow || elapsed >= limitMs) {
      child.Kill();
      const bool byUs = child.endSignal() == SIGKILL;
      run->killed = byUs && killNow;
      run->timedOut = byUs && !killNow;
      break;
    }
    // Fine steps while a kill waits, coarser ones otherwise.
    std::this_thread::sleep_for(std::chrono::microseconds(killAt != 0 ? 50 : 500));
  }
  run->ms = MsSince(start);
}

bool Bench::TryDump(HandheldDump* dump, std::string* err) {
  EmulatedHandheld h(image().string(), clock_);
  return h.Dump(dump, err);
}

HandheldDump Bench::Dump() {
  HandheldDump dump;
  std::string err;
  Check(TryDump(&dump, &err), err);
  return dump;
}

void Bench::AddFaults(const std::vector<hhsync::InjectedFault>& faults) {
  EmulatedHandheld h(image().string(), clock_);
  std::string err;
  for (const auto& f : faults) Check(h.AddFault(f, &err), err);
}

void Bench::ClearFaults() {
  EmulatedHandheld h(image().string(), clock_);
  std::string err;
  Check(h.ClearFaults(&err), err);
}

SyncState Bench::Capture(HandheldDump* dumpOut) {
  HandheldDump dump = Dump();
  SyncState state = StateOf(dump);
  if (dumpOut) *dumpOut = std::move(dump);
  return state;
}

SyncState Bench::StateOf(const HandheldDump& dump) {
  SyncState state = StateFromDump(dump);
  {
    hhsync::SqliteRegistry desktop(store().string());
    for (auto root : {hhsync::RegRoot::kLocalMachine, hhsync::RegRoot::kCurrentUser,
                      hhsync::RegRoot::kClassesRoot}) {
      AddDesktopRegistry(&state, root, desktop.List(root, ""));
    }
  }
  for (const auto& entry : fs::directory_iterator(home())) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    // Temporary files of unfinished downloads are the program's own.
    bool compared = name.rfind(".hhsync-", 0) != 0;
    for (const char* skip : kUncomparedFiles) {
      if (name.rfind(skip, 0) == 0) compared = false;
    }
    if (compared) AddFile(&state, name, ReadBytes(entry.path()));
  }
  return state;
}

std::string Bench::KeepReceived() const { return ReadBytes(serverRoot() / kKeepReceived); }

}  // namespace hhctl
