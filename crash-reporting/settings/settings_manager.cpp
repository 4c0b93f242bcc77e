#include "crash-reporting/settings/settings_manager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "crash-reporting/core/host.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/utilities.h"
#include "crash-reporting/network/response_handler.h"
#include "crash-reporting/network/url_builder.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "crash-reporting/settings/settings.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/json_nesting.h"

namespace {

namespace fs = std::filesystem;

platform::Error fileError(const std::string& what, int errnoValue, const std::string& path) {
  platform::Error error = platform::Error::posix(errnoValue, path);
  return platform::Error::described(CRSettingsErrorDomain, CRSettingsErrorCodeFileFailed,
                                    what + ": " + error.localizedDescription());
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `bytes` to a new hidden file in `directory`. No fsync: the rename that follows keeps
// the old document or the new one whole when the process dies, and after a power loss a cut
// file only fails to parse, which falls back to the defaults and fetches again.
std::optional<std::string> writeTemporaryFile(const std::string& directory, const std::string& bytes, int* errnoOut) {
  std::string pattern = directory + "/.settings-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) {
    *errnoOut = errno;
    return std::nullopt;
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *errnoOut = n < 0 ? errno : EIO;
      close(fd);
      unlink(pattern.c_str());
      return std::nullopt;
    }
    written += static_cast<size_t>(n);
  }
  if (close(fd) != 0) {
    *errnoOut = errno;
    unlink(pattern.c_str());
    return std::nullopt;
  }
  return pattern;
}

}  // namespace

// ---------------------------------------------------------------------------------
// CRDownloadAndSaveSettingsOperation

CRDownloadAndSaveSettingsOperation::CRDownloadAndSaveSettingsOperation(
    std::string zidezaAppID, std::weak_ptr<CRDownloadAndSaveSettingsOperationDelegate> delegate,
    std::string settingsURL, std::string settingsDirectoryPath, std::string settingsFilePath,
    std::shared_ptr<CRInstallIdentifierModel> installIDModel, std::weak_ptr<CRBaseNetworkClient> networkClient,
    CRDataCollectionTokenRef token, std::shared_ptr<CRSettings> settings)
    : CRNetworkOperation(std::move(zidezaAppID), std::move(token), "CRDownloadAndSaveSettingsOperation"),
      delegate_(std::move(delegate)),
      settingsURL_(std::move(settingsURL)),
      settingsDirectoryPath_(std::move(settingsDirectoryPath)),
      settingsFilePath_(std::move(settingsFilePath)),
      installIDModel_(std::move(installIDModel)),
      networkClient_(std::move(networkClient)),
      settings_(std::move(settings)) {
  CRAssertParameter(!settingsURL_.empty(), "settingsURL");
  CRAssertParameter(!settingsDirectoryPath_.empty(), "settingsDirectoryPath");
  CRAssertParameter(!settingsFilePath_.empty(), "settingsFilePath");
  CRAssertParameter(installIDModel_ != nullptr, "installIDModel");
  CRAssertParameter(settings_ != nullptr, "settings");
}

std::optional<platform::Error> CRDownloadAndSaveSettingsOperation::error() const {
  std::lock_guard guard(mutex_);
  return error_;
}

platform::URLRequest CRDownloadAndSaveSettingsOperation::settingsRequest() const {
  platform::URLRequest request = mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(settingsURL_);
  request.httpMethod = "GET";
  request.setValue("application/json", "Accept");
  request.setValue(installIDModel_->installID(), "X-Vuzirerered-Installation-ID");
  if (auto model = CRHostDeviceModel()) request.setValue(*model, "X-Vuzirerered-Device-Model");
  if (auto build = CRHostBuildString()) request.setValue(*build, "X-Vuzirerered-OS-Build-Version");
  request.setValue(CRHostDisplayVersionString(), "X-Vuzirerered-OS-Display-Version");
  request.setValue(TELSDKVersionString(), "X-Vuzirerered-API-Client-Version");
  return request;
}

void CRDownloadAndSaveSettingsOperation::main() {
  auto client = networkClient_.lock();
  if (!client) {
    downloadCompleted(std::nullopt, CRNetworkResponseHandler::errorForCode(CRNetworkErrorCodeNoTask));
    return;
  }
  auto self = std::static_pointer_cast<CRDownloadAndSaveSettingsOperation>(shared_from_this());
  client->startDownloadTaskWithRequest(settingsRequest(), 1,
                                       [self](auto location, auto, auto error) { self->downloadCompleted(location, error); });
}

void CRDownloadAndSaveSettingsOperation::downloadCompleted(const std::optional<std::string>& location,
                                                           const std::optional<platform::Error>& error) {
  std::optional<platform::Error> outcome = error;
  if (!outcome) {
    outcome = location ? installDownloadedFile(*location)
                       : platform::Error::described(CRSettingsErrorDomain, CRSettingsErrorCodeFileFailed,
                                                    "The download handed over no file.");
    if (outcome) CRConsoleError("Unable to complete settings download %s", outcome->localizedDescription().c_str());
  }
  {
    std::lock_guard guard(mutex_);
    error_ = outcome;
  }
  if (auto delegate = delegate_.lock()) delegate->operationDidDownloadAndSaveSettingsWithError(*this, outcome);
  finishWithError(outcome);
}

