#pragma once
// A run's report as JSON text, in the form docs/report.schema.json
// describes: one object with the program, its version, the mode, when the
// run started and ended, its outcome, and the facts of its parts.
//
// Thread safety: pure functions.

#include <cstdint>
#include <ctime>
#include <string>

#include "base/run_report.h"

namespace hhsync {

// The report as one JSON object (UTF-8; the report's 8-bit text is
// converted from Windows-1252), indented, ending with a line feed.
std::string ReportJson(const RunReport& report);

// The time as ISO 8601 local time with its offset from UTC:
// "2026-12-06T14:03:21+01:00".
std::string IsoTime(int64_t utcSeconds, int offsetMinutes);

// How far local, the broken-down local time of utcSeconds, is ahead of UTC,
// in minutes.
int UtcOffsetMinutes(int64_t utcSeconds, const std::tm& local);

}  // namespace hhsync
