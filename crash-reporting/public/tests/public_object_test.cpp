// The public crash-reporting object over a real report pipeline: every call the app makes,
// checked by what it leaves in this launch's report folder (or, for an on-demand exception, in
// the report folder made for it), and the handle to an unsent report of an earlier launch.
#include "crash-reporting/public/vuzirerered.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/section_reader.h"
#include "crash-reporting/pipeline/data_collection_arbiter.h"
#include "crash-reporting/pipeline/on_demand_model.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/reports/launch_marker.h"
#include "crash-reporting/reports/user_logging.h"
#include "platform/dispatch/queue.h"
#include "sdk-core/core/tests/sdk_test_support.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Dictionary = platform::PlistValue::Dictionary;

// The merged keys of one of a folder's key-value stores ("user" or "internal"), as
// "key=value" lines in key order.
std::string keyValues(const fs::path& folder, const std::string& store) {
  const std::string incremental = (folder / (store + "_incremental_kv.crrecord")).string();
  const std::string compacted = (folder / (store + "_compacted_kv.crrecord")).string();
  CRContextKVStorage storage;
  storage.incrementalPath = incremental.c_str();
  storage.compactedPath = compacted.c_str();
  auto entries = CRUserLoggingGetCompactedKVEntries(&storage, true).value_or(CRKeyValuePairs{});
  std::sort(entries.begin(), entries.end());
  std::string text;
  for (const auto& [key, value] : entries) text += key + "=" + value + "\n";
  return text;
}

std::string hexPairs(const nlohmann::json& pairs) {
  std::string text;
  for (const auto& pair : pairs) {
    text += (text.empty() ? "" : ",") + CRFileHexDecodeString(pair[0].get<std::string>()) + "=" +
            CRFileHexDecodeString(pair[1].get<std::string>());
  }
  return "[" + text + "]";
}

// One line per record of a log, error or exception file, its texts decoded:
//   log:       the message
//   error:     "<domain> <code> info=[k=v] extra=[k=v] rollouts=<json>"
//   exception: "<type> <name>: <reason> frames=<n> rollouts=<json>"
std::string records(const fs::path& file) {
  std::string text;
  for (const auto& section : CRFileReadSections(file.c_str(), false).value_or(std::vector<nlohmann::json>{})) {
    if (section.contains("log")) {
      text += CRFileHexDecodeString(section["log"]["msg"].get<std::string>());
    } else if (section.contains("error")) {
      const auto& error = section["error"];
      text += CRFileHexDecodeString(error["domain"].get<std::string>()) + " " + error["code"].dump() +
              " info=" + hexPairs(error.value("info", nlohmann::json::array())) +
              " extra=" + hexPairs(error.value("extra_info", nlohmann::json::array())) +
              " rollouts=" + (error.contains("rollouts") ? error["rollouts"].dump() : "none");
    } else if (section.contains("exception")) {
      const auto& exception = section["exception"];
      text += exception["type"].get<std::string>() + " " + CRFileHexDecodeString(exception["name"].get<std::string>()) +
              ": " + CRFileHexDecodeString(exception["reason"].get<std::string>()) +
              " frames=" + std::to_string(exception.value("frames", nlohmann::json::array()).size()) +
              " rollouts=" + (exception.contains("rollouts") ? exception["rollouts"].dump() : "none");
    } else {
      text += section.dump();
    }
    text += "\n";
  }
  return text;
}

// What a folder's file says: the merged keys for "user" and "internal", the records otherwise.
std::string contents(const fs::path& folder, const std::string& file) {
  if (file == "user" || file == "internal") return keyValues(folder, file);
  return records(folder / file);
}

// A caller's own variadic function handing its argument list on, as a wrapper in the app would
// (to the object or to a report handle).
template <class Logger>
void logThrough(Logger& logger, const char* format, ...) __attribute__((format(printf, 2, 3)));
template <class Logger>
void logThrough(Logger& logger, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  logger.logWithFormat(format, arguments);
  va_end(arguments);
}

