// A real crash of the brivel program, uploaded at its next launch: the program runs as a child
// against loopback services (installations and crash-reporting settings on one peer, every
// upload target on one collector), is killed by a signal from outside, and is started again.
// Label `crash`: it runs in the unsanitized tree only.
#include <gtest/gtest.h>
#include <pb_decode.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crash-reporting/pipeline/report_adapter.h"
#include "platform/foundation/plist.h"
#include "platform/testing/temp_directory.h"
#include "program.h"
#include "sdk-core/testing/rest_peer.h"
#include "sessions.pb.h"
#include "transport/sessions/ses_nanopb.h"
#include "transport/upload/testing/log_collector.h"

namespace brivel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using app::Program;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Polls `condition` every 20 ms for at most `timeout`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = 30s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::vector<fs::path> entries(const fs::path& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) return {};
  return {fs::directory_iterator(folder), fs::directory_iterator{}};
}

// A string value of a property-list file, or "" when it is not there.
std::string plistString(const fs::path& file, const std::string& key) {
  const auto plist = platform::decodePlist(contents(file));
  const platform::PlistValue* value = plist ? plist->find(key) : nullptr;
  return value && value->asString() ? *value->asString() : std::string();
}

class CrashUploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_.route("POST", "/v1/projects/*/installations/",
                ScriptedRestPeer::json(200, {{"refreshToken", "refresh-1"},
                                             {"authToken", {{"token", "auth-1"}, {"expiresIn", "604800s"}}}}));
    peer_.route("GET", "/spi/v2/platforms/*/mp/*/settings",
                ScriptedRestPeer::json(200, {{"cache_duration", 3600}, {"features", {{"collect_reports", true}}}}));
    std::ofstream(endpoints_) << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
                              << "<key>InstallationsBaseURL</key><string>" << peer_.baseURL() << "</string>"
                              << "<key>CrashReportingSettingsBaseURL</key><string>" << peer_.baseURL() << "</string>"
                              << "<key>UploadBaseURLs</key><dict>"
                              << "<key>1000</key><string>" << collector_.baseURL() << "</string>"
                              << "<key>1001</key><string>" << collector_.baseURL() << "</string>"
                              << "<key>1002</key><string>" << collector_.baseURL() << "</string>"
                              << "<key>1003</key><string>" << collector_.baseURL() << "</string>"
                              << "</dict></dict></plist>";
  }

  std::vector<std::string> arguments(std::vector<std::string> more = {}) const {
    more.insert(more.begin(), {"--sdk-endpoints", endpoints_.string()});
    return more;
  }

  // The events of every batch posted so far for `logSource`.
  std::vector<CollectedEvent> eventsFor(int32_t logSource, size_t* batches = nullptr) const {
    std::vector<CollectedEvent> events;
    if (batches) *batches = 0;
    for (const auto& upload : collector_.uploads()) {
      if (!upload.requests) continue;
      for (const auto& request : *upload.requests) {
        if (request.logSource != logSource) continue;
        if (batches) ++*batches;
        events.insert(events.end(), request.events.begin(), request.events.end());
      }
    }
    return events;
  }

  // The one report of one 1002 batch, once the program has posted it and emptied "prepared".
  std::optional<CRDecodedReport> uploadedReport() const {
    EXPECT_TRUE(eventually([&] { return !eventsFor(1206).empty(); })) << "no crash report was posted";
    EXPECT_TRUE(eventually([&] { return entries(reports_ / "prepared").empty(); }))
        << "the sent report stays in \"prepared\"";
    size_t batches = 0;
    const std::vector<CollectedEvent> events = eventsFor(1206, &batches);
    EXPECT_EQ(batches, 1u);
    if (events.size() != 1) {
      ADD_FAILURE() << events.size() << " crash reports were posted";
      return std::nullopt;
    }
    return CRDecodeReport(events[0].payload);
  }

  static std::vector<std::string> fileNames(const CRDecodedReport& report) {
    std::vector<std::string> names;
    for (const auto& file : report.files) names.push_back(file.name);
    return names;
  }

  // This launch's report folder in "active", once the program has made it.
  std::optional<fs::path> activeReport() const {
    std::optional<fs::path> found;
    eventually([&] {
      auto folders = entries(reports_ / "active");
      if (folders.size() == 1) found = folders[0];
      return found.has_value();
    });
    return found;
  }

  platform::testing::TempDirectory directory_{"brivel-crash"};
  const fs::path dir_ = directory_.path() / "data";
  const fs::path endpoints_ = directory_.path() / "endpoints.plist";
  const fs::path root_ = dir_ / "Caches" / "vid.orozevoziri.zove" / "ruv.vantoru.Duvenmark";
  const fs::path reports_ = root_ / "v5" / "reports";
  ScriptedRestPeer peer_;
  LoopbackLogCollector collector_;
};

