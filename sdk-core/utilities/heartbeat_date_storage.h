// Two small stores that keep one date per tag: in a file of keyed-archive form
// (UTLHeartbeatDateStorage) or in a dictionary under one defaults key
// (UTLHeartbeatDateStorageUserDefaults).
//
// The file lives at <Application Support>/Zideza/TELApp/<file name> and holds a secure
// keyed archive of a dictionary from tag to date; a missing, empty or unreadable file reads
// as no dates, and every write replaces the file atomically. All file stores share one
// lock; a defaults store locks per defaults domain. Both may be used from any thread.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/keyed_archiver.h"

class UTLHeartbeatDateStorable {
 public:
  virtual ~UTLHeartbeatDateStorable() = default;
  // The tag's date; std::nullopt when there is none or the stored value is no date.
  virtual std::optional<platform::Date> heartbeatDateForTag(const std::string& tag) = 0;
  // Stores the date for the tag; false when it could not be written.
  virtual bool setHearbeatDate(platform::Date date, const std::string& tag) = 0;
};

class UTLHeartbeatDateStorage : public UTLHeartbeatDateStorable {
 public:
  // nullptr for an empty file name.
  static std::unique_ptr<UTLHeartbeatDateStorage> initWithFileName(const std::string& fileName);

  const std::string& fileName() const { return fileName_; }
  // The file's location, computed (and its folder created) on first use.
  const std::filesystem::path& fileURL();

  std::optional<platform::Date> heartbeatDateForTag(const std::string& tag) override;
  bool setHearbeatDate(platform::Date date, const std::string& tag) override;

  static std::filesystem::path directoryPathURL();
  static void checkAndCreateDirectory(const std::filesystem::path& directory);
  static platform::ArchiveValue::Dictionary heartbeatDictionaryWithFileURL(const std::filesystem::path& file);
  static bool writeDictionary(const platform::ArchiveValue::Dictionary& dictionary,
                              const std::filesystem::path& file, platform::Error* error = nullptr);

 private:
  explicit UTLHeartbeatDateStorage(std::string fileName) : fileName_(std::move(fileName)) {}

  std::string fileName_;
  std::once_flag fileURLOnce_;
  std::filesystem::path fileURL_;
};

class UTLHeartbeatDateStorageUserDefaults : public UTLHeartbeatDateStorable {
 public:
  UTLHeartbeatDateStorageUserDefaults(std::shared_ptr<platform::UserDefaults> defaults, std::string key);

  const std::shared_ptr<platform::UserDefaults>& userDefaults() const { return userDefaults_; }
  const std::string& key() const { return key_; }

  std::optional<platform::Date> heartbeatDateForTag(const std::string& tag) override;
  // False only when the defaults could not write the dictionary to disk (the date stays
  // readable in memory).
  bool setHearbeatDate(platform::Date date, const std::string& tag) override;

  platform::PlistValue::Dictionary heartbeatDictionaryFromDefaults() const;

 private:
  std::mutex& lock() const;

  std::shared_ptr<platform::UserDefaults> userDefaults_;
  std::string key_;
};
