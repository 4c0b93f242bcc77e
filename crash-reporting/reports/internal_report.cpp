#include "crash-reporting/reports/internal_report.h"

#include <sys/stat.h>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/section_reader.h"

namespace {

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

std::optional<platform::Date> timeOf(const std::optional<std::vector<nlohmann::json>>& sections, const char* key) {
  if (!sections || sections->empty()) return std::nullopt;
  const nlohmann::json* record = member(sections->front(), key);
  const nlohmann::json* time = record ? member(*record, "time") : nullptr;
  const auto seconds = time ? CRJSONInt64(*time) : std::nullopt;
  if (!seconds) return std::nullopt;
  return platform::Date::fromTimeIntervalSince1970(static_cast<double>(*seconds));
}

}  // namespace

std::shared_ptr<CRInternalReport> CRInternalReport::reportWithPath(const std::string& path) {
  const auto sections = readCRFileAtPath(path + "/metadata.crrecord");
  std::optional<std::string> identifier;
  if (sections && !sections->empty()) {
    const nlohmann::json* identity = member(sections->front(), "identity");
    const nlohmann::json* session = identity ? member(*identity, "session_id") : nullptr;
    if (session != nullptr && session->is_string()) identifier = session->get<std::string>();
  }
  if (!identifier) CRConsoleError("Unable to read identifier at path %s", path.c_str());
  return reportWithPath(path, identifier);
}

std::shared_ptr<CRInternalReport> CRInternalReport::reportWithPath(const std::optional<std::string>& path,
                                                                   const std::optional<std::string>& identifier) {
  if (!path || !identifier) return nullptr;
  return std::make_shared<CRInternalReport>(*path, *identifier);
}

CRInternalReport::CRInternalReport(std::string path, std::string executionIdentifier)
    : identifier_(std::move(executionIdentifier)), path_(std::move(path)) {}

const std::vector<std::string>& CRInternalReport::eventFileNames() {
  static const std::vector<std::string> names = {
      "exception.crrecord",          "signal.crrecord",         "custom_exception_a.crrecord",
      "custom_exception_b.crrecord", "metric_kit_fatal.crrecord", "metric_kit_nonfatal.crrecord",
      "mach_exception.crrecord",     "errors_a.crrecord",       "errors_b.crrecord"};
  return names;
}

const std::vector<std::string>& CRInternalReport::crashFileNames() {
  static const std::vector<std::string> names = {"exception.crrecord", "mach_exception.crrecord", "signal.crrecord",
                                                 "metric_kit_fatal.crrecord", "custom_fatal.crrecord"};
  return names;
}

std::string CRInternalReport::directoryName() const {
  std::string path = path_;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CRInternalReport::pathForContentFile(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

bool CRInternalReport::hasAnyEvents() const {
  for (const auto& name : eventFileNames()) {
    if (exists(pathForContentFile(name))) return true;
  }
  return false;
}

bool CRInternalReport::isCrash() const {
  for (const auto& name : crashFileNames()) {
    if (exists(pathForContentFile(name))) return true;
  }
  return false;
}

void CRInternalReport::enumerateSymbolicatableFilesInContent(const std::function<void(const std::string&)>& block) const {
  for (const auto& name : crashFileNames()) block(pathForContentFile(name));
}

std::optional<std::vector<nlohmann::json>> CRInternalReport::readCRFileAtPath(const std::string& path) {
  auto sections = CRFileReadSections(path.c_str(), false);
  if (!sections || sections->empty()) return std::nullopt;
  return sections;
}

const std::vector<nlohmann::json>& CRInternalReport::metadataSections() {
  if (!metadataSections_) metadataSections_ = readCRFileAtPath(metadataPath()).value_or(std::vector<nlohmann::json>{});
  return *metadataSections_;
}

std::optional<std::string> CRInternalReport::metadataString(size_t line, const char* section, const char* key) {
  const auto& sections = metadataSections();
  if (sections.size() <= line) return std::nullopt;
  const nlohmann::json* object = member(sections[line], section);
  const nlohmann::json* value = object ? member(*object, key) : nullptr;
  if (value == nullptr || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

platform::Date CRInternalReport::dateCreated() {
  const auto& sections = metadataSections();
  if (!sections.empty()) {
    const nlohmann::json* identity = member(sections.front(), "identity");
    const nlohmann::json* started = identity ? member(*identity, "started_at") : nullptr;
    if (const auto seconds = started ? CRJSONInt64(*started) : std::nullopt) {
      return platform::Date::fromTimeIntervalSince1970(static_cast<double>(*seconds));
    }
  }
  return platform::Date::fromTimeIntervalSince1970(0);
}

std::optional<std::string> CRInternalReport::orgID() { return metadataString(0, "identity", "org_id"); }
std::optional<std::string> CRInternalReport::OSVersion() { return metadataString(1, "host", "os_display_version"); }
std::optional<std::string> CRInternalReport::OSBuildVersion() { return metadataString(1, "host", "os_build_version"); }
std::optional<std::string> CRInternalReport::bundleVersion() { return metadataString(2, "application", "build_version"); }
std::optional<std::string> CRInternalReport::bundleShortVersionString() {
  return metadataString(2, "application", "display_version");
}

std::optional<platform::Date> CRInternalReport::crashedOnDate() const {
  if (!isCrash()) return std::nullopt;
  if (auto date = timeOf(readCRFileAtPath(pathForContentFile("mach_exception.crrecord")), "mach_exception")) {
    return date;
  }
  return timeOf(readCRFileAtPath(pathForContentFile("signal.crrecord")), "signal");
}
