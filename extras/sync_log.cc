#include "extras/sync_log.h"

#include <ctime>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/prompter.h"

namespace hhsync {
namespace {

constexpr char kOpenFailedMessage[] = "Unable to open log file.";
constexpr char kFirstEntry[] = "****Sync Started***";

// The names the C library gives in the "C" locale. They are spelled out here
// because the process-wide locale may have been changed by a UI toolkit, and
// the log is always written with the English names.
constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

}  // namespace

SyncLog::SyncLog(Paths& paths, Clock& clock, Prompter& ui) : clock_(clock) {
  openFailed_ = true;
  // Opened for appending: the write position is always the end of the file.
  file_ = paths.OpenExclusiveAppend(paths.InProgramDir(kLogFileName));
  if (!file_) {
    ui.MessageBox(kOpenFailedMessage, MessageBoxStyle{});
    return;
  }
  WriteEntry(kFirstEntry);
  openFailed_ = false;
}

SyncLog::~SyncLog() = default;

std::string SyncLog::FormatHeader(const std::tm& t) {
  // "\r\n%A, %B %d, %Y %H:%M:%S --\r\n" with %A and %B put in beforehand, so
  // the result does not depend on the current locale. Out-of-range fields
  // are left to strftime.
  std::string format = "\r\n";
  format += t.tm_wday >= 0 && t.tm_wday < 7 ? kWeekdays[t.tm_wday] : "%A";
  format += ", ";
  format += t.tm_mon >= 0 && t.tm_mon < 12 ? kMonths[t.tm_mon] : "%B";
  format += " %d, %Y %H:%M:%S --\r\n";
  char buf[128];
  std::size_t n = std::strftime(buf, sizeof buf, format.c_str(), &t);
  return std::string(buf, n);
}

bool SyncLog::WriteEntry(std::string_view text) {
  if (!file_) return false;
  std::lock_guard<std::mutex> lock(mu_);
  // The time is read under the lock too, so headers follow each other in time.
  std::string header = FormatHeader(clock_.LocalTime(clock_.Now()));
  bool ok = file_->Write(header.data(), header.size());
  if (!text.empty()) ok = file_->Write(text.data(), text.size()) && ok;
  return ok;
}

}  // namespace hhsync
