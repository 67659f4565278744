#include "app/report_collector.h"

#include "formats/report_json.h"
#include "platform/clock.h"

namespace hhsync {

const char* RunModeName(RunMode mode) {
  switch (mode) {
    case RunMode::kSync:
      return "sync";
    case RunMode::kFirstSync:
      return "first";
    case RunMode::kTest:
      return "test";
    case RunMode::kConfiguration:
      return "config";
  }
  return "sync";
}

ReportCollector::ReportCollector(Clock& clock, RunMode mode)
    : clock_(clock), startMs_(clock.MonotonicMs()) {
  report_.mode = RunModeName(mode);
  report_.startedAt = clock_.Now();
  report_.startedOffsetMinutes =
      UtcOffsetMinutes(report_.startedAt, clock_.LocalTime(report_.startedAt));
  report_.outcome = RunOutcome::kFailed;
  report_.reason = "the run ended without saying how";
}

RunReport ReportCollector::Finish() {
  std::lock_guard<std::mutex> lock(mu_);
  report_.endedAt = clock_.Now();
  report_.endedOffsetMinutes = UtcOffsetMinutes(report_.endedAt, clock_.LocalTime(report_.endedAt));
  report_.elapsedMs = clock_.MonotonicMs() - startMs_;
  RunReport report = report_;
  if (!problems_.empty()) {
    report.reason = problems_ + (report.reason.empty() ? "" : "; " + report.reason);
  }
  return report;
}

void ReportCollector::Outcome(RunOutcome outcome, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.outcome = outcome;
  report_.reason = reason;
}

void ReportCollector::Problem(const std::string& problem) {
  std::lock_guard<std::mutex> lock(mu_);
  problems_ += (problems_.empty() ? "" : "; ") + problem;
}

void ReportCollector::HandheldConnected(bool connected) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.handheld.connected = connected;
}

void ReportCollector::HandheldVolume(const std::string& volume, bool mounted) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.handheld.volume = volume;
  report_.handheld.mounted = mounted;
}

void ReportCollector::HandheldSd6(const std::string& sd6) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.handheld.sd6 = sd6;
}

void ReportCollector::LastSyncWritten(uint32_t value) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.lstWritten = value;
}

int ReportCollector::RequestStarted(const std::string& method, const std::string& url) {
  std::lock_guard<std::mutex> lock(mu_);
  RequestFacts request;
  request.method = method;
  request.url = UrlWithoutCredentials(url);
  report_.requests.push_back(std::move(request));
  requestStartMs_.push_back(clock_.MonotonicMs());
  return static_cast<int>(report_.requests.size()) - 1;
}

void ReportCollector::RequestEnded(int request, const RequestResult& result) {
  std::lock_guard<std::mutex> lock(mu_);
  if (request < 0 || static_cast<std::size_t>(request) >= report_.requests.size()) return;
  const auto index = static_cast<std::size_t>(request);
  RequestFacts& facts = report_.requests[index];
  facts.status = result.status;
  facts.bytesReceived = result.bytesReceived;
  facts.errorCode = result.errorCode;
  facts.errorText = result.errorText;
  facts.ms = clock_.MonotonicMs() - requestStartMs_[index];
}

void ReportCollector::Category(const CategoryFacts& facts) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.categories.push_back(facts);
}

void ReportCollector::Keep(const KeepFacts& facts) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.keep = facts;
}

void ReportCollector::KeepPage(const std::string& url, bool opened) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!report_.keep) report_.keep.emplace();
  report_.keep->pageUrl = UrlWithoutCredentials(url);
  report_.keep->pageOpened = opened;
}

void ReportCollector::Resources(const ResourcesFacts& facts) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.resources = facts;
}

void ReportCollector::Message(const MessageFacts& facts) {
  std::lock_guard<std::mutex> lock(mu_);
  report_.messages.push_back(facts);
}

}  // namespace hhsync
