#include "support/report_check.h"

#include <set>

namespace hhsync::test {

std::string TakeSummaryLine(std::string* err, const std::string& caption) {
  static const std::set<std::string> kOutcomes = {"complete",         "partial",   "not-due",
                                                  "page-only",        "cancelled", "no-handheld",
                                                  "no-configuration", "redirect",  "failed"};
  if (err->empty() || err->back() != '\n') return "";
  const std::size_t start = err->rfind('\n', err->size() - 2);
  const std::size_t lineStart = start == std::string::npos ? 0 : start + 1;
  const std::string line = err->substr(lineStart, err->size() - 1 - lineStart);
  const std::string prefix = caption + ": ";
  if (line.rfind(prefix, 0) != 0) return "";
  const std::size_t colon = line.find(": ", prefix.size());
  if (colon == std::string::npos ||
      kOutcomes.count(line.substr(prefix.size(), colon - prefix.size())) == 0) {
    return "";
  }
  err->resize(lineStart);
  return line;
}

}  // namespace hhsync::test
