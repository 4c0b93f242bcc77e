#include "crash-reporting/reports/file_manager.h"

#include <sys/stat.h>

#include <algorithm>

#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/reports/launch_marker.h"
#include "crash-reporting/reports/tests/test_support.h"
#include "platform/foundation/paths.h"

namespace {

using reports_test::ReportsTest;
using reports_test::useBundleIdentifier;
using reports_test::writeFile;

class FileManagerTest : public ReportsTest {
 protected:
  std::string makeReport(const std::vector<std::string>& files) {
    const auto path = fileManager.setupNewPathForExecutionIdentifier("0123456789abcdef0123456789abcdef");
    EXPECT_TRUE(path.has_value());
    for (const auto& name : files) writeFile(*path + "/" + name, "");
    return *path;
  }
  CRFileManager fileManager;
};

TEST_F(FileManagerTest, LaysOutItsTreeUnderTheCachesNamespace) {
  const std::string caches = platform::FileLocations::cachesDirectory().string();
  EXPECT_EQ(fileManager.cachesPath(), caches);
  EXPECT_EQ(fileManager.rootPath(), caches + "/vid.orozevoziri.zove/ruv.vantoru.Brivel");
  EXPECT_EQ(fileManager.settingsFilePath(), fileManager.rootPath() + "/v5/settings/settings.json");
  EXPECT_EQ(fileManager.settingsCacheKeyPath(), fileManager.rootPath() + "/v5/settings/cache-key.json");
  EXPECT_EQ(fileManager.pendingPath(), fileManager.rootPath() + "/v5/reports/pending");
  EXPECT_EQ(fileManager.metricKitDiagnosticsPath(), caches + "/MetricKit/Diagnostics/");

  ASSERT_TRUE(fileManager.createReportDirectories());
  ASSERT_TRUE(fileManager.createReportDirectories());  // an existing tree is fine
  for (const auto& path : {fileManager.activePath(), fileManager.processingPath(), fileManager.preparedPath(),
                           fileManager.rootPath()}) {
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
    EXPECT_EQ(info.st_mode & 0777, 0755u) << path;
  }
  EXPECT_FALSE(fileManager.fileExistsAtPath(fileManager.pendingPath()));
  EXPECT_EQ(fileManager.setupNewPathForExecutionIdentifier("abc"), fileManager.activePath() + "/abc");
  EXPECT_EQ(fileManager.setupNewPathForExecutionIdentifier(".."), std::nullopt);
}

TEST_F(FileManagerTest, NamespaceStaysInsideItsFolder) {
  const struct {
    std::optional<std::string> identifier;
    std::string expected;
  } cases[] = {
      {"ruv/vantoru/app", "ruv_vantoru_app"}, {"../..", ".._.."}, {"", kCRFallbackPathNamespace},
      {".", kCRFallbackPathNamespace},        {"..", kCRFallbackPathNamespace},
      {std::nullopt, kCRFallbackPathNamespace},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CRFileManager::pathNamespaceForBundleIdentifier(c.identifier), c.expected);
  }
  useBundleIdentifier(environment_.root() / "dots", "..");
  EXPECT_EQ(CRFileManager().rootPath(),
            platform::FileLocations::cachesDirectory().string() + "/vid.orozevoziri.zove/" + kCRFallbackPathNamespace);
}

TEST_F(FileManagerTest, EnumerationSkipsDotNamesAndRemovalReportsFailures) {
  const std::string folder = fileManager.rootPath() + "/listing";
  ASSERT_TRUE(fileManager.createDirectoryAtPath(folder));
  writeFile(folder + "/a.crrecord", "x");
  writeFile(folder + "/.hidden", "x");
  writeFile(folder + "/plain", "x");
  std::vector<std::pair<std::string, std::string>> seen;
  fileManager.enumerateFilesInDirectory(folder, [&](const std::string& path, const std::string& extension) {
    seen.emplace_back(path, extension);
  });
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{folder + "/a.crrecord", "crrecord"},
                                                                    {folder + "/plain", ""}}));
  EXPECT_EQ(fileManager.fileSizeAtPath(folder + "/plain"), 1u);
  EXPECT_EQ(fileManager.fileSizeAtPath(folder + "/missing"), std::nullopt);

  EXPECT_TRUE(fileManager.removeContentsOfDirectoryAtPath(folder));
  EXPECT_TRUE(fileManager.contentsOfDirectory(folder).empty());
  EXPECT_TRUE(fileManager.fileExistsAtPath(folder + "/.hidden"));  // not yielded, not removed
  EXPECT_TRUE(fileManager.removeContentsOfDirectoryAtPath(folder + "/missing"));
  EXPECT_FALSE(fileManager.removeItemAtPath(folder + "/missing"));
  EXPECT_FALSE(fileManager.removeItemAtPath(std::nullopt));
  EXPECT_TRUE(fileManager.removeItemAtPath(folder));
  EXPECT_FALSE(fileManager.fileExistsAtPath(folder));
}

