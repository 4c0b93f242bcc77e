// A child for the crash-safety test: stores events below the root given as its argument,
// one after the other, until it is killed.
#include <cstdio>
#include <memory>

#include "platform/background_tasks/background_tasks.h"
#include "platform/dispatch/semaphore.h"
#include "transport/events/application.h"
#include "transport/events/event.h"
#include "transport/events/flat_file_storage.h"

namespace {
struct Payload : ETEventDataObject {
  std::optional<std::vector<uint8_t>> transportBytes() const override { return std::vector<uint8_t>(64 * 1024, 'k'); }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  ETRegisterEventArchiveClasses();
  auto tasks = std::make_shared<platform::BackgroundTaskService>();
  auto storage = ETFlatFileStorage::make(argv[1], ETApplication::make([tasks] { return tasks; }));
  for (;;) {
    auto event = ETEvent::initWithMappingID("1974", 1001);
    event->setDataObject(std::make_shared<Payload>());
    platform::DispatchSemaphore done;
    storage->storeEvent(event, [&done](bool, const std::optional<platform::Error>&) { done.signal(); });
    done.wait();
  }
}
