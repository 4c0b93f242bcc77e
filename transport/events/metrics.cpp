#include "transport/events/metrics.h"

#include <pb_decode.h>
#include <pb_encode.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "client_metrics.pb.h"
#include "platform/foundation/bundle.h"
#include "platform/process_state/process_state.h"
#include "transport/events/console.h"
#include "transport/events/flat_file_storage.h"
#include "transport/events/nanopb_bytes.h"
#include "transport/events/registrar.h"

namespace {

constexpr const char* kCountsKey = "droppedEventCounterByLogSource";
constexpr const char* kStartDateKey = "collectionStartDate";
constexpr const char* kLogSourceMetricsKey = "logSourceMetrics";

// Whole seconds since 1970 (fraction cut off) in milliseconds.
int64_t truncatedMillis(platform::Date date) {
  return static_cast<int64_t>(std::trunc(date.timeIntervalSince1970())) * 1000;
}

pb_bytes_array_t* bytesOf(const std::string& text) { return ETNanopbBytes(text.data(), text.size()); }

std::string errorText(const pb_ostream_t& stream) {
  const char* text = PB_GET_ERROR(&stream);
  return text != nullptr ? text : "(none)";
}

}  // namespace

pb_bytes_array_t* ETNanopbBytes(const void* data, size_t size) {
  if (size > PB_SIZE_MAX) return nullptr;
  auto* bytes = static_cast<pb_bytes_array_t*>(std::malloc(PB_BYTES_ARRAY_T_ALLOCSIZE(size)));
  if (bytes == nullptr) return nullptr;
  bytes->size = static_cast<pb_size_t>(size);
  if (size != 0) std::memcpy(bytes->bytes, data, size);
  return bytes;
}

// ---- ETLogSourceMetrics ----------------------------------------------------------------

std::shared_ptr<ETLogSourceMetrics> ETLogSourceMetrics::metricsWithEvents(const ETEventSet& events, long reason) {
  Counts counts;
  for (const auto& event : events) {
    if (!event || event->mappingID().empty()) continue;
    counts[event->mappingID()][reason] += 1;
  }
  return std::make_shared<ETLogSourceMetrics>(std::move(counts));
}

std::shared_ptr<ETLogSourceMetrics> ETLogSourceMetrics::logSourceMetricsByMergingWithLogSourceMetrics(
    const ETLogSourceMetrics& other) const {
  Counts merged = counts_;
  for (const auto& [source, reasons] : other.counts_) {
    for (const auto& [reason, count] : reasons) merged[source][reason] += count;
  }
  return std::make_shared<ETLogSourceMetrics>(std::move(merged));
}

void ETLogSourceMetrics::encodeWithCoder(platform::KeyedArchiver& coder) const {
  platform::ArchiveValue::Dictionary sources;
  for (const auto& [source, reasons] : counts_) {
    platform::ArchiveValue::Dictionary byReason;
    for (const auto& [reason, count] : reasons) {
      byReason[static_cast<int64_t>(reason)] = platform::ArchiveValue::integer(count);
    }
    sources[source] = platform::ArchiveValue(std::move(byReason));
  }
  coder.encodeObject(platform::ArchiveValue(std::move(sources)), kCountsKey);
}

std::shared_ptr<ETLogSourceMetrics> ETLogSourceMetrics::initWithCoder(platform::KeyedUnarchiver& coder) {
  auto value = coder.decodeObjectOfClasses(
      {platform::kArchiveDictionaryClass, platform::kArchiveStringClass, platform::kArchiveNumberClass}, kCountsKey);
  const auto* sources = value ? value->asDictionary() : nullptr;
  if (sources == nullptr) return nullptr;
  Counts counts;
  for (const auto& [sourceKey, reasonsValue] : *sources) {
    const auto* source = std::get_if<std::string>(&sourceKey);
    const auto* reasons = reasonsValue.asDictionary();
    if (source == nullptr || reasons == nullptr) continue;
    for (const auto& [reasonKey, countValue] : *reasons) {
      const auto* reason = std::get_if<int64_t>(&reasonKey);
      const auto* count = countValue.asInteger();
      if (reason != nullptr && count != nullptr) counts[*source][static_cast<long>(*reason)] = *count;
    }
  }
  return std::make_shared<ETLogSourceMetrics>(std::move(counts));
}

