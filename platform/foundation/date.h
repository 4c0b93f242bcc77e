// Date: a point in time as seconds since 2001-01-01 00:00:00 UTC, the reference date the
// stored formats of the app and the SDK use (property-list dates, archived dates).
//
// A plain value type; safe to copy between threads. `Date::now()` reads the platform clock
// (platform::Clock::wallNow()), so a test's virtual clock moves it.
#pragma once

#include <chrono>
#include <compare>
#include <iosfwd>

namespace platform {

struct Date {
  // Seconds between 1970-01-01 and 2001-01-01 (UTC).
  static constexpr double kReferenceDateUnixSeconds = 978307200.0;

  double timeIntervalSinceReferenceDate = 0.0;

  static Date now();
  static Date fromTimeIntervalSinceReferenceDate(double seconds) { return Date{seconds}; }
  static Date fromTimeIntervalSince1970(double seconds) {
    return Date{seconds - kReferenceDateUnixSeconds};
  }
  static Date fromSystemTime(std::chrono::system_clock::time_point time);

  double timeIntervalSince1970() const {
    return timeIntervalSinceReferenceDate + kReferenceDateUnixSeconds;
  }
  double timeIntervalSince(Date other) const {
    return timeIntervalSinceReferenceDate - other.timeIntervalSinceReferenceDate;
  }
  Date addingTimeInterval(double seconds) const {
    return Date{timeIntervalSinceReferenceDate + seconds};
  }
  std::chrono::system_clock::time_point systemTime() const;

  friend bool operator==(const Date&, const Date&) = default;
  friend auto operator<=>(const Date&, const Date&) = default;
};

// "@2001-01-01T00:00:00.5Z"-style rendering for logs and test failures.
std::ostream& operator<<(std::ostream& out, const Date& date);

}  // namespace platform
