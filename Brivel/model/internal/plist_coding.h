// Helpers of the legacy record coding: typed reads of one key of a property-list dictionary
// (each answers std::nullopt when the key is missing or holds another type), and the coding
// of a whole list as a property-list array.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/plist.h"
#include "platform/foundation/uuid.h"

namespace brivel::internal {

inline std::optional<std::string> plistString(const platform::PlistValue& dict,
                                              std::string_view key) {
  const platform::PlistValue* value = dict.find(key);
  if (value == nullptr || value->asString() == nullptr) return std::nullopt;
  return *value->asString();
}

inline std::optional<platform::UUID> plistUUID(const platform::PlistValue& dict,
                                               std::string_view key) {
  auto text = plistString(dict, key);
  if (!text) return std::nullopt;
  return platform::UUID::fromString(*text);
}

// An integer, or a real with a whole value inside the 64-bit range.
inline std::optional<std::int64_t> plistInteger(const platform::PlistValue& dict,
                                                std::string_view key) {
  const platform::PlistValue* value = dict.find(key);
  if (value == nullptr) return std::nullopt;
  if (auto integer = value->toInt64()) return integer;
  if (const double* real = value->asReal()) {
    // 2^63 is exactly representable; everything below it and whole converts without loss.
    if (std::isfinite(*real) && std::trunc(*real) == *real && *real >= -9223372036854775808.0 &&
        *real < 9223372036854775808.0) {
      return static_cast<std::int64_t>(*real);
    }
  }
  return std::nullopt;
}

// A real, or an integer read as a real.
inline std::optional<double> plistReal(const platform::PlistValue& dict, std::string_view key) {
  const platform::PlistValue* value = dict.find(key);
  if (value == nullptr) return std::nullopt;
  return value->toDouble();
}

// Encodes records as a binary property-list array, in list order.
template <class T>
std::optional<std::vector<std::uint8_t>> encodeList(const std::vector<T>& records,
                                                    platform::PlistValue (*toPlist)(const T&)) {
  platform::PlistValue::Array array;
  array.reserve(records.size());
  for (const T& record : records) array.push_back(toPlist(record));
  return platform::encodePlist(platform::PlistValue(std::move(array)),
                               platform::PlistFormat::Binary);
}

// Decodes a property-list array of any form; std::nullopt unless every element reads.
template <class T>
std::optional<std::vector<T>> decodeList(
    const std::vector<std::uint8_t>& bytes,
    std::optional<T> (*fromPlist)(const platform::PlistValue&)) {
  auto root = platform::decodePlist(bytes);
  if (!root || root->asArray() == nullptr) return std::nullopt;
  std::vector<T> records;
  records.reserve(root->asArray()->size());
  for (const platform::PlistValue& element : *root->asArray()) {
    auto record = fromPlist(element);
    if (!record) return std::nullopt;
    records.push_back(std::move(*record));
  }
  return records;
}

}  // namespace brivel::internal
