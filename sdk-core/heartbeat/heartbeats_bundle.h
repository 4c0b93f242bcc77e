// The records of the daily heartbeat store: `Heartbeat`, the fixed-capacity `RingBuffer`
// that holds them, and `HeartbeatsBundle`, the ring buffer plus the date of the last
// heartbeat added for each time period. A bundle is what the heartbeat storage keeps (as
// JSON, in the form `encodeHeartbeatsBundle` writes) for one app identifier.
//
// All types here are plain values with no locks; the storage serialises access to them.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"

struct HeartbeatsPayload;

// The periods a heartbeat can count for, stored by their raw value.
enum class TimePeriod : int64_t { daily = 1 };

// Every case of TimePeriod, in declaration order.
const std::vector<TimePeriod>& allTimePeriods();
// The period's length: its raw value times one day, in seconds.
double timePeriodSeconds(TimePeriod period);
// The platform's distant-past date (0001-01-01 00:00:00 UTC), which marks "no heartbeat yet".
platform::Date heartbeatDistantPast();

// Something that can be turned into the payload the installations requests carry.
class HeartbeatsPayloadConvertible {
 public:
  virtual ~HeartbeatsPayloadConvertible() = default;
  virtual HeartbeatsPayload toHeartbeatsPayload() const = 0;
};

struct Heartbeat final : HeartbeatsPayloadConvertible {
  std::string agent;
  platform::Date date;  // 00:00:00 UTC of the heartbeat's day
  int64_t version = 0;
  std::vector<TimePeriod> timePeriods;

  Heartbeat() = default;
  Heartbeat(std::string agent, platform::Date date, std::vector<TimePeriod> timePeriods, int64_t version = 0)
      : agent(std::move(agent)), date(date), version(version), timePeriods(std::move(timePeriods)) {}

  HeartbeatsPayload toHeartbeatsPayload() const override;

  friend bool operator==(const Heartbeat& a, const Heartbeat& b) {
    return a.agent == b.agent && a.date == b.date && a.version == b.version && a.timePeriods == b.timePeriods;
  }
};

// Thrown by RingBuffer::push when the tail index lies outside the slots (a damaged file).
class RingBufferError : public std::exception {
 public:
  RingBufferError(int64_t pushIndex, int64_t endIndex);
  int64_t pushIndex() const { return pushIndex_; }
  int64_t endIndex() const { return endIndex_; }
  // "Out-of-bounds push at index <push> to ring buffer withend index of <end>."
  const std::string& description() const { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int64_t pushIndex_;
  int64_t endIndex_;
  std::string description_;
};

// A circular queue of optional slots whose length is fixed at creation. `push` writes the
// tail slot and moves the tail on (wrapping), answering what it overwrote; `pop` moves the
// tail back and empties that slot.
template <class Element>
struct RingBuffer {
  std::vector<std::optional<Element>> circularQueue;
  int64_t tailIndex = 0;

  RingBuffer() = default;
  explicit RingBuffer(int64_t capacity) : circularQueue(capacity > 0 ? static_cast<size_t>(capacity) : 0) {}

  // Nothing happens with no slots. Throws RingBufferError when the tail is out of bounds.
  std::optional<Element> push(Element element) {
    const auto count = static_cast<int64_t>(circularQueue.size());
    if (count == 0) return std::nullopt;
    if (tailIndex < 0 || tailIndex >= count) throw RingBufferError(tailIndex, count);
    std::optional<Element> replaced = std::move(circularQueue[static_cast<size_t>(tailIndex)]);
    circularQueue[static_cast<size_t>(tailIndex)] = std::move(element);
    tailIndex = tailIndex + 1 == count ? 0 : tailIndex + 1;
    return replaced;
  }

  // The slot before the tail, emptied; nothing when it was empty (the tail still moves).
  std::optional<Element> pop() {
    const auto count = static_cast<int64_t>(circularQueue.size());
    if (count == 0) return std::nullopt;
    // A damaged tail is brought back into the slots rather than read out of bounds.
    tailIndex = tailIndex <= 0 || tailIndex > count ? count - 1 : tailIndex - 1;
    std::optional<Element> content = std::move(circularQueue[static_cast<size_t>(tailIndex)]);
    circularQueue[static_cast<size_t>(tailIndex)].reset();
    return content;
  }

  // The elements of the non-empty slots, in slot order (index 0 upwards).
  std::vector<Element> elements() const {
    std::vector<Element> out;
    for (const auto& slot : circularQueue) {
      if (slot) out.push_back(*slot);
    }
    return out;
  }

  friend bool operator==(const RingBuffer& a, const RingBuffer& b) {
    return a.circularQueue == b.circularQueue && a.tailIndex == b.tailIndex;
  }
};

struct HeartbeatsBundle final : HeartbeatsPayloadConvertible {
  using DatesCache = std::map<TimePeriod, platform::Date>;

  int64_t capacity = 0;
  DatesCache lastAddedHeartbeatDates;
  RingBuffer<Heartbeat> buffer;

  // Every period mapped to the distant-past date.
  static const DatesCache& initialDatesCache();

  explicit HeartbeatsBundle(int64_t capacity, DatesCache cache = initialDatesCache());

  // Adds a heartbeat, overwriting the oldest when full, and updates the dates cache. A damaged
  // tail index resets the bundle to one diagnostic heartbeat naming the error.
  void append(const Heartbeat& heartbeat);
  // Removes and answers the heartbeat whose date equals `day`; the others are pushed back.
  std::optional<Heartbeat> takeHeartbeat(platform::Date day);
  // The stored heartbeats in slot order.
  std::vector<Heartbeat> heartbeats() const { return buffer.elements(); }

  HeartbeatsPayload toHeartbeatsPayload() const override;

  friend bool operator==(const HeartbeatsBundle& a, const HeartbeatsBundle& b) {
    return a.capacity == b.capacity && a.lastAddedHeartbeatDates == b.lastAddedHeartbeatDates &&
           a.buffer == b.buffer;
  }
};

// The stored JSON form: {"capacity", "lastAddedHeartbeatDates": [raw, date, ...], "buffer":
// {"circularQueue": [null | {"agent","date","version","timePeriods"}], "tailIndex"}}, dates as
// seconds since 2001-01-01 UTC.
std::vector<uint8_t> encodeHeartbeatsBundle(const HeartbeatsBundle& bundle);
// The most slots a stored bundle may claim; the app keeps 30.
inline constexpr int64_t kHeartbeatsBundleMaxCapacity = 1000;

// std::nullopt when the bytes are not such a bundle (a required key missing, a wrong type,
// an unknown period) or not one that could have been written: a capacity outside
// 0...kHeartbeatsBundleMaxCapacity, a queue whose length is not the capacity, or a tail index
// outside the queue (0 for an empty one). Nothing read sizes an allocation unchecked.
std::optional<HeartbeatsBundle> decodeHeartbeatsBundle(const std::vector<uint8_t>& bytes);
