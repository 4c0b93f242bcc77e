// Rollouts recording: the bounded copy of the device's rollout assignments, the snapshot
// lines appended to the current report ("rollouts.crrecord"), and the JSON text that error
// records and custom exceptions carry.
//
// An update keeps at most 128 assignments and cuts parameter values longer than 256
// characters to 256 UTF-16 units (on a character boundary; the caller's assignment object is
// changed in place). Every text field is stored as the hex of its UTF-8 bytes:
//
//   {"rollouts":[{"parameter_key":"6b","parameter_value":"76","rollout_id":"72",
//                 "template_version":1,"variant_id":"61"}]}
//
// Thread safety: updates and reads may come from any thread (the assignments are guarded by
// a lock); file appends run on the crash context's logging queue.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/rollouts_interop.h"

// Where the snapshots go, and where the manager's diagnostics go.
class CRPersistenceLog {
 public:
  virtual ~CRPersistenceLog() = default;
  virtual void updateRolloutsStateToPersistenceWithRollouts(const std::string& rollouts,
                                                            const std::string& reportID) = 0;
  virtual void debugLogWithMessage(const std::string& message) = 0;
};

struct CRwiftFileUtility {
  // Lowercase hex of the UTF-8 bytes: "abc" -> "616263".
  static std::string stringToHexConverterFor(const std::string& text);
};

struct CREncodedRolloutAssignment {
  explicit CREncodedRolloutAssignment(const RolloutAssignment& assignment);
  std::string rolloutId;
  std::string variantId;
  int64_t templateVersion;
  std::string parameterKey;
  std::string parameterValue;
};

struct CREncodedRolloutsState {
  explicit CREncodedRolloutsState(std::vector<CREncodedRolloutAssignment> assignments)
      : rollouts(std::move(assignments)) {}
  std::vector<CREncodedRolloutAssignment> rollouts;
};

class CRRemoteConfigManager {
 public:
  static constexpr size_t kMaxAssignments = 128;
  static constexpr size_t kMaxParameterValueLength = 256;

  CRRemoteConfigManager(std::shared_ptr<TELRemoteConfigInterop> remoteConfig,
                        std::shared_ptr<CRPersistenceLog> persistenceDelegate);

  // A copy of the kept assignments.
  RolloutsState::Assignments rolloutAssignment() const;
  // Keeps the state's assignments (bounded as above) and appends a snapshot for `reportID`.
  void updateRolloutsState(const RolloutsState& rolloutsState, const std::string& reportID);
  // The kept assignments as a JSON array with sorted keys ("[]" for none).
  std::optional<std::string> getRolloutAssignmentsEncodedJsonString() const;

  const std::shared_ptr<TELRemoteConfigInterop>& remoteConfig() const { return remoteConfig_; }

 private:
  std::vector<CREncodedRolloutAssignment> encodedAssignments() const;

  mutable std::mutex lock_;
  RolloutsState::Assignments rolloutAssignment_;
  std::shared_ptr<TELRemoteConfigInterop> remoteConfig_;
  std::shared_ptr<CRPersistenceLog> persistenceDelegate_;
};

// Appends each snapshot as one line to <active>/<report ID>/rollouts.crrecord. A report
// folder that does not exist is never created: the snapshot is then dropped.
class CRRolloutsPersistenceManager : public CRPersistenceLog {
 public:
  explicit CRRolloutsPersistenceManager(std::shared_ptr<CRFileManager> fileManager)
      : fileManager_(std::move(fileManager)) {}

  void updateRolloutsStateToPersistenceWithRollouts(const std::string& rollouts, const std::string& reportID) override;
  void debugLogWithMessage(const std::string& message) override;

 private:
  std::shared_ptr<CRFileManager> fileManager_;
};
