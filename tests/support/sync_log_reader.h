#pragma once
// Reading sync.txt back in tests: the messages of its entries, without their
// time headers.

#include <string>
#include <vector>

namespace hhsync::test {

// The messages of every entry in a sync log's bytes, in order.
std::vector<std::string> LogMessages(const std::string& logBytes);

}  // namespace hhsync::test
