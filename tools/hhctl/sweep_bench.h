#pragma once
// Where `hhctl sweep` runs hhsync: a temporary directory with a program
// directory ("home"), the server's root and saved start states, the
// reference server running on loopback in this process, and one run of the
// real hhsync binary at a time there, clean, against faults, or killed.
//
// Every run writes its report (HHSYNC_REPORT) outside the program
// directory, so that the report is no part of the compared state and
// outlives Restore.
//
// Thread safety: one thread uses a bench; the server answers on its own.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "desktop_faults.h"
#include "emulator/emulated_handheld.h"
#include "platform/linux/system_clock.h"
#include "reference_server.h"
#include "sweep.h"
#include "sweep_catalogue.h"
#include "sweep_verdict.h"

namespace hhsync {
class ChildProcess;
}

namespace hhctl {

class Bench {
 public:
  Bench(const SweepOptions& options, std::ostream& log);
  ~Bench();
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path home() const { return dir_ / "home"; }
  std::filesystem::path image() const { return home() / "handheld.db"; }
  std::filesystem::path store() const { return home() / "registry.db"; }
  std::filesystem::path serverRoot() const { return dir_ / "server"; }
  std::filesystem::path reportPath() const { return dir_ / "report" / "report.json"; }

  // Removes the report, so that the next run's report is its own or none.
  void ClearReport() { std::filesystem::remove(reportPath()); }
  // Puts the catalogue's files in place of everything the server has.
  void Serve(const Catalogue& catalogue);
  // A handheld as an installation leaves it, with the keep entries, and a
  // program directory with S.DAT and a desktop registry store.
  void MakeStart(const std::vector<KeepEntry>& keeps);
  void AddKeeps(const std::vector<KeepEntry>& keeps);
  // Saves the program directory and the server's root as a start state,
  // and puts one back.
  void Snapshot(const std::string& name);
  void Restore(const std::string& name);

  // The program directory with its files, for a desktop fault.
  DesktopPlace Place() const { return {home(), image(), store(), dir_ / "desktop"}; }

  // How one run goes: where its program directory is (a desktop fault may
  // move it), and whether it is killed with SIGKILL a delay after the
  // server has seen a request of it. The requests after that one are held
  // until the kill, so the run is still working when it comes.
  struct RunPlan {
    std::optional<DesktopPlace> place;
    uint32_t killAtRequest = 0;  // 0: not killed
    double killDelayMs = 0;
  };
  // Runs hhsync once; a run longer than the options' timeout is killed.
  HhsyncRun RunHhsync(const RunPlan& plan);
  HhsyncRun RunHhsync() { return RunHhsync(RunPlan()); }

  // Answers the next run's requests with these faults (none: as the files
  // say), counting its requests from the first.
  void SetServerFaults(std::vector<ReferenceServer::Fault> faults) {
    server_->SetFaults(std::move(faults));
  }
  uint32_t RequestsSeen() const { return server_->RequestsSeen(); }

  // The handheld's faults; the image's contents.
  void AddFaults(const std::vector<hhsync::InjectedFault>& faults);
  void ClearFaults();
  bool TryDump(hhsync::HandheldDump* dump, std::string* err);
  hhsync::HandheldDump Dump();

  // The state the last run left (see convergence.h); the dump it was made
  // from goes to *dumpOut when given.
  SyncState Capture(hhsync::HandheldDump* dumpOut = nullptr);
  // The state with the handheld part taken from a dump already made.
  SyncState StateOf(const hhsync::HandheldDump& dump);
  // What the server received as keep lists, one body a line.
  std::string KeepReceived() const;

 private:
  std::vector<std::string> Environment(const DesktopPlace& place) const;
  // Waits for the child to end, killing it as the plan says or at the time limit.
  void Watch(hhsync::ChildProcess& child, const RunPlan& plan,
             std::chrono::steady_clock::time_point start, HhsyncRun* run);

  const SweepOptions& options_;
  std::ostream& log_;
  std::filesystem::path dir_;
  std::string opener_;
  hhsync::SystemClock clock_;
  std::unique_ptr<ReferenceServer> server_;
  std::thread serverThread_;
  std::string serverLayout_;  // the start state the server's root holds, if any
};

}  // namespace hhctl