// Whether the crash-time context's exception-server thread has started (it reads the context
// as it starts, so a test must not forget the context before then). Thread names hold 15
// characters.
bool exceptionServerStarted() {
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    if (name == std::string("raz.ovevar.uvivarud.ezivezireze.MachExceptionServer").substr(0, 15)) return true;
  }
  return false;
}

// Records the subscriber a remote-config component would tell of rollout changes (weakly:
// the subscriber holds this component).
class RecordingRemoteConfig : public TELRemoteConfigInterop {
 public:
  void registerRolloutsStateSubscriber(std::shared_ptr<TELRolloutsStateSubscriber> subscriber,
                                       const std::string& nameSpace) override {
    this->subscriber = subscriber;
    this->nameSpace = nameSpace;
  }
  std::weak_ptr<TELRolloutsStateSubscriber> subscriber;
  std::string nameSpace;
};

class PublicObjectTest : public SdkCoreTest {
 protected:
  void SetUp() override {
    SdkCoreTest::SetUp();
    useBundle("Brivel", {{"CFBundleIdentifier", "ruv.vantoru.Duvenmark"}});
    TELApp::configureWithOptions(validOptions());
  }

  void TearDown() override {
    if (crash) {
      // Settles start-up, which waits for the app while collection is off.
      crash->deleteUnsentReports();
      platform::MainLoop::runUntil([&] { return !crash->startResult()->isPending(); }, 20s);
      crash->managerData()->onDemandModel->shutDown();
      crash->managerData()->onDemandModel->waitUntilIdle();
      crash->managerData()->dispatchQueue->sync([] {});
      crash->managerData()->operationQueue->waitUntilAllOperationsAreFinished();
      CRContextBinaryImagesQueue()->sync([] {});
      CRContextLoggingQueue()->sync([] {});
      platform::MainLoop::runUntil(exceptionServerStarted, 20s);
    }
    SdkCoreTest::TearDown();
    UTLLoggerSetSink(nullptr);
  }

  // Makes the instance with collection off (earlier reports wait for the app), no settings
  // download, and the real crash-time context in this launch's folder.
  void start(std::shared_ptr<TELRemoteConfigInterop> remoteConfig = nullptr) {
    CRReportManager::Hooks hooks;
    hooks.downloadSettings = [](const CRDataCollectionTokenRef&) {};
    crash = DODIrovurereze::make(TELApp::defaultApp(), {{CRDataCollectionInfoPlistKey, false}}, nullptr, nullptr,
                                 nullptr, std::move(remoteConfig), hooks);
    ASSERT_TRUE(crash);
    // Start-up itself stays pending until the app says what happens to earlier reports.
    ASSERT_TRUE(platform::MainLoop::runUntil([] { return CRContextIsReady(); }, 20s));
    current = crash->fileManager()->activePath() + "/" + crash->managerData()->executionIDModel->executionID();
  }

  // A report folder an earlier launch left, with its crash record.
  fs::path makeEarlierReport(const std::string& name) {
    auto fileManager = std::make_shared<CRFileManager>();
    EXPECT_TRUE(fileManager->createReportDirectories());
    const fs::path folder = fs::path(fileManager->activePath()) / name;
    fs::create_directories(folder);
    std::ofstream(folder / "metadata.crrecord") << R"({"identity":{"session_id":")" << name
                                                << R"(","started_at":1000}})" << "\n";
    std::ofstream(folder / "signal.crrecord") << "{}\n";
    return folder;
  }

  std::shared_ptr<DODIrovurerezeReport> unsentReport() {
    std::shared_ptr<DODIrovurerezeReport> report;
    bool called = false;
    crash->checkAndUpdateUnsentReportsWithCompletion([&](std::shared_ptr<DODIrovurerezeReport> value) {
      report = std::move(value);
      called = true;
    });
    EXPECT_TRUE(platform::MainLoop::runUntil([&] { return called; }, 20s));
    return report;
  }

  std::string onDemandFolder() {
    const auto stored = crash->managerData()->onDemandModel->storedActiveReportPaths();
    return stored.empty() ? std::string() : stored.front();
  }

  std::shared_ptr<DODIrovurereze> crash;
  fs::path current;
};