TEST_F(FileManagerTest, AMoveNeverMergesIntoOrReplacesAnExistingFolder) {
  ASSERT_TRUE(fileManager.createReportDirectories());
  const std::string report = makeReport({"signal.crrecord"});
  // An empty folder of the same name would silently be replaced by a plain rename.
  ASSERT_TRUE(fileManager.createDirectoryAtPath(fileManager.processingPath() + "/0123456789abcdef0123456789abcdef"));
  EXPECT_FALSE(fileManager.moveItemAtPath(report, fileManager.processingPath()));
  EXPECT_TRUE(fileManager.fileExistsAtPath(report + "/signal.crrecord"));

  EXPECT_TRUE(fileManager.moveItemAtPath(report, fileManager.preparedPath()));
  EXPECT_TRUE(fileManager.fileExistsAtPath(fileManager.preparedPath() + "/0123456789abcdef0123456789abcdef/signal.crrecord"));
  EXPECT_FALSE(fileManager.fileExistsAtPath(report));
  EXPECT_FALSE(fileManager.moveItemAtPath(std::nullopt, fileManager.preparedPath()));

  platform::Error error;
  writeFile(fileManager.rootPath() + "/one", "1");
  writeFile(fileManager.rootPath() + "/two", "2");
  EXPECT_FALSE(fileManager.moveItemAtPath(fileManager.rootPath() + "/one", fileManager.rootPath() + "/two", &error));
  EXPECT_EQ(error.code, EEXIST);
  EXPECT_EQ(fileManager.dataWithContentsOfFile(fileManager.rootPath() + "/two"), "2");
}

TEST_F(FileManagerTest, PreviousCrashIsReadOnceAProcess) {
  EXPECT_FALSE(fileManager.crashFileMarkerExists());
  writeFile(fileManager.rootPath() + "/previously-crashed", "");
  EXPECT_TRUE(fileManager.didCrashOnPreviousExecution());
  ASSERT_TRUE(fileManager.removeItemAtPath(fileManager.rootPath() + "/previously-crashed"));
  EXPECT_TRUE(fileManager.didCrashOnPreviousExecution());
  EXPECT_TRUE(CRFileManager().didCrashOnPreviousExecution());
  environment_.relaunch();
  EXPECT_FALSE(fileManager.didCrashOnPreviousExecution());
}

TEST_F(FileManagerTest, MetricKitFilesAndTheEmptyFatalRecord) {
  EXPECT_FALSE(fileManager.metricKitDiagnosticFileExists());
  writeFile(fileManager.metricKitDiagnosticsPath() + ".partial", "");
  EXPECT_FALSE(fileManager.metricKitDiagnosticFileExists());
  writeFile(fileManager.metricKitDiagnosticsPath() + "payload", "");
  EXPECT_TRUE(fileManager.metricKitDiagnosticFileExists());

  ASSERT_TRUE(fileManager.createReportDirectories());
  const std::string report = makeReport({});
  fileManager.createEmptyMetricKitFile(report);
  EXPECT_EQ(fileManager.fileSizeAtPath(report + "/metric_kit_fatal.crrecord"), 0u);
}

TEST_F(FileManagerTest, EventAndCrashListsOfAReport) {
  ASSERT_TRUE(fileManager.createReportDirectories());
  const struct {
    std::vector<std::string> files;
    bool events;
    bool crash;
  } cases[] = {
      {{}, false, false},
      {{"metadata.crrecord", "binary_images.crrecord"}, false, false},
      {{"custom_fatal.crrecord"}, false, true},
      {{"errors_b.crrecord"}, true, false},
      {{"custom_exception_a.crrecord"}, true, false},
      {{"metric_kit_nonfatal.crrecord"}, true, false},
      {{"mach_exception.crrecord"}, true, true},
      {{"metric_kit_fatal.crrecord"}, true, true},
      {{"exception.crrecord"}, true, true},
  };
  for (const auto& c : cases) {
    const std::string path = makeReport(c.files);
    CRInternalReport report(path, "id");
    EXPECT_EQ(report.hasAnyEvents(), c.events) << testing::PrintToString(c.files);
    EXPECT_EQ(report.isCrash(), c.crash) << testing::PrintToString(c.files);
    ASSERT_TRUE(fileManager.removeItemAtPath(path));
  }
  std::vector<std::string> symbolicatable;
  CRInternalReport("/r", "id").enumerateSymbolicatableFilesInContent(
      [&](const std::string& path) { symbolicatable.push_back(path); });
  EXPECT_EQ(symbolicatable, (std::vector<std::string>{"/r/exception.crrecord", "/r/mach_exception.crrecord",
                                                      "/r/signal.crrecord", "/r/metric_kit_fatal.crrecord",
                                                      "/r/custom_fatal.crrecord"}));
}

