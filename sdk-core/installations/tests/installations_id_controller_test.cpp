#include "sdk-core/installations/installations_id_controller.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/dispatch/submission_count.h"

#include "sdk-core/installations/tests/installations_test_support.h"

namespace {

class ControllerTest : public InstallationsTest {
 protected:
  // The public object over a controller, as the app's component would make it.
  std::shared_ptr<TELInstallations> publicObject(const std::shared_ptr<TELInstallationsIDController>& controller,
                                                 const std::string& appName = kTELDefaultAppName) {
    return std::make_shared<TELInstallations>(validOptions(), appName, controller, false);
  }
};

TEST_F(ControllerTest, ConcurrentIDCallersShareOneInstallationAndOneRegistration) {
  for (int callers : {2, 100}) {
    SCOPED_TRACE(callers);
    peer_.clearRequests();
    changes_ = 0;
    appName_ = "app-" + std::to_string(callers);
    auto installations = publicObject(makeController(appName_), appName_);
    std::vector<std::string> IDs;
    std::atomic<int> offMain{0};
    for (int i = 0; i < callers; ++i) {
      installations->installationIDWithCompletion([&](auto InstID, auto error) {
        EXPECT_FALSE(error);
        if (!platform::MainLoop::isMainThread()) ++offMain;
        IDs.push_back(InstID.value_or(""));
      });
    }
    ASSERT_TRUE(platform::MainLoop::runUntil([&] { return IDs.size() == size_t(callers); }, std::chrono::seconds(10)));
    EXPECT_EQ(std::set<std::string>(IDs.begin(), IDs.end()).size(), 1u);
    EXPECT_EQ(offMain, 0);
    EXPECT_EQ(changes_, 1);
    // The auth-token prefetch registers the new installation exactly once.
    ASSERT_TRUE(platform::MainLoop::runUntil([&] { return peer_.requestCount() >= 1; }, std::chrono::seconds(5)));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(peer_.requestCount(), 1u);
    EXPECT_EQ(ScriptedRestPeer::bodyOf(peer_.requests().at(0))["instId"], IDs.at(0));
  }
}

TEST_F(ControllerTest, APlainTokenRequestJoinsAForcedRefreshInFlight) {
  auto installations = publicObject(makeController());
  storeRegistered(7200);
  peer_.hold();
  std::vector<std::string> tokens;
  installations->authTokenForcingRefresh(
      true, [&](auto result, auto) { tokens.push_back(result ? result->authToken : "-"); });
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return peer_.requestCount() == 1; }, std::chrono::seconds(5)));
  installations->authTokenWithCompletion(
      [&](auto result, auto) { tokens.push_back(result ? result->authToken : "-"); });
  peer_.release();
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return tokens.size() == 2; }, std::chrono::seconds(10)));
  EXPECT_EQ(tokens, (std::vector<std::string>{"fresh-token", "fresh-token"}));
  EXPECT_EQ(requestsTo("POST", kGeneratePath), 1u);
}

TEST_F(ControllerTest, ATokenIsRefreshedWhenItExpiresWithinAnHour) {
  struct Case {
    double expiresIn;
    std::string token;
    size_t generateRequests;
  };
  for (const Case& c : {Case{3599, "fresh-token", 1}, Case{3600, "stored-token", 0}}) {
    SCOPED_TRACE(c.expiresIn);
    peer_.clearRequests();
    auto controller = makeController();
    storeRegistered(c.expiresIn);
    auto item = itemOf(controller->getAuthTokenForcingRefresh(false));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->authToken->token(), c.token);
    EXPECT_EQ(requestsTo("POST", kGeneratePath), c.generateRequests);
    auto stored = itemOf(makeStore()->installationForAppID(kValidAppID, kTELDefaultAppName));
    EXPECT_EQ(stored->authToken->token(), c.token);
  }
}

TEST_F(ControllerTest, AnUnknownInstallationOnRefreshIsReplacedByANewOne) {
  for (int status : {401, 404}) {
    SCOPED_TRACE(status);
    peer_.clearRequests();
    changes_ = 0;
    auto controller = makeController();
    storeRegistered(7200, "cOldInstallation000000");
    plantLegacyIID(bytes("legacy public key"));
    peer_.queue("POST", kGeneratePath, {ScriptedRestPeer::status(status)});

    auto item = itemOf(controller->getAuthTokenForcingRefresh(true));
    ASSERT_TRUE(item);
    EXPECT_NE(item->telemetryInstallationID, "cOldInstallation000000");
    EXPECT_EQ(item->authToken->token(), "auth-1");
    EXPECT_EQ(item->registrationStatus, TELInstallationStatusRegistered);
    // The legacy data went with the old installation, so the new one has a fresh InstID.
    EXPECT_FALSE(TELInstallationsIIDStore::hasPlistIIDFlag());
    EXPECT_EQ(legacyKeyItemCount(), 0u);
    EXPECT_EQ(changes_, 2);  // deleted, then created
    EXPECT_EQ(requestsTo("POST", kRegisterPath), 1u);
    auto stored = itemOf(makeStore()->installationForAppID(kValidAppID, kTELDefaultAppName));
    EXPECT_EQ(stored->telemetryInstallationID, item->telemetryInstallationID);
  }
}

