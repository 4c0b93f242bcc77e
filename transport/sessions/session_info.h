// The values a session carries (`SessionInfo`) and the clock of its event (`TimeProvider`).
#pragma once

#include <cstdint>
#include <string>

struct SessionInfo {
  // 32 lower-case hexadecimal characters.
  std::string sessionId;
  // The ID of the process's first session.
  std::string firstSessionId;
  // The process's sampling decision.
  bool shouldDispatchEvents = true;
  // 0 for the first session of the process, one more for each later one.
  int32_t sessionIndex = 0;
};

class TimeProvider {
 public:
  virtual ~TimeProvider() = default;
  // Microseconds since 1970.
  virtual int64_t timestampUS() const = 0;
};

// The current date in whole seconds, as microseconds (so the value always ends in six zeros);
// 0 for a clock set before 1970.
class Time final : public TimeProvider {
 public:
  int64_t timestampUS() const override;
};
