// Bundle: a folder of read-only resources described by its Info.plist (any property-list
// form), standing in for the app's bundle.
//
// `Bundle::main()` is the program's own bundle: the resource directory unless start-up or a
// test chose another folder with `setMain`. Bundles are immutable after loading and safe to
// read from any thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/plist.h"

namespace platform {

class Bundle {
 public:
  // Loads <directory>/Info.plist. A bundle without a readable Info.plist has an empty info
  // dictionary.
  explicit Bundle(std::filesystem::path directory);

  static std::shared_ptr<const Bundle> main();
  static void setMain(std::filesystem::path directory);

  const std::filesystem::path& bundlePath() const { return path_; }
  const PlistValue::Dictionary& infoDictionary() const { return info_; }
  std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const;
  // "CFBundleIdentifier", when it is a string.
  std::optional<std::string> bundleIdentifier() const;

  // <bundle>/<name>.<extension> (or <name> when `extension` is empty) when that file exists.
  std::optional<std::filesystem::path> pathForResource(std::string_view name,
                                                       std::string_view extension) const;

 private:
  std::filesystem::path path_;
  PlistValue::Dictionary info_;
};

}  // namespace platform
