// Defaults: persistent key-value settings, one property-list file per suite.
//
// A PreferencesDomain is the process-wide in-memory copy of one preferences file
// (<data dir>/Preferences/<name>.plist, a binary property list whose root is a dictionary).
// There is one domain object per file, shared by every handle, so all handles over the same
// suite see each other's writes at once. A domain is safe to use from any thread.
//
// UserDefaults is the app-facing handle: `standard()` for the app's own settings,
// `suite(name)` for a named suite such as the app group "group.ruv.vantoru.Duvenmark".
// Its writes go to memory at once and are then written to disk atomically (temporary file,
// fsync, rename); when the disk write fails the value is still readable, the write answers
// the Error, and the file keeps its previous contents.
//
// AppStorage<T> binds one key to a default: reads answer the stored value, or the default
// while the key holds nothing of type T (the default is never written back); writes store
// at once.
//
//   platform::AppStorage<bool> pop("popViewAfterSaveAndUpdate", false,
//                                  platform::UserDefaults::standard());
//   if (pop.get()) ...;
//   pop.set(true);
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/expected.h"
#include "platform/foundation/plist.h"

namespace platform {

// Reads a preferences file: its root dictionary, an empty dictionary when the file does not
// exist, std::nullopt when it exists but cannot be read or is not a dictionary plist.
std::optional<PlistValue::Dictionary> loadPreferencesFile(const std::filesystem::path& file);
// Writes a preferences file atomically in the binary property-list form.
Status writePreferencesFile(const std::filesystem::path& file, const PlistValue::Dictionary& values);

class PreferencesDomain {
 public:
  // The domain of a suite: <preferences dir>/<name>.plist, or nullptr when `name` cannot be
  // a suite name (see isValidName).
  static std::shared_ptr<PreferencesDomain> named(std::string_view name);
  // The one shared domain object for a file, loading it on first use. A file that exists
  // but does not read as a dictionary plist is moved aside to "<file>.unreadable" so that
  // the next write does not destroy it, and the domain starts empty.
  static std::shared_ptr<PreferencesDomain> forFile(const std::filesystem::path& file);

  // A suite name becomes a file name: it must be non-empty, at most 200 bytes, hold no '/',
  // no NUL and no control character, and not begin with '.'.
  static bool isValidName(std::string_view name);

  const std::filesystem::path& file() const { return file_; }

  std::optional<PlistValue> value(std::string_view key) const;
  // Sets the value in memory only; a null value removes the key. A value encodePlist cannot
  // write (a null inside an array or dictionary, a huge unsigned integer) is refused (false)
  // and the domain is unchanged.
  bool setValue(std::string_view key, PlistValue value);
  void removeValue(std::string_view key) { setValue(key, PlistValue()); }
  PlistValue::Dictionary dictionary() const;

  // Writes the domain's current dictionary to its file, atomically. Concurrent calls are
  // serialised, so the file ends with the latest dictionary.
  Status synchronize();

  explicit PreferencesDomain(std::filesystem::path file, PlistValue::Dictionary values);

 private:
  std::filesystem::path file_;
  mutable std::mutex mutex_;
  PlistValue::Dictionary values_;
  uint64_t generation_ = 0;        // bumped by every change, under mutex_
  std::mutex writeMutex_;          // serialises file writes
  uint64_t writtenGeneration_ = 0;  // the generation last on disk, under writeMutex_
};

class UserDefaults {
 public:
  // The file name (without ".plist") of the standard suite.
  static constexpr const char* kStandardDomainName = "standard";

  // The app's own settings, in the current data directory.
  static std::shared_ptr<UserDefaults> standard();
  // A named suite; nullptr when the name is not a valid suite name or names the standard
  // suite itself.
  static std::shared_ptr<UserDefaults> suite(std::string_view name);

  explicit UserDefaults(std::shared_ptr<PreferencesDomain> domain) : domain_(std::move(domain)) {}

  std::optional<PlistValue> object(std::string_view key) const;
  // Typed reads: absent when the key holds nothing or a value of another type. Integers are
  // read as doubles by doubleValue (a whole-number salary stored as an integer still reads).
  std::optional<int64_t> integer(std::string_view key) const;
  std::optional<double> doubleValue(std::string_view key) const;
  std::optional<bool> boolean(std::string_view key) const;
  std::optional<std::string> string(std::string_view key) const;
  std::optional<PlistValue::Data> data(std::string_view key) const;
  std::optional<PlistValue::Array> array(std::string_view key) const;
  std::optional<PlistValue::Dictionary> dictionary(std::string_view key) const;
  std::optional<Date> date(std::string_view key) const;

  // Stores at once in memory, then writes the suite's file. A null value removes the key.
  // The result is the disk error, if any; the value stays readable either way, and the
  // next write or synchronize tries the file again. A value that cannot be encoded is
  // refused with an Error and stores nothing.
  Status set(std::string_view key, PlistValue value);
  Status remove(std::string_view key);
  Status synchronize() { return domain_->synchronize(); }

  const std::shared_ptr<PreferencesDomain>& domain() const { return domain_; }

 private:
  std::shared_ptr<PreferencesDomain> domain_;
};

namespace defaults_detail {
template <typename T> struct StorageTraits;
template <> struct StorageTraits<bool> {
  static std::optional<bool> read(const UserDefaults& d, std::string_view k) { return d.boolean(k); }
};
template <> struct StorageTraits<int64_t> {
  static std::optional<int64_t> read(const UserDefaults& d, std::string_view k) { return d.integer(k); }
};
template <> struct StorageTraits<double> {
  static std::optional<double> read(const UserDefaults& d, std::string_view k) { return d.doubleValue(k); }
};
template <> struct StorageTraits<std::string> {
  static std::optional<std::string> read(const UserDefaults& d, std::string_view k) { return d.string(k); }
};
template <> struct StorageTraits<PlistValue::Data> {
  static std::optional<PlistValue::Data> read(const UserDefaults& d, std::string_view k) { return d.data(k); }
};
}  // namespace defaults_detail

// T is one of bool, int64_t, double, std::string, PlistValue::Data.
template <typename T>
class AppStorage {
 public:
  AppStorage(std::string key, T defaultValue, std::shared_ptr<UserDefaults> store)
      : key_(std::move(key)), default_(std::move(defaultValue)), store_(std::move(store)) {}

  T get() const {
    return defaults_detail::StorageTraits<T>::read(*store_, key_).value_or(default_);
  }
  Status set(const T& value) { return store_->set(key_, PlistValue(value)); }

  const std::string& key() const { return key_; }
  const T& defaultValue() const { return default_; }
  const std::shared_ptr<UserDefaults>& store() const { return store_; }

 private:
  std::string key_;
  T default_;
  std::shared_ptr<UserDefaults> store_;
};

}  // namespace platform