TEST_F(ControllerTest, ARegistrationTheServiceRefusesAsUnknownRegeneratesOnceThenFails) {
  for (int status : {401, 404}) {
    SCOPED_TRACE(status);
    peer_.clearRequests();
    peer_.route("POST", kRegisterPath, ScriptedRestPeer::status(status));
    auto controller = makeController("app-" + std::to_string(status));
    auto error = errorOf(controller->getAuthTokenForcingRefresh(false));
    EXPECT_EQ(TELInstallationsHTTPError::statusCode(error), status);
    pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(requestsTo("POST", kRegisterPath), 2u);
    EXPECT_TRUE(backoff_->isNextRequestAllowed());
  }
}

TEST_F(ControllerTest, ABadRequestStopsRequestsForADay) {
  peer_.route("POST", kRegisterPath, ScriptedRestPeer::status(400));
  auto controller = makeController();
  EXPECT_EQ(TELInstallationsHTTPError::statusCode(errorOf(controller->getAuthTokenForcingRefresh(false))), 400);
  EXPECT_EQ(linesWith("I-TIS002003").size(), 1u);
  const size_t sent = peer_.requestCount();

  clock_.advance(86399);
  auto refused = errorOf(controller->getAuthTokenForcingRefresh(false));
  EXPECT_EQ(refused.code, TELInstallationsErrorCodeServerUnreachable);
  EXPECT_EQ(reasonOf(refused), "Too many server requests.");
  EXPECT_EQ(peer_.requestCount(), sent);

  clock_.advance(1);
  peer_.route("POST", kRegisterPath, registerReply());
  EXPECT_TRUE(itemOf(controller->getAuthTokenForcingRefresh(false)));
  EXPECT_EQ(peer_.requestCount(), sent + 1);
}

TEST_F(ControllerTest, TwoServerErrorsInARowWaitTwoToThreeSeconds) {
  peer_.queue("POST", kRegisterPath, {ScriptedRestPeer::status(500), ScriptedRestPeer::status(500)});
  auto controller = makeController();
  EXPECT_EQ(TELInstallationsHTTPError::statusCode(errorOf(controller->getAuthTokenForcingRefresh(false))), 500);
  EXPECT_EQ(requestsTo("POST", kRegisterPath), 2u);  // the one repeat after 1 s

  clock_.advance(2.4);  // the injected random part is 0.5 s
  EXPECT_EQ(reasonOf(errorOf(controller->getAuthTokenForcingRefresh(false))), "Too many server requests.");
  clock_.advance(0.1);
  EXPECT_TRUE(itemOf(controller->getAuthTokenForcingRefresh(false)));
  EXPECT_EQ(requestsTo("POST", kRegisterPath), 3u);
}

TEST_F(ControllerTest, ANetworkFailureLeavesTheBackOffAlone) {
  TELEndpoints::setInstallationsBaseURL("http://127.0.0.1:" + std::to_string(platform::LoopbackServer::unusedPort()));
  auto installations = publicObject(makeController());
  std::optional<platform::Error> failure;
  bool done = false;
  installations->authTokenWithCompletion([&](auto result, auto error) {
    EXPECT_FALSE(result);
    failure = error;
    done = true;
  });
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return done; }, std::chrono::seconds(10)));
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->domain, kTELInstallationsErrorDomain);  // the transport error, wrapped
  EXPECT_EQ(TELInstallationsErrorUtil::underlyingError(*failure)->domain, platform::kURLErrorDomain);
  EXPECT_FALSE(backoff_->lastEventData());
}

TEST_F(ControllerTest, DeletionSendsARequestOnlyForARegisteredInstallation) {
  auto controller = makeController();
  // Nothing stored, nothing pending.
  auto missing = errorOf(controller->deleteInstallation());
  EXPECT_EQ(reasonOf(missing),
            std::string("Installation for appID ") + kValidAppID + " appName __TELAPP_DEFAULT not found");

  // Never registered: removed locally, nothing sent.
  auto unregistered = std::make_shared<TELInstallationsItem>(kValidAppID, kTELDefaultAppName);
  unregistered->telemetryInstallationID = "cUnregistered000000000";
  unregistered->registrationStatus = TELInstallationStatusUnregistered;
  settle(store_->saveInstallation(unregistered));
  peer_.clearRequests();
  changes_ = 0;
  EXPECT_TRUE(itemOf(controller->deleteInstallation()));
  EXPECT_EQ(peer_.requestCount(), 0u);
  EXPECT_EQ(changes_, 1);
  EXPECT_TRUE(settle(store_->installationForAppID(kValidAppID, kTELDefaultAppName))->isRejected());

  // Registered, and the service no longer knows it: still a success.
  storeRegistered(7200);
  peer_.route("DELETE", kDeletePath, ScriptedRestPeer::status(404));
  EXPECT_TRUE(itemOf(controller->deleteInstallation()));
  ASSERT_EQ(peer_.requestCount(), 1u);
  const auto request = peer_.requests().at(0);
  EXPECT_EQ(request.path, "/v1/projects/project/installations/cRegisteredInstID00000/");
  EXPECT_TRUE(settle(store_->installationForAppID(kValidAppID, kTELDefaultAppName))->isRejected());
}

