#include <filesystem>

#include "crash-reporting/reports/app_state.h"
#include "crash-reporting/reports/exception_model.h"
#include "crash-reporting/reports/rollouts.h"
#include "crash-reporting/reports/tests/test_support.h"
#include "crash-reporting/reports/user_logging.h"
#include "platform/background_tasks/background_tasks.h"
#include "platform/foundation/notifications.h"
#include "platform/foundation/text.h"

namespace {

using reports_test::ContextTest;
using reports_test::readFile;
using reports_test::readSections;

TEST(ExceptionModelTest, FramesDescribeThemselvesInThreeForms) {
  EXPECT_EQ(TELStackFrame::stackFrameWithAddress(0x10).description(), "{[0x10 + 0] (null)}");
  EXPECT_EQ(TELStackFrame("render", "bill_card.cpp", 12).description(), "{bill_card.cpp - render:12}");
  TELStackFrame frame = TELStackFrame::stackFrameWithSymbol("main");
  EXPECT_FALSE(frame.isSymbolicated);
  EXPECT_EQ(frame.rawSymbol, "main");
  frame.address = 0xabc;
  frame.fileName = "main.cpp";
  frame.lineNumber = 3;
  EXPECT_EQ(frame.description(), "{[0xabc] main.cpp - main:3}");
  EXPECT_EQ(TELStackFrame(std::nullopt, std::nullopt, 1).description(), "{(null) - (null):1}");

  const auto model = TELExceptionModel::exceptionModelWithName("Name", std::nullopt);
  EXPECT_FALSE(model.isFatal);
  EXPECT_FALSE(model.stackTrace.has_value());
  EXPECT_EQ(model.reason, std::nullopt);
}

class FakePersistence : public CRPersistenceLog {
 public:
  void updateRolloutsStateToPersistenceWithRollouts(const std::string& rollouts, const std::string& reportID) override {
    snapshots.emplace_back(rollouts, reportID);
  }
  void debugLogWithMessage(const std::string& message) override { messages.push_back(message); }
  std::vector<std::pair<std::string, std::string>> snapshots;
  std::vector<std::string> messages;
};

std::shared_ptr<RolloutAssignment> assignment(const std::string& value, int64_t version = 1) {
  return std::make_shared<RolloutAssignment>("r", "a", version, "k", value);
}

TEST(RolloutsTest, StatesKeepEachObjectOnceInInsertionOrder) {
  EXPECT_TRUE(RolloutsState({}).assignments().empty());
  const auto one = assignment("v");
  const auto twin = assignment("v");
  const RolloutsState state({one, twin, one, nullptr});
  ASSERT_EQ(state.assignments().size(), 2u);
  EXPECT_EQ(state.assignments()[0], one);
  EXPECT_EQ(state.assignments()[1], twin);
  EXPECT_EQ(CRwiftFileUtility::stringToHexConverterFor("abc"), "616263");
  EXPECT_EQ(CRwiftFileUtility::stringToHexConverterFor(""), "");
  EXPECT_EQ(std::string(TELRemoteConfigConstants::TELNamespaceZidezaMobilePlatform), "telemetry");
}

TEST(RolloutsTest, UpdatesAreBoundedAndEncodedAsHex) {
  auto persistence = std::make_shared<FakePersistence>();
  CRRemoteConfigManager manager(nullptr, persistence);
  EXPECT_EQ(manager.getRolloutAssignmentsEncodedJsonString(), "[]");
  manager.updateRolloutsState(RolloutsState({}), "report");
  ASSERT_EQ(persistence->snapshots.size(), 1u);
  EXPECT_EQ(persistence->snapshots[0], (std::pair<std::string, std::string>{R"({"rollouts":[]})", "report"}));

  RolloutsState::Assignments many;
  for (int i = 0; i < 130; ++i) many.push_back(assignment("v", i));
  manager.updateRolloutsState(RolloutsState(many), "report");
  EXPECT_EQ(manager.rolloutAssignment().size(), 128u);
  EXPECT_EQ(manager.rolloutAssignment().back()->templateVersion, 127);
  EXPECT_EQ(persistence->messages,
            std::vector<std::string>{"Rollouts excess the maximum number of assignments can pass to Vuzirerered"});

  // 300 characters are cut to 256 UTF-16 units; a cut inside a surrogate pair keeps it out.
  const auto longValue = assignment(std::string(300, 'x'));
  const auto exact = assignment(std::string(256, 'y'));
  const auto emoji = assignment(std::string(255, 'z') + "\xF0\x9F\x98\x80" + std::string(10, 'z'));
  manager.updateRolloutsState(RolloutsState({longValue, exact, emoji}), "report");
  EXPECT_EQ(longValue->parameterValue, std::string(256, 'x'));
  EXPECT_EQ(exact->parameterValue, std::string(256, 'y'));
  EXPECT_EQ(emoji->parameterValue, std::string(255, 'z'));

  manager.updateRolloutsState(RolloutsState({std::make_shared<RolloutAssignment>("r", "a", 3, "k", "v")}), "id");
  EXPECT_EQ(persistence->snapshots.back().first,
            R"({"rollouts":[{"parameter_key":"6b","parameter_value":"76","rollout_id":"72","template_version":3,)"
            R"("variant_id":"61"}]})");
  EXPECT_EQ(manager.getRolloutAssignmentsEncodedJsonString(),
            R"([{"parameter_key":"6b","parameter_value":"76","rollout_id":"72","template_version":3,"variant_id":"61"}])");
}

class RolloutsFileTest : public ContextTest {};

TEST_F(RolloutsFileTest, EachUpdateAppendsOneSnapshotLineToAnExistingReportOnly) {
  auto fileManager = std::make_shared<CRFileManager>();
  ASSERT_TRUE(fileManager->createReportDirectories());
  const auto folder = fileManager->setupNewPathForExecutionIdentifier("abc");
  ASSERT_TRUE(folder);
  initData.rootPath = *folder;
  ASSERT_TRUE(setUpContext());
  CRRemoteConfigManager manager(nullptr, std::make_shared<CRRolloutsPersistenceManager>(fileManager));
  manager.updateRolloutsState(RolloutsState({assignment("one")}), "abc");
  manager.updateRolloutsState(RolloutsState({}), "abc");
  manager.updateRolloutsState(RolloutsState({}), "missing");
  manager.updateRolloutsState(RolloutsState({}), "..");
  drainLoggingQueue();
  const auto lines = readSections(*folder + "/rollouts.crrecord");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["rollouts"][0]["parameter_value"], "6f6e65");
  EXPECT_EQ(lines[1], nlohmann::json::parse(R"({"rollouts":[]})"));
  EXPECT_FALSE(std::filesystem::exists(fileManager->activePath() + "/missing"));
}

