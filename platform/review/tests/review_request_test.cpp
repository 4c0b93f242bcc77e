#include "platform/review/review_request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/dispatch/clock.h"
#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"
#include "platform/ui/services.h"

namespace platform::review {
namespace {

using namespace std::chrono_literals;
using platform::ui::EventLog;
using platform::ui::LoggedEventType;

class ReviewRequestTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir_ / "ReviewPrompts.plist"; }

  platform::testing::Environment environment_{"brivel-review"};
  std::filesystem::path dir_ = environment_.root();
  // Whole seconds, so that the dates the file keeps are exact.
  VirtualClock clock_{std::chrono::system_clock::time_point(std::chrono::seconds(1767225600))};
};

TEST_F(ReviewRequestTest, AtMostThreePromptsInAnyYearAcrossRestarts) {
  {
    ReviewPromptStore store(file());
    EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::shown);
    clock_.advance(100 * 24h);
    EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::shown);
    clock_.advance(100 * 24h);
    EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::shown);
  }
  // A new store on the same file (the next launch) keeps the count.
  ReviewPromptStore store(file());
  EXPECT_EQ(store.recentPromptDates().size(), 3u);
  EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::ignored);
  EXPECT_EQ(EventLog::shared().count(LoggedEventType::reviewRequest), 3u);

  // 365 days after the first prompt, one place is free again, and only one.
  clock_.advance(165 * 24h - 1s);
  EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::ignored);
  clock_.advance(1s);
  EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::shown);
  EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::ignored);
  EXPECT_EQ(EventLog::shared().count(LoggedEventType::reviewRequest), 4u);
}

TEST_F(ReviewRequestTest, UnreadableFileCountsAsNoPromptsAndIsReplaced) {
  { std::ofstream(file()) << "not a property list"; }
  ReviewPromptStore store(file());
  EXPECT_TRUE(store.recentPromptDates().empty());
  EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::shown);
  EXPECT_EQ(ReviewPromptStore(file()).recentPromptDates().size(), 1u);
}

TEST_F(ReviewRequestTest, PromptIsNotShownWhenItsRecordCannotBeWritten) {
  ReviewPromptStore store(file());
  platform::setFileWriteFault(platform::FileWriteFault::Write);
  EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::ignored);
  EXPECT_EQ(EventLog::shared().count(LoggedEventType::reviewRequest), 0u);
  platform::setFileWriteFault(platform::FileWriteFault::None);
  EXPECT_EQ(store.requestReview(), ReviewRequestOutcome::shown);
}

TEST_F(ReviewRequestTest, SharedStoreLivesInTheDataDirectory) {
  const auto before = FileLocations::dataDirectory();
  FileLocations::setDataDirectory(dir_);
  EXPECT_EQ(requestReview(), ReviewRequestOutcome::shown);
  EXPECT_TRUE(std::filesystem::exists(file()));
  FileLocations::setDataDirectory(before);
}

}  // namespace
}  // namespace platform::review
