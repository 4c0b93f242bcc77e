// CRUserDefaults: crash reporting's own key-value store, kept apart from the app's standard
// defaults, in <data dir>/Application Support/dod.uzeruzaravi/CRUserDefaults.plist.
//
// Writes go to memory; `synchronize` writes the whole content to the file (XML property
// list, temporary file renamed over the old one) when it differs from what was last loaded
// or written. Content counts as persisted only once it is on disk: after a failed write the
// next `synchronize` tries again. Keys can be moved here once from the app's standard
// defaults; they leave the standard defaults only after they are on disk here.
//
//   auto defaults = CRUserDefaults::standardUserDefaults();
//   defaults->setString("abc", "com.example.key");
//   defaults->synchronize();
//
// Thread safety: every member may be called from any thread. The content is kept on the
// serial queue "dod.uzeruzaravi.CRUserDefaults.access", the file is read and written on
// "dod.uzeruzaravi.CRUserDefaults.io", and no call holds both at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/plist.h"

namespace platform {
class DispatchQueue;
}

class CRUserDefaults {
 public:
  // The shared instance, made on first use.
  static std::shared_ptr<CRUserDefaults> standardUserDefaults();

  // Loads the file. Prefer the shared instance; a second instance over the same file does
  // not see the first one's writes.
  CRUserDefaults();
  CRUserDefaults(const CRUserDefaults&) = delete;
  CRUserDefaults& operator=(const CRUserDefaults&) = delete;

  const std::string& directoryPath() const { return directoryPath_; }
  const std::string& filePath() const { return filePath_; }

  std::optional<platform::PlistValue> objectForKey(std::string_view key) const;
  platform::PlistValue::Dictionary dictionaryRepresentation() const;
  // A null value removes the key. A value that cannot be written to a property list is
  // refused with a console line.
  void setObject(platform::PlistValue value, std::string_view key);
  void removeObjectForKey(std::string_view key);
  void removeAllObjects();

  // Typed faces: a value of another type reads as nullopt, false or 0.
  std::optional<std::string> stringForKey(std::string_view key) const;
  bool boolForKey(std::string_view key) const;
  int64_t integerForKey(std::string_view key) const;
  void setString(std::optional<std::string> value, std::string_view key);
  void setBool(bool value, std::string_view key);
  void setInteger(int64_t value, std::string_view key);

  // Writes the content when it changed since it was last loaded or written. True when the
  // file now holds the content (nothing to write, or written); false after a failed write.
  bool synchronize();
  // Whether the last `synchronize` wrote the file.
  bool synchronizeWroteToDisk() const;
  void setSynchronizeWroteToDisk(bool wrote);

  // Reads the file; nullopt when there is none or it cannot be read. A folder standing
  // where the file belongs is removed.
  std::optional<platform::PlistValue::Dictionary> loadDefaults();

  // Moves the keys the app's standard defaults hold into this store. When any moved, this
  // store is synchronised and, once that succeeded, the keys leave the standard defaults.
  void migrateFromNSUserDefaults(const std::vector<std::string>& keys);
  // This store's value for `key`; else the standard defaults' value, moved here as above.
  std::optional<platform::PlistValue> objectForKeyByMigratingFromNSUserDefaults(
      const std::optional<std::string>& key);

 private:
  std::shared_ptr<platform::DispatchQueue> serialDictionaryQueue_;
  std::shared_ptr<platform::DispatchQueue> synchronizationQueue_;
  std::string directoryPath_;
  std::string filePath_;
  // On the access queue.
  bool synchronizeWroteToDisk_ = false;
  platform::PlistValue::Dictionary persistedDataDictionary_;
  platform::PlistValue::Dictionary dataDictionary_;
};
