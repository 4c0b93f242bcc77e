#include "transport/events/event.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <string_view>

#include "platform/foundation/uuid.h"
#include "transport/events/console.h"
#include "transport/events/files.h"

namespace {

constexpr const char* kEventIDKey = "ETEventEventIDKey";
constexpr const char* kMappingIDKey = "ETEventMappingIDKey";
constexpr const char* kProductDataKey = "ETEventProductDataKey";
constexpr const char* kTargetKey = "ETEventTargetKey";
constexpr const char* kQoSTierKey = "ETEventQoSTierKey";
constexpr const char* kClockSnapshotKey = "ETEventClockSnapshotKey";
constexpr const char* kCustomDataKey = "ETEventCustomDataKey";
constexpr const char* kExpirationDateKey = "ETEventExpirationDateKey";
constexpr const char* kSerializedBytesKey = "ETEventSerializedDataObjectBytesKey";

constexpr const char* kClockTimeMillisKey = "ETClockTimeMillis";
constexpr const char* kClockTimezoneOffsetKey = "ETClockTimezoneOffsetSeconds";
constexpr const char* kClockKernelBootTimeKey = "ETClockKernelBootTime";
constexpr const char* kClockUptimeKey = "ETClockUptime";

constexpr const char* kProductIDKey = "ETProductDataProductIDKey";

constexpr int kBootTimeBracketTries = 3;

// The kernel's boot time in nanoseconds since 1970, from /proc/stat "btime". Reading that
// file costs tens of microseconds, so the value is kept and read again only when the system
// clock was set: the kernel's own boot instant is the wall clock minus the time since boot,
// and the two clocks read without a system call; when their difference moves by more than
// the allowance, the wall clock was set and the file is read again.
class BootTime {
 public:
  int64_t nanoseconds() {
    const int64_t offset = wallMinusBootClock();
    std::lock_guard lock(mutex_);
    if (!known_ || std::llabs(offset - offsetAtRead_) > kAllowanceNanoseconds) {
      cached_ = readProcStat();
      offsetAtRead_ = offset;
      known_ = true;
    }
    return cached_;
  }

 private:
  static constexpr int64_t kAllowanceNanoseconds = 500000000;

  static int64_t wallMinusBootClock() {
    timespec wall{}, sinceBoot{};
    clock_gettime(CLOCK_REALTIME, &wall);
    clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
    return (static_cast<int64_t>(wall.tv_sec) - sinceBoot.tv_sec) * 1000000000LL + (wall.tv_nsec - sinceBoot.tv_nsec);
  }
  static int64_t readProcStat() {
    std::optional<platform::Error> error;
    std::optional<ETBytes> text = ETReadFile("/proc/stat", &error);
    if (!text) return 0;
    std::string_view content(reinterpret_cast<const char*>(text->data()), text->size());
    const size_t at = content.find("\nbtime ");
    if (at == std::string_view::npos) return 0;
    long long seconds = 0;
    if (std::sscanf(std::string(content.substr(at + 7, 24)).c_str(), "%lld", &seconds) != 1) return 0;
    return static_cast<int64_t>(seconds) * 1000000000LL;
  }

