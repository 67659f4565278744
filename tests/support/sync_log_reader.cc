#include "support/sync_log_reader.h"

#include <regex>

namespace hhsync::test {

std::vector<std::string> LogMessages(const std::string& bytes) {
  static const std::regex kHeader(
      "\r\n[A-Z][a-z]+day, [A-Z][a-z]+ [0-9]{2}, [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} --\r\n");
  std::vector<std::string> out;
  auto begin = std::sregex_iterator(bytes.begin(), bytes.end(), kHeader);
  std::vector<std::pair<std::size_t, std::size_t>> headers;
  for (auto it = begin; it != std::sregex_iterator(); ++it)
    headers.emplace_back(it->position(), it->length());
  for (std::size_t i = 0; i < headers.size(); ++i) {
    std::size_t start = headers[i].first + headers[i].second;
    std::size_t end = i + 1 < headers.size() ? headers[i + 1].first : bytes.size();
    out.push_back(bytes.substr(start, end - start));
  }
  return out;
}

}  // namespace hhsync::test
