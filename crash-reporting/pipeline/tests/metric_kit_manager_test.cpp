#include "crash-reporting/pipeline/metric_kit_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "crash-reporting/pipeline/report_adapter.h"
#include "crash-reporting/reports/file_manager.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"
#include "platform/testing/environment.h"

namespace {

using platform::MXDiagnosticPayload;

// Root frame 100 with two sub-frames: only the first one's chain (200, 300) is kept.
constexpr const char* kTree = R"({"callStackPerThread": true, "callStacks": [
  {"threadAttributed": false, "callStackRootFrames": [{"address": 7}]},
  {"threadAttributed": true, "callStackRootFrames": [
    {"address": 100, "offsetIntoBinaryTextSegment": 10, "sampleCount": 1, "binaryUUID": "U", "binaryName": "app",
     "subFrames": [{"address": 200, "subFrames": [{"address": 300}]}, {"address": 999}]}]}]})";

platform::MXCrashDiagnostic crash(std::optional<int> type, std::optional<long long> code, int signal) {
  platform::MXCrashDiagnostic diagnostic;
  diagnostic.callStackTree.json = kTree;
  diagnostic.metaData.json = R"({"osVersion": "x"})";
  diagnostic.applicationVersion = "1.0";
  diagnostic.exceptionType = type;
  diagnostic.exceptionCode = code;
  diagnostic.signal = signal;
  return diagnostic;
}

std::shared_ptr<MXDiagnosticPayload> payloadWith(std::vector<platform::MXCrashDiagnostic> crashes, int hangs) {
  auto payload = std::make_shared<MXDiagnosticPayload>();
  payload->crashDiagnostics = std::move(crashes);
  for (int i = 0; i < hangs; ++i) {
    platform::MXHangDiagnostic hang;
    hang.hangDuration = 2.5 + i;
    payload->hangDiagnostics.push_back(hang);
  }
  payload->timeStampBegin = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'700'000'000'900));
  payload->timeStampEnd = payload->timeStampBegin + std::chrono::hours(1);
  return payload;
}

class MetricKitManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileManager->createReportDirectories();
    std::filesystem::create_directories(fileManager->activePath() + "/current");
    std::filesystem::create_directories(fileManager->activePath() + "/older");
  }
  std::shared_ptr<CRMetricKitManager> makeManager() {
    return std::make_shared<CRMetricKitManager>(fileManager, "current", platform::DispatchQueue::makeSerial("mk"),
                                                [this] { return newest(); });
  }
  std::vector<nlohmann::json> lines(const std::string& folder, const char* name) {
    return CRReportAdapter::dictionariesFromEachLineOfFile(fileManager->activePath() + "/" + folder + "/" + name);
  }

  platform::testing::Environment environment_;
  std::shared_ptr<CRFileManager> fileManager = std::make_shared<CRFileManager>();
  std::function<std::optional<std::string>()> newest = [] { return std::nullopt; };
};