  std::mutex mutex_;
  bool known_ = false;
  int64_t offsetAtRead_ = 0;
  int64_t cached_ = 0;
};

int64_t readKernelBootTime() {
  static BootTime bootTime;
  return bootTime.nanoseconds();
}

int64_t currentTimezoneOffset() {
  const time_t now = std::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return static_cast<int64_t>(local.tm_gmtoff);
}

size_t mix(size_t seed, size_t value) { return seed ^ value; }

size_t hashBytes(const std::optional<std::vector<uint8_t>>& bytes) {
  if (!bytes) return 0;
  return std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

}  // namespace

// ---- ETClock --------------------------------------------------------------------------

std::shared_ptr<ETClock> ETClock::snapshot() {
  auto clock = std::make_shared<ETClock>();
  clock->kernelBootTimeNanoseconds = readKernelBootTime();
  int64_t boot = 0;
  timeval wall{};
  for (int attempt = 0; attempt < kBootTimeBracketTries; ++attempt) {
    boot = readKernelBootTime();
    gettimeofday(&wall, nullptr);
    if (readKernelBootTime() == boot) break;
  }
  clock->uptimeNanoseconds =
      static_cast<int64_t>(wall.tv_sec) * 1000000000LL - boot + static_cast<int64_t>(wall.tv_usec) * 1000LL;
  const double now = platform::Date::now().timeIntervalSinceReferenceDate;
  clock->timeMillis = static_cast<int64_t>((now + platform::Date::kReferenceDateUnixSeconds) * 1000.0);
  clock->timezoneOffsetSeconds = currentTimezoneOffset();
  return clock;
}

std::shared_ptr<ETClock> ETClock::clockSnapshotInTheFuture(int64_t millisInTheFuture) {
  auto clock = snapshot();
  clock->timeMillis += millisInTheFuture;
  return clock;
}

bool ETClock::isAfter(const ETClock& other) const {
  if (kernelBootTimeNanoseconds != other.kernelBootTimeNanoseconds) {
    return other.kernelBootTimeNanoseconds < kernelBootTimeNanoseconds;
  }
  return timeMillis + timezoneOffsetSeconds > other.timeMillis + other.timezoneOffsetSeconds;
}

size_t ETClock::hash() const {
  std::hash<int64_t> h;
  return h(timeMillis) ^ h(timezoneOffsetSeconds) ^ h(kernelBootTimeNanoseconds) ^ h(uptimeNanoseconds);
}

bool ETClock::isEqual(const ETClock& other) const {
  return timeMillis == other.timeMillis && timezoneOffsetSeconds == other.timezoneOffsetSeconds &&
         kernelBootTimeNanoseconds == other.kernelBootTimeNanoseconds && uptimeNanoseconds == other.uptimeNanoseconds;
}

void ETClock::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeInt64(timeMillis, kClockTimeMillisKey);
  coder.encodeInt64(timezoneOffsetSeconds, kClockTimezoneOffsetKey);
  coder.encodeInt64(kernelBootTimeNanoseconds, kClockKernelBootTimeKey);
  coder.encodeInt64(uptimeNanoseconds, kClockUptimeKey);
}

std::shared_ptr<ETClock> ETClock::initWithCoder(platform::KeyedUnarchiver& coder) {
  return std::make_shared<ETClock>(coder.decodeInt64(kClockTimeMillisKey), coder.decodeInt64(kClockTimezoneOffsetKey),
                                   coder.decodeInt64(kClockKernelBootTimeKey), coder.decodeInt64(kClockUptimeKey));
}

// ---- ETProductData --------------------------------------------------------------------

void ETProductData::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeInt32(productID_, kProductIDKey);
}

std::shared_ptr<ETProductData> ETProductData::initWithCoder(platform::KeyedUnarchiver& coder) {
  return std::make_shared<ETProductData>(coder.decodeInt32(kProductIDKey));
}

// ---- ETEvent --------------------------------------------------------------------------

std::string ETEvent::nextEventID() {
  std::string id = platform::UUID::random().uuidString();
  std::erase(id, '-');
  return id;
}

std::shared_ptr<ETEvent> ETEvent::initWithMappingID(const std::string& mappingID,
                                                    std::shared_ptr<ETProductData> productData, long target) {
  return makeEvent(mappingID, std::move(productData), target, std::nullopt);
}

std::shared_ptr<ETEvent> ETEvent::makeEvent(const std::string& mappingID, std::shared_ptr<ETProductData> productData,
                                            long target, std::optional<std::string> eventID) {
  if (mappingID.empty()) {
    ET_ASSERT(false, "Please give a valid mapping ID");
    return nullptr;
  }
  if (target < 1) {
    ET_ASSERT(false, "A target cannot be negative or 0");
    return nullptr;
  }
  auto event = std::make_shared<ETEvent>();
  event->eventID_ = eventID ? std::move(*eventID) : nextEventID();
  event->mappingID_ = mappingID;
  event->productData_ = std::move(productData);
  event->target_ = target;
  event->qosTier_ = 3;
  event->expirationDate_ = platform::Date::now().addingTimeInterval(kDefaultExpirationSeconds);
  ET_LOG_DEBUG("Event %s created. ID:%s mappingID: %s target:%ld", event->description().c_str(),
               event->eventID_.c_str(), mappingID.c_str(), target);
  return event;
}

std::shared_ptr<ETEvent> ETEvent::copy() const {
  auto event = makeEvent(mappingID_, productData_, target_, eventID_);
  if (!event) return nullptr;
  event->setDataObject(dataObject_);
  event->qosTier_ = qosTier_;
  event->clockSnapshot_ = clockSnapshot_;
  event->customBytes_ = customBytes_;
  ET_LOG_DEBUG("Copying event %s to event %s", description().c_str(), event->description().c_str());
  return event;
}