TEST_F(ControllerTest, TheDefaultAppTakesOverTheLegacyInstanceIDAndOtherAppsLeaveItAlone) {
  plantLegacyIID(bytes("legacy public key"));
  plantLegacyToken("legacy-token");
  const std::string legacyID = TELInstallationsIIDStore::IIDWithPublicKeyData(bytes("legacy public key"));

  auto other = itemOf(makeController("other")->getInstallationItem());
  EXPECT_NE(other->telemetryInstallationID, legacyID);
  EXPECT_FALSE(other->IIDDefaultToken);

  auto adopted = itemOf(makeController()->getInstallationItem());
  EXPECT_EQ(adopted->telemetryInstallationID, legacyID);
  EXPECT_EQ(adopted->IIDDefaultToken, "legacy-token");

  // Deleting the other app's installation keeps the legacy data.
  appName_ = "other";
  EXPECT_TRUE(settle(makeController("other")->deleteInstallation())->isFulfilled());
  EXPECT_TRUE(TELInstallationsIIDStore::hasPlistIIDFlag());
  EXPECT_EQ(legacyKeyItemCount(), 2u);
}

// Blocks handed to dispatch queues while `call` runs and the main loop pumps until `done`.
uint64_t hopsUntil(const std::function<void()>& call, const std::function<bool()>& done) {
  platform::MainLoop::runUntil([] { return false; }, std::chrono::milliseconds(20));  // nothing else in flight
  const uint64_t before = platform::dispatchedBlockCount();
  call();
  EXPECT_TRUE(platform::MainLoop::runUntil(done, std::chrono::seconds(10)));
  return platform::dispatchedBlockCount() - before;
}

TEST_F(ControllerTest, AKnownReadyInstallationIsAnsweredFromMemoryWithOneHop) {
  // Read once from the keychain by a store of its own; then answered from the store's memory.
  makeController();
  storeRegistered(7200, "cKnownInstallation0000");
  auto installations = publicObject(makeController());
  for (bool firstRead : {true, false}) {
    SCOPED_TRACE(firstRead);
    std::optional<std::string> InstID;
    const uint64_t hops = hopsUntil(
        [&] { installations->installationIDWithCompletion([&](auto ID, auto) { InstID = ID.value_or("-"); }); },
        [&] { return InstID.has_value(); });
    EXPECT_EQ(InstID, "cKnownInstallation0000");
    if (firstRead) {
      EXPECT_GT(hops, 5u);
    } else {
      EXPECT_EQ(hops, 1u);  // the completion onto the main queue
    }
  }
  pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(peer_.requestCount(), 0u);
}

TEST_F(ControllerTest, AKnownInstallationThatNeedsATokenStillPrefetchesOne) {
  struct Case {
    const char* name;
    double expiresIn;
    bool registered;
    const char* path;
  };
  for (const Case& c : {Case{"token expires within the hour", 3599, true, kGeneratePath},
                        Case{"unregistered", 7200, false, kRegisterPath}}) {
    SCOPED_TRACE(c.name);
    peer_.clearRequests();
    auto controller = makeController();
    auto item = storeRegistered(c.expiresIn);
    if (!c.registered) {
      item->registrationStatus = TELInstallationStatusUnregistered;
      settle(store_->saveInstallation(item));
    }
    EXPECT_EQ(itemOf(controller->getInstallationItem())->telemetryInstallationID, item->telemetryInstallationID);
    ASSERT_TRUE(platform::MainLoop::runUntil([&] { return requestsTo("POST", c.path) == 1; },
                                             std::chrono::seconds(5)));
    pumpFor(std::chrono::milliseconds(100));
    // Once the token is fresh the installation is ready and served from memory.
    auto ready = itemOf(controller->getAuthTokenForcingRefresh(false));
    EXPECT_EQ(ready->registrationStatus, TELInstallationStatusRegistered);
    EXPECT_EQ(store_->knownInstallationForAppID(kValidAppID, kTELDefaultAppName)->authToken->token(),
              ready->authToken->token());
  }
}

TEST_F(ControllerTest, PublicErrorsAreOfTheInstallationsDomain) {
  auto installations = publicObject(makeController());
  std::optional<platform::Error> failure;
  bool done = false;
  installations->deleteWithCompletion([&](auto error) {
    failure = error;
    done = true;
  });
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return done; }, std::chrono::seconds(10)));
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->domain, kTELInstallationsErrorDomain);
}

}  // namespace
