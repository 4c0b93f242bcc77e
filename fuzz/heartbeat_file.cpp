// The heartbeat storage file: what decodes is appended to (as a start would), taken from and
// encoded again, which must decode to the same bundle.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sdk-core/heartbeat/heartbeats_bundle.h"
#include "sdk-core/heartbeat/heartbeats_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bundle = decodeHeartbeatsBundle(std::vector<uint8_t>(data, data + size));
  if (!bundle) return 0;
  const platform::Date day = platform::Date::fromTimeIntervalSinceReferenceDate(86400.0 * 9000);
  bundle->append(Heartbeat("agent/1", day, {TimePeriod::daily}));
  (void)bundle->takeHeartbeat(day);
  (void)bundle->toHeartbeatsPayload();
  const auto again = decodeHeartbeatsBundle(encodeHeartbeatsBundle(*bundle));
  if (!again || !(*again == *bundle)) std::abort();
  return 0;
}
