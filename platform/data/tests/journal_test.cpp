// The store at rest and after an unclean stop: one 0600 file once checkpointed, and a journal
// that lost saved pages refuses the store instead of silently starting without them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/data/model_container.h"
#include "platform/data/tests/test_schema.h"
#include "platform/testing/temp_directory.h"

namespace platform::testing {
namespace {

namespace fs = std::filesystem;

platform::Expected<std::shared_ptr<ModelContainer>> openStore(const fs::path& path) {
  ModelConfiguration configuration;
  configuration.url = path;
  configuration.autosaveEnabled = false;
  return ModelContainer::open(librarySchema(), configuration);
}

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A child saves a library of `books` books and stops without closing the store, as a kill
// would: the saves are in the journal, not yet in the store file.
void saveAndStopUncleanly(const fs::path& path, int books) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto opened = openStore(path);
    if (!opened.ok()) _exit(2);
    auto library = std::make_shared<Library>();
    (*opened)->mainContext().insert(library);
    for (int i = 0; i < books; ++i) makeBook("B" + std::to_string(i))->setLibrary(library);
    _exit((*opened)->mainContext().save().ok() ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

size_t booksIn(const ModelContainer& container) {
  auto libraries = const_cast<ModelContainer&>(container).mainContext().fetch<Library>();
  return libraries.empty() ? 0 : libraries.front()->books()->size();
}

TEST(JournalTest, AJournalThatLostSavedPagesRefusesTheStoreAndTouchesNothing) {
  TempDirectory dir;
  const fs::path path = dir.path() / "Library.store";
  const fs::path wal = path.string() + "-wal", shm = path.string() + "-shm";
  saveAndStopUncleanly(path, 40);
  ASSERT_GT(fs::file_size(wal), 0u);
  const std::string store = contents(path), log = contents(wal), index = contents(shm);
  const size_t frame = 4096 + 24;
  ASSERT_GT(log.size(), 32 + 2 * frame);

  struct Case {
    const char* name;
    std::optional<std::string> journal;  // nothing: the journal is gone
  } cases[] = {
      {"cut in the middle of a page", log.substr(0, log.size() - 100)},
      {"cut at a page boundary", log.substr(0, log.size() - frame)},
      {"missing", std::nullopt},
      {"empty", std::string()},
      {"a saved page overwritten", log.substr(0, 32 + frame + 40) + std::string(64, 'x') + log.substr(32 + frame + 104)},
      {"garbage header", std::string(32, 'g') + log.substr(32)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << store;
    std::ofstream(shm, std::ios::binary | std::ios::trunc) << index;
    fs::remove(wal);
    if (c.journal) std::ofstream(wal, std::ios::binary) << *c.journal;

    auto opened = openStore(path);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().code, static_cast<long>(ModelStoreError::DamagedJournal));
    EXPECT_NE(opened.error().localizedDescription().find(wal.string()), std::string::npos)
        << opened.error().localizedDescription();
    EXPECT_EQ(contents(path), store);
    EXPECT_EQ(contents(shm), index);
    EXPECT_EQ(fs::exists(wal), c.journal.has_value());
    if (c.journal) {
      EXPECT_EQ(contents(wal), *c.journal);
    }
  }

  // The journal as the stop left it opens with every save.
  std::ofstream(wal, std::ios::binary | std::ios::trunc) << log;
  auto opened = openStore(path);
  ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
  EXPECT_EQ(booksIn(**opened), 40u);
}

TEST(JournalTest, AnInterruptedWriteAfterTheLastSaveStillOpens) {
  TempDirectory dir;
  const fs::path path = dir.path() / "Library.store";
  saveAndStopUncleanly(path, 5);
  // Half a page that a stop cut off after the last commit: not a saved page.
  std::ofstream(path.string() + "-wal", std::ios::binary | std::ios::app) << std::string(1000, 'p');
  auto opened = openStore(path);
  ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
  EXPECT_EQ(booksIn(**opened), 5u);
}

TEST(JournalTest, TheStoreIsItsUsersAndOneFileOnceCheckpointed) {
  TempDirectory dir;
  const fs::path path = dir.path() / "Library.store";
  auto opened = openStore(path);
  ASSERT_TRUE(opened.ok());
  auto library = std::make_shared<Library>();
  (*opened)->mainContext().insert(library);
  makeBook("kept")->setLibrary(library);
  ASSERT_TRUE((*opened)->mainContext().save().ok());
  for (const fs::path& file : {path, fs::path(path.string() + "-wal"), fs::path(path.string() + "-shm")}) {
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
  }

  (*opened)->checkpoint();
  EXPECT_EQ(fs::file_size(path.string() + "-wal"), 0u);
  // The store file alone holds the data.
  TempDirectory copy;
  fs::copy_file(path, copy.path() / "Library.store");
  auto alone = openStore(copy.path() / "Library.store");
  ASSERT_TRUE(alone.ok()) << alone.error().localizedDescription();
  EXPECT_EQ(booksIn(**alone), 1u);
}

TEST(JournalTest, OpenFailuresSayWhatHappened) {
  TempDirectory dir;
  std::ofstream(dir.path() / "data") << "a file where a folder belongs";
  auto opened = openStore(dir.path() / "data" / "Library.store");
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.error().localizedDescription().find((dir.path() / "data").string() + " is a file, not a folder"),
            std::string::npos)
      << opened.error().localizedDescription();
  EXPECT_EQ(ModelContainer::lastOpenFailure()->localizedDescription(), opened.error().localizedDescription());
}

}  // namespace
}  // namespace platform::testing