// ---- ETMetricsMetadata -----------------------------------------------------------------

std::shared_ptr<ETMetricsMetadata> ETMetricsMetadata::metadataWithCollectionStartDate(
    platform::Date start, std::shared_ptr<ETLogSourceMetrics> logSourceMetrics) {
  return std::make_shared<ETMetricsMetadata>(start, logSourceMetrics ? std::move(logSourceMetrics)
                                                                     : ETLogSourceMetrics::metrics());
}

bool ETMetricsMetadata::isEqual(const ETMetricsMetadata& other) const {
  return collectionStartDate == other.collectionStartDate && logSourceMetrics && other.logSourceMetrics &&
         logSourceMetrics->isEqual(*other.logSourceMetrics);
}

void ETMetricsMetadata::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeObject(platform::ArchiveValue(collectionStartDate), kStartDateKey);
  coder.encodeObject(platform::ArchiveValue(logSourceMetrics), kLogSourceMetricsKey);
}

std::shared_ptr<ETMetricsMetadata> ETMetricsMetadata::initWithCoder(platform::KeyedUnarchiver& coder) {
  auto start = coder.decodeDate(kStartDateKey);
  auto metrics = coder.decodeObjectOfClass<ETLogSourceMetrics>(kLogSourceMetricsKey);
  if (!start || !metrics) return nullptr;
  return std::make_shared<ETMetricsMetadata>(*start, std::move(metrics));
}

void ETRegisterMetricsArchiveClasses() {
  platform::KeyedClassRegistry::registerClass<ETLogSourceMetrics>();
  platform::KeyedClassRegistry::registerClass<ETMetricsMetadata>();
}

// ---- ETMetrics -------------------------------------------------------------------------

std::shared_ptr<ETMetrics> ETMetrics::metricsWithMetricsMetadata(const ETMetricsMetadata& metadata,
                                                                 const ETStorageMetadata& storageMetadata) {
  return std::make_shared<ETMetrics>(metadata.collectionStartDate, platform::Date::now(), metadata.logSourceMetrics,
                                     storageMetadata.currentCacheSize, storageMetadata.maxCacheSize,
                                     platform::Bundle::main()->bundleIdentifier().value_or(""));
}

bool ETMetrics::isEqual(const ETMetrics& other) const {
  return collectionStartDate == other.collectionStartDate && collectionEndDate == other.collectionEndDate &&
         currentCacheSize == other.currentCacheSize && maxCacheSize == other.maxCacheSize &&
         bundleID == other.bundleID && logSourceMetrics && other.logSourceMetrics &&
         logSourceMetrics->isEqual(*other.logSourceMetrics);
}

