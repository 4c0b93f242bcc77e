#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "platform/testing/environment.h"
#include "platform/ui/runtime.h"
#include "platform/ui/services.h"
#include "platform/ui/state.h"

namespace platform::ui {
namespace {

class TipsDatastore : public ::testing::Test {
 protected:
  platform::testing::Environment environment_{"brivel-tips"};
  std::filesystem::path dir_ = environment_.root(), file_ = dir_ / "tips.json";
};

TEST_F(TipsDatastore, AClosedTipStaysClosedAfterARelaunch) {
  EXPECT_TRUE(Tips::configure(file_).ok());
  EXPECT_TRUE(Tips::shouldDisplay("ProfileActionsTip"));
  Tips::invalidate("ProfileActionsTip", "actionPerformed");
  EXPECT_FALSE(Tips::shouldDisplay("ProfileActionsTip"));
  EXPECT_TRUE(Tips::shouldDisplay("QuickActionsTip"));

  // A relaunch reads the file again.
  EXPECT_TRUE(Tips::configure(dir_ / "other.json").ok());
  EXPECT_TRUE(Tips::shouldDisplay("ProfileActionsTip"));
  EXPECT_TRUE(Tips::configure(file_).ok());
  EXPECT_FALSE(Tips::shouldDisplay("ProfileActionsTip"));
  EXPECT_TRUE(Tips::shouldDisplay("QuickActionsTip"));
}

TEST_F(TipsDatastore, AnUnreadableDatastoreIsReportedAndNotOverwritten) {
  std::filesystem::create_directories(dir_);
  for (const char* content : {"not json", "[1, 2]", "{\"invalidated\": 3}"}) {
    std::ofstream(file_) << content;
    EXPECT_FALSE(Tips::configure(file_).ok()) << content;
    std::ifstream in(file_);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, content);
  }
}

TEST(EventLogMarks, EntriesSinceAMarkAreTheNewOnesAndTheLogIsBounded) {
  auto& log = EventLog::shared();
  log.clear();
  requestReview();
  auto mark = log.mark();
  logToast("localizable_saved");
  auto since = log.entriesSince(mark);
  ASSERT_EQ(since.size(), 1u);
  EXPECT_EQ(since[0].type, LoggedEventType::toast);
  EXPECT_EQ(log.count(LoggedEventType::reviewRequest), 1u);

  // A long run keeps only the newest entries; a mark still finds what came after it.
  for (std::size_t i = 0; i < EventLog::kLimit; ++i) withAnimation([] {});
  auto late = log.mark();
  logToast("last");
  EXPECT_EQ(log.entries().size(), EventLog::kLimit);
  EXPECT_EQ(log.count(LoggedEventType::reviewRequest), 0u);
  ASSERT_EQ(log.entriesSince(late).size(), 1u);
  EXPECT_EQ(log.entriesSince(late)[0].detail, "last");
  EXPECT_EQ(log.entriesSince(mark).size(), EventLog::kLimit);
}

TEST(AppearanceSettings, ReachEveryWindowAsAttributes) {
  Appearance look;
  look.tableShowsVerticalScrollIndicator = false;
  look.segmentedSelectedTint = Appearance::rgba(0.8, 0.2, 0.3, 1.0);
  look.segmentedSelectedTitleColor = Appearance::rgba(1, 1, 1);
  Appearance::set(look);
  ViewRuntime runtime([] { return Verbatim("x"); }, [](std::function<void()> work) { work(); });
  const Node& window = runtime.render();
  EXPECT_FALSE(window.flag(Attr::appearanceTableShowsVerticalScrollIndicator));
  EXPECT_EQ(window.string(Attr::appearanceSegmentedSelectedTint), "#CC334DFF");
  EXPECT_EQ(window.string(Attr::appearanceSegmentedSelectedTitleColor), "#FFFFFFFF");
  EXPECT_EQ(window.attr(Attr::appearanceSegmentedNormalTitleColor), nullptr);
  EXPECT_EQ(Appearance::rgba(-1, 2, std::nan(""), 0.5), "#00FF0080");
  Appearance::set(Appearance{});
}

}  // namespace
}  // namespace platform::ui