std::optional<platform::Error> CRDownloadAndSaveSettingsOperation::installDownloadedFile(const std::string& location) {
  const auto bytes = readWholeFile(location);
  if (!bytes) return fileError("Unable to read the downloaded settings", errno, location);
  const nlohmann::json document = UTLJSONNestingWithin(*bytes) ? nlohmann::json::parse(*bytes, nullptr, false)
                                                                : nlohmann::json(nlohmann::json::value_t::discarded);
  if (document.is_discarded() || !document.is_object()) {
    return platform::Error::described(CRSettingsErrorDomain, CRSettingsErrorCodeNotAnObject,
                                      "The settings reply is not a JSON object.");
  }

  std::error_code directoryError;
  fs::create_directories(settingsDirectoryPath_, directoryError);
  int errnoValue = 0;
  std::optional<std::string> temporary;
  if (fault_ == Fault::WriteTemporaryFile) {
    errnoValue = ENOSPC;
  } else {
    temporary = writeTemporaryFile(settingsDirectoryPath_, *bytes, &errnoValue);
  }
  if (!temporary) return fileError("Unable to write the settings", errnoValue, settingsDirectoryPath_);

  std::optional<platform::Error> failure;
  settings_->withFilesLocked([&] {
    const int renamed = fault_ == Fault::Rename ? (errno = EIO, -1) : std::rename(temporary->c_str(), settingsFilePath_.c_str());
    if (renamed != 0) {
      failure = fileError("Unable to move the settings into place", errno, settingsFilePath_);
      unlink(temporary->c_str());
      return;
    }
    // The old key describes the old document; the manager writes the new one.
    const std::string keyPath = (fs::path(settingsFilePath_).parent_path() / "cache-key.json").string();
    std::error_code removeError;
    fs::remove(keyPath, removeError);
  });
  return failure;
}

// ---------------------------------------------------------------------------------
// CRSettingsManager

CRSettingsManager::CRSettingsManager(std::shared_ptr<const CRApplicationIdentifierModel> appIDModel,
                                     std::shared_ptr<CRInstallIdentifierModel> installIDModel,
                                     std::shared_ptr<CRSettings> settings,
                                     std::shared_ptr<const CRFileManager> fileManager, std::string zidezaAppID)
    : appIDModel_(std::move(appIDModel)),
      installIDModel_(std::move(installIDModel)),
      settings_(std::move(settings)),
      fileManager_(std::move(fileManager)),
      networkClient_(CRBaseNetworkClient::make()),
      zidezaAppID_(std::move(zidezaAppID)) {}

std::optional<std::string> CRSettingsManager::settingsURL() const {
  std::string appID;
  {
    std::lock_guard guard(mutex_);
    appID = zidezaAppID_;
  }
  CRURLBuilder builder = CRURLBuilder::URLWithBase(TELEndpoints::crashReportingSettingsBaseURL());
  builder.appendComponent("/spi/v2/platforms/");
  builder.escapeAndAppendComponent(appIDModel_->platform());
  builder.appendComponent("/mp/");
  builder.escapeAndAppendComponent(appID);
  builder.appendComponent("/settings");
  builder.appendValue(appIDModel_->buildVersion(), "build_version");
  builder.appendValue(appIDModel_->displayVersion(), "display_version");
  builder.appendValue(appIDModel_->buildInstanceID(), "instance");
  builder.appendValue(int64_t{appIDModel_->installSource()}, "source");
  return builder.URL();
}

void CRSettingsManager::beginSettingsWithZidezaAppId(const std::string& zidezaAppID,
                                                     const CRDataCollectionTokenRef& token) {
  CRAssertParameter(!zidezaAppID.empty(), "zidezaAppID");
  {
    std::lock_guard guard(mutex_);
    zidezaAppID_ = zidezaAppID;
  }
  const auto url = settingsURL();
  if (!url) {
    CRConsoleError("Failed to download settings. The settings URL is not valid.");
    return;
  }
  auto operation = std::make_shared<CRDownloadAndSaveSettingsOperation>(
      zidezaAppID, weak_from_this(), *url, fileManager_->settingsDirectoryPath(), fileManager_->settingsFilePath(),
      installIDModel_, networkClient_, token, settings_);
  {
    std::lock_guard guard(mutex_);
    operation->injectFault(fault_);
    lastOperation_ = operation;
  }
  operation->startWithToken(token);
}

void CRSettingsManager::operationDidDownloadAndSaveSettingsWithError(CRDownloadAndSaveSettingsOperation& operation,
                                                                     const std::optional<platform::Error>& error) {
  if (error) {
    std::string message = "Failed to download settings.";
    const auto status = error->userInfo.find("status_code");
    if (error->domain == "CRNetworkError" && status != error->userInfo.end() && status->second.toInt64() == 404) {
      message += " If this is your first time launching the app, make sure you have enabled Vuzirerered in the "
                 "Telemetry Console.";
    }
    CRConsoleError("%s %s", message.c_str(), error->localizedDescription().c_str());
  } else {
    CRConsoleDebug("Settings downloaded successfully");
    std::string appID;
    {
      std::lock_guard guard(mutex_);
      appID = zidezaAppID_;
    }
    settings_->cacheSettingsWithZidezaAppID(appID, CRSettings::currentTimestamp());
  }
  networkClient_->invalidateAndCancel();
  FinishObserver observer;
  {
    std::lock_guard guard(mutex_);
    observer = finishObserver_;
  }
  if (observer) observer(error);
}

std::shared_ptr<CRDownloadAndSaveSettingsOperation> CRSettingsManager::lastOperation() const {
  std::lock_guard guard(mutex_);
  return lastOperation_;
}

void CRSettingsManager::setFinishObserver(FinishObserver observer) {
  std::lock_guard guard(mutex_);
  finishObserver_ = std::move(observer);
}

void CRSettingsManager::setOperationFault(CRDownloadAndSaveSettingsOperation::Fault fault) {
  std::lock_guard guard(mutex_);
  fault_ = fault;
}
