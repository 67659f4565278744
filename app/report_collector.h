#pragma once
// ReportCollector: the recorder of a run that keeps a report. It gathers
// what the run's parts report into one RunReport, and times the run and
// each request on the clock. main makes one per run, hands it down with the
// ports and writes the report out when the run is over.
//
// Thread safety: every method may be called from any thread.

#include <mutex>
#include <string>
#include <vector>

#include "app/sync_runner.h"
#include "base/run_report.h"

namespace hhsync {

class Clock;

// "sync", "first", "test", "config".
const char* RunModeName(RunMode mode);

class ReportCollector final : public RunRecorder {
 public:
  // The run starts now. Until an outcome is reported the run counts as
  // failed.
  ReportCollector(Clock& clock, RunMode mode);

  // The report of the run, ended now. Later calls end it again.
  RunReport Finish();

  void Outcome(RunOutcome outcome, const std::string& reason) override;
  void Problem(const std::string& problem) override;
  void HandheldConnected(bool connected) override;
  void HandheldVolume(const std::string& volume, bool mounted) override;
  void HandheldSd6(const std::string& sd6) override;
  void LastSyncWritten(uint32_t value) override;
  int RequestStarted(const std::string& method, const std::string& url) override;
  void RequestEnded(int request, const RequestResult& result) override;
  void Category(const CategoryFacts& facts) override;
  void Keep(const KeepFacts& facts) override;
  void KeepPage(const std::string& url, bool opened) override;
  void Resources(const ResourcesFacts& facts) override;
  void Message(const MessageFacts& facts) override;

 private:
  std::mutex mu_;
  Clock& clock_;
  const int64_t startMs_;
  RunReport report_;
  std::string problems_;                 // "; "-separated
  std::vector<int64_t> requestStartMs_;  // by request number
};

}  // namespace hhsync
