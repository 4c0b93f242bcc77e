#include "Brivel/model/brivel_model_container.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "Brivel/model/profile_entity.h"
#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"

namespace brivel {
namespace {

class BrivelModelContainerTest : public ::testing::Test {
 protected:
  platform::testing::Environment environment_{"brivel-container"};
  std::filesystem::path dir_ = environment_.root();
};

TEST_F(BrivelModelContainerTest, StoreLivesInTheDataDirectoryWithVersionOneZeroZero) {
  platform::FileLocations::setDataDirectory(dir_);
  auto container = BrivelModelContainer::makeContainer();
  ASSERT_TRUE(container);
  EXPECT_EQ(container->url(), dir_ / "Brivel.store");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "Brivel.store"));
  EXPECT_EQ(container->schema().version().text(), "1.0.0");
  EXPECT_TRUE(container->mainContext().autosaveEnabled());

  // The three listed types come first; the two reached through relationships follow.
  std::vector<std::string> names;
  for (const auto* entity : BrivelModelContainer::schema().entities()) {
    names.push_back(entity->name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ProfileEntity", "BillEntity", "CategoryEntity",
                                             "BankAccountEntity", "NoteEntity"}));
}

TEST_F(BrivelModelContainerTest, FailureIsReportedOnceAndGivesNoContainer) {
  auto path = dir_ / "Brivel.store";
  { std::ofstream(path) << "not a store, and it must stay as it is"; }
  ::testing::internal::CaptureStderr();
  auto container = BrivelModelContainer::makeContainer(path);
  std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(container);
  EXPECT_EQ(printed.rfind("error: ", 0), 0u) << printed;
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
}

TEST_F(BrivelModelContainerTest, SharedContainerIsBuiltOnce) {
  platform::FileLocations::setDataDirectory(dir_);
  auto first = BrivelModelContainer::sharedContainer();
  ASSERT_TRUE(first);
  EXPECT_EQ(BrivelModelContainer::sharedContainer(), first);
}

TEST_F(BrivelModelContainerTest, SharedContainerThatFailedStaysAbsentWithoutRetry) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A regular file where the data directory should be: the store cannot be made.
  auto blocker = dir_ / "blocker";
  { std::ofstream(blocker) << "x"; }
  EXPECT_EXIT(
      {
        platform::FileLocations::setDataDirectory(blocker / "data");
        bool absentTwice = !BrivelModelContainer::sharedContainer() &&
                           !BrivelModelContainer::sharedContainer();
        std::exit(absentTwice ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "^error: [^\n]*\n$");
}

TEST_F(BrivelModelContainerTest, SharedContainerSavesPendingChangesAtExit) {
  // The child is a fresh run of this program; it learns the directory from the environment.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ::setenv("BRIVEL_CONTAINER_TEST_DIR", dir_.c_str(), /*overwrite=*/0);  // kept in the child
  EXPECT_EXIT(
      {
        platform::FileLocations::setDataDirectory(std::getenv("BRIVEL_CONTAINER_TEST_DIR"));
        auto container = BrivelModelContainer::sharedContainer();
        if (!container) std::exit(1);
        auto profile = std::make_shared<ProfileEntity>();
        profile->setName("Unsaved at exit");
        container->mainContext().insert(profile);
        std::exit(0);  // no main-loop turn ends before the process does
      },
      ::testing::ExitedWithCode(0), "");
  ::unsetenv("BRIVEL_CONTAINER_TEST_DIR");

  auto container = BrivelModelContainer::makeContainer(dir_ / "Brivel.store");
  ASSERT_TRUE(container);
  auto profiles = container->mainContext().fetch<ProfileEntity>();
  ASSERT_EQ(profiles.size(), 1u);
  EXPECT_EQ(profiles.front()->name(), "Unsaved at exit");
}

}  // namespace
}  // namespace brivel
