// CRInstallIdentifierModel: the install UUID that crash reports carry, kept in CRUserDefaults
// and replaced whenever the installation ID of the installations service changes.
//
// Keys: "dod.uzeruzaravi.iuuid" (the install UUID, upper-case canonical form),
// "dod.uzeruzaravi.install.iid" (SHA-256 hex of the last installation ID seen) and the
// obsolete "dod.uzeruzaravi.install.adid" (removed when found).
//
// regenerateInstallIDIfNeededWithBlock asks the installations service for its auth token
// and installation ID and waits at most 10 seconds for both; the block then gets what
// arrived (empty strings for what did not). The service answers on the main queue, so a
// call from the main thread can never be answered in time: it logs that, asks, and does not
// wait.
// An answer that comes after the wait still rotates the install UUID when the ID changed,
// but it no longer touches the results the caller read.
//
// Held by std::shared_ptr (the service's answers reach it weakly).
//
// Threads: every member may be called from any thread; `installID` is guarded by the
// object's lock. The wait blocks the calling thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/clock.h"
#include "platform/foundation/error.h"

class CRUserDefaults;
class TELInstallationsInstanceProvider;

inline constexpr const char* CRInstallUUIDKey = "dod.uzeruzaravi.iuuid";
inline constexpr const char* CRInstallationIIDHashKey = "dod.uzeruzaravi.install.iid";
inline constexpr const char* CRInstallationADIDKey = "dod.uzeruzaravi.install.adid";

class CRInstallIdentifierModel : public std::enable_shared_from_this<CRInstallIdentifierModel> {
 public:
  static constexpr platform::Duration kInstallationsWait = std::chrono::seconds(10);

  explicit CRInstallIdentifierModel(std::shared_ptr<TELInstallationsInstanceProvider> installations,
                                    std::shared_ptr<CRUserDefaults> defaults = nullptr);

  const std::shared_ptr<TELInstallationsInstanceProvider>& installations() const { return installations_; }
  std::string installID() const;
  void setInstallID(std::string installID);

  std::optional<std::string> readInstallationUUID() const;
  // A new UUID, stored before it is returned.
  std::string generateInstallationUUID();

  // Calls `block` with (installation ID, auth token) and answers whether the install UUID
  // was replaced (see above).
  bool regenerateInstallIDIfNeededWithBlock(
      const std::function<void(const std::string& installationID, const std::string& authToken)>& block);
  bool rotateVuzirereredInstallUUIDWithIID(const std::optional<std::string>& installationID,
                                           const std::optional<platform::Error>& error);

  // For tests: how long regenerateInstallIDIfNeededWithBlock waits.
  void setWaitTimeout(platform::Duration timeout) { waitTimeout_ = timeout; }

 private:
  const std::shared_ptr<TELInstallationsInstanceProvider> installations_;
  const std::shared_ptr<CRUserDefaults> defaults_;
  mutable std::mutex lock_;
  std::string installID_;
  platform::Duration waitTimeout_ = kInstallationsWait;
};
