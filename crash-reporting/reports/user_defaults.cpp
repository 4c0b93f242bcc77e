#include "crash-reporting/reports/user_defaults.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "crash-reporting/core/internal_log.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"

namespace {

struct SharedInstance {
  std::mutex mutex;
  std::shared_ptr<CRUserDefaults> instance;
};

SharedInstance& sharedInstance() {
  static SharedInstance shared;
  return shared;
}

}  // namespace

std::shared_ptr<CRUserDefaults> CRUserDefaults::standardUserDefaults() {
  SharedInstance& shared = sharedInstance();
  std::lock_guard lock(shared.mutex);
  if (!shared.instance) {
    platform::addProcessStateReset(+[] {
      SharedInstance& fresh = sharedInstance();
      std::lock_guard freshLock(fresh.mutex);
      fresh.instance.reset();
    });
    shared.instance = std::make_shared<CRUserDefaults>();
  }
  return shared.instance;
}

CRUserDefaults::CRUserDefaults()
    : serialDictionaryQueue_(platform::DispatchQueue::makeSerial("dod.uzeruzaravi.CRUserDefaults.access")),
      synchronizationQueue_(platform::DispatchQueue::makeSerial("dod.uzeruzaravi.CRUserDefaults.io")) {
  serialDictionaryQueue_->sync([this] {
    const auto directory = platform::FileLocations::applicationSupportDirectory() / "dod.uzeruzaravi";
    directoryPath_ = directory.string();
    filePath_ = (directory / "CRUserDefaults.plist").string();
  });
  auto loaded = loadDefaults();
  serialDictionaryQueue_->sync([&] {
    persistedDataDictionary_ = loaded.value_or(platform::PlistValue::Dictionary{});
    dataDictionary_ = persistedDataDictionary_;
  });
}

std::optional<platform::PlistValue> CRUserDefaults::objectForKey(std::string_view key) const {
  return serialDictionaryQueue_->syncResult([&]() -> std::optional<platform::PlistValue> {
    const auto found = dataDictionary_.find(key);
    if (found == dataDictionary_.end()) return std::nullopt;
    return found->second;
  });
}

platform::PlistValue::Dictionary CRUserDefaults::dictionaryRepresentation() const {
  return serialDictionaryQueue_->syncResult([&] { return dataDictionary_; });
}

void CRUserDefaults::setObject(platform::PlistValue value, std::string_view key) {
  if (value.isNull()) {
    removeObjectForKey(key);
    return;
  }
  if (!platform::isPlistEncodable(value)) {
    CRConsoleError("Cannot store a value for key %.*s that is not a property list", static_cast<int>(key.size()),
                   key.data());
    return;
  }
  serialDictionaryQueue_->sync([&] { dataDictionary_.insert_or_assign(std::string(key), std::move(value)); });
}

void CRUserDefaults::removeObjectForKey(std::string_view key) {
  serialDictionaryQueue_->sync([&] {
    const auto found = dataDictionary_.find(key);
    if (found != dataDictionary_.end()) dataDictionary_.erase(found);
  });
}

void CRUserDefaults::removeAllObjects() {
  serialDictionaryQueue_->sync([&] { dataDictionary_.clear(); });
}

std::optional<std::string> CRUserDefaults::stringForKey(std::string_view key) const {
  const auto value = objectForKey(key);
  if (!value || value->asString() == nullptr) return std::nullopt;
  return *value->asString();
}

bool CRUserDefaults::boolForKey(std::string_view key) const {
  const auto value = objectForKey(key);
  if (!value || !value->isNumber()) return false;
  if (const bool* flag = value->asBool()) return *flag;
  if (const auto number = value->toDouble()) return *number != 0;
  return false;
}

int64_t CRUserDefaults::integerForKey(std::string_view key) const {
  const auto value = objectForKey(key);
  if (!value || !value->isNumber()) return 0;
  if (const bool* flag = value->asBool()) return *flag ? 1 : 0;
  if (const auto number = value->toInt64()) return *number;
  if (const auto number = value->toDouble()) return static_cast<int64_t>(*number);
  return 0;
}

