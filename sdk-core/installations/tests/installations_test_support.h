// Shared fixture of the installations tests: the SDK core fixture (temp data directory with
// its keychain file and defaults, main bundle, captured console lines) plus a scripted
// installations service on 127.0.0.1 that the endpoint table points at, and helpers that
// build a controller over real collaborators with an injected clock.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/paths.h"
#include "platform/keychain/keychain.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/core/tests/sdk_test_support.h"
#include "sdk-core/installations/installations.h"
#include "sdk-core/installations/installations_errors.h"
#include "sdk-core/testing/rest_peer.h"

inline constexpr const char* kTestAPIKey = kValidAPIKey;
inline constexpr const char* kTestProject = "project";
inline constexpr const char* kRegisterPath = "/v1/projects/project/installations/";
inline constexpr const char* kGeneratePath = "/v1/projects/project/installations/*/authTokens:generate";
inline constexpr const char* kDeletePath = "/v1/projects/project/installations/*/";

// A clock the test moves by hand.
struct FakeClock {
  std::shared_ptr<std::atomic<double>> seconds = std::make_shared<std::atomic<double>>(800'000'000.0);
  platform::Date now() const { return platform::Date{seconds->load()}; }
  void advance(double by) const { seconds->store(seconds->load() + by); }
  std::function<platform::Date()> provider() const {
    auto s = seconds;
    return [s] { return platform::Date{s->load()}; };
  }
};