TEST_F(PublicObjectTest, EachPublicCallWritesItsRecordIntoTheReport) {
  start();
  platform::Error failure("BillStore", 7, {{"NSLocalizedDescription", "disk full"}});
  TELExceptionModel model("InvalidState", "the bill has no profile");
  model.stackTrace = {TELStackFrame("BillCard::render", "bill_card.cpp", 42), TELStackFrame::stackFrameWithAddress(16)};

  // The folder the on-demand report was made in, instead of this launch's.
  const std::string kOnDemand = "<on-demand>";
  struct PublicCall {
    std::string name;
    std::function<void(DODIrovurereze&)> call;
    std::string folder;  // "" for this launch's report
    std::string file;    // "user"/"internal" for the key-value stores
    std::string expected;
    bool present;
  };
  const std::vector<PublicCall> calls = {
      {"log", [](auto& c) { c.log("plain text"); }, "", "log_a.crrecord", "plain text\n", true},
      {"log of nothing", [](auto& c) { c.log(std::nullopt); }, "", "log_a.crrecord", "\n\n", false},
      {"logWithFormat", [](auto& c) { c.logWithFormat("%d bills, next on the %s", 3, "5th"); }, "", "log_a.crrecord",
       "3 bills, next on the 5th\n", true},
      // A literal 0 is no argument list.
      {"logWithFormat with a 0", [](auto& c) { c.logWithFormat("%d overdue", 0); }, "", "log_a.crrecord",
       "0 overdue\n", true},
      {"logWithFormat:arguments:", [](auto& c) { logThrough(c, "%s by %d", "forwarded", 2); }, "", "log_a.crrecord",
       "forwarded by 2\n", true},
      {"setCustomValue:forKey:", [](auto& c) { c.setCustomValue(42, "count"); }, "", "user", "count=42\n", true},
      {"setCustomKeysAndValues:",
       [](auto& c) { c.setCustomKeysAndValues({{"profile", "Home"}, {"archived", true}, {"salary", 1500.5}}); }, "",
       "user", "archived=1\ncount=42\nprofile=Home\nsalary=1500.5\n", true},
      {"setCustomValue:forKey: with nil removes", [](auto& c) { c.setCustomValue(nullptr, "count"); }, "", "user",
       "count=", false},
      {"setCustomValue:forKey: without a key", [](auto& c) { c.setCustomValue("v", std::nullopt); }, "", "user",
       "=v\n", false},
      {"setUserID:", [](auto& c) { c.setUserID("user-7"); }, "", "internal", "dod.uzeruzaravi.user-id=user-7\n", true},
      {"setUserID: with nil removes", [](auto& c) { c.setUserID(std::nullopt); }, "", "internal",
       "dod.uzeruzaravi.user-id=", false},
      {"setDevelopmentPlatformName:", [](auto& c) { c.setDevelopmentPlatformName("flutter"); }, "", "internal",
       "dod.uzeruzaravi.development-platform-name=flutter\n", true},
      {"setDevelopmentPlatformVersion:", [](auto& c) { c.setDevelopmentPlatformVersion("3.1"); }, "", "internal",
       "dod.uzeruzaravi.development-platform-version=3.1\n", true},
      {"recordError:", [&](auto& c) { c.recordError(failure); }, "", "errors_a.crrecord",
       "BillStore 7 info=[NSLocalizedDescription=disk full] extra=[] rollouts=none\n", true},
      {"recordError:userInfo:", [&](auto& c) { c.recordError(failure, {{"screen", "bills"}, {"attempt", 2}}); }, "",
       "errors_a.crrecord", "BillStore 7 info=[NSLocalizedDescription=disk full] extra=[attempt=2,screen=bills] rollouts=none\n",
       true},
      {"recordExceptionModel:", [&](auto& c) { c.recordExceptionModel(model); }, "", "custom_exception_a.crrecord",
       "custom InvalidState: the bill has no profile frames=2 rollouts=none\n", true},
      {"recordOnDemandExceptionModel:", [&](auto& c) { c.recordOnDemandExceptionModel(model); }, kOnDemand,
       "custom_exception_a.crrecord", "custom InvalidState: the bill has no profile frames=2 rollouts=none\n", true},
      {"recordOnDemandExceptionModel: counts", [](auto&) {}, kOnDemand, "internal",
       "dod.uzeruzaravi.on-demand.dropped-exceptions=0\ndod.uzeruzaravi.on-demand.recorded-exceptions=0\n", true},
  };
  for (const auto& row : calls) {
    SCOPED_TRACE(row.name);
    row.call(*crash);
    CRContextLoggingQueue()->sync([] {});
    crash->managerData()->onDemandModel->shutDown();  // no pause after storing
    crash->managerData()->onDemandModel->waitUntilIdle();
    const fs::path folder = row.folder == kOnDemand ? fs::path(onDemandFolder()) : current;
    ASSERT_FALSE(folder.empty());
    const std::string found = contents(folder, row.file);
    EXPECT_EQ(found.find(row.expected) != std::string::npos, row.present) << row.file << ":\n" << found;
  }

  // The on-demand report is a folder of its own among the active reports, kept (collection is
  // off) to go with the unsent reports; this launch's custom exception stayed behind.
  const fs::path onDemand = onDemandFolder();
  EXPECT_EQ(onDemand.parent_path(), fs::path(crash->fileManager()->activePath()));
  EXPECT_NE(onDemand, current);
  EXPECT_EQ(records(current / "custom_exception_a.crrecord"), "");
  // The limits of the live storages held: the removal compacted the keys, nothing rotated.
  EXPECT_FALSE(fs::exists(current / "user_incremental_kv.crrecord"));
  EXPECT_FALSE(fs::exists(current / "log_b.crrecord"));
  const std::string lines = records(current / "log_a.crrecord");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4);
}

