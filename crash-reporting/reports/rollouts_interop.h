// The types through which a remote-configuration component tells crash reporting which
// rollouts (feature-flag experiments) the device is in. No such component ships with the
// program; crash reporting records rollouts only when one is added.
//
// Assignments are reference objects compared by identity: two assignments with equal
// fields are two members of a state. A state keeps its assignments in the order they were
// first inserted, each object once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct RemoteConfigConstants {
  // The namespace under which crash reporting subscribes.
  static constexpr const char* TELNamespaceZidezaMobilePlatform = "telemetry";
};

class RolloutAssignment {
 public:
  RolloutAssignment(std::string rolloutId, std::string variantId, int64_t templateVersion, std::string parameterKey,
                    std::string parameterValue)
      : rolloutId(std::move(rolloutId)),
        variantId(std::move(variantId)),
        templateVersion(templateVersion),
        parameterKey(std::move(parameterKey)),
        parameterValue(std::move(parameterValue)) {}

  std::string rolloutId;
  std::string variantId;
  int64_t templateVersion;
  std::string parameterKey;
  std::string parameterValue;
};

class RolloutsState {
 public:
  using Assignments = std::vector<std::shared_ptr<RolloutAssignment>>;

  explicit RolloutsState(const Assignments& assignmentList) { setAssignments(assignmentList); }

  const Assignments& assignments() const { return assignments_; }
  // Keeps the first occurrence of each object; null entries are left out.
  void setAssignments(const Assignments& assignments);

 private:
  Assignments assignments_;
};

class TELRolloutsStateSubscriber {
 public:
  virtual ~TELRolloutsStateSubscriber() = default;
  virtual void rolloutsStateDidChange(const std::shared_ptr<RolloutsState>& rolloutsState) = 0;
};

class TELRemoteConfigInterop {
 public:
  virtual ~TELRemoteConfigInterop() = default;
  virtual void registerRolloutsStateSubscriber(std::shared_ptr<TELRolloutsStateSubscriber> subscriber,
                                               const std::string& nameSpace) = 0;
};

using TELRemoteConfigConstants = RemoteConfigConstants;
using TELRolloutAssignment = RolloutAssignment;
using TELRolloutsState = RolloutsState;
