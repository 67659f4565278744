#include "platform/fake/fake_clock.h"

#include <ctime>

namespace hhsync {

std::tm FakeClock::LocalTime(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm out{};
  gmtime_r(&tt, &out);
  return out;
}

}  // namespace hhsync
