#include "sdk-core/utilities/user_defaults.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "platform/dispatch/queue.h"
#include "sdk-core/utilities/logger.h"

namespace {

constexpr const char* kService = "[ZidezaUtilities/UserDefaults]";
constexpr std::chrono::milliseconds kSynchronizeDelay{1000};

std::string code(long number) {
  char text[16];
  std::snprintf(text, sizeof text, "I-UTL%06ld", number);
  return text;
}

// Whether every node of the tree is a storable property-list value.
bool isPropertyList(const platform::PlistValue& value) {
  using Kind = platform::PlistValue::Kind;
  switch (value.kind()) {
    case Kind::Null:
    case Kind::Uid:
      return false;
    case Kind::Real:
      return true;
    case Kind::Array:
      for (const auto& element : *value.asArray()) {
        if (!isPropertyList(element)) return false;
      }
      return true;
    case Kind::Dictionary:
      for (const auto& [key, element] : *value.asDictionary()) {
        if (!isPropertyList(element)) return false;
      }
      return true;
    default:
      return true;
  }
}

std::string describe(const platform::PlistValue& value) {
  using Kind = platform::PlistValue::Kind;
  switch (value.kind()) {
    case Kind::Uid:
      return "<UID " + std::to_string(value.asUid()->value) + ">";
    case Kind::Array:
      return "<array holding a value that is not a property list>";
    case Kind::Dictionary:
      return "<dictionary holding a value that is not a property list>";
    default:
      return "<value>";
  }
}

std::optional<double> numberOf(const platform::PlistValue& value) {
  if (const bool* flag = value.asBool()) return *flag ? 1.0 : 0.0;
  return value.toDouble();
}

}  // namespace

// Pending flush bookkeeping of one instance; shared with its timer blocks and the exit hook.
struct UTLUserDefaults::State {
  std::mutex mutex;
  uint64_t generation = 0;
  std::set<std::shared_ptr<platform::PreferencesDomain>> pending;
  std::atomic<uint64_t> timerFlushes{0};

  void markPending(std::shared_ptr<platform::PreferencesDomain> domain) {
    std::lock_guard lock(mutex);
    pending.insert(std::move(domain));
  }

  // Writes every domain changed since the last flush.
  bool flush() {
    std::set<std::shared_ptr<platform::PreferencesDomain>> domains;
    {
      std::lock_guard lock(mutex);
      domains.swap(pending);
    }
    bool ok = true;
    for (const auto& domain : domains) {
      if (!domain->synchronize().ok()) {
        UTLLoggerWriteError(kService, false, code(4).c_str(), "Cannot synchronize user defaults to disk");
        ok = false;
      }
    }
    return ok;
  }
};

namespace {

// Every live instance's state, flushed when the process exits.
struct ExitFlusher {
  std::mutex mutex;
  std::vector<std::weak_ptr<UTLUserDefaults::State>> states;

  static ExitFlusher& shared() {
    static ExitFlusher* flusher = [] {
      auto* made = new ExitFlusher();  // must outlive every static destructor
      std::atexit([] { ExitFlusher::shared().flushAll(); });
      return made;
    }();
    return *flusher;
  }

  void add(const std::shared_ptr<UTLUserDefaults::State>& state) {
    std::lock_guard lock(mutex);
    std::erase_if(states, [](const auto& weak) { return weak.expired(); });
    states.push_back(state);
  }

  void flushAll() {
    std::vector<std::weak_ptr<UTLUserDefaults::State>> copy;
    {
      std::lock_guard lock(mutex);
      copy = states;
    }
    for (const auto& weak : copy) {
      if (auto state = weak.lock()) state->flush();
    }
  }
};

std::shared_ptr<platform::DispatchQueue> synchronizeQueue() {
  static const auto queue = platform::DispatchQueue::makeSerial("ruv.utl.UserDefaults.Synchronize");
  return queue;
}

}  // namespace

std::shared_ptr<UTLUserDefaults> UTLUserDefaults::standardUserDefaults() {
  // Never destroyed: the exit hook flushes it.
  static auto* instance = new std::shared_ptr<UTLUserDefaults>(std::make_shared<UTLUserDefaults>());
  return *instance;
}

UTLUserDefaults::UTLUserDefaults() : UTLUserDefaults(std::nullopt) {}

UTLUserDefaults::UTLUserDefaults(std::optional<std::string> suiteName)
    : appNameRef_(suiteName && !suiteName->empty() ? *suiteName : platform::UserDefaults::kStandardDomainName),
      state_(std::make_shared<State>()) {
  if (!platform::PreferencesDomain::isValidName(appNameRef_)) {
    // Such a name cannot become a file: keep the values in memory; flushing reports it.
    invalidNameDomain_ = std::make_shared<platform::PreferencesDomain>(std::filesystem::path(),
                                                                       platform::PlistValue::Dictionary{});
  }
  ExitFlusher::shared().add(state_);
}

