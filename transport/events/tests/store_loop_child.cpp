// A child for the crash-safety tests, run until it is killed:
//   store_loop_child ROOT                  stores 64 KiB events below ROOT, one after the other;
//   store_loop_child ROOT LOG              serves writers: for each seed read from standard input
//                                          it forks a writer and answers its process ID; for each
//                                          "reap" it waits for that writer and answers how it
//                                          ended. A writer stores events and makes, uploads and
//                                          puts back batches at random, writing to LOG (appended,
//                                          one write a line) "W <id>" once an event is stored and
//                                          "P <id>" for each event of a batch that is deleted as
//                                          uploaded, before the deletion. Forking from one
//                                          program that starts no thread itself keeps the many
//                                          kills of a test cheap.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "platform/background_tasks/background_tasks.h"
#include "platform/dispatch/semaphore.h"
#include "sdk-core/promises/promise.h"
#include "transport/events/application.h"
#include "transport/events/event.h"
#include "transport/events/flat_file_storage.h"

namespace {
struct Payload : ETEventDataObject {
  explicit Payload(size_t size) : size(size) {}
  std::optional<std::vector<uint8_t>> transportBytes() const override { return std::vector<uint8_t>(size, 'k'); }
  size_t size;
};

void store(ETFlatFileStorage& storage, const std::shared_ptr<ETEvent>& event, bool* written = nullptr) {
  platform::DispatchSemaphore done;
  storage.storeEvent(event, [&done, written](bool ok, const std::optional<platform::Error>&) {
    if (written) *written = ok;
    done.signal();
  });
  done.wait();
}

void append(int log, const std::string& text) {
  if (::write(log, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(4);
}

int storeAndBatch(const std::shared_ptr<ETFlatFileStorage>& storage, const char* logPath, unsigned seed) {
  const int log = ::open(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (log < 0) return 3;
  std::mt19937 random(seed);
  // A restart: the sweep puts back what a killed run left in expired batches.
  storage->checkForExpirations();
  for (int made = 0;; ++made) {
    const int operation = static_cast<int>(random() % 10);
    if (operation < 6) {
      auto event = ETEvent::initWithMappingID("1974", 1001);
      event->setEventID("s" + std::to_string(seed) + "-" + std::to_string(made));
      event->setQosTier(static_cast<long>(random() % 5) - 1);
      event->setDataObject(std::make_shared<Payload>(200 + random() % 4000));
      bool written = false;
      store(*storage, event, &written);
      if (written) append(log, "W " + event->eventID() + "\n");
    } else if (operation < 9) {
      // Batches expire at once, so that the sweep of the next run puts back what is left.
      platform::Error error;
      auto value = PRMPromiseAwait(storage->batchWithEventSelector(ETStorageEventSelector::eventSelectorForTarget(1001),
                                                                   platform::Date::now()),
                                   &error);
      const auto* batch = value.get<std::shared_ptr<ETUploadBatch>>();
      if (!batch) continue;
      const bool uploaded = random() % 2 == 0;
      if (uploaded) {
        std::string lines;
        for (const auto& event : (*batch)->events) lines += "P " + event->eventID() + "\n";
        append(log, lines);
      }
      PRMPromiseAwait(storage->removeBatchWithID((*batch)->batchID, uploaded), &error);
    } else {
      storage->checkForExpirations();
    }
  }
}

std::shared_ptr<ETFlatFileStorage> makeStorage(const char* root) {
  auto tasks = std::make_shared<platform::BackgroundTaskService>();
  return ETFlatFileStorage::make(root, ETApplication::make([tasks] { return tasks; }));
}

int serveWriters(const char* root, const char* log) {
  pid_t writer = -1;
  char line[64];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    if (std::string(line) == "reap\n") {
      int status = 0;
      if (writer > 0) ::waitpid(writer, &status, 0);
      std::printf("%d\n", status);
    } else {
      const auto seed = static_cast<unsigned>(std::strtoul(line, nullptr, 10));
      writer = ::fork();
      if (writer == 0) _exit(storeAndBatch(makeStorage(root), log, seed));
      std::printf("%d\n", static_cast<int>(writer));
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  ETRegisterEventArchiveClasses();
  if (argc == 3) return serveWriters(argv[1], argv[2]);
  auto storage = makeStorage(argv[1]);
  for (;;) {
    auto event = ETEvent::initWithMappingID("1974", 1001);
    event->setDataObject(std::make_shared<Payload>(64 * 1024));
    store(*storage, event);
  }
}
