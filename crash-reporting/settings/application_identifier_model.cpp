#include "crash-reporting/settings/application_identifier_model.h"

#include "crash-reporting/core/host.h"
#include "crash-reporting/core/macho_classes.h"
#include "crash-reporting/core/utilities.h"

std::shared_ptr<CRApplicationIdentifierModel> CRApplicationIdentifierModel::make() {
  return makeWithExecutablePath("/proc/self/exe");
}

std::shared_ptr<CRApplicationIdentifierModel> CRApplicationIdentifierModel::makeWithExecutablePath(
    const std::string& path) {
  const auto binary = CRMachOBinary::initWithURL(path);
  if (!binary) return nullptr;
  std::map<std::string, std::string> uuids;
  binary->enumerateUUIDs([&](const std::string& uuid, const std::string& architecture) {
    if (!uuid.empty()) uuids[architecture] = uuid;
  });
  return std::make_shared<CRApplicationIdentifierModel>(std::move(uuids));
}

CRApplicationIdentifierModel::CRApplicationIdentifierModel(std::map<std::string, std::string> architectureUUIDMap)
    : architectureUUIDMap_(std::move(architectureUUIDMap)),
      buildVersion_(CRAppBuildVersion()),
      displayVersion_(CRAppDisplayVersion()),
      installSource_(CRAppInstallSourceCode()) {
  // The map's keys are in ascending order already.
  std::string joined;
  for (const auto& [architecture, uuid] : architectureUUIDMap_) joined += uuid;
  buildInstanceID_ = CRSHA1HexOfBytes(joined.data(), joined.size());
}

std::string CRApplicationIdentifierModel::bundleID() const { return CRAppBundleIdentifierEscaped().value_or(""); }

std::string CRApplicationIdentifierModel::synthesizedVersion() const {
  return displayVersion_.value_or("(null)") + " (" + buildVersion_.value_or("(null)") + ")";
}
