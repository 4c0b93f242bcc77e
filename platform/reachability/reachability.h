// Network reachability: flag bits saying whether the network can be reached and how, and a
// callback when they change, run on a queue the caller names.
//
// Linux has no reachability service, so the real object polls a flags reader (the SDK hands
// in its interface-and-default-route probe) and calls back when the flags differ from the
// last reading. The fake object answers settable flags and calls back when a test sets
// them. Neither ever reports the mobile-data bit on its own.
//
//   auto reachability = platform::PollingReachability::make(readFlags);
//   reachability->setCallback([](uint32_t flags) { ... }, queue);
//
// Thread-safe: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/queue.h"
#include "platform/dispatch/timer.h"

namespace platform {

inline constexpr uint32_t kReachabilityFlagReachable = 0x2;
inline constexpr uint32_t kReachabilityFlagConnectionRequired = 0x4;
inline constexpr uint32_t kReachabilityFlagIsWWAN = 0x40000;

class NetworkReachability {
 public:
  using Callback = std::function<void(uint32_t flags)>;
  virtual ~NetworkReachability() = default;
  // The current flags, or std::nullopt when they cannot be read.
  virtual std::optional<uint32_t> getFlags() = 0;
  // Installs the change callback, run on `queue` (replacing an earlier one); answers
  // whether it could be installed.
  virtual bool setCallback(Callback callback, std::shared_ptr<DispatchQueue> queue) = 0;
};

// Polls `reader` every `interval` once a callback is installed.
class PollingReachability : public NetworkReachability, public std::enable_shared_from_this<PollingReachability> {
 public:
  using Reader = std::function<std::optional<uint32_t>()>;
  static std::shared_ptr<PollingReachability> make(Reader reader, Duration interval = std::chrono::seconds(2));
  PollingReachability(Reader reader, Duration interval);
  ~PollingReachability() override;

  std::optional<uint32_t> getFlags() override;
  bool setCallback(Callback callback, std::shared_ptr<DispatchQueue> queue) override;

 private:
  void poll();

  const Reader reader_;
  const Duration interval_;
  std::mutex mutex_;
  Callback callback_;
  std::shared_ptr<DispatchQueue> queue_;
  std::shared_ptr<DispatchTimer> timer_;
  std::optional<uint32_t> last_;
};

class FakeReachability : public NetworkReachability {
 public:
  explicit FakeReachability(std::optional<uint32_t> flags = kReachabilityFlagReachable) : flags_(flags) {}

  std::optional<uint32_t> getFlags() override;
  bool setCallback(Callback callback, std::shared_ptr<DispatchQueue> queue) override;
  // The flags getFlags answers from now on (std::nullopt: unreadable).
  void setFlags(std::optional<uint32_t> flags);
  // Delivers `flags` to the callback on its queue, as a change would.
  void deliver(uint32_t flags);
  // Makes setCallback fail.
  void setRefusesCallback(bool refuses);

 private:
  std::mutex mutex_;
  std::optional<uint32_t> flags_;
  Callback callback_;
  std::shared_ptr<DispatchQueue> queue_;
  bool refusesCallback_ = false;
};

}  // namespace platform