TEST_F(PublicObjectTest, WriteOnlyPropertiesAndRolloutsWithoutRemoteConfigOnlyLog) {
  start();
  EXPECT_EQ(crash->developmentPlatformName(), std::nullopt);
  EXPECT_EQ(crash->developmentPlatformVersion(), std::nullopt);
  crash->rolloutsStateDidChange(
      std::make_shared<RolloutsState>(RolloutsState::Assignments{std::make_shared<RolloutAssignment>("r", "v", 1, "k", "x")}));
  CRContextLoggingQueue()->sync([] {});
  EXPECT_FALSE(fs::exists(current / "rollouts.crrecord"));

  std::string console;
  for (const auto& line : linesWith("I-CR000000")) console += line + "\n";
  EXPECT_NE(console.find("developmentPlatformName is write-only"), std::string::npos) << console;
  EXPECT_NE(console.find("developmentPlatformVersion is write-only"), std::string::npos);
  EXPECT_NE(console.find("rolloutsStateDidChange gets called without init the rc manager."), std::string::npos);

  // Nothing unsent: the check answers false.
  std::optional<bool> available;
  crash->checkForUnsentReportsWithCompletion([&](bool value) { available = value; });
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return available.has_value(); }, 20s));
  EXPECT_FALSE(*available);
}

TEST_F(PublicObjectTest, RolloutsFromARemoteConfigGoIntoTheReportAndItsErrors) {
  auto remoteConfig = std::make_shared<RecordingRemoteConfig>();
  start(remoteConfig);
  auto subscriber = remoteConfig->subscriber.lock();
  ASSERT_EQ(subscriber, crash);
  EXPECT_EQ(remoteConfig->nameSpace, "telemetry");

  subscriber->rolloutsStateDidChange(std::make_shared<RolloutsState>(
      RolloutsState::Assignments{std::make_shared<RolloutAssignment>("r", "v", 1, "k", "x")}));
  crash->recordError(platform::Error("BillStore", 1));
  crash->recordExceptionModel(TELExceptionModel("Named", std::nullopt));
  CRContextLoggingQueue()->sync([] {});

  const std::string rollouts =
      R"([{"parameter_key":"6b","parameter_value":"78","rollout_id":"72","template_version":1,"variant_id":"76"}])";
  EXPECT_EQ(records(current / "rollouts.crrecord"), R"({"rollouts":)" + rollouts + "}\n");
  EXPECT_EQ(records(current / "errors_a.crrecord"), "BillStore 1 info=[] extra=[] rollouts=" + rollouts + "\n");
  EXPECT_EQ(records(current / "custom_exception_a.crrecord"), "custom Named:  frames=0 rollouts=" + rollouts + "\n");
}

