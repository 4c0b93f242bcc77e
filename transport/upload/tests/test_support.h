// Shared helpers of the upload tests: events with given payloads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "transport/events/event.h"

class BytesPayload : public ETEventDataObject {
 public:
  explicit BytesPayload(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::optional<std::vector<uint8_t>> transportBytes() const override { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

inline std::shared_ptr<ETEvent> makeEvent(const std::string& mappingID, long target, const std::string& payload,
                                          long tier = 3) {
  auto event = ETEvent::initWithMappingID(mappingID, target);
  event->setDataObject(std::make_shared<BytesPayload>(std::vector<uint8_t>(payload.begin(), payload.end())));
  event->setClockSnapshot(ETClock::snapshot());
  event->setQosTier(tier);
  return event;
}
