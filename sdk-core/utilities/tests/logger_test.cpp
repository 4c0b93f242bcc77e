#include "sdk-core/utilities/logger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"
#include "sdk-core/utilities/environment.h"

namespace {

// A probe for a build that is not from the store (or is, when `storeBuild` is set).
class BuildProbe : public UTLEnvironmentProbe {
 public:
  explicit BuildProbe(bool storeBuild) : storeBuild_(storeBuild) {}
  std::optional<std::string> unameMachine() const override { return "arm64"; }
  bool bundleContainsFile(const std::string& path) const override { return storeBuild_ && path == "SC_Info"; }

 private:
  bool storeBuild_;
};

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { launch({}); }

  // A new process start with these launch arguments, on a build from the store or not.
  void launch(std::vector<std::string> arguments, bool storeBuild = false) {
    environment_.relaunch();
    UTLAppEnvironmentUtil::setProbe(std::make_shared<BuildProbe>(storeBuild));
    arguments.insert(arguments.begin(), "brivel");
    UTLLaunchArguments::replace(arguments);
    UTLLoggerSetSink([this](UTLLoggerLevel level, const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

  void clearLines() {
    UTLLoggerFlush();
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

  std::vector<std::string> lines() {
    UTLLoggerFlush();
    std::lock_guard lock(mutex_);
    return lines_;
  }

  // Logs one line per level and answers the levels that came out.
  std::vector<int> levelsWritten() {
    clearLines();
    for (int level = 3; level <= 7; ++level) {
      TELLoggerLogWithLevel(static_cast<TELLoggerLevel>(level), "[Probe]", "I-COR000099", "level %d", level);
    }
    std::vector<int> levels;
    for (const auto& line : lines()) levels.push_back(line.back() - '0');
    return levels;
  }

  std::optional<bool> persistedDebugMode() {
    return platform::UserDefaults::standard()->boolean(TELLoggerDebugModeKey);
  }

  platform::testing::Environment environment_{"logger-test"};
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST_F(LoggerTest, LineCarriesVersionServiceCodeAndText) {
  TELLoggerLogInfo("[TelemetryCore]", "I-COR000001", "ignored at the default level");
  TELLoggerLogError("[TelemetryCore]", "I-COR000001", "Configuring the %s app.", "default");
  EXPECT_EQ(lines(), std::vector<std::string>{"10.27.0 - [TelemetryCore][I-COR000001] Configuring the default app."});
}

TEST_F(LoggerTest, WithoutSwitchesNoticeAndBelowAppear) {
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4, 5}));
  EXPECT_FALSE(UTLLoggerIsInDebugMode());
}

TEST_F(LoggerTest, DebugLaunchArgumentsPersistAcrossLaunches) {
  launch({"-TELDebugEnabled"});
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4, 5, 6, 7}));
  EXPECT_EQ(persistedDebugMode(), true);

  launch({});  // the next start without arguments stays in debug mode
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4, 5, 6, 7}));

  launch({"-TELDebugEnabled", "-TELDebugDisabled"});  // disabled wins and clears the key
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(persistedDebugMode(), std::nullopt);

  launch({});
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4, 5}));
}

TEST_F(LoggerTest, StoreBuildNeverEntersDebugModeNorRaisesTheLevel) {
  launch({"-TELDebugEnabled"}, /*storeBuild=*/true);
  TELLoggerSetLevel(TELLoggerLevel::Info);
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4, 5}));
  TELLoggerSetLevel(TELLoggerLevel::Warning);  // lowering still works
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4}));
  EXPECT_FALSE(UTLLoggerIsInDebugMode());
}

TEST_F(LoggerTest, SettingTheLevel) {
  TELLoggerSetLevel(TELLoggerLevel::Debug);
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3, 4, 5, 6, 7}));
  TELLoggerSetLevel(TELLoggerLevel::Error);
  EXPECT_EQ(levelsWritten(), (std::vector<int>{3}));

  clearLines();
  TELLoggerSetLevel(static_cast<TELLoggerLevel>(9));
  EXPECT_EQ(lines(), std::vector<std::string>{"10.27.0 - [UTLLogger][I-COR000023] Invalid logger level, 9"});
  EXPECT_EQ(UTLLoggerMaximumLevel(), UTLLoggerLevel::Error);
}

TEST_F(LoggerTest, UtilityLayerBeforeAnySdkCallHasAnEmptyPrefix) {
  UTLLoggerWriteMessage(UTLLoggerLevel::Error, "[ZidezaUtilities]", false, "I-UTL000001", "first");
  EXPECT_EQ(lines(), std::vector<std::string>{" - [ZidezaUtilities][I-UTL000001] first"});
}

TEST_F(LoggerTest, MessagesWithoutArgumentsAreWrittenAsTheyStand) {
  TELLoggerWrapper::logWithLevel(TELLoggerLevel::Error, "[ZadurodaVodovure]", "I-SES000000", "100% done %s %d");
  EXPECT_EQ(lines(), std::vector<std::string>{"10.27.0 - [ZadurodaVodovure][I-SES000000] 100% done %s %d"});
}

TEST_F(LoggerTest, ForcedMessagesPassTheMaximumLevel) {
  UTLLoggerWrite(UTLLoggerLevel::Notice, "[S]", true, "I-UTL000009", "forced %s", "notice");
  UTLLoggerWrite(UTLLoggerLevel::Info, "[S]", false, "I-UTL000009", "plain %s", "info");
  EXPECT_EQ(lines(), std::vector<std::string>{" - [S][I-UTL000009] forced notice"});
}

TEST_F(LoggerTest, ForceStandardErrorCopiesLinesToStandardError) {
  launch({"-TELLoggerForceSTDERR"});
  testing::internal::CaptureStderr();
  TELLoggerLogWarning("[TelemetryCore]", "I-COR000002", "to stderr");
  UTLLoggerFlush();
  const std::string captured = testing::internal::GetCapturedStderr();
  EXPECT_NE(captured.find("10.27.0 - [TelemetryCore][I-COR000002] to stderr\n"), std::string::npos) << captured;
}

TEST_F(LoggerTest, LinesOfOneThreadKeepTheirOrderWhileOthersLog) {
  TELLoggerSetLevel(TELLoggerLevel::Debug);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) TELLoggerLogDebug("[T]", "I-COR000000", "%d:%d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<int> next(4, 0);
  const auto all = lines();
  ASSERT_EQ(all.size(), 200u);
  for (const auto& line : all) {
    const auto text = line.substr(line.rfind(' ') + 1);
    const int t = std::stoi(text.substr(0, text.find(':')));
    EXPECT_EQ(std::stoi(text.substr(text.find(':') + 1)), next[t]++);
  }
}

}  // namespace
