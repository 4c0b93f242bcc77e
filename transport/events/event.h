// The transport's event, its clock snapshot and its product data.
//
// An ETEvent is what a client hands to the transport: the bytes its payload object produced,
// the log source (mapping ID) and destination (target), a quality-of-service tier (3 unless
// set; 4 makes the storage ask for an upload at once), the clock snapshot the transport takes
// when it is sent, an expiration date 7 days after creation, opaque custom bytes and optional
// product data. Events are archived one per file with the keyed archiver (classes "ETEvent",
// "ETClock", "ETProductData"; ETRegisterEventArchiveClasses makes them readable).
//
// Events and clocks are plain objects without locks: one thread at a time. The transport
// copies an event before it leaves the caller's thread, so the client may go on changing
// its own.
//
//   auto event = transport->eventForTransport();
//   event->setDataObject(report);      // the payload's bytes are taken now
//   event->setQosTier(4);
//   transport->sendDataEvent(event, [](bool written, const std::optional<platform::Error>&) {});
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/keyed_archiver.h"

// A payload that can serialise itself for the transport.
class ETEventDataObject {
 public:
  virtual ~ETEventDataObject() = default;
  // The payload's bytes; std::nullopt when it has none.
  virtual std::optional<std::vector<uint8_t>> transportBytes() const = 0;
};

// A snapshot of wall-clock and boot-relative time.
class ETClock : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "ETClock";

  // Now. The boot time comes from the kernel (/proc/stat "btime"), read again whenever the
  // system clock has been set; the wall clock is read between two boot-time readings that
  // agree (at most 3 tries).
  static std::shared_ptr<ETClock> snapshot();
  // A snapshot whose timeMillis is `millisInTheFuture` ahead of now.
  static std::shared_ptr<ETClock> clockSnapshotInTheFuture(int64_t millisInTheFuture);

  ETClock() = default;
  ETClock(int64_t timeMillis, int64_t timezoneOffsetSeconds, int64_t kernelBootTimeNanoseconds,
          int64_t uptimeNanoseconds)
      : timeMillis(timeMillis),
        timezoneOffsetSeconds(timezoneOffsetSeconds),
        kernelBootTimeNanoseconds(kernelBootTimeNanoseconds),
        uptimeNanoseconds(uptimeNanoseconds) {}

  int64_t timeMillis = 0;
  int64_t timezoneOffsetSeconds = 0;
  int64_t kernelBootTimeNanoseconds = 0;
  int64_t uptimeNanoseconds = 0;

  int64_t kernelBootTime() const { return kernelBootTimeNanoseconds; }
  int64_t uptime() const { return uptimeNanoseconds; }
  int64_t uptimeMilliseconds() const { return uptimeNanoseconds / 1000000; }

  // With different boot times: YES when `other` booted earlier. Otherwise compares
  // timeMillis + timezoneOffsetSeconds (the seconds added as they are).
  bool isAfter(const ETClock& other) const;
  size_t hash() const;
  bool isEqual(const ETClock& other) const;

  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static std::shared_ptr<ETClock> initWithCoder(platform::KeyedUnarchiver& coder);
};

// The product identifier an upload reports as compliance data.
class ETProductData : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "ETProductData";

  explicit ETProductData(int32_t productID) : productID_(productID) {}
  int32_t productID() const { return productID_; }
  std::shared_ptr<ETProductData> copy() const { return std::make_shared<ETProductData>(productID_); }
  bool isEqualToProductData(const ETProductData& other) const { return productID_ == other.productID_; }
  size_t hash() const { return static_cast<size_t>(static_cast<int64_t>(productID_)); }

  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static std::shared_ptr<ETProductData> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  int32_t productID_;
};

