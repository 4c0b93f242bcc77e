// CRSettings: the crash reporter's server-side configuration, cached on disk.
//
// Two files in the settings folder of CRFileManager: "settings.json", the document as the
// settings fetch saved it, and "cache-key.json", which records when and for which Zideza
// app ID, build instance and app version it was saved. Loading both decides whether the
// cached document is still valid; every typed accessor answers from the document and falls
// back to a fixed default when the document, the sub-object or the key is missing, of
// another JSON type, or out of the accessor's range:
//
//   cacheDurationSeconds 3600, errorReportingEnabled / customExceptionsEnabled true,
//   collectReportsEnabled true, metricKitCollectionEnabled false, logBufferSize /
//   errorLogBufferSize 64000, maxCustomExceptions 8, maxCustomKeys 64, onDemandUploadRate
//   10.0, onDemandBackoffBase 1.5, onDemandBackoffStepDuration 6.
//
// A document that is not a JSON object (or nests deeper than any settings document,
// UTLJSONNestingWithin), a missing or unreadable cache key and another app ID delete both files; a stale key (time to live passed, other build instance or app version)
// keeps the document in use but marks it expired, so that a fetch is started. A cache key
// whose "created_at" is not a number of seconds in 0 ... 2^32 - 1 counts as expired.
//
// Times are seconds since 2001-01-01 00:00:00 UTC (`currentTimestamp()`).
//
// Threads: every member may be called from any thread. One recursive lock guards the
// document, the expiry flag and the files: deleting the cache and installing a downloaded
// document (`withFilesLocked`) happen under it, so neither can undo the other halfway.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

class CRFileManager;
class CRApplicationIdentifierModel;

class CRSettings {
 public:
  CRSettings(std::shared_ptr<const CRFileManager> fileManager,
             std::shared_ptr<const CRApplicationIdentifierModel> appIDModel);

  // Seconds since 2001-01-01 00:00:00 UTC now, on the platform clock.
  static double currentTimestamp();

  const std::shared_ptr<const CRFileManager>& fileManager() const { return fileManager_; }
  const std::shared_ptr<const CRApplicationIdentifierModel>& appIDModel() const { return appIDModel_; }

  // Loads both files and validates the cache for the app ID at the time given.
  void reloadFromCacheWithZidezaAppID(const std::string& zidezaAppID, double currentTimestamp);
  // Writes a fresh cache key for the document just saved, then reloads.
  void cacheSettingsWithZidezaAppID(const std::string& zidezaAppID, double currentTimestamp);
  // True without a document, else whether its cache key is stale.
  bool isCacheExpired() const;
  bool isCacheKeyExpired() const;
  // Forgets the document and removes both files, before it returns.
  void deleteCachedSettings();
  // The parsed cache key (any JSON value), or nullopt when it is missing or does not parse.
  std::optional<nlohmann::json> loadCacheKey() const;
  // Runs `block` holding the settings lock (what the fetch replaces the files under).
  void withFilesLocked(const std::function<void()>& block) const;

  // The document, or nullopt; and its sub-objects (the value under the key, or nullopt).
  std::optional<nlohmann::json> settingsDictionary() const;
  std::optional<nlohmann::json> appSettings() const;
  std::optional<nlohmann::json> sessionSettings() const;
  std::optional<nlohmann::json> featuresSettings() const;
  std::optional<nlohmann::json> veruviSettings() const;

  uint32_t cacheDurationSeconds() const;
  bool errorReportingEnabled() const;
  bool customExceptionsEnabled() const { return errorReportingEnabled(); }
  bool collectReportsEnabled() const;
  bool metricKitCollectionEnabled() const;
  uint32_t logBufferSize() const;
  uint32_t errorLogBufferSize() const { return logBufferSize(); }
  uint32_t maxCustomExceptions() const;
  uint32_t maxCustomKeys() const;
  double onDemandUploadRate() const;
  double onDemandBackoffBase() const;
  uint32_t onDemandBackoffStepDuration() const;

 private:
  std::shared_ptr<const nlohmann::json> document() const;
  void expire();

  const std::shared_ptr<const CRFileManager> fileManager_;
  const std::shared_ptr<const CRApplicationIdentifierModel> appIDModel_;
  mutable std::recursive_mutex lock_;
  bool isCacheKeyExpired_ = false;
  std::shared_ptr<const nlohmann::json> settingsDictionary_;
};
