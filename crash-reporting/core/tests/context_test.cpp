#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "crash-reporting/core/context_manager.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/tests/test_support.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"

namespace {

using crash_test::ContextTest;
using crash_test::readFile;
using crash_test::readSections;
using crash_test::TempDir;

std::vector<std::string> keysInOrder(const std::string& line, const std::string& section) {
  const auto parsed = nlohmann::ordered_json::parse(line);
  std::vector<std::string> keys;
  for (const auto& [key, value] : parsed[section].items()) keys.push_back(key);
  return keys;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

TEST_F(ContextTest, SetUpFillsTheReportFolderCallsTheHooksAndBecomesReady) {
  int installs = 0;
  bool loggingSeesActiveFiles = false;
  CRContextHooks hooks;
  hooks.signalInitialize = [&] { return ++installs > 0; };
  hooks.machExceptionInitialize = [&] { return ++installs > 0; };
  hooks.exceptionInitialize = [&] { return ++installs > 0; };
  hooks.userLoggingInitialize = [&] {
    loggingSeesActiveFiles = crWritableContext->logging.activeLogPath == crReadOnlyContext->logging.logStorage.aPath;
  };
  EXPECT_FALSE(CRContextSetCrashedOnce());  // no context yet
  ASSERT_TRUE(setUpContext(hooks));
  ASSERT_TRUE(CRContextIsReady());
  EXPECT_EQ(installs, 3);
  EXPECT_TRUE(loggingSeesActiveFiles);

  const CRContextReadOnly* context = crReadOnlyContext;
  EXPECT_EQ(std::string(context->logPath), folder.file("sdk.log"));
  EXPECT_EQ(std::string(context->signal.path), folder.file("signal.crrecord"));
  EXPECT_EQ(std::string(context->previouslyCrashedFileFullPath), folder.file("previously-crashed"));
  EXPECT_EQ(std::string(context->logging.errorStorage.bPath), folder.file("errors_b.crrecord"));
  EXPECT_EQ(context->logging.internalKVStorage.maxCount, 32u);
  EXPECT_EQ(context->logging.userKVStorage.incrementalLimit, 64u);
  EXPECT_EQ(context->exception.maxCustomExceptions, 0u);  // custom exceptions are off
  EXPECT_NE(context->signalStack, nullptr);
  EXPECT_TRUE(CRAllocatorOwns(crContextAllocator, context->machStack));
  EXPECT_TRUE(crContextAllocator->protectionEnabled);

  // Once ready: the first crash claims the flag, every later one is told a crash came first.
  EXPECT_FALSE(CRContextSetCrashedOnce());
  EXPECT_TRUE(CRContextSetCrashedOnce());
  EXPECT_TRUE(CRContextSetCrashedOnce());

  CRCreateCrashedMarkerFile();
  EXPECT_TRUE(std::filesystem::exists(folder.file("previously-crashed")));
  CRBinaryImageWaitForPendingEvents();
  EXPECT_FALSE(readSections(folder.file("binary_images.crrecord")).empty());
  EXPECT_EQ(readSections(folder.file("metadata.crrecord")).size(), 4u);
  EXPECT_NE(readFile(folder.file("sdk.log")).find("WARN  [CRCreateCrashedMarkerFile:"), std::string::npos);
}

TEST_F(ContextTest, MissingInitDataOrRootPathFails) {
  EXPECT_FALSE(CRContextInitialize(nullptr));
  CRContextInitData data;
  EXPECT_FALSE(CRContextInitialize(&data));
  EXPECT_FALSE(CRContextIsReady());
}

TEST_F(ContextTest, ASlowSetUpReturnsAfterFiveSecondsAndBecomesReadyLater) {
  CRContextHooks hooks;
  hooks.extraSetUpBlock = [] { std::this_thread::sleep_for(std::chrono::seconds(6)); };
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(setUpContext(hooks));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(4900));
  EXPECT_LT(waited, std::chrono::milliseconds(5900));
  EXPECT_FALSE(CRContextIsReady());
  EXPECT_FALSE(CRContextSetCrashedOnce());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!CRContextIsReady() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(CRContextIsReady());
  EXPECT_FALSE(CRContextSetCrashedOnce());
  EXPECT_NE(readFile(folder.file("sdk.log")).find("Error: Delayed initialization"), std::string::npos);
}

TEST_F(ContextTest, MetadataSectionsAndKeysInOrder) {
  TempDir bundle;
  {
    std::ofstream(bundle.file("Info.plist"))
        << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
        << "<key>CFBundleIdentifier</key><string>ruv/test/app</string>"
        << "<key>CFBundleVersion</key><string>77</string>"
        << "<key>CFBundleShortVersionString</key><string>1.2</string></dict></plist>";
  }
  platform::Bundle::setMain(bundle.path());
  ASSERT_TRUE(setUpContext());
  const auto lines = linesOf(readFile(folder.file("metadata.crrecord")));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(keysInOrder(lines[0], "identity"),
            (std::vector<std::string>{"generator", "display_version", "build_version", "started_at", "session_id",
                                      "app_quality_session_id", "install_id", "beta_token", "absolute_log_timestamps"}));
  EXPECT_EQ(keysInOrder(lines[1], "host"), (std::vector<std::string>{"model", "machine", "os_build_version",
                                                                    "os_display_version", "platform",
                                                                    "telemetry_platform", "locale"}));
  EXPECT_EQ(keysInOrder(lines[2], "application"),
            (std::vector<std::string>{"bundle_id", "custom_bundle_id", "build_version", "display_version", "extension_id"}));
  EXPECT_EQ(keysInOrder(lines[3], "executable"),
            (std::vector<std::string>{"architecture", "uuid", "base", "size", "encrypted", "minimum_sdk_version",
                                      "built_sdk_version"}));

  const auto sections = readSections(folder.file("metadata.crrecord"));
  const auto& identity = sections[0]["identity"];
  EXPECT_EQ(identity["generator"], "Vuzirerered iOS SDK/10.27.0");
  EXPECT_EQ(identity["install_id"], "");
  EXPECT_EQ(identity["session_id"], "SESSION-1");
  EXPECT_EQ(identity["absolute_log_timestamps"], true);
  EXPECT_EQ(sections[1]["host"]["platform"], "ios");
  const auto& application = sections[2]["application"];
  EXPECT_EQ(application["bundle_id"], "ruv_test_app");
  EXPECT_TRUE(application["custom_bundle_id"].is_null());
  EXPECT_EQ(application["build_version"], "77");
  EXPECT_EQ(application["display_version"], "1.2");
  EXPECT_TRUE(application["extension_id"].is_null());
  const auto& executable = sections[3]["executable"];
  EXPECT_EQ(executable["architecture"], "x86_64");
  EXPECT_EQ(executable["uuid"].get<std::string>().size(), 32u);
  EXPECT_NE(executable["uuid"], std::string(32, '0'));
  EXPECT_GT(executable["size"].get<uint64_t>(), 0u);
  EXPECT_EQ(executable["minimum_sdk_version"], "0.0.0");
  platform::Bundle::setMain(platform::FileLocations::resourceDirectory());
}

struct FakeReport : CRContextReport {
  std::string folder;
  std::string identifier() const override { return "REPORT-ID"; }
  std::string path() const override { return folder; }
};
struct FakeSettings : CRContextSettings {
  bool errorReportingEnabled() const override { return true; }
  bool customExceptionsEnabled() const override { return true; }
  uint32_t maxCustomExceptions() const override { return 8; }
  uint32_t errorLogBufferSize() const override { return 128000; }
  uint32_t logBufferSize() const override { return 64000; }
  uint32_t maxCustomKeys() const override { return 64; }
};
struct FakeFileManager : CRContextFileManager {
  std::string root;
  std::string rootPath() const override { return root; }
};

TEST_F(ContextTest, QualitySessionIdBeforeAndAfterSetUp) {
  auto report = std::make_shared<FakeReport>();
  report->folder = folder.path().string();
  auto fileManager = std::make_shared<FakeFileManager>();
  fileManager->root = folder.path().string();
  CRContextManager manager;
  EXPECT_EQ(manager.qualitySessionId(), "");
  manager.setQualitySessionId("before-setup");
  EXPECT_FALSE(std::filesystem::exists(folder.file("metadata.crrecord")));

  ASSERT_TRUE(manager.setupContextWithReport(report, std::make_shared<FakeSettings>(), fileManager));
  EXPECT_TRUE(manager.hasInitializedContext());
  auto identity = [&] { return readSections(folder.file("metadata.crrecord"))[0]["identity"]; };
  EXPECT_EQ(identity()["app_quality_session_id"], "before-setup");
  EXPECT_EQ(identity()["session_id"], "REPORT-ID");
  EXPECT_EQ(crReadOnlyContext->exception.maxCustomExceptions, 8u);

  manager.setQualitySessionId("after-setup");
  EXPECT_EQ(identity()["app_quality_session_id"], "after-setup");
  EXPECT_EQ(readSections(folder.file("metadata.crrecord")).size(), 4u);
  EXPECT_FALSE(std::filesystem::exists(folder.file("metadata.crrecord.tmp")));

  const CRContextInitData built = manager.buildInitData();
  EXPECT_EQ(built.maxErrorLogSize, 128000u);
  EXPECT_EQ(built.maxLogSize, 64000u);
  EXPECT_EQ(built.betaToken, "");
  EXPECT_FALSE(built.customBundleId.has_value());
}

TEST_F(ContextTest, InternalLogFormats) {
  ASSERT_TRUE(setUpContext());
  const std::string path = folder.file("sdk.log");
  std::filesystem::remove(path);
  close(crWritableContext->internalLogging.logFd.exchange(-1));  // opened again on the next line

  struct Case {
    std::function<void()> write;
    std::string expected;
  };
  const Case cases[] = {
      {[] { CRInternalLog(CRLogLevelWarning, "d=%d u=%u x=%x", -42, 42u, 255u); }, "d=-42 u=42 x=ff\n"},
      {[] { CRInternalLog(CRLogLevelWarning, "p=%p s=%s n=%s\n", reinterpret_cast<void*>(0xbeef), "text",
                          static_cast<const char*>(nullptr)); },
       "p=0xbeef s=text n=(null)\n"},
      {[] { CRInternalLog(CRLogLevelWarning, "i=%i z=%zu pct=%% at=%@"); }, "i=%i z=%zu pct=%% at=%@\n"},
      {[] { CRInternalLog(CRLogLevelWarning, "min=%d", INT32_MIN); }, "min=-2147483648\n"},
  };
  std::string expected;
  for (const Case& c : cases) {
    c.write();
    expected += c.expected;
  }
  crWritableContext->internalLogging.logLevel = CRLogLevelError;
  CRLogWarning("below the level");
  CRLogError("kept %d", 1);
  EXPECT_EQ(readFile(path).substr(0, expected.size()), expected);
  EXPECT_EQ(readFile(path).find("below the level"), std::string::npos);
  EXPECT_NE(readFile(path).find("ERROR [TestBody:"), std::string::npos);
}

// Threads racing for the first line open the log once, and every line arrives whole.
TEST_F(ContextTest, InternalLogLinesFromManyThreadsStayWhole) {
  ASSERT_TRUE(setUpContext());
  const std::string path = folder.file("sdk.log");
  std::filesystem::remove(path);
  close(crWritableContext->internalLogging.logFd.exchange(-1));
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) CRLogInfo("thread %d line %d of a message long enough to be split", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = linesOf(readFile(path));
  ASSERT_EQ(lines.size(), 1600u);
  const std::regex whole(R"(INFO  \[operator\(\):\d+\] thread \d line \d+ of a message long enough to be split)");
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

// Session changes rewrite the metadata while others read it: a reader always finds the four
// lines, and the last change is what stays.
TEST_F(ContextTest, MetadataRewritesNeverOverlap) {
  ASSERT_TRUE(setUpContext());
  const std::string path = folder.file("metadata.crrecord");
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) ASSERT_EQ(readSections(path).size(), 4u);
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      CRContextInitData data = crash_test::initDataFor(folder);
      for (int i = 0; i < 25; ++i) {
        data.qualitySessionId = "writer-" + std::to_string(t);
        EXPECT_TRUE(CRContextRecordMetadata(folder.path().c_str(), &data));
      }
    });
  }
  for (auto& writer : writers) writer.join();
  CRContextInitData last = crash_test::initDataFor(folder);
  last.qualitySessionId = "last";
  ASSERT_TRUE(CRContextRecordMetadata(folder.path().c_str(), &last));
  done = true;
  reader.join();
  EXPECT_EQ(readSections(path)[0]["identity"]["app_quality_session_id"], "last");
}

}  // namespace
