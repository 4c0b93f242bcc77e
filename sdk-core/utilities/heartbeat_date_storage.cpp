#include "sdk-core/utilities/heartbeat_date_storage.h"

#include "platform/foundation/paths.h"
#include "sdk-core/utilities/keychain_utils.h"

namespace {

// The one lock of every file store.
std::mutex& fileStoreLock() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

std::unique_ptr<UTLHeartbeatDateStorage> UTLHeartbeatDateStorage::initWithFileName(const std::string& fileName) {
  if (fileName.empty()) return nullptr;
  return std::unique_ptr<UTLHeartbeatDateStorage>(new UTLHeartbeatDateStorage(fileName));
}

std::filesystem::path UTLHeartbeatDateStorage::directoryPathURL() {
  return platform::FileLocations::applicationSupportDirectory() / "Zideza" / "TELApp";
}

void UTLHeartbeatDateStorage::checkAndCreateDirectory(const std::filesystem::path& directory) {
  std::error_code ignored;
  if (!std::filesystem::is_directory(directory, ignored)) std::filesystem::create_directories(directory, ignored);
}

const std::filesystem::path& UTLHeartbeatDateStorage::fileURL() {
  std::call_once(fileURLOnce_, [this] {
    const auto directory = directoryPathURL();
    checkAndCreateDirectory(directory);
    fileURL_ = directory / platform::fileNameForID(fileName_);
  });
  return fileURL_;
}

platform::ArchiveValue::Dictionary UTLHeartbeatDateStorage::heartbeatDictionaryWithFileURL(
    const std::filesystem::path& file) {
  auto bytes = platform::readFileContents(file);
  if (!bytes || bytes->empty()) return {};
  platform::Error error;
  auto root = UTLSecureCoding::unarchivedObjectOfClasses(
      {platform::kArchiveDictionaryClass, platform::kArchiveDateClass, platform::kArchiveStringClass}, *bytes, &error);
  if (!root || !error.domain.empty() || root->asDictionary() == nullptr) return {};
  return *root->asDictionary();
}

bool UTLHeartbeatDateStorage::writeDictionary(const platform::ArchiveValue::Dictionary& dictionary,
                                              const std::filesystem::path& file, platform::Error* error) {
  auto bytes = UTLSecureCoding::archivedDataWithRootObject(platform::ArchiveValue(dictionary), error);
  if (!bytes || bytes->empty()) return false;
  platform::Status written = platform::writeFileAtomically(file, *bytes);
  if (!written.ok() && error != nullptr) *error = written.error();
  return written.ok();
}

std::optional<platform::Date> UTLHeartbeatDateStorage::heartbeatDateForTag(const std::string& tag) {
  std::lock_guard lock(fileStoreLock());
  const auto dictionary = heartbeatDictionaryWithFileURL(fileURL());
  auto it = dictionary.find(platform::ArchiveValue::Key(tag));
  if (it == dictionary.end() || it->second.asDate() == nullptr) return std::nullopt;
  return *it->second.asDate();
}

bool UTLHeartbeatDateStorage::setHearbeatDate(platform::Date date, const std::string& tag) {
  std::lock_guard lock(fileStoreLock());
  auto dictionary = heartbeatDictionaryWithFileURL(fileURL());
  dictionary[platform::ArchiveValue::Key(tag)] = platform::ArchiveValue(date);
  return writeDictionary(dictionary, fileURL());
}

UTLHeartbeatDateStorageUserDefaults::UTLHeartbeatDateStorageUserDefaults(
    std::shared_ptr<platform::UserDefaults> defaults, std::string key)
    : userDefaults_(std::move(defaults)), key_(std::move(key)) {}

std::mutex& UTLHeartbeatDateStorageUserDefaults::lock() const {
  // One lock per defaults domain, as every store over that domain must share it.
  static std::mutex registryMutex;
  static std::map<const platform::PreferencesDomain*, std::unique_ptr<std::mutex>> locks;
  std::lock_guard guard(registryMutex);
  auto& slot = locks[userDefaults_->domain().get()];
  if (!slot) slot = std::make_unique<std::mutex>();
  return *slot;
}

platform::PlistValue::Dictionary UTLHeartbeatDateStorageUserDefaults::heartbeatDictionaryFromDefaults() const {
  return userDefaults_->dictionary(key_).value_or(platform::PlistValue::Dictionary{});
}

std::optional<platform::Date> UTLHeartbeatDateStorageUserDefaults::heartbeatDateForTag(const std::string& tag) {
  std::lock_guard guard(lock());
  const auto dictionary = heartbeatDictionaryFromDefaults();
  auto it = dictionary.find(tag);
  if (it == dictionary.end() || it->second.asDate() == nullptr) return std::nullopt;
  return *it->second.asDate();
}

bool UTLHeartbeatDateStorageUserDefaults::setHearbeatDate(platform::Date date, const std::string& tag) {
  std::lock_guard guard(lock());
  auto dictionary = heartbeatDictionaryFromDefaults();
  dictionary[tag] = platform::PlistValue(date);
  return userDefaults_->set(key_, platform::PlistValue(std::move(dictionary))).ok();
}
