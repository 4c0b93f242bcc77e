#include "crash-reporting/settings/settings_manager.h"
#include "crash-reporting/settings/testing/silent_installations.h"

#include <chrono>
#include <future>
#include <mutex>
#include <regex>

#include "crash-reporting/network/response_handler.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "crash-reporting/settings/tests/test_support.h"
#include "crash-reporting/reports/user_defaults.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/testing/rest_peer.h"
#include "sdk-core/utilities/logger.h"

namespace {

using namespace std::chrono_literals;
using settings_test::readFile;

constexpr const char* kRoute = "/spi/v2/platforms/ios/mp/*/settings";

class SettingsFetchTest : public settings_test::SettingsTest {
 protected:
  SettingsFetchTest() {
    TELEndpoints::setCrashReportingSettingsBaseURL(peer_.baseURL());
    UTLLoggerSetSink([this](UTLLoggerLevel, const std::string& line) {
      std::lock_guard lock(logMutex_);
      log_.push_back(line);
    });
    installIDModel_ = std::make_shared<CRInstallIdentifierModel>(std::make_shared<CRSilentInstallations>(),
                                                                 std::make_shared<CRUserDefaults>());
    makeManager();
  }

  // A manager fetches once (its client is spent afterwards), as at one launch.
  void makeManager() {
    manager_ = std::make_shared<CRSettingsManager>(appIDModel_, installIDModel_, settings_, fileManager_, kAppID);
    manager_->setOperationFault(fault_);
    // Retries run at once; the wait they would take is not under test here.
    manager_->networkClient()->setRetryScheduler([](double, platform::Block block) {
      platform::DispatchQueue::global()->async(std::move(block));
    });
  }
  ~SettingsFetchTest() override { UTLLoggerSetSink(nullptr); }

  // Runs one fetch and answers its error.
  std::optional<platform::Error> fetch() {
    if (manager_->networkClient()->isInvalidated()) makeManager();
    std::promise<std::optional<platform::Error>> finished;
    manager_->setFinishObserver([&](const std::optional<platform::Error>& error) { finished.set_value(error); });
    manager_->beginSettingsWithZidezaAppId(kAppID, CRDataCollectionToken::validToken());
    auto future = finished.get_future();
    EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
    return future.get();
  }

  // A valid cached document from an earlier launch.
  void cacheOldDocument() {
    settings_test::writeFile(settingsFile(), R"({"cache_duration": 7})");
    settings_->cacheSettingsWithZidezaAppID(kAppID, CRSettings::currentTimestamp());
    ASSERT_FALSE(settings_->isCacheExpired());
    oldKey_ = readFile(cacheKeyFile());
  }

  void expectOldFilesKept() {
    EXPECT_EQ(readFile(settingsFile()), R"({"cache_duration": 7})");
    EXPECT_EQ(readFile(cacheKeyFile()), oldKey_);
    EXPECT_EQ(settings_->cacheDurationSeconds(), 7u);
    // Nothing half-written is left beside them.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(settingsFile().parent_path())) ++entries;
    EXPECT_EQ(entries, 2u);
  }

  std::string joinedLog() {
    UTLLoggerFlush();
    std::lock_guard lock(logMutex_);
    std::string all;
    for (const auto& line : log_) all += line + "\n";
    return all;
  }

  ScriptedRestPeer peer_;
  std::shared_ptr<CRInstallIdentifierModel> installIDModel_;
  std::shared_ptr<CRSettingsManager> manager_;
  std::string oldKey_;
  CRDownloadAndSaveSettingsOperation::Fault fault_ = CRDownloadAndSaveSettingsOperation::Fault::None;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

TEST_F(SettingsFetchTest, ASuccessfulFetchReplacesTheDocumentAndWritesANewKey) {
  cacheOldDocument();
  const nlohmann::json document = {{"cache_duration", 86400}, {"features", {{"collect_metric_kit", true}}}};
  peer_.route("GET", kRoute, ScriptedRestPeer::json(200, document));
  const double before = CRSettings::currentTimestamp();
  EXPECT_FALSE(fetch());

  EXPECT_EQ(nlohmann::json::parse(readFile(settingsFile())), document);
  const auto key = nlohmann::json::parse(readFile(cacheKeyFile()));
  EXPECT_GE(key["created_at"].get<double>(), before);
  EXPECT_EQ(key["zideza_app_id"], kAppID);
  EXPECT_FALSE(settings_->isCacheExpired());
  EXPECT_EQ(settings_->cacheDurationSeconds(), 86400u);
  EXPECT_TRUE(settings_->metricKitCollectionEnabled());
  EXPECT_TRUE(manager_->networkClient()->isInvalidated());

  ASSERT_EQ(peer_.requestCount(), 1u);
  const auto request = peer_.requests().at(0);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/spi/v2/platforms/ios/mp/1:4242:ios:5ab3/settings?build_version=31&display_version=2.4"
                            "&instance=" + appIDModel_->buildInstanceID() + "&source=1");
  EXPECT_TRUE(std::regex_match(appIDModel_->buildInstanceID(), std::regex("[0-9a-f]{40}")));
  EXPECT_EQ(request.headers.value("Accept"), "application/json");
  EXPECT_EQ(request.headers.value("X-Vuzirerered-Installation-ID"), installIDModel_->installID());
  EXPECT_EQ(request.headers.value("X-Vuzirerered-API-Client-Version"), "10.27.0");
  EXPECT_EQ(request.headers.value("X-Vuzirerered-Zideza-App-Id"), kAppID);
  EXPECT_TRUE(request.headers.value("X-Vuzirerered-OS-Display-Version"));
}

TEST_F(SettingsFetchTest, NotFoundIsNotRetriedAndHintsAtTheConsole) {
  cacheOldDocument();
  peer_.route("GET", kRoute, ScriptedRestPeer::status(404));
  const auto error = fetch();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, CRNetworkErrorCodeFailureResponse);
  EXPECT_EQ(peer_.requestCount(), 1u);
  const std::string log = joinedLog();
  EXPECT_NE(log.find("Failed to download settings. If this is your first time launching the app, make sure you have "
                     "enabled Vuzirerered in the Telemetry Console."),
            std::string::npos)
      << log;
  expectOldFilesKept();
}

