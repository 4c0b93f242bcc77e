// An event archive read back from the event store: the keyed archive of an ETEvent (with its
// clock and product data), and what the uploader then reads of the event.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_seeds.h"
#include "platform/foundation/error.h"
#include "platform/foundation/keyed_archiver.h"
#include "transport/events/event.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = (ETRegisterEventArchiveClasses(), true);
  (void)registered;
  platform::Error error;
  auto event = platform::KeyedUnarchiver::unarchivedObjectOfClass<ETEvent>(std::vector<uint8_t>(data, data + size),
                                                                           &error);
  if (!event) return 0;
  (void)event->description();
  (void)event->hash();
  // A copy is refused (null) for an event it could not have made, as the transport allows.
  if (auto copy = event->copy()) (void)event->isEqual(*copy);
  if (event->clockSnapshot()) (void)event->clockSnapshot()->uptimeMilliseconds();
  (void)platform::KeyedArchiver::archivedData(event, &error);
  return 0;
}

namespace {

struct Payload final : ETEventDataObject {
  std::vector<uint8_t> bytes;
  explicit Payload(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
  std::optional<std::vector<uint8_t>> transportBytes() const override { return bytes; }
};

}  // namespace

std::vector<FuzzSeed> fuzzSeeds() {
  ETRegisterEventArchiveClasses();
  auto full = ETEvent::initWithMappingID("1018", std::make_shared<ETProductData>(7), 1018);
  full->setEventID("42");
  full->setDataObject(std::make_shared<Payload>(std::vector<uint8_t>{0x08, 0x96, 0x01, 0x12, 0x02, 'h', 'i'}));
  full->setQosTier(2);
  full->setClockSnapshot(std::make_shared<ETClock>(1700000000000, 3600, 1690000000000000000, 5000000000));
  full->setExpirationDate(platform::Date::fromTimeIntervalSince1970(1700604800.0));
  full->setCustomBytes(std::vector<uint8_t>{1, 2, 3});
  auto bare = ETEvent::initWithMappingID("1206", 1000);
  bare->setEventID("43");
  bare->setDataObject(std::make_shared<Payload>(std::vector<uint8_t>{}));
  std::vector<FuzzSeed> seeds;
  if (auto bytes = platform::KeyedArchiver::archivedData(full)) seeds.push_back({"full.archive", *bytes});
  if (auto bytes = platform::KeyedArchiver::archivedData(bare)) seeds.push_back({"bare.archive", *bytes});
  return seeds;
}
