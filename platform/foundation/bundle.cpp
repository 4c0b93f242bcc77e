#include "platform/foundation/bundle.h"

#include <mutex>
#include <system_error>

#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"

namespace platform {

namespace fs = std::filesystem;

namespace {
std::mutex gMainMutex;
std::shared_ptr<const Bundle> gMain;
}  // namespace

Bundle::Bundle(fs::path directory) : path_(std::move(directory)) {
  if (auto bytes = readFileContents(path_ / "Info.plist")) {
    if (auto root = decodePlist(*bytes); root && root->asDictionary() != nullptr) {
      info_ = std::move(*root->asDictionary());
    }
  }
}

std::shared_ptr<const Bundle> Bundle::main() {
  std::lock_guard lock(gMainMutex);
  if (!gMain) gMain = std::make_shared<const Bundle>(FileLocations::resourceDirectory());
  return gMain;
}

void Bundle::setMain(fs::path directory) {
  // Back to the bundle of the resource directory, read again at the next main().
  addProcessStateReset(+[] {
    std::lock_guard lock(gMainMutex);
    gMain.reset();
  });
  auto bundle = std::make_shared<const Bundle>(std::move(directory));
  std::lock_guard lock(gMainMutex);
  gMain = std::move(bundle);
}

std::optional<PlistValue> Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  auto it = info_.find(key);
  if (it == info_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
  auto it = info_.find("CFBundleIdentifier");
  if (it == info_.end() || it->second.asString() == nullptr) return std::nullopt;
  return *it->second.asString();
}

std::optional<fs::path> Bundle::pathForResource(std::string_view name,
                                                std::string_view extension) const {
  if (name.empty()) return std::nullopt;
  std::string fileName(name);
  if (!extension.empty()) {
    fileName += '.';
    fileName += extension;
  }
  fs::path candidate = (path_ / fileName).lexically_normal();
  // A resource name never leads out of the bundle.
  auto relative = candidate.lexically_relative(path_.lexically_normal());
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  std::error_code error;
  if (!fs::is_regular_file(candidate, error)) return std::nullopt;
  return candidate;
}

}  // namespace platform
