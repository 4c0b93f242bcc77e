// UTLUserDefaults: the SDK's key-value store over the platform's preferences domains.
//
// An instance names a domain: a suite, or the app's own (standard) domain when no suite
// name or an empty one is given. It holds no values itself: reads and writes go to the
// process-wide platform::PreferencesDomain of that name, so two instances over one domain
// see each other's writes at once, and so does platform::UserDefaults over the same suite.
// Only property-list values are stored (string, number, array, dictionary, date, data).
//
// Writes are flushed to disk 1.0 s after the last write of a burst, by a debounce timer of
// the store's own (the dispatch clock, so a test's VirtualClock drives it), independent of
// any run loop of the writing thread. Pending writes are also flushed when the instance is
// destroyed and when the process exits, so a write is never lost for want of a timer.
//
// Typed getters answer std::nullopt when the key is missing or holds a value of another
// type: numbers (integers, reals, booleans) read as any numeric type; strings, arrays,
// dictionaries only as themselves.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/defaults.h"
#include "platform/foundation/plist.h"

class UTLUserDefaults {
 public:
  // The one shared instance over the app's own domain; lives for the whole process.
  static std::shared_ptr<UTLUserDefaults> standardUserDefaults();

  UTLUserDefaults();
  explicit UTLUserDefaults(std::optional<std::string> suiteName);
  ~UTLUserDefaults();
  UTLUserDefaults(const UTLUserDefaults&) = delete;
  UTLUserDefaults& operator=(const UTLUserDefaults&) = delete;

  // The preferences domain's name.
  const std::string& appNameRef() const { return appNameRef_; }
  bool isPreferenceFileExcluded() const { return isPreferenceFileExcluded_.load(); }
  void setIsPreferenceFileExcluded(bool excluded) { isPreferenceFileExcluded_ = excluded; }

  std::optional<platform::PlistValue> objectForKey(std::string_view key) const;
  // Stores `value` (a null value removes the key) and schedules a flush. An empty key or a
  // value that is not a property list is refused with a warning and changes nothing.
  void setObject(const platform::PlistValue& value, std::string_view key);
  void removeObjectForKey(std::string_view key);

  std::optional<int64_t> integerForKey(std::string_view key) const;
  std::optional<float> floatForKey(std::string_view key) const;
  std::optional<double> doubleForKey(std::string_view key) const;
  std::optional<bool> boolForKey(std::string_view key) const;
  std::optional<std::string> stringForKey(std::string_view key) const;
  std::optional<platform::PlistValue::Array> arrayForKey(std::string_view key) const;
  std::optional<platform::PlistValue::Dictionary> dictionaryForKey(std::string_view key) const;

  void setInteger(int64_t value, std::string_view key);
  void setFloat(float value, std::string_view key);
  void setDouble(double value, std::string_view key);
  void setBool(bool value, std::string_view key);

  // Writes the domain to disk now; false (and an error line) when that fails. The values
  // stay readable either way.
  bool synchronize();
  // Replaces any pending flush of this instance by one 1.0 s from now.
  void scheduleSynchronize();

  // The number of flushes the debounce timer has run (tests).
  uint64_t scheduledSynchronizationCount() const;

  struct State;

 private:
  std::shared_ptr<platform::PreferencesDomain> domain() const;

  std::string appNameRef_;
  std::atomic<bool> isPreferenceFileExcluded_{false};
  std::shared_ptr<platform::PreferencesDomain> invalidNameDomain_;  // memory only
  std::shared_ptr<State> state_;
};