class ETEvent : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "ETEvent";
  // Seconds from creation to expiry: 7 days.
  static constexpr double kDefaultExpirationSeconds = 604800;

  // 32 upper-case hexadecimal characters (a new random UUID without its "-").
  static std::string nextEventID();

  // nullptr, after the assertion "Please give a valid mapping ID" or "A target cannot be
  // negative or 0", for an empty mapping ID or a target below 1.
  static std::shared_ptr<ETEvent> initWithMappingID(const std::string& mappingID,
                                                    std::shared_ptr<ETProductData> productData, long target);
  static std::shared_ptr<ETEvent> initWithMappingID(const std::string& mappingID, long target) {
    return initWithMappingID(mappingID, nullptr, target);
  }

  // A new event with the same event ID, tier, clock, custom bytes and product data; its
  // bytes are taken anew from the data object, and it expires 7 days from now.
  std::shared_ptr<ETEvent> copy() const;
  // The event as unarchiving its archive gives it back: every archived field copied (clock and
  // product data as new objects), no data object. nullptr when the archive would not read
  // back as this event (no serialized bytes, or no event ID, which reading replaces).
  std::shared_ptr<ETEvent> archivedForm() const;

  const std::string& eventID() const { return eventID_; }
  void setEventID(std::string eventID) { eventID_ = std::move(eventID); }
  const std::string& mappingID() const { return mappingID_; }
  long target() const { return target_; }
  const std::shared_ptr<ETEventDataObject>& dataObject() const { return dataObject_; }
  // Keeps the object and takes its transportBytes at once (on every call).
  void setDataObject(std::shared_ptr<ETEventDataObject> dataObject);
  const std::optional<std::vector<uint8_t>>& serializedDataObjectBytes() const { return serializedBytes_; }
  long qosTier() const { return qosTier_; }
  void setQosTier(long tier) { qosTier_ = tier; }
  const std::shared_ptr<ETClock>& clockSnapshot() const { return clockSnapshot_; }
  void setClockSnapshot(std::shared_ptr<ETClock> clock) { clockSnapshot_ = std::move(clock); }
  platform::Date expirationDate() const { return expirationDate_; }
  void setExpirationDate(platform::Date date) { expirationDate_ = date; }
  const std::optional<std::vector<uint8_t>>& customBytes() const { return customBytes_; }
  void setCustomBytes(std::optional<std::vector<uint8_t>> bytes) { customBytes_ = std::move(bytes); }
  const std::shared_ptr<ETProductData>& productData() const { return productData_; }

  // Over the event ID, mapping ID, product data, clock, serialized bytes, target and tier;
  // the data object, expiration date and custom bytes take no part in either.
  size_t hash() const;
  bool isEqual(const ETEvent& other) const;
  // "<ETEvent 0x...: <event ID> <mapping ID> <target>>", for log lines.
  std::string description() const;

  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  // nullptr (the read fails) when the archive has no serialized bytes; a missing event ID
  // is replaced by a new one.
  static std::shared_ptr<ETEvent> initWithCoder(platform::KeyedUnarchiver& coder);

  ETEvent() = default;

 private:
  // initWithMappingID with the event ID given, or a new one.
  static std::shared_ptr<ETEvent> makeEvent(const std::string& mappingID, std::shared_ptr<ETProductData> productData,
                                            long target, std::optional<std::string> eventID);

  std::string eventID_;
  std::string mappingID_;
  long target_ = 0;
  std::shared_ptr<ETEventDataObject> dataObject_;
  std::optional<std::vector<uint8_t>> serializedBytes_;
  long qosTier_ = 0;
  std::shared_ptr<ETClock> clockSnapshot_;
  platform::Date expirationDate_;
  std::optional<std::vector<uint8_t>> customBytes_;
  std::shared_ptr<ETProductData> productData_;
};

// Sets of events, by the events' equality.
struct ETEventHash {
  size_t operator()(const std::shared_ptr<ETEvent>& event) const { return event ? event->hash() : 0; }
};
struct ETEventEqual {
  bool operator()(const std::shared_ptr<ETEvent>& a, const std::shared_ptr<ETEvent>& b) const {
    return a == b || (a && b && a->isEqual(*b));
  }
};
using ETEventSet = std::unordered_set<std::shared_ptr<ETEvent>, ETEventHash, ETEventEqual>;

// Registers ETEvent, ETClock and ETProductData with the keyed archiver's class registry.
void ETRegisterEventArchiveClasses();
