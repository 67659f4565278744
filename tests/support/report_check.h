#pragma once
// The summary line a run of the real programs ends its standard error with.

#include <string>

namespace hhsync::test {

// The last line of err when it is a run's summary line for caption
// ("hhsync: <outcome>: ..."), and err without it; empty and err unchanged
// otherwise.
std::string TakeSummaryLine(std::string* err, const std::string& caption = "hhsync");

}  // namespace hhsync::test
