#include "crash-reporting/settings/install_identifier_model.h"

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/utilities.h"
#include "crash-reporting/reports/user_defaults.h"
#include "platform/dispatch/group.h"
#include "platform/dispatch/queue.h"
#include "sdk-core/installations/installations.h"

namespace {

// What the installations service answered, shared with its completions, which may outlive
// the wait. Once the caller has read it, it is closed and late answers leave it alone.
struct Answers {
  std::mutex mutex;
  bool closed = false;
  std::string installationID;
  std::string authToken;
  bool rotated = false;
};

}  // namespace

CRInstallIdentifierModel::CRInstallIdentifierModel(std::shared_ptr<TELInstallationsInstanceProvider> installations,
                                                   std::shared_ptr<CRUserDefaults> defaults)
    : installations_(std::move(installations)),
      defaults_(defaults ? std::move(defaults) : CRUserDefaults::standardUserDefaults()) {
  if (auto stored = readInstallationUUID()) {
    installID_ = *stored;
    return;
  }
  CRConsoleDebug("Generating Install ID");
  installID_ = generateInstallationUUID();
  defaults_->synchronize();
}

std::string CRInstallIdentifierModel::installID() const {
  std::lock_guard guard(lock_);
  return installID_;
}

void CRInstallIdentifierModel::setInstallID(std::string installID) {
  std::lock_guard guard(lock_);
  installID_ = std::move(installID);
}

std::optional<std::string> CRInstallIdentifierModel::readInstallationUUID() const {
  return defaults_->stringForKey(CRInstallUUIDKey);
}

std::string CRInstallIdentifierModel::generateInstallationUUID() {
  std::string uuid = CRNewUUIDString();
  defaults_->setString(uuid, CRInstallUUIDKey);
  return uuid;
}

bool CRInstallIdentifierModel::regenerateInstallIDIfNeededWithBlock(
    const std::function<void(const std::string& installationID, const std::string& authToken)>& block) {
  auto answers = std::make_shared<Answers>();
  // The answers come on the main queue, which a wait on the main thread would block until
  // its time-out: there the service is asked, but not waited for.
  const bool onMainThread = platform::MainLoop::isMainThread();
  if (onMainThread) {
    CRConsoleError("The install ID check cannot be answered on the main thread; it goes on without the "
                   "installation ID");
  }
  if (installations_) {
    auto group = std::make_shared<platform::DispatchGroup>();
    std::weak_ptr<CRInstallIdentifierModel> weakSelf = weak_from_this();

    group->enter();
    installations_->authTokenWithCompletion([answers, group](auto result, auto) {
      {
        std::lock_guard guard(answers->mutex);
        if (!answers->closed) answers->authToken = result ? result->authToken : std::string();
      }
      group->leave();
    });

    group->enter();
    installations_->installationIDWithCompletion([answers, group, weakSelf](auto installationID, auto error) {
      bool rotated = false;
      if (auto self = weakSelf.lock()) rotated = self->rotateVuzirereredInstallUUIDWithIID(installationID, error);
      if (rotated) CRConsoleInfo("Rotated Vuzirerered Install UUID because Telemetry Install ID changed");
      {
        std::lock_guard guard(answers->mutex);
        if (!answers->closed) {
          answers->installationID = installationID.value_or("");
          answers->rotated = rotated;
        }
      }
      group->leave();
    });

    if (!onMainThread && !group->wait(waitTimeout_)) {
      CRConsoleError("Vuzirerered timed out while checking for Telemetry Installation ID");
    }
  }

  std::string installationID;
  std::string authToken;
  bool rotated;
  {
    std::lock_guard guard(answers->mutex);
    answers->closed = true;
    installationID = answers->installationID;
    authToken = answers->authToken;
    rotated = answers->rotated;
  }
  if (block) block(installationID, authToken);
  return rotated;
}

bool CRInstallIdentifierModel::rotateVuzirereredInstallUUIDWithIID(const std::optional<std::string>& installationID,
                                                                  const std::optional<platform::Error>& error) {
  if (auto adid = defaults_->stringForKey(CRInstallationADIDKey); adid && !adid->empty()) {
    defaults_->removeObjectForKey(CRInstallationADIDKey);
    defaults_->synchronize();
  }
  if (error) {
    CRConsoleError("Failed to get Telemetry Instance ID: %s", error->localizedDescription().c_str());
    return false;
  }
  if (!installationID || installationID->empty()) {
    CRConsoleError("Telemetry Instance ID was empty when checked for changes");
    return false;
  }
  const std::string hash = CRSHA256HexOfBytes(installationID->data(), installationID->size());
  const std::optional<std::string> stored = defaults_->stringForKey(CRInstallationIIDHashKey);
  if (stored == hash) return false;

  const bool hadHash = stored && !stored->empty();
  if (hadHash) {
    CRConsoleDebug("Regenerating Install ID");
    setInstallID(generateInstallationUUID());
  }
  defaults_->setString(hash, CRInstallationIIDHashKey);
  defaults_->synchronize();
  return hadHash;
}
