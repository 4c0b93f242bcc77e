#include "Brivel/model/internal/legacy_suite.h"

#include "platform/foundation/defaults.h"

namespace brivel::internal {

std::optional<std::vector<std::uint8_t>> readLegacyData(std::string_view suiteName,
                                                        std::string_view key) {
  auto suite = platform::UserDefaults::suite(suiteName);
  if (!suite) return std::nullopt;
  auto value = suite->object(key);
  if (!value || value->asData() == nullptr) return std::nullopt;
  return *value->asData();
}

void writeLegacyData(std::string_view suiteName, std::string_view key,
                     std::vector<std::uint8_t> bytes) {
  auto suite = platform::UserDefaults::suite(suiteName);
  if (!suite) return;
  // A failed file write keeps the value in memory; the suite's next write retries the file.
  (void)suite->set(key, platform::PlistValue(std::move(bytes)));
}

}  // namespace brivel::internal
