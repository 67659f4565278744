#pragma once
// Holding a run's report against what a test saw around the run: the
// handheld before and after, the reference server's log, the program's
// standard error, the desktop's lst and the program directory. Used by the
// end-to-end tests on every run of the real hhsync.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "emulator/emulated_handheld.h"

namespace hhsync::test {

struct ObservedRun {
  HandheldDump before;
  HandheldDump after;
  // The reference server's base ("http://127.0.0.1:PORT") and the entries
  // its log gained during the run; the report's requests to other servers
  // are not compared.
  std::string serverUrl;
  std::vector<nlohmann::json> serverLog;
  std::string err;              // standard error, the summary line included
  std::optional<uint32_t> lst;  // the desktop's lst after the run
  std::string programDir;
};

// Checks (with gtest expectations) that report validates against
// docs/report.schema.json and that its numbers agree with what was
// observed: one request per request the server logged, in order and with
// its target; per category its "cats" versions before and after, the index
// records deleted, and for a completed category the records written and
// items fetched against the records new in its content table and record
// databases; the keep entries read and deleted; the resources stored and
// recorded and the files written; the message boxes on standard error; lst.
void ExpectReportMatches(const nlohmann::json& report, const ObservedRun& observed);

// The last line of err when it is a run's summary line for caption
// ("hhsync: <outcome>: ..."), and err without it; empty and err unchanged
// otherwise.
std::string TakeSummaryLine(std::string* err, const std::string& caption = "hhsync");

}  // namespace hhsync::test
