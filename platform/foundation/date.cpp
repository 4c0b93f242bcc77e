#include "platform/foundation/date.h"

#include <cmath>
#include <ctime>
#include <iomanip>
#include <ostream>

#include "platform/dispatch/clock.h"

namespace platform {

Date Date::now() { return fromSystemTime(Clock::wallNow()); }

Date Date::fromSystemTime(std::chrono::system_clock::time_point time) {
  auto sinceEpoch = std::chrono::duration<double>(time.time_since_epoch()).count();
  return fromTimeIntervalSince1970(sinceEpoch);
}

std::chrono::system_clock::time_point Date::systemTime() const {
  auto sinceEpoch = std::chrono::duration<double>(timeIntervalSince1970());
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceEpoch));
}

std::ostream& operator<<(std::ostream& out, const Date& date) {
  const double unix = date.timeIntervalSince1970();
  if (!std::isfinite(unix)) return out << "@" << date.timeIntervalSinceReferenceDate;
  const double whole = std::floor(unix);
  const auto seconds = static_cast<std::time_t>(whole);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  out << '@' << std::put_time(&parts, "%Y-%m-%dT%H:%M:%S");
  if (unix != whole) {
    std::string fraction = std::to_string(unix - whole);  // "0.250000"
    while (fraction.size() > 2 && fraction.back() == '0') fraction.pop_back();
    out << fraction.substr(1);
  }
  return out << 'Z';
}

}  // namespace platform
