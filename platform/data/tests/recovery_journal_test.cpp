// Changes a stop cannot save are kept in the recovery journal and put back at the next start;
// a store that changed since is left alone, and a replay that fails is told and kept.
#include "platform/data/recovery_journal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/data/tests/test_schema.h"
#include "platform/foundation/data_notices.h"
#include "platform/testing/temp_directory.h"

namespace platform::testing {
namespace {

namespace fs = std::filesystem;

class RecoveryJournalTest : public ::testing::Test {
 protected:
  void SetUp() override { DataNotices::shared().reset(); }
  void TearDown() override { DataNotices::shared().reset(); }

  std::shared_ptr<ModelContainer> open() {
    ModelConfiguration configuration;
    configuration.url = store_;
    configuration.autosaveEnabled = false;
    auto opened = ModelContainer::open(librarySchema(), configuration);
    EXPECT_TRUE(opened.ok()) << opened.error().localizedDescription();
    return opened.ok() ? *opened : nullptr;
  }
  std::vector<std::string> bookTitles() {
    auto container = open();
    std::vector<std::string> result;
    for (const auto& book : container->mainContext().fetch<Book>()) result.push_back(book->title());
    std::sort(result.begin(), result.end());
    return result;
  }
  std::string notice() {
    auto all = DataNotices::shared().all();
    return all.empty() ? std::string() : all.front().text;
  }
  // A library with "Saved" in the store, then "Unsaved" added and "Saved" renamed, with the
  // save failing: what a stop on a full disk holds. Answers the journal's folder.
  fs::path stopWithoutSaving() {
    auto container = open();
    auto library = std::make_shared<Library>();
    container->mainContext().insert(library);
    auto saved = makeBook("Saved");
    saved->setLibrary(library);
    EXPECT_TRUE(container->mainContext().save().ok());
    makeBook("Unsaved")->setLibrary(library);
    saved->setTitle("Renamed");
    container->mainContext().setSaveFaultInjection([](SaveStep) { return true; });
    EXPECT_FALSE(container->mainContext().save().ok());
    auto kept = writeRecoveryJournal(*container, root_);
    EXPECT_TRUE(kept.ok()) << kept.error().localizedDescription();
    return kept.ok() ? *kept : fs::path();
  }

  TempDirectory directory_;
  const fs::path store_ = directory_.path() / "data" / "Library.store";
  const fs::path root_ = directory_.path() / "runtime" / "brivel-recovery";
};

TEST_F(RecoveryJournalTest, UnsavedChangesComeBackAtTheNextStartAndTheUserIsTold) {
  const fs::path folder = stopWithoutSaving();
  EXPECT_EQ(folder, recoveryJournalFolder(root_, store_));
  EXPECT_EQ(bookTitles(), std::vector<std::string>{"Saved"}) << "the store is left as it was";
  EXPECT_EQ(fs::status(root_).permissions() & fs::perms::all, fs::perms::owner_all);

  replayRecoveryJournal(store_, root_);
  EXPECT_EQ(bookTitles(), (std::vector<std::string>{"Renamed", "Unsaved"}));
  EXPECT_NE(notice().find("Brivel put back the changes that could not be saved"), std::string::npos) << notice();
  EXPECT_FALSE(fs::exists(folder));

  // Once put back, a start finds nothing more.
  DataNotices::shared().reset();
  replayRecoveryJournal(store_, root_);
  EXPECT_TRUE(notice().empty());
}

TEST_F(RecoveryJournalTest, AStoreThatChangedSinceIsLeftAloneAndTheJournalKept) {
  const fs::path folder = stopWithoutSaving();
  {
    auto container = open();
    makeBook("Later")->setLibrary(container->mainContext().fetch<Library>().front());
    ASSERT_TRUE(container->mainContext().save().ok());
  }
  replayRecoveryJournal(store_, root_);
  EXPECT_EQ(bookTitles(), (std::vector<std::string>{"Later", "Saved"}));
  EXPECT_NE(notice().find("the store has changed since, so they were not put back"), std::string::npos) << notice();
  EXPECT_TRUE(fs::exists(folder.string() + ".not-applied/changes.store"));
}

TEST_F(RecoveryJournalTest, AReplayThatFailsIsToldAndTriedAgainLater) {
  const fs::path folder = stopWithoutSaving();
  fs::rename(store_, store_.string() + ".away");
  replayRecoveryJournal(store_, root_);
  EXPECT_NE(notice().find("Brivel could not yet put back"), std::string::npos) << notice();
  EXPECT_TRUE(fs::exists(folder / "changes.store"));

  fs::rename(store_.string() + ".away", store_);
  replayRecoveryJournal(store_, root_);
  EXPECT_EQ(bookTitles(), (std::vector<std::string>{"Renamed", "Unsaved"}));
}

TEST_F(RecoveryJournalTest, AFallbackThatCannotBeWrittenSaysWhy) {
  auto container = open();
  container->mainContext().insert(std::make_shared<Library>());
  fs::create_directories(root_.parent_path());
  std::ofstream(root_) << "a file where the folder should be";
  auto kept = writeRecoveryJournal(*container, root_);
  ASSERT_FALSE(kept.ok());
  EXPECT_FALSE(kept.error().localizedDescription().empty());
}

}  // namespace
}  // namespace platform::testing
