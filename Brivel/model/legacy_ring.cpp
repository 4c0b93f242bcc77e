#include "Brivel/model/legacy_ring.h"

#include "Brivel/model/internal/plist_coding.h"

namespace brivel {

platform::PlistValue ringToPlist(const Ring& ring) {
  return platform::PlistValue::Dictionary{{"id", ring.id.uuidString()}, {"name", ring.name}};
}

std::optional<Ring> ringFromPlist(const platform::PlistValue& value) {
  if (value.asDictionary() == nullptr) return std::nullopt;
  auto id = internal::plistUUID(value, "id");
  auto name = internal::plistString(value, "name");
  if (!id || !name) return std::nullopt;
  return Ring{*id, std::move(*name)};
}

std::optional<std::vector<std::uint8_t>> encodeRings(const std::vector<Ring>& rings) {
  return internal::encodeList(rings, &ringToPlist);
}

std::optional<std::vector<Ring>> decodeRings(const std::vector<std::uint8_t>& bytes) {
  return internal::decodeList(bytes, &ringFromPlist);
}

}  // namespace brivel
