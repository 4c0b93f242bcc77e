// The heartbeat storage file: what decodes is appended to (as a start would), taken from and
// encoded again, which must decode to the same bundle.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sdk-core/heartbeat/heartbeats_bundle.h"
#include "sdk-core/heartbeat/heartbeats_payload.h"
#include "fuzz_seeds.h"

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

std::vector<FuzzSeed> fuzzSeeds() {
  const platform::Date day = platform::Date::fromTimeIntervalSinceReferenceDate(86400.0 * 8000);
  HeartbeatsBundle empty(30);
  HeartbeatsBundle some(3);
  some.append(Heartbeat("tel-cpp/1.0 os/linux", day, {TimePeriod::daily}));
  some.append(Heartbeat("brivel/2", day.addingTimeInterval(86400.0), {TimePeriod::daily}, 3));
  some.append(Heartbeat("ünïcode", day.addingTimeInterval(2 * 86400.0), {}));
  some.append(Heartbeat("wrapped", day.addingTimeInterval(3 * 86400.0), {TimePeriod::daily}));
  return {{"empty.json", encodeHeartbeatsBundle(empty)},
          {"wrapped.json", encodeHeartbeatsBundle(some)},
          {"none.json", encodeHeartbeatsBundle(HeartbeatsBundle(0))}};
}