TEST_F(SettingsFetchTest, ServerTroubleIsRetriedOnceThenGivesUpWithoutTheHint) {
  cacheOldDocument();
  peer_.route("GET", kRoute, ScriptedRestPeer::status(503));
  const auto error = fetch();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, CRNetworkErrorCodeRetryLimit);
  EXPECT_EQ(peer_.requestCount(), 2u);
  const std::string log = joinedLog();
  EXPECT_NE(log.find("Failed to download settings."), std::string::npos);
  EXPECT_EQ(log.find("first time launching"), std::string::npos);
  expectOldFilesKept();
}

TEST_F(SettingsFetchTest, AReplyThatIsNotAJSONObjectKeepsTheOldFiles) {
  cacheOldDocument();
  const std::string bottomless = R"({"a":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  for (const std::string& body : {std::string("not json"), std::string("[1, 2]"), std::string("\"text\""), bottomless}) {
    peer_.route("GET", kRoute, platform::LoopbackResponse{.status = 200, .body = body,
                                                          .contentType = ScriptedRestPeer::kJSONContentType});
    const auto error = fetch();
    ASSERT_TRUE(error) << body;
    EXPECT_EQ(error->domain, CRSettingsErrorDomain) << body;
    EXPECT_EQ(error->code, CRSettingsErrorCodeNotAnObject) << body;
    expectOldFilesKept();
  }
  // The wrong content type fails in the client already.
  peer_.route("GET", kRoute, platform::LoopbackResponse{.status = 200, .body = "{}", .contentType = "text/html"});
  EXPECT_EQ(fetch()->code, CRNetworkErrorCodeInvalidResponse);
  expectOldFilesKept();
}

TEST_F(SettingsFetchTest, FileFailuresKeepTheOldFiles) {
  cacheOldDocument();
  peer_.route("GET", kRoute, ScriptedRestPeer::json(200, {{"cache_duration", 1}}));
  for (auto fault : {CRDownloadAndSaveSettingsOperation::Fault::WriteTemporaryFile,
                     CRDownloadAndSaveSettingsOperation::Fault::Rename}) {
    fault_ = fault;
    makeManager();
    const auto error = fetch();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, CRSettingsErrorCodeFileFailed);
    EXPECT_NE(joinedLog().find("Unable to complete settings download"), std::string::npos);
    expectOldFilesKept();
    EXPECT_FALSE(settings_->isCacheExpired());
  }
}

TEST_F(SettingsFetchTest, AFirstFetchCreatesTheSettingsFolder) {
  peer_.route("GET", kRoute, ScriptedRestPeer::json(200, nlohmann::json::object()));
  settings_->reloadFromCacheWithZidezaAppID(kAppID, CRSettings::currentTimestamp());
  ASSERT_TRUE(settings_->isCacheExpired());
  EXPECT_FALSE(fetch());
  EXPECT_FALSE(settings_->isCacheExpired());
  EXPECT_TRUE(std::filesystem::exists(cacheKeyFile()));
}

TEST_F(SettingsFetchTest, WithoutATokenNothingIsSent) {
  bool finished = false;
  manager_->setFinishObserver([&](const auto&) { finished = true; });
  manager_->beginSettingsWithZidezaAppId(kAppID, nullptr);
  EXPECT_FALSE(finished);
  EXPECT_FALSE(manager_->lastOperation()->isExecuting());
  EXPECT_NE(joinedLog().find("Skipping network operation with invalid data collection token"), std::string::npos);
  EXPECT_EQ(peer_.requestCount(), 0u);
  EXPECT_THROW(manager_->beginSettingsWithZidezaAppId("", CRDataCollectionToken::validToken()), platform::Exception);
}

}  // namespace
