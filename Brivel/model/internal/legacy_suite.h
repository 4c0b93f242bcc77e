// Reading and writing one data value of the legacy app-group suite. The suite is opened anew
// for every call; nothing keeps a handle to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brivel::internal {

// The data stored under `key` in suite `suiteName`; std::nullopt when the suite cannot be
// opened, the key holds nothing, or its value is not a data value.
std::optional<std::vector<std::uint8_t>> readLegacyData(std::string_view suiteName,
                                                        std::string_view key);
// Stores `bytes` under `key` in suite `suiteName`; does nothing when the suite cannot be
// opened.
void writeLegacyData(std::string_view suiteName, std::string_view key,
                     std::vector<std::uint8_t> bytes);

}  // namespace brivel::internal
