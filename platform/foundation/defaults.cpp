#include "platform/foundation/defaults.h"

#include <map>
#include <system_error>

#include "platform/foundation/data_notices.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"

namespace platform {

namespace fs = std::filesystem;

std::optional<PlistValue::Dictionary> loadPreferencesFile(const fs::path& file) {
  std::error_code error;
  if (!fs::exists(file, error)) {
    if (error) return std::nullopt;
    return PlistValue::Dictionary{};
  }
  auto bytes = readFileContents(file);
  if (!bytes) return std::nullopt;
  auto root = decodePlist(*bytes);
  if (!root || root->asDictionary() == nullptr) return std::nullopt;
  return std::move(*root->asDictionary());
}

Status writePreferencesFile(const fs::path& file, const PlistValue::Dictionary& values) {
  auto bytes = encodePlist(PlistValue(values), PlistFormat::Binary);
  if (!bytes) {
    return Error(kPlatformErrorDomain, 1,
                 {{kErrorLocalizedDescriptionKey, "The preferences hold a value that cannot be "
                                                  "written to a property list."}});
  }
  return writeFileAtomically(file, *bytes);
}

// ---- PreferencesDomain ----

namespace {
std::mutex gDomainsMutex;
std::map<fs::path, std::shared_ptr<PreferencesDomain>>& domains();

// Forgets every loaded domain, so that the next open reads its file again as a new process
// would. Handles already held keep their old domain.
void discardLoadedDomains() {
  std::lock_guard lock(gDomainsMutex);
  domains().clear();
}

std::map<fs::path, std::shared_ptr<PreferencesDomain>>& domains() {
  static auto* registry = [] {
    addProcessStateReset(&discardLoadedDomains);
    return new std::map<fs::path, std::shared_ptr<PreferencesDomain>>();
  }();
  return *registry;
}
}  // namespace

PreferencesDomain::PreferencesDomain(fs::path file, PlistValue::Dictionary values)
    : file_(std::move(file)), values_(std::move(values)) {}

bool PreferencesDomain::isValidName(std::string_view name) {
  if (name.empty() || name.size() > 200 || name.front() == '.') return false;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '/' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

std::shared_ptr<PreferencesDomain> PreferencesDomain::named(std::string_view name) {
  if (!isValidName(name)) return nullptr;
  return forFile(FileLocations::preferencesDirectory() / (std::string(name) + ".plist"));
}

std::shared_ptr<PreferencesDomain> PreferencesDomain::forFile(const fs::path& file) {
  const fs::path key = fs::absolute(file).lexically_normal();
  std::lock_guard lock(gDomainsMutex);
  auto& registry = domains();
  if (auto it = registry.find(key); it != registry.end()) return it->second;

  auto values = loadPreferencesFile(key);
  if (!values) {
    // Keep what could not be read rather than overwrite it with the next write, and say so.
    moveDamagedFileAside(key, "the settings file " + key.filename().string());
    values = PlistValue::Dictionary{};
  }
  auto domain = std::make_shared<PreferencesDomain>(key, std::move(*values));
  registry.emplace(key, domain);
  return domain;
}

std::optional<PlistValue> PreferencesDomain::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}


bool PreferencesDomain::setValue(std::string_view key, PlistValue value) {
  if (!value.isNull() && !isPlistEncodable(value)) return false;
  std::lock_guard lock(mutex_);
  if (value.isNull()) {
    auto it = values_.find(key);
    if (it == values_.end()) return true;
    values_.erase(it);
  } else {
    values_.insert_or_assign(std::string(key), std::move(value));
  }
  ++generation_;
  return true;
}

PlistValue::Dictionary PreferencesDomain::dictionary() const {
  std::lock_guard lock(mutex_);
  return values_;
}

Status PreferencesDomain::synchronize() {
  std::lock_guard writeLock(writeMutex_);
  PlistValue::Dictionary snapshot;
  uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    generation = generation_;
    if (generation == writtenGeneration_) return {};
    snapshot = values_;
  }
  Status written = writePreferencesFile(file_, snapshot);
  if (!written.ok()) return written;
  writtenGeneration_ = generation;
  return {};
}

// ---- UserDefaults ----

std::shared_ptr<UserDefaults> UserDefaults::standard() {
  return std::make_shared<UserDefaults>(PreferencesDomain::named(kStandardDomainName));
}

std::shared_ptr<UserDefaults> UserDefaults::suite(std::string_view name) {
  if (name == kStandardDomainName) return nullptr;
  auto domain = PreferencesDomain::named(name);
  if (!domain) return nullptr;
  return std::make_shared<UserDefaults>(std::move(domain));
}

std::optional<PlistValue> UserDefaults::object(std::string_view key) const {
  return domain_->value(key);
}

std::optional<int64_t> UserDefaults::integer(std::string_view key) const {
  auto value = object(key);
  if (!value) return std::nullopt;
  return value->toInt64();
}

std::optional<double> UserDefaults::doubleValue(std::string_view key) const {
  auto value = object(key);
  if (!value) return std::nullopt;
  return value->toDouble();
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
  auto value = object(key);
  if (!value || value->asBool() == nullptr) return std::nullopt;
  return *value->asBool();
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
  auto value = object(key);
  if (!value || value->asString() == nullptr) return std::nullopt;
  return *value->asString();
}

std::optional<PlistValue::Data> UserDefaults::data(std::string_view key) const {
  auto value = object(key);
  if (!value || value->asData() == nullptr) return std::nullopt;
  return *value->asData();
}

std::optional<PlistValue::Array> UserDefaults::array(std::string_view key) const {
  auto value = object(key);
  if (!value || value->asArray() == nullptr) return std::nullopt;
  return *value->asArray();
}

std::optional<PlistValue::Dictionary> UserDefaults::dictionary(std::string_view key) const {
  auto value = object(key);
  if (!value || value->asDictionary() == nullptr) return std::nullopt;
  return *value->asDictionary();
}

std::optional<Date> UserDefaults::date(std::string_view key) const {
  auto value = object(key);
  if (!value || value->asDate() == nullptr) return std::nullopt;
  return *value->asDate();
}

Status UserDefaults::set(std::string_view key, PlistValue value) {
  if (!domain_->setValue(key, std::move(value))) {
    return Error(kPlatformErrorDomain, 2,
                 {{kErrorLocalizedDescriptionKey,
                   "The value cannot be stored in a property list; nothing was stored."}});
  }
  return domain_->synchronize();
}

Status UserDefaults::remove(std::string_view key) {
  return set(key, PlistValue());
}

}  // namespace platform
