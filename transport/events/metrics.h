// Client metrics: the counts of events the transport lost, per log source (mapping ID) and
// reason, over a collection window, sent with the storage's cache sizes as one extra event
// (mapping ID "1710") in each upload of targets 1001 and 1002.
//
// ETMetricsController keeps the running counts in the metrics metadata that the storage
// persists, hands them out for an upload while opening a new window, and takes back those
// whose upload failed. It keeps no state of its own: every read and update goes through the
// storage's fetchAndUpdateMetricsWithHandler, one at a time on the storage's queue.
//
// Drop reasons: 1 expired in storage, 2 refused at the size limit, 5 rejected by the
// collector (status 400). Reasons 1 to 6 travel as they are, any other as 0.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/keyed_archiver.h"
#include "transport/events/event.h"
#include "transport/events/protocols.h"

inline constexpr const char* ETMetricsMappingID = "1710";

class ETLogSourceMetrics : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "ETLogSourceMetrics";
  // Log source → reason → count.
  using Counts = std::map<std::string, std::map<long, int64_t>>;

  static std::shared_ptr<ETLogSourceMetrics> metrics() { return std::make_shared<ETLogSourceMetrics>(Counts{}); }
  // One count per event with a non-empty mapping ID.
  static std::shared_ptr<ETLogSourceMetrics> metricsWithEvents(const ETEventSet& events, long reason);
  explicit ETLogSourceMetrics(Counts counts) : counts_(std::move(counts)) {}

  const Counts& droppedEventCounterByLogSource() const { return counts_; }
  // Log sources and reasons of either side; counts on both sides summed.
  std::shared_ptr<ETLogSourceMetrics> logSourceMetricsByMergingWithLogSourceMetrics(const ETLogSourceMetrics& other) const;
  bool isEqual(const ETLogSourceMetrics& other) const { return counts_ == other.counts_; }

  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static std::shared_ptr<ETLogSourceMetrics> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  Counts counts_;
};

class ETMetricsMetadata : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = ETMetricsMetadataClassName;

  static std::shared_ptr<ETMetricsMetadata> metadataWithCollectionStartDate(
      platform::Date start, std::shared_ptr<ETLogSourceMetrics> logSourceMetrics);
  ETMetricsMetadata(platform::Date start, std::shared_ptr<ETLogSourceMetrics> logSourceMetrics)
      : collectionStartDate(start), logSourceMetrics(std::move(logSourceMetrics)) {}

  const platform::Date collectionStartDate;
  const std::shared_ptr<ETLogSourceMetrics> logSourceMetrics;

  bool isEqual(const ETMetricsMetadata& other) const;
  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static std::shared_ptr<ETMetricsMetadata> initWithCoder(platform::KeyedUnarchiver& coder);
};

class ETMetrics : public ETEventDataObject {
 public:
  ETMetrics(platform::Date start, platform::Date end, std::shared_ptr<ETLogSourceMetrics> logSourceMetrics,
            uint64_t currentCacheSize, uint64_t maxCacheSize, std::string bundleID)
      : collectionStartDate(start),
        logSourceMetrics(std::move(logSourceMetrics)),
        collectionEndDate(end),
        currentCacheSize(currentCacheSize),
        maxCacheSize(maxCacheSize),
        bundleID(std::move(bundleID)) {}
  // Start and counts from the metadata, end now, sizes from the storage, the main bundle's ID.
  static std::shared_ptr<ETMetrics> metricsWithMetricsMetadata(const ETMetricsMetadata& metadata,
                                                               const ETStorageMetadata& storageMetadata);

  const platform::Date collectionStartDate;
  const std::shared_ptr<ETLogSourceMetrics> logSourceMetrics;
  const platform::Date collectionEndDate;
  const uint64_t currentCacheSize;
  const uint64_t maxCacheSize;
  const std::string bundleID;

  bool isEqual(const ETMetrics& other) const;
  // The encoded ClientMetrics; none (never partly written) when encoding fails.
  std::optional<std::vector<uint8_t>> transportBytes() const override;
};

// An event of mapping ID "1710" for the target carrying the metrics, with a clock snapshot
// taken now; nullptr when the metrics cannot be encoded (nothing is then sent for them).
std::shared_ptr<ETEvent> ETEventWithMetrics(const std::shared_ptr<ETMetrics>& metrics, long target);

// Makes ETLogSourceMetrics and ETMetricsMetadata readable by the keyed archiver.
void ETRegisterMetricsArchiveClasses();

class ETMetricsController : public ETMetricsControllerProtocol,
                            public std::enable_shared_from_this<ETMetricsController> {
 public:
  static std::shared_ptr<ETMetricsController> sharedInstance();
  // Registers the shared controller for 1002, then 1001.
  static void load(const std::shared_ptr<class ETRegistrar>& registrar);
  static std::shared_ptr<ETMetricsController> make(std::shared_ptr<ETStoragePromiseProtocol> storage);
  explicit ETMetricsController(std::shared_ptr<ETStoragePromiseProtocol> storage) : storage_(std::move(storage)) {}

  PRMPromise::Ptr logEventsDroppedForReason(long reason, const ETEventSet& events) override;
  // Fulfilled with std::shared_ptr<ETMetrics>; rejected when no stored metadata was read.
  PRMPromise::Ptr getAndResetMetrics() override;
  // `metrics` holds std::shared_ptr<ETMetrics> (nil: nothing to offer).
  PRMPromise::Ptr offerMetrics(const PRMObject& metrics) override;

  void storageDidRemoveExpiredEvents(ETStorageProtocol& storage, const ETEventSet& events) override;
  void storageDidDropEvent(ETStorageProtocol& storage, const std::shared_ptr<ETEvent>& event) override;

  std::shared_ptr<ETStoragePromiseProtocol> storage() const { return storage_; }

 private:
  std::shared_ptr<ETStoragePromiseProtocol> storage_;
};