std::optional<std::vector<uint8_t>> ETMetrics::transportBytes() const {
  ClientMetrics message = ClientMetrics_init_zero;
  message.window.start_ms = truncatedMillis(collectionStartDate);
  message.window.end_ms = truncatedMillis(collectionEndDate);
  message.has_window = message.window.start_ms != 0 || message.window.end_ms != 0;

  const auto& counts = logSourceMetrics ? logSourceMetrics->droppedEventCounterByLogSource()
                                        : ETLogSourceMetrics::Counts{};
  // Whether every count found its place in the message: a count that cannot be held (no
  // memory, more sources or a longer source name than the message's sizes allow) fails the
  // whole encoding, as sending the rest would reset the lost count with the window.
  bool complete = counts.size() <= PB_SIZE_MAX;
  if (complete && !counts.empty()) {
    message.log_sources = static_cast<LogSourceDrops*>(std::calloc(counts.size(), sizeof(LogSourceDrops)));
    complete = message.log_sources != nullptr;
    if (complete) message.log_sources_count = static_cast<pb_size_t>(counts.size());
  }
  size_t i = 0;
  for (const auto& [source, reasons] : counts) {
    if (!complete) break;
    LogSourceDrops& drops = message.log_sources[i++];
    drops.log_source = bytesOf(source);
    if (drops.log_source == nullptr || reasons.size() > PB_SIZE_MAX) {
      complete = false;
      break;
    }
    if (reasons.empty()) continue;
    drops.drops = static_cast<DropCount*>(std::calloc(reasons.size(), sizeof(DropCount)));
    if (drops.drops == nullptr) {
      complete = false;
      break;
    }
    drops.drops_count = static_cast<pb_size_t>(reasons.size());
    size_t j = 0;
    for (const auto& [reason, count] : reasons) {
      drops.drops[j].count = count;
      drops.drops[j].reason = static_cast<DropCount_Reason>(reason >= 1 && reason <= 6 ? reason : 0);
      ++j;
    }
  }
  message.cache.sizes.current_cache_size = static_cast<int64_t>(currentCacheSize);
  message.cache.sizes.max_cache_size = static_cast<int64_t>(maxCacheSize);
  message.cache.has_sizes = currentCacheSize != 0 || maxCacheSize != 0;
  message.has_cache = message.cache.has_sizes;
  if (!bundleID.empty()) message.bundle_id = bytesOf(bundleID);

  std::optional<std::vector<uint8_t>> bytes;
  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  if (!complete) {
    ET_LOG_ERROR(ETMCEncoderSize, "Error in nanopb encoding for size: %s", "a count could not be held");
  } else if (!pb_encode(&sizing, ClientMetrics_fields, &message)) {
    ET_LOG_ERROR(ETMCEncoderSize, "Error in nanopb encoding for size: %s", errorText(sizing).c_str());
  } else {
    std::vector<uint8_t> encoded(sizing.bytes_written);
    pb_ostream_t stream = pb_ostream_from_buffer(encoded.data(), encoded.size());
    if (!pb_encode(&stream, ClientMetrics_fields, &message)) {
      ET_LOG_ERROR(ETMCEncoderSize, "Error in nanopb encoding for bytes: %s", errorText(stream).c_str());
    } else {
      encoded.resize(stream.bytes_written);
      bytes = std::move(encoded);
    }
  }
  pb_release(ClientMetrics_fields, &message);
  return bytes;
}

std::shared_ptr<ETEvent> ETEventWithMetrics(const std::shared_ptr<ETMetrics>& metrics, long target) {
  auto event = ETEvent::initWithMappingID(ETMetricsMappingID, target);
  if (!event) return nullptr;
  event->setDataObject(metrics);
  if (!event->serializedDataObjectBytes()) return nullptr;  // the encoding failed and logged why
  event->setClockSnapshot(ETClock::snapshot());
  return event;
}

// ---- ETMetricsController ---------------------------------------------------------------

std::shared_ptr<ETMetricsController> ETMetricsController::make(std::shared_ptr<ETStoragePromiseProtocol> storage) {
  return std::make_shared<ETMetricsController>(std::move(storage));
}

std::shared_ptr<ETMetricsController> ETMetricsController::sharedInstance() {
  static auto* controller = new platform::ProcessValue<std::shared_ptr<ETMetricsController>>();
  return controller->getOrMake([] { return make(ETFlatFileStorage::sharedInstance()); });
}

void ETMetricsController::load(const std::shared_ptr<ETRegistrar>& registrar) {
  ETRegisterMetricsArchiveClasses();
  registrar->registerMetricsController(sharedInstance(), 1002);
  registrar->registerMetricsController(sharedInstance(), 1001);
}

PRMPromise::Ptr ETMetricsController::logEventsDroppedForReason(long reason, const ETEventSet& events) {
  if (events.empty() || !storage_) return PRMPromise::resolvedWith(PRMObject());
  auto counted = ETLogSourceMetrics::metricsWithEvents(events, reason);
  return storage_->fetchAndUpdateMetricsWithHandler(
      [counted](const std::shared_ptr<platform::KeyedCoding>& fetched,
                const std::optional<platform::Error>& error) -> std::shared_ptr<platform::KeyedCoding> {
        auto stored = std::dynamic_pointer_cast<ETMetricsMetadata>(fetched);
        if (!stored) {
          ET_LOG_DEBUG("Error fetching metrics metadata: %s", error ? error->localizedDescription().c_str() : "none");
          return ETMetricsMetadata::metadataWithCollectionStartDate(platform::Date::now(), counted);
        }
        return ETMetricsMetadata::metadataWithCollectionStartDate(
            stored->collectionStartDate, stored->logSourceMetrics->logSourceMetricsByMergingWithLogSourceMetrics(*counted));
      });
}

