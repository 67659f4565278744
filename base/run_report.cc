#include "base/run_report.h"

#include <cstdio>

namespace hhsync {

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kComplete:
      return "complete";
    case RunOutcome::kPartial:
      return "partial";
    case RunOutcome::kNotDue:
      return "not-due";
    case RunOutcome::kPageOnly:
      return "page-only";
    case RunOutcome::kCancelled:
      return "cancelled";
    case RunOutcome::kNoHandheld:
      return "no-handheld";
    case RunOutcome::kNoConfiguration:
      return "no-configuration";
    case RunOutcome::kRedirect:
      return "redirect";
    case RunOutcome::kFailed:
      return "failed";
  }
  return "failed";
}

int ExitStatusOf(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kComplete:
    case RunOutcome::kNotDue:
    case RunOutcome::kPageOnly:
      return 0;
    case RunOutcome::kFailed:
      return 1;
    case RunOutcome::kPartial:
      return 3;
    case RunOutcome::kCancelled:
      return 4;
    case RunOutcome::kNoHandheld:
      return 5;
    case RunOutcome::kNoConfiguration:
      return 6;
    case RunOutcome::kRedirect:
      return 7;
  }
  return 1;
}

RunRecorder& NoRunRecorder() {
  static RunRecorder none;
  return none;
}

std::string UrlWithoutCredentials(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const std::size_t hostStart = scheme + 3;
  const std::size_t authorityEnd = url.find_first_of("/?#", hostStart);
  const std::string authority = url.substr(
      hostStart, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - hostStart);
  const std::size_t at = authority.rfind('@');
  if (at == std::string::npos) return url;
  return url.substr(0, hostStart) + url.substr(hostStart + at + 1);
}

std::string SizeText(uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000.0;
  std::size_t unit = 0;
  // Rounded to one decimal, 999.95 kB reads as 1.0 MB.
  while (value >= 999.95 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

const char* CategoryActionName(CategoryAction action) {
  switch (action) {
    case CategoryAction::kNew:
      return "new";
    case CategoryAction::kUpdated:
      return "updated";
    case CategoryAction::kUnchanged:
      return "unchanged";
    case CategoryAction::kGone:
      return "gone";
    case CategoryAction::kLeft:
      return "left";
    case CategoryAction::kSharedTable:
      return "shared-table";
  }
  return "left";
}

const char* ResourcesResultName(ResourcesResult result) {
  switch (result) {
    case ResourcesResult::kUpdated:
      return "updated";
    case ResourcesResult::kUnchanged:
      return "unchanged";
    case ResourcesResult::kFailed:
      return "failed";
  }
  return "failed";
}

std::string ReportSummary(const RunReport& report) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(report.elapsedMs) / 1000.0);
  if (report.mode == "test" || report.mode == "config") {
    std::string line = OutcomeName(report.outcome);
    if (!report.reason.empty()) line += ": " + report.reason;
    return line + " (" + seconds + ")";
  }
  int updated = 0;
  int items = 0;
  for (const CategoryFacts& category : report.categories) {
    if (category.completed &&
        (category.action == CategoryAction::kNew || category.action == CategoryAction::kUpdated)) {
      ++updated;
    }
    items += category.itemsFetched;
  }
  uint64_t bytes = 0;
  for (const RequestFacts& request : report.requests) bytes += request.bytesReceived;
  std::string line = std::string(OutcomeName(report.outcome)) + ": " + std::to_string(updated) +
                     (updated == 1 ? " category" : " categories") + " updated, " +
                     std::to_string(items) + (items == 1 ? " item, " : " items, ") +
                     SizeText(bytes) + ", " + seconds;
  if (!report.reason.empty()) line += "; " + report.reason;
  return line;
}

}  // namespace hhsync
