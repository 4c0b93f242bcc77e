#include "sdk-core/core/endpoints.h"

#include <map>
#include <mutex>

#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/utilities/logger.h"

namespace {

constexpr const char* kInstallationsKey = "InstallationsBaseURL";
constexpr const char* kUploadKey = "UploadBaseURLs";
constexpr const char* kSettingsKey = "CrashReportingSettingsBaseURL";
constexpr int kFirstTarget = 1000;
constexpr int kLastTarget = 1003;

struct Table {
  std::string installations = "https://installations.telemetry.invalid";
  std::map<int, std::string> uploads = {{1000, "https://upload-1000.telemetry.invalid"},
                                        {1001, "https://upload-1001.telemetry.invalid"},
                                        {1002, "https://upload-1002.telemetry.invalid"},
                                        {1003, "https://upload-1003.telemetry.invalid"}};
  std::string settings = "https://settings.telemetry.invalid";
};

struct State {
  std::mutex mutex;
  bool loaded = false;
  Table table;
};

void forgetTable();

State& state() {
  static State* instance = [] {
    platform::addProcessStateReset(&forgetTable);
    return new State();
  }();
  return *instance;
}

// Back to the built-in table; the next read looks for the file beside the program again.
void forgetTable() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.loaded = false;
  s.table = Table();
}

platform::Error endpointsError(const std::filesystem::path& file, const std::string& reason) {
  return platform::Error("ruv.telemetry.core", 0,
                         {{platform::kErrorLocalizedDescriptionKey,
                           platform::PlistValue("Endpoints file " + file.string() + ": " + reason)}});
}

bool isHTTPURL(const std::string& text) {
  for (const char* scheme : {"http://", "https://"}) {
    const std::string prefix = scheme;
    if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

std::string withoutTrailingSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

// The table `file` describes over the built-in one, or the reason it does not.
platform::Status readTable(const std::filesystem::path& file, Table& table) {
  auto bytes = platform::readFileContents(file);
  if (!bytes) return endpointsError(file, "cannot be read");
  auto value = platform::decodePlist(*bytes);
  if (!value || !value->asDictionary()) return endpointsError(file, "is not a property-list dictionary");
  const auto& dictionary = *value->asDictionary();
  auto readURL = [&](const platform::PlistValue& entry, const std::string& key,
                     std::string& out) -> platform::Status {
    const std::string* text = entry.asString();
    if (!text || !isHTTPURL(*text)) return endpointsError(file, key + " is not an http(s) URL");
    out = withoutTrailingSlash(*text);
    return {};
  };
  if (auto it = dictionary.find(kInstallationsKey); it != dictionary.end()) {
    if (platform::Status read = readURL(it->second, kInstallationsKey, table.installations); !read.ok()) return read;
  }
  if (auto it = dictionary.find(kSettingsKey); it != dictionary.end()) {
    if (platform::Status read = readURL(it->second, kSettingsKey, table.settings); !read.ok()) return read;
  }
  if (auto it = dictionary.find(kUploadKey); it != dictionary.end()) {
    const auto* uploads = it->second.asDictionary();
    if (!uploads) return endpointsError(file, std::string(kUploadKey) + " is not a dictionary");
    for (const auto& [target, url] : *uploads) {
      int number = 0;
      try {
        size_t used = 0;
        number = std::stoi(target, &used);
        if (used != target.size()) number = 0;
      } catch (const std::exception&) {
        number = 0;
      }
      if (number < kFirstTarget || number > kLastTarget) {
        return endpointsError(file, std::string(kUploadKey) + " has an unknown target \"" + target + "\"");
      }
      platform::Status read = readURL(url, std::string(kUploadKey) + "." + target, table.uploads[number]);
      if (!read.ok()) return read;
    }
  }
  return {};
}

// The table, reading the file beside the program on first use. Call with the lock held.
Table& loadedTable(State& s) {
  if (!s.loaded) {
    s.loaded = true;
    const auto file =
        platform::FileLocations::resourceDirectory() / (std::string(kTELEndpointsResourceName) + ".plist");
    if (std::filesystem::exists(file)) {
      Table table;
      if (platform::Status read = readTable(file, table); !read.ok()) {
        TELLoggerLogError("[TelemetryCore]", "I-COR000040", "%s", read.error().localizedDescription().c_str());
      } else {
        s.table = std::move(table);
      }
    }
  }
  return s.table;
}

}  // namespace

std::string TELEndpoints::installationsBaseURL() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return loadedTable(s).installations;
}

std::optional<std::string> TELEndpoints::uploadBaseURLForTarget(int target) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  const auto& uploads = loadedTable(s).uploads;
  auto it = uploads.find(target);
  if (it == uploads.end()) return std::nullopt;
  return it->second;
}

std::string TELEndpoints::crashReportingSettingsBaseURL() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return loadedTable(s).settings;
}

platform::Status TELEndpoints::useFile(const std::filesystem::path& file) {
  Table table;
  if (platform::Status read = readTable(file, table); !read.ok()) return read;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.loaded = true;
  s.table = std::move(table);
  return {};
}

void TELEndpoints::setInstallationsBaseURL(std::string url) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  loadedTable(s).installations = withoutTrailingSlash(std::move(url));
}

void TELEndpoints::setUploadBaseURL(int target, std::string url) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (target >= kFirstTarget && target <= kLastTarget)
    loadedTable(s).uploads[target] = withoutTrailingSlash(std::move(url));
}

void TELEndpoints::setCrashReportingSettingsBaseURL(std::string url) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  loadedTable(s).settings = withoutTrailingSlash(std::move(url));
}