class InstallationsTest : public SdkCoreTest {
 protected:
  void SetUp() override {
    SdkCoreTest::SetUp();
    TELInstallationsRegisterArchiveClasses();
    TELEndpoints::setInstallationsBaseURL(peer_.baseURL());
    peer_.route("POST", kRegisterPath, registerReply());
    peer_.route("POST", kGeneratePath, tokenReply("fresh-token"));
    peer_.route("DELETE", kDeletePath, ScriptedRestPeer::json(200, nlohmann::json::object()));
    changeObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        kTELInstallationIDDidChangeNotification, [this](const platform::Notification& note) {
          auto it = note.userInfo.find(kTELInstallationIDDidChangeNotificationAppNameKey);
          if (it != note.userInfo.end() && it->second.asString() && *it->second.asString() == appName_) ++changes_;
        });
  }

  void TearDown() override {
    platform::NotificationCenter::defaultCenter().removeObserver(changeObserver_);
    // Let chains still in flight settle before the data directory goes.
    platform::MainLoop::runUntil([] { return false; }, std::chrono::milliseconds(50));
    SdkCoreTest::TearDown();
  }

  static platform::LoopbackResponse registerReply(const std::optional<std::string>& instID = std::nullopt,
                                                  const std::string& expiresIn = "604800s") {
    nlohmann::json body = {{"refreshToken", "refresh-1"},
                           {"authToken", {{"token", "auth-1"}, {"expiresIn", expiresIn}}}};
    if (instID) body["instId"] = *instID;
    return ScriptedRestPeer::json(200, body);
  }
  static platform::LoopbackResponse tokenReply(const std::string& token, const std::string& expiresIn = "3600s") {
    return ScriptedRestPeer::json(200, {{"token", token}, {"expiresIn", expiresIn}});
  }

  std::shared_ptr<TELInstallationsStore> makeStore(std::optional<std::string> accessGroup = std::nullopt) {
    return std::make_shared<TELInstallationsStore>(
        std::make_shared<UTLKeychainStorage>(TELInstallationsIDController::keychainServiceWithAppID(kValidAppID)),
        std::move(accessGroup));
  }

  // A controller over real collaborators; the back-off and the token rule read `clock_`.
  std::shared_ptr<TELInstallationsIDController> makeController(
      const std::string& appName = kTELDefaultAppName,
      std::shared_ptr<TELHeartbeatLoggerProtocol> heartbeatLogger = nullptr) {
    appName_ = appName;
    store_ = makeStore();
    service_ = std::make_shared<TELInstallationsAPIService>(kTestAPIKey, kTestProject, std::move(heartbeatLogger));
    backoff_ = std::make_shared<TELInstallationsBackoffController>(clock_.provider(), [] { return 0.5; });
    return TELInstallationsIDController::make(
        kValidAppID, appName, store_, service_, std::make_shared<TELInstallationsIIDStore>(),
        std::make_shared<TELInstallationsIIDTokenStore>("123456789012"), backoff_, clock_.provider());
  }

  // Pumps the main loop until the promise settles; fails the test after 10 s.
  static PRMPromise::Ptr settle(const PRMPromise::Ptr& promise) {
    EXPECT_TRUE(platform::MainLoop::runUntil([&] { return !promise->isPending(); }, std::chrono::seconds(10)));
    return promise;
  }
  static std::shared_ptr<TELInstallationsItem> itemOf(const PRMPromise::Ptr& promise) {
    settle(promise);
    const auto* item = promise->value().get<std::shared_ptr<TELInstallationsItem>>();
    return item ? *item : nullptr;
  }
  static platform::Error errorOf(const PRMPromise::Ptr& promise) {
    settle(promise);
    EXPECT_TRUE(promise->isRejected());
    return promise->error().value_or(platform::Error());
  }
  static std::string reasonOf(const platform::Error& error) {
    return TELInstallationsErrorUtil::failureReason(error).value_or("");
  }

  // Saves a registered record whose token expires `expiresIn` seconds after the clock's now.
  std::shared_ptr<TELInstallationsItem> storeRegistered(double expiresIn,
                                                        const std::string& InstID = "cRegisteredInstID00000") {
    auto item = std::make_shared<TELInstallationsItem>(kValidAppID, appName_);
    item->telemetryInstallationID = InstID;
    item->refreshToken = "stored-refresh";
    item->authToken = std::make_shared<TELInstallationsStoredAuthToken>();
    item->authToken->setStatus(1);
    item->authToken->setToken("stored-token");
    item->authToken->setExpirationDate(clock_.now().addingTimeInterval(expiresIn));
    item->registrationStatus = TELInstallationStatusRegistered;
    settle((store_ ? store_ : makeStore())->saveInstallation(item));
    return item;
  }

  size_t requestsTo(const std::string& method, const std::string& pattern) const {
    size_t count = 0;
    for (const auto& request : peer_.requests()) {
      if (request.method == method && ScriptedRestPeer::matches(pattern, request.path)) ++count;
    }
    return count;
  }

  // Gives stray requests (a prefetch) time to arrive.
  static void pumpFor(std::chrono::milliseconds duration) {
    platform::MainLoop::runUntil([] { return false; }, duration);
  }

  // ---- Legacy instance-ID data of an earlier SDK generation ----
  static std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

  // The flag file (with or without the creation-time key) and both RSA key items.
  static void plantLegacyIID(const std::vector<uint8_t>& publicKey, bool withFlag = true) {
    platform::PlistValue::Dictionary flag{{withFlag ? kTELIIDCreationTimePlistKey : "other", "1600000000"}};
    auto encoded = platform::encodePlist(platform::PlistValue(flag), platform::PlistFormat::Xml);
    ASSERT_TRUE(platform::writeFileAtomically(TELInstallationsIIDStore::plistPath(), *encoded).ok());
    for (const char* prefix : {kTELIIDPublicKeyTagPrefix, kTELIIDPrivateKeyTagPrefix}) {
      platform::SecQuery item{
          {platform::kSecClass, platform::kSecClassKey},
          {platform::kSecAttrKeyType, platform::kSecAttrKeyTypeRSA},
          {platform::kSecAttrApplicationTag, platform::PlistValue(bytes(std::string(prefix) + "ruv.test.app"))},
          {platform::kSecValueData, platform::PlistValue(publicKey)}};
      ASSERT_EQ(platform::SecItemAdd(item, nullptr), platform::errSecSuccess);
    }
  }

  static size_t legacyKeyItemCount() {
    platform::PlistValue result;
    platform::SecQuery query{{platform::kSecClass, platform::kSecClassKey},
                             {platform::kSecMatchLimit, platform::kSecMatchLimitAll},
                             {platform::kSecReturnData, true}};
    if (platform::SecItemCopyMatching(query, &result) != platform::errSecSuccess) return 0;
    return result.asArray() ? result.asArray()->size() : 0;
  }

  // The archived token object as the earlier SDK wrote it.
  class LegacyTokenInfo final : public platform::KeyedCoding {
   public:
    explicit LegacyTokenInfo(std::string token) : token_(std::move(token)) {}
    std::string archiveClassName() const override { return TELInstallationsIIDTokenInfo::kLegacyArchiveClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override { coder.encodeObject(token_, "token"); }

   private:
    std::string token_;
  };

  static void plantLegacyToken(const std::string& token) {
    auto archive =
        platform::KeyedArchiver::archivedData(platform::ArchiveValue(std::make_shared<LegacyTokenInfo>(token)));
    ASSERT_TRUE(archive);
    platform::SecQuery item = TELInstallationsIIDTokenStore("123456789012").IIDDefaultTokenDataKeychainQuery();
    item[platform::kSecValueData] = platform::PlistValue(*archive);
    ASSERT_EQ(platform::SecItemAdd(item, nullptr), platform::errSecSuccess);
  }

  ScriptedRestPeer peer_;
  FakeClock clock_;
  std::string appName_ = kTELDefaultAppName;
  std::shared_ptr<TELInstallationsStore> store_;
  std::shared_ptr<TELInstallationsAPIService> service_;
  std::shared_ptr<TELInstallationsBackoffController> backoff_;
  std::atomic<int> changes_{0};
  platform::NotificationCenter::ObserverToken changeObserver_ = 0;
};