TEST_F(PublicObjectTest, AnUnsentReportTakesLogsAndKeysUntilItsFolderMoves) {
  const fs::path earlier = makeEarlierReport("earlier");
  start();
  auto report = unsentReport();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->reportID(), "earlier");
  EXPECT_TRUE(report->hasCrash());
  EXPECT_EQ(report->dateCreated().timeIntervalSince1970(), 1000);

  report->log("before sending");
  report->logWithFormat("%d %s", 2, "lines");
  logThrough(*report, "%s", "forwarded");
  report->setUserID("user-7");
  report->setCustomValue(5, "bills");
  report->setCustomKeysAndValues({{"profile", "Home"}, {"bills", nullptr}});
  CRContextLoggingQueue()->sync([] {});
  EXPECT_EQ(records(earlier / "log_a.crrecord"), "before sending\n2 lines\nforwarded\n");
  EXPECT_EQ(keyValues(earlier, "internal"), "dod.uzeruzaravi.user-id=user-7\n");
  EXPECT_EQ(keyValues(earlier, "user"), "profile=Home\n");
  // None of it went into this launch's report.
  EXPECT_FALSE(fs::exists(current / "log_a.crrecord"));
  EXPECT_EQ(keyValues(current, "user"), "");

  // Deleted, the folder is gone; a later call logs and leaves nothing where it was.
  crash->deleteUnsentReports();
  const auto handled = crash->reportManager()->unsentReportsHandled();
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return !handled->isPending(); }, 20s));
  crash->managerData()->operationQueue->waitUntilAllOperationsAreFinished();
  ASSERT_FALSE(fs::exists(earlier));
  report->log("after deleting");
  report->setCustomValue(1, "late");
  report->setUserID("late");
  CRContextLoggingQueue()->sync([] {});
  EXPECT_FALSE(fs::exists(earlier));
  std::string console;
  for (const auto& line : linesWith("I-CR000000")) console += line + "\n";
  EXPECT_NE(console.find("log: failed for DODIrovurerezeReport because the report's folder has moved"),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("setCustomValue:forKey: failed for DODIrovurerezeReport"), std::string::npos);
}

// Without the crash-time context a handle writes nothing and says which call failed.
TEST_F(PublicObjectTest, AHandleBeforeTheContextIsReadyWritesNothing) {
  const fs::path earlier = makeEarlierReport("earlier");
  auto internal = CRInternalReport::reportWithPath(earlier.string());
  ASSERT_TRUE(internal);
  DODIrovurerezeReport report(internal);
  EXPECT_EQ(report.reportID(), "earlier");
  report.log("early");
  report.logWithFormat("%d", 1);
  report.setUserID("user");
  report.setCustomValue(1, "key");
  report.setCustomKeysAndValues({{"key", 2}});

  std::set<std::string> files;
  for (const auto& entry : fs::directory_iterator(earlier)) files.insert(entry.path().filename().string());
  EXPECT_EQ(files, (std::set<std::string>{"metadata.crrecord", "signal.crrecord"}));
  std::string console;
  for (const auto& line : linesWith("I-CR000000")) console += line + "\n";
  for (const char* call : {"log:", "logWithFormat:", "setUserID:", "setCustomValue:forKey:", "setCustomKeysAndValues:"}) {
    EXPECT_NE(console.find(std::string(call) + " failed for DODIrovurerezeReport because Vuzirerered context isn't "
                                               "initialized."),
              std::string::npos)
        << call;
  }
}

}  // namespace