std::shared_ptr<ETEvent> ETEvent::archivedForm() const {
  if (!serializedBytes_ || eventID_.empty()) return nullptr;
  auto event = std::make_shared<ETEvent>();
  event->eventID_ = eventID_;
  event->mappingID_ = mappingID_;
  event->target_ = target_;
  event->serializedBytes_ = serializedBytes_;
  event->qosTier_ = qosTier_;
  if (clockSnapshot_) event->clockSnapshot_ = std::make_shared<ETClock>(*clockSnapshot_);
  event->expirationDate_ = expirationDate_;
  event->customBytes_ = customBytes_;
  if (productData_) event->productData_ = productData_->copy();
  return event;
}

void ETEvent::setDataObject(std::shared_ptr<ETEventDataObject> dataObject) {
  dataObject_ = std::move(dataObject);
  serializedBytes_ = dataObject_ ? dataObject_->transportBytes() : std::nullopt;
}

size_t ETEvent::hash() const {
  std::hash<std::string> text;
  size_t value = text(eventID_);
  value = mix(value, text(mappingID_));
  value = mix(value, productData_ ? productData_->hash() : 0);
  value = mix(value, clockSnapshot_ ? clockSnapshot_->hash() : 0);
  value = mix(value, hashBytes(serializedBytes_));
  value = mix(value, static_cast<size_t>(target_));
  value = mix(value, static_cast<size_t>(qosTier_));
  return value;
}

bool ETEvent::isEqual(const ETEvent& other) const {
  auto sameProduct = [](const auto& a, const auto& b) { return a == b || (a && b && a->isEqualToProductData(*b)); };
  auto sameClock = [](const auto& a, const auto& b) { return a == b || (a && b && a->isEqual(*b)); };
  return eventID_ == other.eventID_ && mappingID_ == other.mappingID_ && target_ == other.target_ &&
         qosTier_ == other.qosTier_ && serializedBytes_ == other.serializedBytes_ &&
         sameProduct(productData_, other.productData_) && sameClock(clockSnapshot_, other.clockSnapshot_);
}

std::string ETEvent::description() const {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "<ETEvent %p: ", static_cast<const void*>(this));
  return buffer + eventID_ + " " + mappingID_ + " " + std::to_string(target_) + ">";
}

void ETEvent::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeObject(eventID_, kEventIDKey);
  coder.encodeObject(mappingID_, kMappingIDKey);
  coder.encodeObject(productData_, kProductDataKey);
  coder.encodeInt64(target_, kTargetKey);
  coder.encodeInt64(qosTier_, kQoSTierKey);
  coder.encodeObject(clockSnapshot_, kClockSnapshotKey);
  coder.encodeObject(customBytes_, kCustomDataKey);
  coder.encodeObject(expirationDate_, kExpirationDateKey);
  coder.encodeObject(serializedBytes_, kSerializedBytesKey);
}

std::shared_ptr<ETEvent> ETEvent::initWithCoder(platform::KeyedUnarchiver& coder) {
  auto event = std::make_shared<ETEvent>();
  event->eventID_ = coder.decodeString(kEventIDKey).value_or(std::string());
  if (event->eventID_.empty()) event->eventID_ = nextEventID();
  event->mappingID_ = coder.decodeString(kMappingIDKey).value_or(std::string());
  event->productData_ = coder.decodeObjectOfClass<ETProductData>(kProductDataKey);
  event->target_ = static_cast<long>(coder.decodeInt64(kTargetKey));
  event->qosTier_ = static_cast<long>(coder.decodeInt64(kQoSTierKey));
  event->clockSnapshot_ = coder.decodeObjectOfClass<ETClock>(kClockSnapshotKey);
  event->customBytes_ = coder.decodeData(kCustomDataKey);
  if (auto date = coder.decodeDate(kExpirationDateKey)) event->expirationDate_ = *date;
  event->serializedBytes_ = coder.decodeData(kSerializedBytesKey);
  if (!event->serializedBytes_) {
    coder.failWithError(platform::Error(platform::kCocoaErrorDomain, platform::kCoderReadCorruptError,
                                        {{platform::kErrorLocalizedDescriptionKey,
                                          platform::PlistValue(std::string("The event has no serialized bytes."))}}));
    return nullptr;
  }
  return event;
}

void ETRegisterEventArchiveClasses() {
  platform::KeyedClassRegistry::registerClass<ETProductData>();
  platform::KeyedClassRegistry::registerClass<ETClock>();
  platform::KeyedClassRegistry::registerClass<ETEvent>();
}