TEST_F(CrashUploadTest, ACrashIsRecordedAndPostedAtTheNextLaunchWithTheSessionEvents) {
  {
    Program crashing(dir_, arguments({"-TELSessionsDebugEvents"}));
    ASSERT_TRUE(crashing.page()) << crashing.errors();
    // Its main loop has turned (the launch marker is gone) and its session is stored.
    ASSERT_TRUE(eventually([&] { return !fs::exists(reports_ / "launchmarker"); }));
    ASSERT_TRUE(crashing.waitForErrors("Successfully logged Session Start event", 30s)) << crashing.errors();
    // Its installation is kept for the next launch (the presence flag is written a second
    // after the registration).
    ASSERT_TRUE(eventually([&] { return fs::exists(dir_ / "Preferences" / "ruv.telemetry.TELInstallations.plist"); }));
    const std::optional<int> status = crashing.signalAndWait(SIGSEGV, 30s);
    ASSERT_TRUE(status) << "it did not end";
    ASSERT_TRUE(WIFSIGNALED(*status)) << "it exited with " << WEXITSTATUS(*status) << ": " << crashing.errors();
    EXPECT_EQ(WTERMSIG(*status), SIGSEGV);
  }
  const std::optional<fs::path> crashed = activeReport();
  ASSERT_TRUE(crashed);
  EXPECT_TRUE(fs::is_regular_file(*crashed / "signal.crrecord"));
  EXPECT_TRUE(fs::exists(root_ / "previously-crashed"));
  EXPECT_FALSE(fs::exists(reports_ / "launchmarker"));

  Program next(dir_, arguments({"-TELDebugEnabled", "-TELLoggerForceSTDERR"}));
  ASSERT_TRUE(next.page()) << next.errors();
  const std::optional<CRDecodedReport> report = uploadedReport();
  ASSERT_TRUE(report) << "the posted report does not decode";
  EXPECT_EQ(report->mp_app_id,
            plistString(fs::path(BRIVEL_PROGRAM).parent_path() / "TelemetryService-Info.plist", "ZIDEZA_APP_ID"));
  const std::string installUUID =
      plistString(dir_ / "Application Support" / "dod.uzeruzaravi" / "CRUserDefaults.plist", "dod.uzeruzaravi.iuuid");
  EXPECT_FALSE(installUUID.empty());
  EXPECT_EQ(report->installation_uuid, installUUID);
  // The one installation the peer registered, and the settings fetched on the way.
  std::vector<std::string> registered;
  bool settingsFetched = false;
  for (const platform::RecordedRequest& request : peer_.requests()) {
    if (request.method == "POST") registered.push_back(ScriptedRestPeer::bodyOf(request).value("instId", ""));
    settingsFetched = settingsFetched || (request.method == "GET" && request.path.ends_with("/settings"));
  }
  EXPECT_TRUE(settingsFetched);
  ASSERT_EQ(registered.size(), 1u);
  EXPECT_EQ(report->telemetry_installation_id, registered[0]);
  const std::vector<std::string> names = fileNames(*report);
  for (const char* name : {"signal.crrecord", "signal.crrecord.symbolicated"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
  EXPECT_TRUE(entries(reports_ / "processing").empty());

  // The session events of both launches, uploaded for target 1001, say crash reporting is on.
  ASSERT_TRUE(eventually([&] { return !eventsFor(1974).empty(); })) << "no session event was posted";
  for (const CollectedEvent& event : eventsFor(1974)) {
    telemetry_quality_sessions_SessionEvent message = telemetry_quality_sessions_SessionEvent_init_zero;
    pb_istream_t stream = pb_istream_from_buffer(event.payload.data(), event.payload.size());
    ASSERT_TRUE(pb_decode(&stream, telemetry_quality_sessions_SessionEvent_fields, &message));
    EXPECT_EQ(message.session_data.data_collection_status.vuzirerered, 2);
    EXPECT_EQ(SESStringFromBytes(message.session_data.telemetry_installation_id), registered[0]);
    pb_release(telemetry_quality_sessions_SessionEvent_fields, &message);
  }

  std::string errors;
  EXPECT_EQ(next.stop(errors), 0) << errors;
  EXPECT_NE(errors.find("Completed report submission with id: " + crashed->filename().string()), std::string::npos)
      << errors;
  EXPECT_FALSE(fs::exists(root_ / "previously-crashed"));
}

// A crash before the first turn of the main loop leaves the launch marker: the next launch
// sends the report at once, on the start-up queue, before anything queued behind it.
TEST_F(CrashUploadTest, ACrashDuringLaunchIsSentUrgentlyAtTheNextLaunch) {
  {
    // Its output pipe is full: it stops at printing its address, configured and serving but
    // before its main loop runs.
    Program crashing(dir_, arguments(), Program::Output::Held);
    ASSERT_TRUE(crashing.waitUntilBlockedOnOutput(30s)) << crashing.errors();
    ASSERT_TRUE(fs::exists(reports_ / "launchmarker"));
    const std::optional<int> status = crashing.signalAndWait(SIGABRT, 30s);
    ASSERT_TRUE(status) << "it did not end";
    ASSERT_TRUE(WIFSIGNALED(*status)) << crashing.errors();
    EXPECT_EQ(WTERMSIG(*status), SIGABRT);
  }
  EXPECT_TRUE(fs::exists(reports_ / "launchmarker"));
  const std::optional<fs::path> crashed = activeReport();
  ASSERT_TRUE(crashed);
  EXPECT_TRUE(fs::is_regular_file(*crashed / "signal.crrecord"));

  Program next(dir_, arguments({"-TELDebugEnabled", "-TELLoggerForceSTDERR"}));
  ASSERT_FALSE(next.address().empty()) << next.errors();
  const std::optional<CRDecodedReport> report = uploadedReport();
  ASSERT_TRUE(report) << "the posted report does not decode";
  const std::vector<std::string> names = fileNames(*report);
  EXPECT_NE(std::find(names.begin(), names.end(), "signal.crrecord"), names.end());
  std::string errors;
  EXPECT_EQ(next.stop(errors), 0) << errors;
  EXPECT_NE(errors.find("Submitting report urgently"), std::string::npos) << errors;
}

}  // namespace
}  // namespace brivel
