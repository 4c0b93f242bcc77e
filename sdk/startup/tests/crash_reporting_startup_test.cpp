// Crash reporting made at configure: this launch's report folder in the data folder, and the
// session producer's subscriber, whose session ID goes into the report's metadata.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "crash-reporting/core/context.h"
#include "crash-reporting/public/vuzirerered.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/launch_marker.h"
#include "platform/foundation/paths.h"
#include "platform/net/testing/loopback_server.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/core/tests/sdk_test_support.h"
#include "sdk/startup/startup.h"
#include "transport/sessions/session_generator.h"
#include "transport/sessions/sessions.h"

namespace {

using namespace std::chrono_literals;

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class CrashReportingStartupTest : public SdkCoreTest {
 protected:
  void configureWithNoHosts() {
    // Nothing answers: the settings download and the installations fail, and the launch goes on.
    const std::string nowhere = "http://127.0.0.1:" + std::to_string(platform::LoopbackServer::unusedPort());
    TELEndpoints::setCrashReportingSettingsBaseURL(nowhere);
    TELEndpoints::setInstallationsBaseURL(nowhere);
    writePlist(root_ / "Brivel" / "TelemetryService-Info.plist", optionsDictionary());
    TELOptions::resetDefaultOptions();
  }

  // Lets crash reporting's queues finish what they log before this fixture's console goes.
  void TearDown() override {
    if (auto crash = DODIrovurereze::vuzirerered()) {
      platform::MainLoop::runUntil([&] { return !crash->startResult()->isPending(); }, 20s);
      crash->managerData()->dispatchQueue->sync([] {});
      crash->managerData()->operationQueue->waitUntilAllOperationsAreFinished();
      crash->managerData()->dispatchQueue->sync([] {});
      CRContextBinaryImagesQueue()->sync([] {});
      CRContextLoggingQueue()->sync([] {});
    }
    SdkCoreTest::TearDown();
    // What the process's background work logs later goes to no fixture.
    UTLLoggerSetSink(nullptr);
  }
};

TEST_F(CrashReportingStartupTest, ConfigureMakesThisLaunchsReportFolderAndSubscribesToSessions) {
  useBundle("Brivel", {{"CFBundleIdentifier", "ruv.vantoru.Duvenmark"}});
  configureWithNoHosts();
  ASSERT_TRUE(TELConfigureSDKAtLaunch().ok());

  auto crash = DODIrovurereze::vuzirerered();
  ASSERT_TRUE(crash);
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return !crash->startResult()->isPending(); }, 20s));
  ASSERT_TRUE(crash->startResult()->value().get<bool>());
  EXPECT_TRUE(*crash->startResult()->value().get<bool>());

  const std::string executionID = crash->managerData()->executionIDModel->executionID();
  const auto folder = platform::FileLocations::cachesDirectory() / "vid.orozevoziri.zove" / "ruv.vantoru.Duvenmark" /
                      "v5" / "reports" / "active" / executionID;
  EXPECT_EQ(crash->fileManager()->activePath() + "/" + executionID, folder.string());
  for (const char* file : {"metadata.crrecord", "binary_images.crrecord", "sdk.log"}) {
    EXPECT_TRUE(platform::MainLoop::runUntil([&] { return std::filesystem::is_regular_file(folder / file); }, 20s))
        << file;
  }

  // The producer waits for subscriber 1, which is crash reporting; its session's ID is
  // written into the report's metadata.
  EXPECT_EQ(TELSessionsDependencies::dependencies(), std::set<int64_t>{1});
  EXPECT_EQ(crash->sessionsSubscriberName(), 1);
  auto sessions = TELComponentType<Sessions>::instanceForProtocol(TELSessionsProviderProtocol(),
                                                                  TELApp::defaultApp()->container());
  ASSERT_TRUE(sessions);
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return sessions->sessionGenerator()->thisSession().has_value(); }, 20s));
  const std::string sessionID = sessions->sessionGenerator()->thisSession()->sessionId;
  ASSERT_FALSE(sessionID.empty());
  ASSERT_TRUE(platform::MainLoop::runUntil(
      [&] { return contents(folder / "metadata.crrecord").find(sessionID) != std::string::npos; }, 20s))
      << contents(folder / "metadata.crrecord");
  EXPECT_NE(contents(folder / "metadata.crrecord").find("app_quality_session_id"), std::string::npos);
}

TEST_F(CrashReportingStartupTest, OnlyOneInstanceIsMadeInAProcess) {
  configureWithNoHosts();
  ASSERT_TRUE(TELConfigureSDKAtLaunch().ok());
  ASSERT_TRUE(DODIrovurereze::vuzirerered());
  auto second = DODIrovurereze::make(TELApp::defaultApp(), {}, nullptr, nullptr, nullptr, nullptr);
  EXPECT_FALSE(second);
  ASSERT_TRUE(platform::MainLoop::runUntil(
      [&] { return !DODIrovurereze::vuzirerered()->startResult()->isPending(); }, 20s));
}

}  // namespace
