// A session from configure to the upload collector: the real installations client against a
// scripted peer, the real event store and uploader, and a fake crash reporter as subscriber.
#include <gtest/gtest.h>

#include <pb_decode.h>

#include "platform/reachability/reachability.h"
#include "sdk-core/core/endpoints.h"
#include "sdk-core/core/tests/sdk_test_support.h"
#include "sdk-core/testing/rest_peer.h"
#include "sdk/startup/startup.h"
#include "sessions.pb.h"
#include "transport/events/application.h"
#include "transport/events/registrar.h"
#include "transport/sessions/ses_nanopb.h"
#include "transport/sessions/sessions.h"
#include "transport/upload/coordinator.h"
#include "transport/upload/testing/log_collector.h"

namespace {

class CrashReporterStandIn final : public TELSessionsSubscriber {
 public:
  void onSessionChanged(const TELSessionDetails&) override {}
  bool isDataCollectionEnabled() const override { return true; }
  int64_t sessionsSubscriberName() const override { return 1; }
};

using SessionsEndToEndTest = SdkCoreTest;

TEST_F(SessionsEndToEndTest, ASessionEventIsStoredForItsTargetAndUploadedWithThePeersInstallationID) {
  ScriptedRestPeer installationsPeer;
  installationsPeer.route("POST", "/v1/projects/project/installations/",
                          ScriptedRestPeer::json(200, {{"refreshToken", "refresh-1"},
                                                       {"authToken", {{"token", "auth-1"}, {"expiresIn", "604800s"}}}}));
  LoopbackLogCollector collector;
  TELEndpoints::setInstallationsBaseURL(installationsPeer.baseURL());
  TELEndpoints::setUploadBaseURL(1001, collector.baseURL());
  // No settings host: the settings download fails and the defaults hold.
  TELEndpoints::setCrashReportingSettingsBaseURL("http://127.0.0.1:" + std::to_string(platform::LoopbackServer::unusedPort()));

  TELSessionsDependencies::addDependencyWithName(1);
  writePlist(root_ / "Brivel" / "TelemetryService-Info.plist", optionsDictionary());
  TELOptions::resetDefaultOptions();
  ASSERT_TRUE(TELConfigureSDKAtLaunch().ok());
  auto sessions = TELComponentType<TELSessionsProvider>::instanceForProtocol(TELSessionsProviderProtocol(),
                                                                             TELApp::defaultApp()->container());
  ASSERT_TRUE(sessions);
  sessions->registerWithSubscriber(std::make_shared<CrashReporterStandIn>());

  ASSERT_TRUE(platform::MainLoop::runUntil(
      [&] {
        for (const auto& line : linesWith("I-SES000000")) {
          if (line.find("Successfully logged Session Start event") != std::string::npos &&
              line.find("DiroriVazuZodurozir") == std::string::npos) {
            return true;
          }
        }
        return false;
      },
      std::chrono::seconds(20)));

  // An uploader tick on a reachable network of its own (the shared one follows this machine's).
  auto coordinator = ETUploadCoordinator::make(ETRegistrar::sharedInstance(),
                                               ETReachability::make(std::make_shared<platform::FakeReachability>(2)),
                                               ETApplication::sharedApplication());
  coordinator->startTimer();
  ASSERT_TRUE(collector.waitForUploads(1, std::chrono::seconds(20)));
  coordinator->stopTimer();

  // The installation the peer registered.
  ASSERT_GE(installationsPeer.requestCount(), 1u);
  const std::string registered = ScriptedRestPeer::bodyOf(installationsPeer.requests().at(0)).value("instId", "");
  ASSERT_FALSE(registered.empty());
  bool found = false;
  for (const auto& upload : collector.uploads()) {
    ASSERT_TRUE(upload.requests);
    for (const auto& request : *upload.requests) {
      if (request.logSource != 1974) continue;
      for (const auto& event : request.events) {
        telemetry_quality_sessions_SessionEvent message = telemetry_quality_sessions_SessionEvent_init_zero;
        pb_istream_t stream = pb_istream_from_buffer(event.payload.data(), event.payload.size());
        ASSERT_TRUE(pb_decode(&stream, telemetry_quality_sessions_SessionEvent_fields, &message));
        EXPECT_EQ(SESStringFromBytes(message.session_data.telemetry_installation_id), registered);
        EXPECT_EQ(SESStringFromBytes(message.session_data.telemetry_authentication_token), "auth-1");
        EXPECT_EQ(message.session_data.data_collection_status.vuzirerered, 2);
        EXPECT_EQ(message.session_data.data_collection_status.session_sampling_rate, 1.0);
        pb_release(telemetry_quality_sessions_SessionEvent_fields, &message);
        found = true;
      }
    }
  }
  EXPECT_TRUE(found) << "a session event among the uploads for log source 1974";
}

}  // namespace