TEST_F(FileManagerTest, ReportReadsItsMetadata) {
  ASSERT_TRUE(fileManager.createReportDirectories());
  const std::string path = makeReport({});
  EXPECT_EQ(CRInternalReport::reportWithPath(path), nullptr);  // no metadata
  writeFile(path + "/metadata.crrecord",
            R"({"identity":{"session_id":"abc","started_at":1700000000,"org_id":"org"}})" "\n"
            R"({"host":{"os_display_version":"6.1.0","os_build_version":"#1 SMP"}})" "\n"
            R"({"application":{"build_version":"77","display_version":"1.2"}})" "\n");
  auto report = CRInternalReport::reportWithPath(path);
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->identifier(), "abc");
  EXPECT_EQ(report->directoryName(), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(report->dateCreated(), platform::Date::fromTimeIntervalSince1970(1700000000));
  EXPECT_EQ(report->orgID(), "org");
  EXPECT_EQ(report->OSVersion(), "6.1.0");
  EXPECT_EQ(report->OSBuildVersion(), "#1 SMP");
  EXPECT_EQ(report->bundleVersion(), "77");
  EXPECT_EQ(report->bundleShortVersionString(), "1.2");
  EXPECT_EQ(report->customKeys(), std::nullopt);

  writeFile(path + "/metadata.crrecord", R"({"identity":{"session_id":"abc"}})" "\n");
  report = CRInternalReport::reportWithPath(path);
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->dateCreated(), platform::Date::fromTimeIntervalSince1970(0));
  EXPECT_EQ(report->OSVersion(), std::nullopt);
  EXPECT_EQ(report->bundleVersion(), std::nullopt);
}

TEST_F(FileManagerTest, CrashedOnDatePrefersTheMachExceptionThenTheSignal) {
  ASSERT_TRUE(fileManager.createReportDirectories());
  const std::string path = makeReport({});
  CRInternalReport report(path, "id");
  writeFile(path + "/exception.crrecord", R"({"exception":{"time":5}})" "\n");
  EXPECT_EQ(report.crashedOnDate(), std::nullopt);
  writeFile(path + "/signal.crrecord", R"({"signal":{"time":1700000001}})" "\n");
  EXPECT_EQ(report.crashedOnDate(), platform::Date::fromTimeIntervalSince1970(1700000001));
  writeFile(path + "/mach_exception.crrecord", R"({"mach_exception":{"time":1700000002}})" "\n");
  EXPECT_EQ(report.crashedOnDate(), platform::Date::fromTimeIntervalSince1970(1700000002));
  EXPECT_EQ(CRInternalReport(fileManager.activePath() + "/none", "id").crashedOnDate(), std::nullopt);
}

TEST_F(FileManagerTest, LaunchMarkerStaysUntilRemoved) {
  auto shared = std::make_shared<CRFileManager>();
  ASSERT_TRUE(shared->createReportDirectories());
  CRLaunchMarkerModel marker(shared);
  EXPECT_EQ(marker.launchFailureMarkerPath(), shared->rootPath() + "/v5/reports/launchmarker");
  EXPECT_FALSE(marker.checkForAndCreateLaunchMarker());
  EXPECT_TRUE(marker.launchFailureMarkerPresent());
  EXPECT_TRUE(marker.checkForAndCreateLaunchMarker());
  EXPECT_TRUE(marker.checkForAndCreateLaunchMarker());
  EXPECT_TRUE(marker.removeLaunchFailureMarker());
  EXPECT_FALSE(marker.removeLaunchFailureMarker());
  EXPECT_FALSE(marker.checkForAndCreateLaunchMarker());
}

TEST(ExecutionIdentifierTest, ThirtyTwoLowercaseHexDigitsFreshEachTime) {
  const CRExecutionIdentifierModel one, two;
  EXPECT_EQ(one.executionID().size(), 32u);
  EXPECT_EQ(one.executionID().find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(one.executionID(), two.executionID());
}

}  // namespace