void CRUserDefaults::setString(std::optional<std::string> value, std::string_view key) {
  setObject(value ? platform::PlistValue(std::move(*value)) : platform::PlistValue(), key);
}

void CRUserDefaults::setBool(bool value, std::string_view key) { setObject(platform::PlistValue(value), key); }

void CRUserDefaults::setInteger(int64_t value, std::string_view key) {
  setObject(platform::PlistValue(static_cast<long long>(value)), key);
}

bool CRUserDefaults::synchronize() {
  // The snapshot to write, taken with the test for a change so that both see one content.
  std::optional<platform::PlistValue::Dictionary> snapshot = serialDictionaryQueue_->syncResult(
      [&]() -> std::optional<platform::PlistValue::Dictionary> {
        if (persistedDataDictionary_ == dataDictionary_) {
          synchronizeWroteToDisk_ = false;
          return std::nullopt;
        }
        return dataDictionary_;
      });
  if (!snapshot) return true;

  const bool written = synchronizationQueue_->syncResult([&] {
    if (!std::filesystem::is_directory(directoryPath_)) {
      std::error_code error;
      std::filesystem::create_directories(directoryPath_, error);
      if (error) CRConsoleError("Failed to create directory with error: %s", error.message().c_str());
    }
    const auto bytes = platform::encodePlist(platform::PlistValue(*snapshot), platform::PlistFormat::Xml);
    if (bytes && platform::writeFileAtomically(filePath_, *bytes).ok()) return true;
    CRConsoleError("Unable to open file for writing at path %s", filePath_.c_str());
    return false;
  });

  serialDictionaryQueue_->sync([&] {
    synchronizeWroteToDisk_ = written;
    // What is on disk now is the snapshot, not whatever was set while it was written.
    if (written) persistedDataDictionary_ = std::move(*snapshot);
  });
  return written;
}

bool CRUserDefaults::synchronizeWroteToDisk() const {
  return serialDictionaryQueue_->syncResult([&] { return synchronizeWroteToDisk_; });
}

void CRUserDefaults::setSynchronizeWroteToDisk(bool wrote) {
  serialDictionaryQueue_->sync([&] { synchronizeWroteToDisk_ = wrote; });
}

std::optional<platform::PlistValue::Dictionary> CRUserDefaults::loadDefaults() {
  return synchronizationQueue_->syncResult([&]() -> std::optional<platform::PlistValue::Dictionary> {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(filePath_, error);
    if (status.type() == std::filesystem::file_type::directory) {
      CRConsoleError("Found directory where file expected. Removing conflicting directory");
      std::filesystem::remove_all(filePath_, error);
      if (error) CRConsoleError("Error removing conflicting directory: %s", error.message().c_str());
      return std::nullopt;
    }
    if (!std::filesystem::exists(status)) return std::nullopt;
    const auto bytes = platform::readFileContents(filePath_);
    auto value = bytes ? platform::decodePlist(*bytes) : std::nullopt;
    if (!value || value->asDictionary() == nullptr) {
      CRConsoleError("Failed to read existing UserDefaults file");
      return std::nullopt;
    }
    return std::move(*value->asDictionary());
  });
}

void CRUserDefaults::migrateFromNSUserDefaults(const std::vector<std::string>& keys) {
  const auto standard = platform::UserDefaults::standard();
  bool moved = false;
  for (const auto& key : keys) {
    if (auto value = standard->object(key)) {
      setObject(std::move(*value), key);
      moved = true;
    }
  }
  if (!moved || !synchronize()) return;
  for (const auto& key : keys) (void)standard->remove(key);
  (void)standard->synchronize();
}

std::optional<platform::PlistValue> CRUserDefaults::objectForKeyByMigratingFromNSUserDefaults(
    const std::optional<std::string>& key) {
  if (!key) return std::nullopt;
  if (auto value = objectForKey(*key)) return value;
  const auto standard = platform::UserDefaults::standard();
  auto value = standard->object(*key);
  if (!value) return std::nullopt;
  setObject(*value, *key);
  if (synchronize()) {
    (void)standard->remove(*key);
    (void)standard->synchronize();
  }
  return value;
}
