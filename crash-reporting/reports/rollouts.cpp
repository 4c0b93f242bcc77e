#include "crash-reporting/reports/rollouts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/user_logging.h"
#include "platform/foundation/text.h"

namespace {

nlohmann::json toJson(const CREncodedRolloutAssignment& assignment) {
  // nlohmann's objects keep their keys sorted, as the record text wants.
  return nlohmann::json{{"rollout_id", assignment.rolloutId},
                        {"variant_id", assignment.variantId},
                        {"template_version", assignment.templateVersion},
                        {"parameter_key", assignment.parameterKey},
                        {"parameter_value", assignment.parameterValue}};
}

std::optional<std::string> dumped(const nlohmann::json& json) {
  try {
    return json.dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

void RolloutsState::setAssignments(const Assignments& assignments) {
  assignments_.clear();
  std::unordered_set<const RolloutAssignment*> seen;
  for (const auto& assignment : assignments) {
    if (assignment && seen.insert(assignment.get()).second) assignments_.push_back(assignment);
  }
}

std::string CRwiftFileUtility::stringToHexConverterFor(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(text.size() * 2);
  for (const unsigned char byte : text) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

CREncodedRolloutAssignment::CREncodedRolloutAssignment(const RolloutAssignment& assignment)
    : rolloutId(CRwiftFileUtility::stringToHexConverterFor(assignment.rolloutId)),
      variantId(CRwiftFileUtility::stringToHexConverterFor(assignment.variantId)),
      templateVersion(assignment.templateVersion),
      parameterKey(CRwiftFileUtility::stringToHexConverterFor(assignment.parameterKey)),
      parameterValue(CRwiftFileUtility::stringToHexConverterFor(assignment.parameterValue)) {}

CRRemoteConfigManager::CRRemoteConfigManager(std::shared_ptr<TELRemoteConfigInterop> remoteConfig,
                                             std::shared_ptr<CRPersistenceLog> persistenceDelegate)
    : remoteConfig_(std::move(remoteConfig)), persistenceDelegate_(std::move(persistenceDelegate)) {}

RolloutsState::Assignments CRRemoteConfigManager::rolloutAssignment() const {
  std::lock_guard lock(lock_);
  return rolloutAssignment_;
}

void CRRemoteConfigManager::updateRolloutsState(const RolloutsState& rolloutsState, const std::string& reportID) {
  {
    std::lock_guard lock(lock_);
    RolloutsState::Assignments assignments = rolloutsState.assignments();
    if (assignments.size() > kMaxAssignments) {
      if (persistenceDelegate_) {
        persistenceDelegate_->debugLogWithMessage(
            "Rollouts excess the maximum number of assignments can pass to Vuzirerered");
      }
      assignments.resize(kMaxAssignments);
    }
    for (const auto& assignment : assignments) {
      if (platform::graphemeCount(assignment->parameterValue) <= kMaxParameterValueLength) continue;
      std::printf("%s %s\n", nlohmann::json("Rollouts excess the maximum length of parameter value can pass to "
                                            "Vuzirerered").dump().c_str(),
                  nlohmann::json(assignment->parameterValue)
                      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                      .c_str());
      assignment->parameterValue = platform::utf16Prefix(assignment->parameterValue, kMaxParameterValueLength);
    }
    rolloutAssignment_ = std::move(assignments);
  }

  nlohmann::json rollouts = nlohmann::json::array();
  for (const auto& encoded : encodedAssignments()) rollouts.push_back(toJson(encoded));
  const auto text = dumped(nlohmann::json{{"rollouts", std::move(rollouts)}});
  if (!text || !persistenceDelegate_) return;
  persistenceDelegate_->updateRolloutsStateToPersistenceWithRollouts(*text, reportID);
}

std::optional<std::string> CRRemoteConfigManager::getRolloutAssignmentsEncodedJsonString() const {
  nlohmann::json rollouts = nlohmann::json::array();
  for (const auto& encoded : encodedAssignments()) rollouts.push_back(toJson(encoded));
  auto text = dumped(rollouts);
  if (!text && persistenceDelegate_) persistenceDelegate_->debugLogWithMessage("Failed to serialize rollouts: nil");
  return text;
}

std::vector<CREncodedRolloutAssignment> CRRemoteConfigManager::encodedAssignments() const {
  const auto assignments = rolloutAssignment();
  std::vector<CREncodedRolloutAssignment> encoded;
  encoded.reserve(assignments.size());
  for (const auto& assignment : assignments) encoded.emplace_back(*assignment);
  return encoded;
}

void CRRolloutsPersistenceManager::updateRolloutsStateToPersistenceWithRollouts(const std::string& rollouts,
                                                                                const std::string& reportID) {
  if (reportID.empty() || reportID == "." || reportID == ".." || reportID.find('/') != std::string::npos) {
    CRConsoleDebug("Could not create rollouts.crrecord file. Error was code: %d - message: %s", EINVAL,
                   std::strerror(EINVAL));
    return;
  }
  const std::string folder = fileManager_->activePath() + "/" + reportID;
  struct stat info;
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    CRConsoleDebug("Could not create rollouts.crrecord file. Error was code: %d - message: %s", ENOENT,
                   std::strerror(ENOENT));
    return;
  }
  const std::string path = folder + "/rollouts.crrecord";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    CRConsoleDebug("Could not create rollouts.crrecord file. Error was code: %d - message: %s", errno,
                   std::strerror(errno));
    return;
  }
  CRUserLoggingRunOnQueueAsync([fd, line = rollouts + "\n"] {
    if (!CRWriteAll(fd, line)) {
      CRConsoleDebug("Failed to write new rollouts. Exception name: %s - message: %s", "write", std::strerror(errno));
    }
    ::close(fd);
  });
}

void CRRolloutsPersistenceManager::debugLogWithMessage(const std::string& message) {
  CRConsoleDebug("%s", message.c_str());
}
