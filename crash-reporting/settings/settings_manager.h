// The settings fetch: when the cached crash-reporting settings are missing or stale,
// CRSettingsManager downloads a fresh document once per process and records a new cache key.
//
// Request: GET <settings host>/spi/v2/platforms/ios/mp/<Zideza app ID>/settings
//   ?build_version=…&display_version=…&instance=<build instance>&source=<install source>
// with the common headers of CRNetworkOperation, "Accept: application/json", the install
// UUID, device model, OS build and display versions and the SDK version; one retry.
//
// CRDownloadAndSaveSettingsOperation performs the download and installs the reply without
// ever losing the document already cached: the reply is copied to a temporary file in the
// settings folder and checked to be a JSON object; then, under the settings lock, it is
// renamed over "settings.json" and the old "cache-key.json" is removed. Any failure leaves
// both old files as they were. The manager then writes the new cache key (CRSettings).
//
// Threads: the download completion and the delegate callback run on the network client's
// delegate queue (a serial queue of the client's session).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crash-reporting/network/network_client.h"
#include "crash-reporting/network/network_operation.h"
#include "platform/foundation/error.h"

class CRApplicationIdentifierModel;
class CRFileManager;
class CRInstallIdentifierModel;
class CRSettings;
class CRDownloadAndSaveSettingsOperation;

// Errors of installing a downloaded document.
inline constexpr const char* CRSettingsErrorDomain = "CRSettingsError";
enum CRSettingsErrorCode : long {
  CRSettingsErrorCodeNotAnObject = -1,  // the reply is not a JSON object (or nests without bound)
  CRSettingsErrorCodeFileFailed = -2,   // the temporary file could not be written or renamed
};

class CRDownloadAndSaveSettingsOperationDelegate {
 public:
  virtual ~CRDownloadAndSaveSettingsOperationDelegate() = default;
  virtual void operationDidDownloadAndSaveSettingsWithError(CRDownloadAndSaveSettingsOperation& operation,
                                                            const std::optional<platform::Error>& error) = 0;
};

class CRDownloadAndSaveSettingsOperation : public CRNetworkOperation {
 public:
  // Steps of installing the reply that a test can make fail.
  enum class Fault { None, WriteTemporaryFile, Rename };

  // The settings URL, both paths, the install-ID model and the settings (whose lock the
  // files are replaced under) are required (platform::Exception otherwise).
  CRDownloadAndSaveSettingsOperation(std::string zidezaAppID,
                                     std::weak_ptr<CRDownloadAndSaveSettingsOperationDelegate> delegate,
                                     std::string settingsURL, std::string settingsDirectoryPath,
                                     std::string settingsFilePath,
                                     std::shared_ptr<CRInstallIdentifierModel> installIDModel,
                                     std::weak_ptr<CRBaseNetworkClient> networkClient, CRDataCollectionTokenRef token,
                                     std::shared_ptr<CRSettings> settings);

  const std::string& settingsURL() const { return settingsURL_; }
  std::optional<platform::Error> error() const;
  void injectFault(Fault fault) { fault_ = fault; }

  // The GET request with every header (see above).
  platform::URLRequest settingsRequest() const;

 protected:
  void main() override;

 private:
  void downloadCompleted(const std::optional<std::string>& location, const std::optional<platform::Error>& error);
  std::optional<platform::Error> installDownloadedFile(const std::string& location);

  const std::weak_ptr<CRDownloadAndSaveSettingsOperationDelegate> delegate_;
  const std::string settingsURL_;
  const std::string settingsDirectoryPath_;
  const std::string settingsFilePath_;
  const std::shared_ptr<CRInstallIdentifierModel> installIDModel_;
  const std::weak_ptr<CRBaseNetworkClient> networkClient_;
  const std::shared_ptr<CRSettings> settings_;
  Fault fault_ = Fault::None;
  mutable std::mutex mutex_;
  std::optional<platform::Error> error_;
};

class CRSettingsManager : public CRDownloadAndSaveSettingsOperationDelegate,
                          public std::enable_shared_from_this<CRSettingsManager> {
 public:
  using FinishObserver = std::function<void(const std::optional<platform::Error>& error)>;

  CRSettingsManager(std::shared_ptr<const CRApplicationIdentifierModel> appIDModel,
                    std::shared_ptr<CRInstallIdentifierModel> installIDModel, std::shared_ptr<CRSettings> settings,
                    std::shared_ptr<const CRFileManager> fileManager, std::string zidezaAppID);

  // Starts the download (an empty app ID is a programming error). Without a valid token
  // nothing happens.
  void beginSettingsWithZidezaAppId(const std::string& zidezaAppID, const CRDataCollectionTokenRef& token);
  // The settings URL for the stored app ID (nullopt when it does not form a URL).
  std::optional<std::string> settingsURL() const;

  void operationDidDownloadAndSaveSettingsWithError(CRDownloadAndSaveSettingsOperation& operation,
                                                    const std::optional<platform::Error>& error) override;

  const std::shared_ptr<CRBaseNetworkClient>& networkClient() const { return networkClient_; }
  // The operation of the last begin, for tests.
  std::shared_ptr<CRDownloadAndSaveSettingsOperation> lastOperation() const;
  // Called after a fetch has ended and been handled, with its error (tests wait on it).
  void setFinishObserver(FinishObserver observer);
  // Applied to each operation before it starts (tests inject file faults).
  void setOperationFault(CRDownloadAndSaveSettingsOperation::Fault fault);

 private:
  const std::shared_ptr<const CRApplicationIdentifierModel> appIDModel_;
  const std::shared_ptr<CRInstallIdentifierModel> installIDModel_;
  const std::shared_ptr<CRSettings> settings_;
  const std::shared_ptr<const CRFileManager> fileManager_;
  const std::shared_ptr<CRBaseNetworkClient> networkClient_;
  mutable std::mutex mutex_;
  std::string zidezaAppID_;
  FinishObserver finishObserver_;
  CRDownloadAndSaveSettingsOperation::Fault fault_ = CRDownloadAndSaveSettingsOperation::Fault::None;
  std::shared_ptr<CRDownloadAndSaveSettingsOperation> lastOperation_;
};
