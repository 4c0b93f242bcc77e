// The installations service's replies: the register reply (an installation and its tokens)
// and the generate-token reply, as the item parses them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_seeds.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "sdk-core/installations/installations_item.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the reply; the rest is its body.
  const std::vector<uint8_t> body(data + 1, data + size);
  const platform::Date now = platform::Date::fromTimeIntervalSinceReferenceDate(700000000.0);
  platform::Error error;
  if (data[0] % 2 == 0) {
    const TELInstallationsItem item("1:123:linux:abc", "[DEFAULT]");
    if (auto registered = item.registeredInstallationWithJSONData(body, now, &error)) {
      (void)registered->isValid(&error);
    }
  } else if (auto token = TELInstallationsItem::authTokenWithGenerateTokenAPIJSONData(body, now, &error)) {
    (void)token->token();
    (void)token->expirationDate();
  }
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  using nlohmann::json;
  const json authToken = {{"token", "eyJhbGciOiJFUzI1NiJ9.e30.sig"}, {"expiresIn", "604800s"}};
  const json registered = {{"name", "projects/123/installations/cQ7VpZlTQ1Kx"},
                           {"instId", "cQ7VpZlTQ1Kx-7gjfR1Pj_"},
                           {"refreshToken", "2_Yq6sJd0"},
                           {"authToken", authToken}};
  auto withKind = [](uint8_t kind, const std::string& text) {
    std::vector<uint8_t> bytes{kind};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
  };
  json noInstId = registered;
  noInstId.erase("instId");
  return {{"register.json", withKind(0, registered.dump())},
          {"register-no-instid.json", withKind(0, noInstId.dump())},
          {"token.json", withKind(1, authToken.dump())},
          {"token-fraction.json", withKind(1, json{{"token", "t"}, {"expiresIn", "3600.5s"}}.dump())}};
}