UTLUserDefaults::~UTLUserDefaults() {
  // A pending flush is carried out now rather than dropped.
  state_->flush();
}

std::shared_ptr<platform::PreferencesDomain> UTLUserDefaults::domain() const {
  if (invalidNameDomain_) return invalidNameDomain_;
  return platform::PreferencesDomain::named(appNameRef_);
}

std::optional<platform::PlistValue> UTLUserDefaults::objectForKey(std::string_view key) const {
  if (key.empty()) {
    UTLLoggerWriteWarning("<ZidezaUtilities>", false, code(1).c_str(),
                          "Cannot get object for invalid user default key.");
    return std::nullopt;
  }
  return domain()->value(key);
}

void UTLUserDefaults::setObject(const platform::PlistValue& value, std::string_view key) {
  if (key.empty()) {
    UTLLoggerWriteWarning(kService, false, code(2).c_str(), "Cannot set object for invalid user default key.");
    return;
  }
  if (!value.isNull() && !isPropertyList(value)) {
    UTLLoggerWriteWarning(kService, false, code(3).c_str(),
                          "Cannot set invalid object to user defaults. Must be a string, number, array, "
                          "dictionary, date, or data. Value: %s",
                          describe(value).c_str());
    return;
  }
  auto target = domain();
  target->setValue(key, value);  // a null value removes the key
  state_->markPending(target);
  scheduleSynchronize();
}

void UTLUserDefaults::removeObjectForKey(std::string_view key) { setObject(platform::PlistValue(), key); }

std::optional<int64_t> UTLUserDefaults::integerForKey(std::string_view key) const {
  auto value = objectForKey(key);
  if (!value) return std::nullopt;
  if (auto integer = value->toInt64()) return integer;
  auto number = numberOf(*value);
  if (!number || !std::isfinite(*number) || std::fabs(*number) >= 9.2e18) return std::nullopt;
  return static_cast<int64_t>(*number);
}

std::optional<double> UTLUserDefaults::doubleForKey(std::string_view key) const {
  auto value = objectForKey(key);
  return value ? numberOf(*value) : std::nullopt;
}

std::optional<float> UTLUserDefaults::floatForKey(std::string_view key) const {
  auto number = doubleForKey(key);
  if (!number) return std::nullopt;
  return static_cast<float>(*number);
}

std::optional<bool> UTLUserDefaults::boolForKey(std::string_view key) const {
  auto number = doubleForKey(key);
  if (!number) return std::nullopt;
  return *number != 0.0;
}

std::optional<std::string> UTLUserDefaults::stringForKey(std::string_view key) const {
  auto value = objectForKey(key);
  if (!value || !value->asString()) return std::nullopt;
  return *value->asString();
}

std::optional<platform::PlistValue::Array> UTLUserDefaults::arrayForKey(std::string_view key) const {
  auto value = objectForKey(key);
  if (!value || !value->asArray()) return std::nullopt;
  return *value->asArray();
}

std::optional<platform::PlistValue::Dictionary> UTLUserDefaults::dictionaryForKey(std::string_view key) const {
  auto value = objectForKey(key);
  if (!value || !value->asDictionary()) return std::nullopt;
  return *value->asDictionary();
}

void UTLUserDefaults::setInteger(int64_t value, std::string_view key) { setObject(platform::PlistValue(value), key); }
void UTLUserDefaults::setFloat(float value, std::string_view key) {
  setObject(platform::PlistValue(static_cast<double>(value)), key);
}
void UTLUserDefaults::setDouble(double value, std::string_view key) { setObject(platform::PlistValue(value), key); }
void UTLUserDefaults::setBool(bool value, std::string_view key) { setObject(platform::PlistValue(value), key); }

bool UTLUserDefaults::synchronize() {
  state_->markPending(domain());
  return state_->flush();
}

void UTLUserDefaults::scheduleSynchronize() {
  uint64_t generation;
  {
    std::lock_guard lock(state_->mutex);
    generation = ++state_->generation;
  }
  std::weak_ptr<State> weak = state_;
  synchronizeQueue()->asyncAfter(kSynchronizeDelay, [weak, generation] {
    auto state = weak.lock();
    if (!state) return;
    {
      std::lock_guard lock(state->mutex);
      if (state->generation != generation) return;  // a later write moved the deadline
    }
    state->flush();
    ++state->timerFlushes;
  });
}

uint64_t UTLUserDefaults::scheduledSynchronizationCount() const { return state_->timerFlushes.load(); }