PRMPromise::Ptr ETMetricsController::getAndResetMetrics() {
  if (!storage_) return PRMPromise::resolvedWith(platform::Error("ETMetricsController", -1));
  auto taken = std::make_shared<std::shared_ptr<ETMetricsMetadata>>();
  auto storage = storage_;
  // Off the main queue: the uploader waits on this while the main thread may be busy.
  const auto queue = platform::DispatchQueue::global();
  return storage_
      ->fetchAndUpdateMetricsWithHandler(
          [taken](const std::shared_ptr<platform::KeyedCoding>& fetched,
                  const std::optional<platform::Error>& error) -> std::shared_ptr<platform::KeyedCoding> {
            *taken = std::dynamic_pointer_cast<ETMetricsMetadata>(fetched);
            if (!*taken) {
              ET_LOG_DEBUG("Error fetching metrics metadata: %s",
                           error ? error->localizedDescription().c_str() : "none");
            }
            return ETMetricsMetadata::metadataWithCollectionStartDate(platform::Date::now(),
                                                                      ETLogSourceMetrics::metrics());
          })
      ->validateOn(queue, [taken](const PRMObject&) { return *taken != nullptr; })
      ->thenOn(queue, [storage](const PRMObject&) -> PRMObject { return storage->fetchStorageMetadata(); })
      ->thenOn(queue, [taken](const PRMObject& value) -> PRMObject {
        const auto* storageMetadata = value.get<std::shared_ptr<ETStorageMetadata>>();
        if (storageMetadata == nullptr || !*storageMetadata) return platform::Error("ETMetricsController", -1);
        return ETMetrics::metricsWithMetricsMetadata(**taken, **storageMetadata);
      });
}

PRMPromise::Ptr ETMetricsController::offerMetrics(const PRMObject& value) {
  const auto* held = value.get<std::shared_ptr<ETMetrics>>();
  if (held == nullptr || !*held || !storage_) return PRMPromise::resolvedWith(PRMObject());
  auto metrics = *held;
  return storage_->fetchAndUpdateMetricsWithHandler(
      [metrics](const std::shared_ptr<platform::KeyedCoding>& fetched,
                const std::optional<platform::Error>& error) -> std::shared_ptr<platform::KeyedCoding> {
        auto stored = std::dynamic_pointer_cast<ETMetricsMetadata>(fetched);
        if (stored) {
          if (metrics->collectionStartDate > stored->collectionStartDate) return stored;
          return ETMetricsMetadata::metadataWithCollectionStartDate(
              metrics->collectionStartDate,
              stored->logSourceMetrics->logSourceMetricsByMergingWithLogSourceMetrics(*metrics->logSourceMetrics));
        }
        ET_LOG_DEBUG("Error fetching metrics metadata: %s", error ? error->localizedDescription().c_str() : "none");
        const platform::Date now = platform::Date::now();
        if (!(metrics->collectionStartDate > now)) {
          return ETMetricsMetadata::metadataWithCollectionStartDate(metrics->collectionStartDate,
                                                                    metrics->logSourceMetrics);
        }
        return ETMetricsMetadata::metadataWithCollectionStartDate(now, ETLogSourceMetrics::metrics());
      });
}

void ETMetricsController::storageDidRemoveExpiredEvents(ETStorageProtocol&, const ETEventSet& events) {
  logEventsDroppedForReason(1, events);
}

void ETMetricsController::storageDidDropEvent(ETStorageProtocol&, const std::shared_ptr<ETEvent>& event) {
  ETEventSet events;
  if (event) events.insert(event);
  logEventsDroppedForReason(2, events);
}