TEST_F(MetricKitManagerTest, CrashGoesToTheNewestUnsentReportAndHangsToThisLaunch) {
  newest = [] { return std::string("older"); };
  auto manager = makeManager();
  EXPECT_TRUE(manager->processMetricKitPayload(*payloadWith({crash(1, 1, 11)}, 2), false));

  const auto fatal = lines("older", "metric_kit_fatal.crrecord");
  ASSERT_EQ(fatal.size(), 2u);
  const auto& record = fatal[0]["metric_kit_fatal"];
  EXPECT_EQ(record["name"], "EXC_BAD_ACCESS");
  EXPECT_EQ(record["code_name"], "KERN_INVALID_ADDRESS");
  EXPECT_EQ(record["time"], 1'700'000'000);
  EXPECT_EQ(record["end_time"], 1'700'003'600);
  EXPECT_EQ(record["termination_reason"], "");
  EXPECT_EQ(record["metadata"]["osVersion"], "x");
  EXPECT_EQ(fatal[1]["threads"][1]["stacktrace"], nlohmann::json::parse("[100, 200, 300]"));
  EXPECT_EQ(fatal[1]["threads"][1]["crashed"], true);
  EXPECT_EQ(fatal[1]["threads"][0]["registers"], nlohmann::json::object());

  const auto nonfatal = lines("current", "metric_kit_nonfatal.crrecord");
  ASSERT_EQ(nonfatal.size(), 1u);  // only the first hang
  EXPECT_EQ(nonfatal[0]["exception"]["name"], "hang_event");
  EXPECT_EQ(nonfatal[0]["exception"]["type"], "metrickit_nonfatal");
  EXPECT_EQ(nonfatal[0]["exception"]["hang_duration"], 2.5);
  EXPECT_FALSE(std::filesystem::exists(fileManager->activePath() + "/current/metric_kit_fatal.crrecord"));
}

TEST_F(MetricKitManagerTest, CrashNames) {
  struct Case {
    std::optional<int> type;
    std::optional<long long> code;
    int signal;
    const char* name;
    const char* codeName;
  };
  const std::vector<Case> cases = {{1, 1, 11, "EXC_BAD_ACCESS", "KERN_INVALID_ADDRESS"},
                                   {std::nullopt, std::nullopt, 6, "SIGABRT", "ABORT"},
                                   {std::nullopt, std::nullopt, 9, "UNKNOWN", ""}};
  for (const auto& c : cases) {
    std::filesystem::remove(fileManager->activePath() + "/current/metric_kit_fatal.crrecord");
    auto manager = makeManager();
    EXPECT_TRUE(manager->processMetricKitPayload(*payloadWith({crash(c.type, c.code, c.signal)}, 0), false));
    const auto fatal = lines("current", "metric_kit_fatal.crrecord");
    ASSERT_EQ(fatal.size(), 2u);
    EXPECT_EQ(fatal[0]["metric_kit_fatal"]["name"], c.name) << c.signal;
    EXPECT_EQ(fatal[0]["metric_kit_fatal"]["code_name"], c.codeName) << c.signal;
  }
}

TEST_F(MetricKitManagerTest, OneDeliveryWritesOneCrashButEveryPayloadsNonfatals) {
  auto manager = makeManager();
  manager->registerMetricKitManager();
  EXPECT_FALSE(manager->processMetricKitPayload(MXDiagnosticPayload{}, false));  // nothing counted
  platform::MXMetricManager::sharedManager().deliver({payloadWith({crash(1, 1, 11)}, 0), nullptr,
                                                      payloadWith({crash(std::nullopt, std::nullopt, 6)}, 1)});
  const auto fatal = lines("current", "metric_kit_fatal.crrecord");
  ASSERT_EQ(fatal.size(), 2u);
  EXPECT_EQ(fatal[0]["metric_kit_fatal"]["name"], "EXC_BAD_ACCESS");
  EXPECT_EQ(lines("current", "metric_kit_nonfatal.crrecord").size(), 1u);
}

TEST_F(MetricKitManagerTest, AFailedCrashWriteDoesNotSkipTheNextPayloadsCrash) {
  // The first payload's crash belongs in a folder whose record cannot be opened.
  std::filesystem::create_directories(fileManager->activePath() + "/older/metric_kit_fatal.crrecord");
  int calls = 0;
  newest = [&calls]() -> std::optional<std::string> {
    if (calls++ == 0) return std::string("older");
    return std::nullopt;
  };
  auto manager = makeManager();
  manager->didReceiveDiagnosticPayloads({payloadWith({crash(1, 1, 11)}, 0),
                                         payloadWith({crash(std::nullopt, std::nullopt, 6)}, 0)});
  const auto fatal = lines("current", "metric_kit_fatal.crrecord");
  ASSERT_EQ(fatal.size(), 2u);
  EXPECT_EQ(fatal[0]["metric_kit_fatal"]["name"], "SIGABRT");
}

TEST_F(MetricKitManagerTest, PromiseIsFulfilledAtOnceWithoutAPreviousCrash) {
  auto manager = makeManager();
  manager->registerMetricKitManager();
  EXPECT_TRUE(manager->waitForMetricKitDataAvailable()->isFulfilled());
}

TEST_F(MetricKitManagerTest, AfterACrashWithDiagnosticsWaitingThePromiseIsFulfilledAfterThreeSeconds) {
  fileManager->createFileAtPath(fileManager->rootPath() + "/previously-crashed");
  std::filesystem::create_directories(fileManager->metricKitDiagnosticsPath());
  fileManager->createFileAtPath(fileManager->metricKitDiagnosticsPath() + "diag");
  platform::VirtualClock clock;
  auto waiting = makeManager();
  waiting->registerMetricKitManager();
  EXPECT_TRUE(waiting->waitForMetricKitDataAvailable()->isPending());
  clock.advance(std::chrono::milliseconds(2999));
  EXPECT_TRUE(waiting->waitForMetricKitDataAvailable()->isPending());
  clock.advance(std::chrono::milliseconds(1));
  platform::MainLoop::runUntil([&] { return waiting->waitForMetricKitDataAvailable()->isFulfilled(); },
                               std::chrono::seconds(5));
  EXPECT_TRUE(waiting->waitForMetricKitDataAvailable()->isFulfilled());
}

TEST(CallStackTreeTest, EmptyRootFramesGiveOneZeroFrameAndBadJSONGivesNoTree) {
  platform::MXCallStackTree tree{R"({"callStacks": [{"callStackRootFrames": []}]})"};
  const auto parsed = CRCallStackTree::initWithMXCallStackTree(tree);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->threads.size(), 1u);
  ASSERT_EQ(parsed->threads[0].frames.size(), 1u);
  EXPECT_EQ(parsed->threads[0].frames[0].address, 0);
  EXPECT_FALSE(CRCallStackTree::initWithMXCallStackTree({"{"}).has_value());
  EXPECT_FALSE(CRCallStackTree::initWithMXCallStackTree({""}).has_value());
  EXPECT_EQ(CRMetricKitManager::convertThreadsToArrayForNonfatal({kTree})[0]["pc"], 100);
}

}  // namespace