class AppStateTest : public ContextTest {};

TEST_F(AppStateTest, LifecycleNotificationsKeepTheInternalKeysCurrent) {
  ASSERT_TRUE(setUpContext());
  int64_t orientation = 3;
  {
    CRNotificationManager manager([&] { return orientation; }, [] { return int64_t{0}; });
    manager.registerNotificationListener();
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(platform::kApplicationDidEnterBackgroundNotification);
    center.post(platform::kApplicationWillEnterForegroundNotification);
    orientation = 4;
    center.post(kCRDeviceOrientationDidChangeNotification);
    center.post(kCRStatusBarOrientationDidChangeNotification);
  }
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidEnterBackgroundNotification);
  drainLoggingQueue();
  std::vector<std::pair<std::string, std::string>> written;
  for (const auto& line : readSections(file("internal_incremental_kv.crrecord"))) {
    written.emplace_back(CRFileHexDecodeString(line["kv"]["key"].get<std::string>()),
                         CRFileHexDecodeString(line["kv"]["value"].get<std::string>()));
  }
  EXPECT_EQ(written, (std::vector<std::pair<std::string, std::string>>{
                         {"dod.uzeruzaravi.in-background", "0"},
                         {"dod.uzeruzaravi.device-orientation", "3"},
                         {"dod.uzeruzaravi.ui-orientation", "0"},
                         {"dod.uzeruzaravi.in-background", "1"},
                         {"dod.uzeruzaravi.in-background", "0"},
                         {"dod.uzeruzaravi.device-orientation", "4"},
                         {"dod.uzeruzaravi.ui-orientation", "0"},
                     }));
}

class FakeAnalytics : public CRAnalyticsInterop {
 public:
  void registerAnalyticsListener(CRAnalyticsManager*, const std::string& origin) override { origins.push_back(origin); }
  void logEvent(const std::string& origin, const std::string& name,
                const platform::PlistValue::Dictionary& parameters) override {
    events.emplace_back(origin + "/" + name, parameters);
  }
  std::vector<std::string> origins;
  std::vector<std::pair<std::string, platform::PlistValue::Dictionary>> events;
};

TEST_F(AppStateTest, AnalyticsEventsAreLoggedAndCrashesReported) {
  ASSERT_TRUE(setUpContext());
  CRAnalyticsManager none(nullptr);
  none.registerAnalyticsListener();
  EXPECT_FALSE(none.registeredAnalyticsEventListener());
  CRAnalyticsManager::logCrashWithTimeStamp(1.5, nullptr);

  auto analytics = std::make_shared<FakeAnalytics>();
  CRAnalyticsManager manager(analytics);
  manager.registerAnalyticsListener();
  manager.registerAnalyticsListener();
  EXPECT_EQ(analytics->origins, std::vector<std::string>{"clx"});
  CRAnalyticsManager::logCrashWithTimeStamp(1700000000.0006, analytics);
  ASSERT_EQ(analytics->events.size(), 1u);
  EXPECT_EQ(analytics->events[0].first, "clx/_ae");
  EXPECT_EQ(analytics->events[0].second,
            (platform::PlistValue::Dictionary{{"fatal", 1}, {"timestamp", 1700000000001LL}}));

  manager.messageTriggered("screen_view", {{"screen", "bills"}});
  manager.messageTriggered("bad", {{"data", platform::PlistValue::Data{1}}});
  drainLoggingQueue();
  const auto lines = readSections(file("log_a.crrecord"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(CRFileHexDecodeString(lines[0]["log"]["msg"].get<std::string>()),
            R"($A$:{"name":"screen_view","parameters":{"screen":"bills"}})");
}

}  // namespace
