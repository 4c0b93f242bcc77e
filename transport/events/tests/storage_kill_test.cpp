// A writer storing events and making, uploading and putting back batches is killed with
// SIGKILL at random moments, 200 times, each run going on from what the last one left: after
// every kill each event that was stored is in exactly one place (the store or one batch) unless
// it was uploaded, and nothing on disk is a stray: every visible file is a whole event under a
// name that parses, every batch directory's name parses, and no two batches share an ID.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "transport/events/files.h"
#include "transport_test_support.h"

namespace et_testing {
namespace {

using namespace std::chrono_literals;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(StorageKillTest, EveryStoredEventSurvivesKillsInExactlyOnePlace) {
  platform::testing::Environment environment("et-kill");
  ETRegisterEventArchiveClasses();
  const fs::path root = environment.root() / "events";
  const fs::path log = environment.root() / "log";
  const fs::path events = root / "ETFlatFileStorage" / "et_event_data";
  const fs::path batches = root / "ETFlatFileStorage" / "et_batch_data";
  std::mt19937 random(7);

  // The writers' server, started once; it forks one writer per kill.
  int toServer[2], fromServer[2];
  ASSERT_EQ(pipe(toServer), 0);
  ASSERT_EQ(pipe(fromServer), 0);
  const pid_t server = fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    dup2(toServer[0], 0);
    dup2(fromServer[1], 1);
    close(toServer[1]);
    close(fromServer[0]);
    execl(STORE_LOOP_CHILD, STORE_LOOP_CHILD, root.c_str(), log.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toServer[0]);
  close(fromServer[1]);
  FILE* requests = fdopen(toServer[1], "w");
  FILE* answers = fdopen(fromServer[0], "r");
  auto ask = [&](const std::string& request) {
    std::fputs((request + "\n").c_str(), requests);
    std::fflush(requests);
    char line[64] = {};
    return std::fgets(line, sizeof line, answers) ? std::atoi(line) : -1;
  };
  struct ServerEnd {
    FILE* requests;
    FILE* answers;
    pid_t server;
    ~ServerEnd() {
      std::fclose(requests);  // end of input: the server returns
      std::fclose(answers);
      waitpid(server, nullptr, 0);
    }
  } serverEnd{requests, answers, server};

  for (int kill = 0; kill < 200; ++kill) {
    SCOPED_TRACE(kill);
    const size_t logged = contents(log).size();
    const pid_t writer = ask(std::to_string(kill));
    ASSERT_GT(writer, 0);
    // Killed once it has done something, at a moment of its work that differs every time.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (contents(log).size() <= logged && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    ::kill(writer, SIGKILL);
    const int status = ask("reap");
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << status;

    std::set<std::string> written, uploaded;
    std::istringstream lines(contents(log));
    for (std::string kind, id; lines >> kind >> id;) (kind == "W" ? written : uploaded).insert(id);
    ASSERT_FALSE(written.empty());

    std::map<std::string, int> copies;
    auto count = [&](const fs::path& directory, bool eventNames) {
      std::error_code error;
      for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name[0] == '.') continue;  // a write the kill cut short: not an event yet
        EXPECT_TRUE(!eventNames || ETFlatFileStorage::eventComponentsFromFilename(name)) << name;
        auto event = ETUnarchiveFile<ETEvent>(it->path(), nullptr);
        EXPECT_TRUE(event) << "a stray file: " << it->path();
        if (event) ++copies[event->eventID()];
      }
    };
    std::error_code error;
    for (fs::directory_iterator it(events, error), end; !error && it != end; it.increment(error)) count(it->path(), true);
    std::vector<ETBatchID> batchIDs;
    for (fs::directory_iterator it(batches, error), end; !error && it != end; it.increment(error)) {
      auto components = ETFlatFileStorage::batchComponentsFromFilename(it->path().filename().string());
      EXPECT_TRUE(components) << it->path();
      if (components) batchIDs.push_back(components->batchID);
      count(it->path(), true);
    }
    std::sort(batchIDs.begin(), batchIDs.end());
    EXPECT_EQ(std::adjacent_find(batchIDs.begin(), batchIDs.end()), batchIDs.end()) << "two batches of one ID";
    for (const auto& [id, n] : copies) EXPECT_EQ(n, 1) << id << " is in more than one place";
    for (const std::string& id : written) {
      if (!uploaded.contains(id)) {
        EXPECT_EQ(copies.count(id), 1u) << id << " was stored and is gone";
      }
    }
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
}  // namespace et_testing
