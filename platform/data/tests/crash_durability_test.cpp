// A child process saves in a loop and is killed at an arbitrary moment; the store must then
// open and hold every save that had returned before the kill.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "platform/data/model_container.h"
#include "platform/data/tests/test_schema.h"
#include "platform/testing/temp_directory.h"

namespace platform::testing {
namespace {

[[noreturn]] void saveForever(const std::filesystem::path& path, int reportFd) {
  ModelConfiguration configuration;
  configuration.url = path;
  configuration.autosaveEnabled = false;
  auto opened = ModelContainer::open(librarySchema(), configuration);
  if (!opened.ok()) {
    _exit(2);
  }
  auto& context = (*opened)->mainContext();
  auto library = std::make_shared<Library>();
  context.insert(library);
  for (int i = 1;; ++i) {
    makeBook("B" + std::to_string(i), i)->setLibrary(library);
    library->setName(std::to_string(i));
    if (!context.save().ok()) {
      _exit(3);
    }
    if (write(reportFd, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) {
      _exit(4);
    }
  }
}

TEST(CrashDurabilityTest, EverySaveThatReturnedSurvivesAKill) {
  TempDirectory dir;
  auto path = dir.path() / "Crash.store";
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      if (round > 0) {
        std::filesystem::remove(path);
        std::filesystem::remove(path.string() + "-wal");
        std::filesystem::remove(path.string() + "-shm");
      }
      saveForever(path, fds[1]);
    }
    close(fds[1]);
    int lastReported = 0;
    int value = 0;
    // Kill after a number of saves that varies per round, so the kill lands at
    // different points of a save.
    const int killAfter = 20 + round * 17;
    while (read(fds[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
      lastReported = value;
      if (lastReported >= killAfter) {
        kill(child, SIGKILL);
        break;
      }
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended on its own, status " << status;
    ASSERT_GE(lastReported, killAfter);

    ModelConfiguration configuration;
    configuration.url = path;
    configuration.autosaveEnabled = false;
    auto opened = ModelContainer::open(librarySchema(), configuration);
    ASSERT_TRUE(opened.ok()) << opened.error().localizedDescription();
    auto libraries = (*opened)->mainContext().fetch<Library>();
    ASSERT_EQ(libraries.size(), 1u);
    int savedName = std::stoi(libraries.front()->name());
    EXPECT_GE(savedName, lastReported);
    // The books of every stored save are there, in order.
    auto books = *libraries.front()->books();
    ASSERT_EQ(books.size(), static_cast<std::size_t>(savedName));
    for (int i = 0; i < savedName; ++i) {
      EXPECT_EQ(books[i]->title(), "B" + std::to_string(i + 1));
    }
  }
}

}  // namespace
}  // namespace platform::testing
