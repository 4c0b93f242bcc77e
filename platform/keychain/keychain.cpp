#include "platform/keychain/keychain.h"

#include "platform/foundation/data_notices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <system_error>

#include "platform/foundation/paths.h"

namespace platform {

namespace {

constexpr const char* kItemsKey = "items";
constexpr const char* kFileName = "keychain.plist";

bool isCallOption(const std::string& key) {
  return key.rfind("r_", 0) == 0 || key.rfind("m_", 0) == 0 || key.rfind("u_", 0) == 0;
}

const std::string* stringAttribute(const SecQuery& item, const char* key) {
  auto it = item.find(key);
  return it == item.end() ? nullptr : it->second.asString();
}

// The attributes that tell two items of a class apart.
std::initializer_list<const char*> identityKeys(const std::string& itemClass) {
  static const std::initializer_list<const char*> password = {kSecAttrService, kSecAttrAccount,
                                                              kSecAttrAccessGroup};
  static const std::initializer_list<const char*> key = {kSecAttrApplicationTag, kSecAttrKeyType,
                                                         kSecAttrKeyClass, kSecAttrAccessGroup};
  return itemClass == kSecClassKey ? key : password;
}

bool isKnownClass(const std::string* itemClass) {
  return itemClass != nullptr && (*itemClass == kSecClassGenericPassword || *itemClass == kSecClassKey);
}

bool sameIdentity(const SecQuery& a, const SecQuery& b) {
  const std::string* classA = stringAttribute(a, kSecClass);
  const std::string* classB = stringAttribute(b, kSecClass);
  if (classA == nullptr || classB == nullptr || *classA != *classB) return false;
  for (const char* key : identityKeys(*classA)) {
    const PlistValue* left = a.count(key) ? &a.at(key) : nullptr;
    const PlistValue* right = b.count(key) ? &b.at(key) : nullptr;
    if ((left == nullptr) != (right == nullptr)) return false;
    if (left != nullptr && !(*left == *right)) return false;
  }
  return true;
}

bool itemMatches(const SecQuery& item, const SecQuery& query) {
  for (const auto& [key, value] : query) {
    if (isCallOption(key) || key == kSecValueData) continue;
    auto it = item.find(key);
    if (it == item.end() || !(it->second == value)) return false;
  }
  return true;
}

SecQuery storedAttributes(const SecQuery& query) {
  SecQuery attributes;
  for (const auto& [key, value] : query) {
    if (!isCallOption(key)) attributes.emplace(key, value);
  }
  return attributes;
}

bool wantsData(const SecQuery& query) {
  auto it = query.find(kSecReturnData);
  return it != query.end() && it->second.asBool() != nullptr && *it->second.asBool();
}

bool wantsAll(const SecQuery& query) {
  const std::string* limit = stringAttribute(query, kSecMatchLimit);
  return limit != nullptr && *limit == kSecMatchLimitAll;
}

// Creates the temp file beside `path`, mode 0600 from the start: the directory is made only
// when it is missing, and a temp file a crash left behind (of whatever mode) is replaced.
int createPrivateTemporary(const std::filesystem::path& temporary) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  int fd = ::open(temporary.c_str(), kFlags, 0600);
  if (fd < 0 && errno == ENOENT) {
    std::error_code ignored;
    std::filesystem::create_directories(temporary.parent_path(), ignored);
    fd = ::open(temporary.c_str(), kFlags, 0600);
  }
  if (fd < 0 && errno == EEXIST) {
    ::unlink(temporary.c_str());
    fd = ::open(temporary.c_str(), kFlags, 0600);
  }
  return fd;
}

// Temp file, write, fsync, rename over the file, fsync of the directory. A crash at any point
// leaves the old file or the new one, whole: the data is on disk before the rename makes it the
// file, and the rename is on disk before the call answers that the change is stored.
bool writePrivateFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path temporary = path.parent_path() / ("." + path.filename().string() + ".tmp");
  int fd = createPrivateTemporary(temporary);
  if (fd < 0) return false;
  bool ok = true;
  size_t written = 0;
  while (ok && written < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else written += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  int dirFd = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace

Keychain::Keychain(std::filesystem::path file) : file_(std::move(file)) { load(); }

std::shared_ptr<Keychain> Keychain::shared() {
  static std::mutex mutex;
  static std::shared_ptr<Keychain> keychain;
  static std::filesystem::path directory;
  std::filesystem::path current = FileLocations::dataDirectory();
  std::lock_guard lock(mutex);
  if (!keychain || current != directory) {
    keychain = std::make_shared<Keychain>(current / kFileName);
    directory = std::move(current);
  }
  return keychain;
}

void Keychain::load() {
  std::error_code error;
  if (!std::filesystem::exists(file_, error)) return;
  auto bytes = readFileContents(file_);
  std::optional<PlistValue> root = bytes ? decodePlist(*bytes) : std::nullopt;
  const PlistValue* items = root ? root->find(kItemsKey) : nullptr;
  bool valid = items != nullptr && items->asArray() != nullptr;
  if (valid) {
    for (const auto& item : *items->asArray()) {
      if (item.asDictionary() == nullptr || !isKnownClass(stringAttribute(*item.asDictionary(), kSecClass))) {
        valid = false;
        break;
      }
    }
  }
  if (!valid) {
    // Keep the unreadable bytes for inspection, say so, and start over with an empty keychain.
    moveDamagedFileAside(file_, "the keychain file", ".corrupt");
    return;
  }
  items_ = *items->asArray();
  ::chmod(file_.c_str(), 0600);
}

void Keychain::setFaultHook(FaultHook hook) {
  std::lock_guard lock(mutex_);
  faultHook_ = std::move(hook);
}

OSStatus Keychain::faultFor(KeychainOperation operation) const {
  return faultHook_ ? faultHook_(operation) : errSecSuccess;
}

OSStatus Keychain::persist(PlistValue::Array items) {
  if (OSStatus fault = faultFor(KeychainOperation::WriteFile); fault != errSecSuccess) return fault;
  PlistValue root(PlistValue::Dictionary{{kItemsKey, PlistValue(std::move(items))}});
  auto bytes = encodePlist(root, PlistFormat::Binary);
  if (!bytes) return errSecParam;  // an attribute held a value that cannot be stored
  if (!writePrivateFileAtomically(file_, *bytes)) return errSecIO;
  items_ = std::move(*(*root.asDictionary())[kItemsKey].asArray());
  return errSecSuccess;
}

std::vector<size_t> Keychain::matches(const SecQuery& query) const {
  std::vector<size_t> found;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (itemMatches(*items_[i].asDictionary(), query)) found.push_back(i);
  }
  return found;
}

OSStatus Keychain::copyMatching(const SecQuery& query, PlistValue* result) {
  std::lock_guard lock(mutex_);
  if (OSStatus fault = faultFor(KeychainOperation::CopyMatching); fault != errSecSuccess) return fault;
  if (!isKnownClass(stringAttribute(query, kSecClass))) return errSecParam;
  std::vector<size_t> found = matches(query);
  if (found.empty()) return errSecItemNotFound;
  if (result != nullptr && wantsData(query)) {
    auto dataOf = [this](size_t index) {
      const PlistValue* data = items_[index].find(kSecValueData);
      return data != nullptr ? *data : PlistValue(PlistValue::Data{});
    };
    if (wantsAll(query)) {
      PlistValue::Array all;
      for (size_t index : found) all.push_back(dataOf(index));
      *result = PlistValue(std::move(all));
    } else {
      *result = dataOf(found.front());
    }
  }
  return errSecSuccess;
}

OSStatus Keychain::add(const SecQuery& attributes) {
  std::lock_guard lock(mutex_);
  if (OSStatus fault = faultFor(KeychainOperation::Add); fault != errSecSuccess) return fault;
  if (!isKnownClass(stringAttribute(attributes, kSecClass))) return errSecParam;
  SecQuery item = storedAttributes(attributes);
  for (const auto& existing : items_) {
    if (sameIdentity(*existing.asDictionary(), item)) return errSecDuplicateItem;
  }
  PlistValue::Array items = items_;
  items.emplace_back(std::move(item));
  return persist(std::move(items));
}

OSStatus Keychain::update(const SecQuery& query, const SecQuery& changes) {
  std::lock_guard lock(mutex_);
  if (OSStatus fault = faultFor(KeychainOperation::Update); fault != errSecSuccess) return fault;
  if (!isKnownClass(stringAttribute(query, kSecClass)) || changes.count(kSecClass)) return errSecParam;
  std::vector<size_t> found = matches(query);
  if (found.empty()) return errSecItemNotFound;
  PlistValue::Array items = items_;
  for (size_t index : found) {
    for (const auto& [key, value] : storedAttributes(changes)) (*items[index].asDictionary())[key] = value;
  }
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t j = i + 1; j < items.size(); ++j) {
      if (sameIdentity(*items[i].asDictionary(), *items[j].asDictionary())) return errSecDuplicateItem;
    }
  }
  return persist(std::move(items));
}

OSStatus Keychain::remove(const SecQuery& query) {
  std::lock_guard lock(mutex_);
  if (OSStatus fault = faultFor(KeychainOperation::Delete); fault != errSecSuccess) return fault;
  if (!isKnownClass(stringAttribute(query, kSecClass))) return errSecParam;
  std::vector<size_t> found = matches(query);
  if (found.empty()) return errSecItemNotFound;
  PlistValue::Array items;
  size_t next = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (next < found.size() && found[next] == i) {
      ++next;
      continue;
    }
    items.push_back(items_[i]);
  }
  return persist(std::move(items));
}

OSStatus SecItemCopyMatching(const SecQuery& query, PlistValue* result) {
  return Keychain::shared()->copyMatching(query, result);
}

OSStatus SecItemAdd(const SecQuery& attributes, PlistValue* result) {
  if (result != nullptr) *result = PlistValue();
  return Keychain::shared()->add(attributes);
}

OSStatus SecItemUpdate(const SecQuery& query, const SecQuery& attributesToUpdate) {
  return Keychain::shared()->update(query, attributesToUpdate);
}

OSStatus SecItemDelete(const SecQuery& query) { return Keychain::shared()->remove(query); }

}  // namespace platform
