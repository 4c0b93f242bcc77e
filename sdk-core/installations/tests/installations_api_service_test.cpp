#include "sdk-core/installations/installations_api_service.h"

#include <gtest/gtest.h>

#include "sdk-core/installations/tests/installations_test_support.h"

namespace {

using APIServiceTest = InstallationsTest;

std::shared_ptr<TELInstallationsItem> unregisteredItem(std::optional<std::string> legacyToken = std::nullopt) {
  auto item = std::make_shared<TELInstallationsItem>(kValidAppID, kTELDefaultAppName);
  item->telemetryInstallationID = "cSentInstID00000000000";
  item->registrationStatus = TELInstallationStatusUnregistered;
  item->IIDDefaultToken = std::move(legacyToken);
  return item;
}

std::shared_ptr<TELInstallationsItem> registeredItem() {
  auto item = unregisteredItem();
  item->refreshToken = "refresh-secret";
  item->authToken = std::make_shared<TELInstallationsStoredAuthToken>();
  item->authToken->setToken("auth-secret");
  item->authToken->setExpirationDate(platform::Date{0});
  item->registrationStatus = TELInstallationStatusRegistered;
  return item;
}

TEST_F(APIServiceTest, EachOperationSendsItsMethodPathHeadersAndBody) {
  TELInstallationsAPIService service(kTestAPIKey, kTestProject, nullptr);
  struct Case {
    std::string name;
    std::function<PRMPromise::Ptr()> send;
    std::string method;
    std::string path;
    nlohmann::json body;
    std::optional<std::string> authorization;
    std::optional<std::string> migration;
  };
  const nlohmann::json registerBody = {{"instId", "cSentInstID00000000000"},
                                       {"authVersion", "TIS_v2"},
                                       {"appId", kValidAppID},
                                       {"sdkVersion", "i:10.27.0"}};
  const std::vector<Case> cases = {
      {"register", [&] { return service.registerInstallation(unregisteredItem()); }, "POST", kRegisterPath,
       registerBody, std::nullopt, std::nullopt},
      {"register with a legacy token", [&] { return service.registerInstallation(unregisteredItem("legacy-token")); },
       "POST", kRegisterPath, registerBody, std::nullopt, "legacy-token"},
      {"generate",
       [&] { return service.refreshAuthTokenForInstallation(registeredItem()); },
       "POST",
       "/v1/projects/project/installations/cSentInstID00000000000/authTokens:generate",
       {{"installation", {{"sdkVersion", "i:10.27.0"}}}},
       "TIS_v2 refresh-secret",
       std::nullopt},
      {"delete", [&] { return service.deleteInstallation(registeredItem()); }, "DELETE",
       "/v1/projects/project/installations/cSentInstID00000000000/", nlohmann::json::object(), "TIS_v2 refresh-secret",
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer_.clearRequests();
    EXPECT_TRUE(settle(c.send())->isFulfilled());
    ASSERT_EQ(peer_.requestCount(), 1u);
    const auto request = peer_.requests().at(0);
    EXPECT_EQ(request.method, c.method);
    EXPECT_EQ(request.path, c.path);
    EXPECT_EQ(ScriptedRestPeer::bodyOf(request), c.body);
    EXPECT_EQ(request.headers.value("X-Zideza-Api-Key"), kTestAPIKey);
    EXPECT_EQ(request.headers.value("X-Ios-Bundle-Identifier"), "ruv.test.app");
    EXPECT_EQ(request.headers.value("Content-Type"), "application/json");
    EXPECT_EQ(request.headers.value("Authorization"), c.authorization);
    EXPECT_EQ(request.headers.value("x-zideza-tis-ios-iid-migration-auth"), c.migration);
    EXPECT_FALSE(request.headers.contains("X-telemetry-client"));  // no logger, no heartbeats
  }
  EXPECT_EQ(peer_.requests().back().body, "{}");
}

TEST_F(APIServiceTest, ARegisterReplyKeepsOrReplacesTheInstID) {
  TELInstallationsAPIService service(kTestAPIKey, kTestProject, nullptr);
  for (const auto& [instId, expected] : std::vector<std::pair<std::optional<std::string>, std::string>>{
           {std::nullopt, "cSentInstID00000000000"},
           {"", "cSentInstID00000000000"},
           {"dServerInstID000000000", "dServerInstID000000000"}}) {
    peer_.route("POST", kRegisterPath, registerReply(instId));
    auto item = itemOf(service.registerInstallation(unregisteredItem("legacy")));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->telemetryInstallationID, expected);
    EXPECT_EQ(item->registrationStatus, TELInstallationStatusRegistered);
    EXPECT_EQ(item->refreshToken, "refresh-1");
    EXPECT_FALSE(item->IIDDefaultToken);
  }
}

TEST_F(APIServiceTest, ExpiresInLosesItsLastCharacter) {
  const platform::Date received{1000};
  struct Case {
    nlohmann::json reply;
    std::optional<double> seconds;  // std::nullopt: parse error
    std::string reason;
  };
  const std::vector<Case> cases = {
      {{{"token", "t"}, {"expiresIn", "3600s"}}, 3600, ""},
      {{{"token", "t"}, {"expiresIn", "3600"}}, 360, ""},
      {{{"token", "t"}, {"expiresIn", "soon"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", "90.5s"}}, 90.5, ""},
      // Only digits with an optional fraction are read; the rest counts as 0.
      {{{"token", "t"}, {"expiresIn", "infs"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", "nans"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", "0x10s"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", "1e400s"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", "-5s"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", " 5s"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", "5.s"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", std::string(400, '9') + "s"}}, 0, ""},
      {{{"token", "t"}, {"expiresIn", "s"}}, 0, ""},
      {{{"token", "t"}}, std::nullopt, "A required response field with name authToken.expiresIn is missing"},
      {{{"token", ""}, {"expiresIn", "3600s"}},
       std::nullopt,
       "A required response field with name authToken.token is missing"},
      {nlohmann::json::array(), std::nullopt, "Failed to serialize JSON data."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply.dump());
    const std::string text = c.reply.dump();
    platform::Error error;
    auto token =
        TELInstallationsItem::authTokenWithGenerateTokenAPIJSONData({text.begin(), text.end()}, received, &error);
    if (c.seconds) {
      ASSERT_TRUE(token);
      EXPECT_EQ(token->expirationDate(), received.addingTimeInterval(*c.seconds));
      EXPECT_EQ(token->status(), 1);
    } else {
      EXPECT_FALSE(token);
      EXPECT_EQ(reasonOf(error), c.reason);
    }
  }
}

// A reply nested deeper than any the service sends is refused before it is parsed: copied or
// printed, it would exhaust the stack. The debug line shows it as it came.
TEST_F(APIServiceTest, AReplyNestedWithoutBoundIsNoReply) {
  const std::string deep = "{\"token\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
  const std::vector<uint8_t> bytes(deep.begin(), deep.end());
  platform::Error error;
  EXPECT_FALSE(TELInstallationsItem::authTokenWithGenerateTokenAPIJSONData(bytes, platform::Date{0}, &error));
  EXPECT_EQ(reasonOf(error), "Failed to serialize JSON data.");
  EXPECT_EQ(TELInstallationsAPIService::redactedBody(bytes), deep);
}

TEST_F(APIServiceTest, StatusesOutside2xxAreAPIErrorsAndA500IsTriedOnceMore) {
  TELInstallationsAPIService service(kTestAPIKey, kTestProject, nullptr);
  struct Case {
    std::vector<int> statuses;
    std::optional<long> failure;
    size_t requests;
  };
  const std::vector<Case> cases = {
      {{201}, std::nullopt, 1},
      {{300}, 300, 1},
      {{500, 200}, std::nullopt, 2},
      {{500, 500}, 500, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statuses.front());
    peer_.clearRequests();
    std::vector<platform::LoopbackResponse> replies;
    for (int status : c.statuses)
      replies.push_back(ScriptedRestPeer::json(status, {{"token", "t"}, {"expiresIn", "1s"}}));
    peer_.queue("POST", kGeneratePath, replies);
    const auto started = std::chrono::steady_clock::now();
    auto promise = settle(service.refreshAuthTokenForInstallation(registeredItem()));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(peer_.requestCount(), c.requests);
    if (c.requests == 2) {
      EXPECT_GE(elapsed, 0.95);
    }
    if (c.failure) {
      ASSERT_TRUE(promise->isRejected());
      EXPECT_EQ(TELInstallationsHTTPError::statusCode(*promise->error()), c.failure);
      EXPECT_EQ(promise->error()->code, 0);
    } else {
      EXPECT_TRUE(promise->isFulfilled());
    }
  }
}

TEST_F(APIServiceTest, OnlyStatuses200To299PassTheCheck) {
  // HTTP cannot carry a final 1xx reply over the wire, so the check is asked directly.
  for (long status : {199L, 200L, 299L, 300L}) {
    platform::HTTPURLResponse response{"http://127.0.0.1/", status, {}};
    auto checked = settle(TELInstallationsAPIService::validateHTTPResponseStatusCode(
        PRMPromise::resolvedWith(TELInstallationsURLSessionResponse{response, {}})));
    EXPECT_EQ(checked->isFulfilled(), status == 200 || status == 299) << status;
    if (checked->isRejected()) {
      EXPECT_EQ(TELInstallationsHTTPError::statusCode(*checked->error()), status);
    }
  }
}

TEST_F(APIServiceTest, StoredHeartbeatsTravelOnceInTheClientHeader) {
  auto logger =
      std::make_shared<TELHeartbeatLogger>(kValidAppID, [] { return std::string("tel-install/10.27.0 test/1"); });
  logger->log();
  TELInstallationsAPIService service(kTestAPIKey, kTestProject, logger);
  EXPECT_TRUE(settle(service.registerInstallation(unregisteredItem()))->isFulfilled());
  EXPECT_TRUE(settle(service.registerInstallation(unregisteredItem()))->isFulfilled());
  ASSERT_EQ(peer_.requestCount(), 2u);
  auto heartbeats = ScriptedRestPeer::heartbeatsOf(peer_.requests().at(0));
  ASSERT_TRUE(heartbeats);
  EXPECT_EQ((*heartbeats)["heartbeats"][0]["agent"], "tel-install/10.27.0 test/1");
  EXPECT_FALSE(peer_.requests().at(1).headers.contains("X-telemetry-client"));
}

TEST_F(APIServiceTest, DebugLinesNeverShowTheKeyOrTokens) {
  TELInstallationsAPIService service(kTestAPIKey, kTestProject, nullptr);
  peer_.route("POST", kRegisterPath,
              ScriptedRestPeer::json(200, {{"refreshToken", "refresh-secret"},
                                           {"authToken", {{"token", "auth-secret"}, {"expiresIn", "60s"}}}}));
  peer_.route("POST", kGeneratePath, ScriptedRestPeer::json(200, {{"token", "auth-secret"}, {"expiresIn", "60s"}}));
  peer_.route("DELETE", kDeletePath, ScriptedRestPeer::json(500, {{"token", "auth-secret"}}));
  settle(service.registerInstallation(unregisteredItem("legacy-secret")));
  settle(service.refreshAuthTokenForInstallation(registeredItem()));
  settle(service.deleteInstallation(registeredItem()));
  std::vector<std::string> lines;
  for (int code = 1; code <= 9; ++code) {
    for (const auto& line : linesWith("I-TIS00100" + std::to_string(code))) lines.push_back(line);
  }
  EXPECT_GE(lines.size(), 10u);
  bool redacted = false;
  for (const auto& line : lines) {
    for (const char* secret : {kTestAPIKey, "refresh-secret", "auth-secret", "legacy-secret"}) {
      EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
    redacted = redacted || line.find("<redacted>") != std::string::npos;
  }
  EXPECT_TRUE(redacted);
}

TEST_F(APIServiceTest, AnInvalidItemIsNotSent) {
  TELInstallationsAPIService service(kTestAPIKey, kTestProject, nullptr);
  auto item = unregisteredItem();
  item->telemetryInstallationID.reset();
  auto error = errorOf(service.registerInstallation(item));
  EXPECT_EQ(reasonOf(error), "TELInstallationsItem validation errors: `telemetryInstallationID` must not be empty");
  EXPECT_EQ(peer_.requestCount(), 0u);
}

}  // namespace
