#include "crash-reporting/settings/install_identifier_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "crash-reporting/core/utilities.h"
#include "crash-reporting/reports/user_defaults.h"
#include "platform/dispatch/queue.h"
#include "platform/testing/environment.h"
#include "sdk-core/installations/installations.h"

namespace {

using namespace std::chrono_literals;

// Answers on the main queue, as the installations service does, or holds its answers back.
class FakeInstallations : public TELInstallationsInstanceProvider {
 public:
  std::optional<std::string> installationID = "iid-1";
  std::optional<platform::Error> error;
  std::string token = "token-1";
  bool answer = true;
  std::vector<platform::Block> held;

  void installationIDWithCompletion(IDHandler completion) override {
    reply([=, this] { completion(installationID, error); });
  }
  void authTokenWithCompletion(TokenHandler completion) override {
    reply([=, this] { completion(TELInstallationsAuthTokenResult{token, platform::Date{}}, std::nullopt); });
  }
  void authTokenForcingRefresh(bool, TokenHandler completion) override { authTokenWithCompletion(completion); }
  void deleteWithCompletion(DeleteHandler) override {}

 private:
  void reply(platform::Block block) {
    if (answer) {
      platform::DispatchQueue::main()->async(std::move(block));
    } else {
      held.push_back(std::move(block));
    }
  }
};

class InstallIdentifierTest : public ::testing::Test {
 protected:
  struct Outcome {
    bool rotated = false;
    std::string installationID = "unset";
    std::string authToken = "unset";
  };

  std::shared_ptr<CRInstallIdentifierModel> makeModel() {
    return std::make_shared<CRInstallIdentifierModel>(installations_, defaults_);
  }

  // Runs the check on a worker while this (main) thread pumps the main queue.
  Outcome regenerate(const std::shared_ptr<CRInstallIdentifierModel>& model) {
    Outcome outcome;
    std::atomic<bool> done{false};
    std::thread worker([&] {
      outcome.rotated = model->regenerateInstallIDIfNeededWithBlock([&](const std::string& iid, const std::string& token) {
        outcome.installationID = iid;
        outcome.authToken = token;
      });
      done = true;
    });
    platform::MainLoop::runUntil([&] { return done.load(); }, 20s);
    worker.join();
    return outcome;
  }

  std::optional<std::string> stored(const char* key) { return defaults_->stringForKey(key); }

  platform::testing::Environment environment_{"install-id"};
  std::shared_ptr<CRUserDefaults> defaults_ = std::make_shared<CRUserDefaults>();
  std::shared_ptr<FakeInstallations> installations_ = std::make_shared<FakeInstallations>();
};

TEST_F(InstallIdentifierTest, FirstRunGeneratesAnInstallUUIDAndRecordsTheID) {
  defaults_->setString("legacy", CRInstallationADIDKey);
  auto model = makeModel();
  const std::string first = model->installID();
  EXPECT_TRUE(std::regex_match(first, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
  EXPECT_EQ(stored(CRInstallUUIDKey), first);

  const Outcome outcome = regenerate(model);
  EXPECT_FALSE(outcome.rotated);
  EXPECT_EQ(outcome.installationID, "iid-1");
  EXPECT_EQ(outcome.authToken, "token-1");
  EXPECT_EQ(model->installID(), first);
  EXPECT_EQ(stored(CRInstallationIIDHashKey), CRSHA256HexOfBytes("iid-1", 5));
  EXPECT_FALSE(stored(CRInstallationADIDKey));

  // The next launch reads the same install UUID back from the file.
  ASSERT_TRUE(defaults_->synchronize());
  auto relaunched = std::make_shared<CRInstallIdentifierModel>(installations_, std::make_shared<CRUserDefaults>());
  EXPECT_EQ(relaunched->installID(), first);
}

TEST_F(InstallIdentifierTest, AChangedInstallationIDRotatesTheInstallUUIDOnce) {
  auto model = makeModel();
  regenerate(model);
  const std::string first = model->installID();
  installations_->installationID = "iid-2";
  EXPECT_TRUE(regenerate(model).rotated);
  const std::string second = model->installID();
  EXPECT_NE(second, first);
  EXPECT_EQ(stored(CRInstallUUIDKey), second);
  EXPECT_FALSE(regenerate(model).rotated);
  EXPECT_EQ(model->installID(), second);
}

TEST_F(InstallIdentifierTest, AnErrorOrAnEmptyIDChangesNothing) {
  auto model = makeModel();
  regenerate(model);
  const std::string first = model->installID();
  const auto hash = stored(CRInstallationIIDHashKey);
  installations_->error = platform::Error("ruv.telemetry.installations", 1);
  installations_->installationID = "iid-3";
  EXPECT_FALSE(regenerate(model).rotated);
  installations_->error.reset();
  for (const std::optional<std::string>& empty : {std::optional<std::string>(""), std::optional<std::string>()}) {
    installations_->installationID = empty;
    const Outcome outcome = regenerate(model);
    EXPECT_FALSE(outcome.rotated);
    EXPECT_EQ(outcome.installationID, "");
  }
  EXPECT_EQ(model->installID(), first);
  EXPECT_EQ(stored(CRInstallationIIDHashKey), hash);
}

TEST_F(InstallIdentifierTest, ATimeOutGivesEmptyAnswersAndALateAnswerOnlyRotates) {
  auto model = makeModel();
  regenerate(model);
  const std::string first = model->installID();

  installations_->answer = false;
  installations_->installationID = "iid-late";
  model->setWaitTimeout(20ms);
  const Outcome outcome = regenerate(model);
  EXPECT_FALSE(outcome.rotated);
  EXPECT_EQ(outcome.installationID, "");
  EXPECT_EQ(outcome.authToken, "");

  for (auto& block : installations_->held) block();
  EXPECT_NE(model->installID(), first);
  EXPECT_EQ(stored(CRInstallationIIDHashKey), CRSHA256HexOfBytes("iid-late", 8));
}

TEST_F(InstallIdentifierTest, TheMainThreadDoesNotWaitForAnswersItWouldBlock) {
  auto model = makeModel();
  std::string iid = "unset";
  EXPECT_FALSE(model->regenerateInstallIDIfNeededWithBlock([&](const std::string& id, const std::string&) { iid = id; }));
  EXPECT_EQ(iid, "");
  // The answers still arrive on the main queue and record the ID.
  platform::MainLoop::drain();
  EXPECT_EQ(stored(CRInstallationIIDHashKey), CRSHA256HexOfBytes("iid-1", 5));
}

}  // namespace
