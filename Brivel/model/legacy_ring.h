// Ring: one grouping of bills as the app's earlier generation kept it (the legacy import turns
// each ring into a category), and the property-list coding of the legacy ring list.
//
// A ring is stored as a dictionary with the keys "id" (the UUID's upper-case string) and
// "name". Reading accepts the UUID string in either case and ignores unknown keys; a missing
// or mistyped key makes the record unreadable, and one unreadable record makes its whole list
// unreadable. A list is a property-list array, written in the binary form; any form is read.
//
// A plain value, safe to copy between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/plist.h"
#include "platform/foundation/uuid.h"

namespace brivel {

struct Ring {
  platform::UUID id = platform::UUID::random();
  std::string name;

  // Rings are equal when their names are; `id` is not compared.
  friend bool operator==(const Ring& a, const Ring& b) { return a.name == b.name; }
};

// The ring's property-list dictionary.
platform::PlistValue ringToPlist(const Ring& ring);
// The ring of a property-list dictionary, or std::nullopt when a key is missing, has the
// wrong type, or "id" is not a UUID.
std::optional<Ring> ringFromPlist(const platform::PlistValue& value);

// Encodes a list in the binary property-list form; std::nullopt if it cannot be encoded.
std::optional<std::vector<std::uint8_t>> encodeRings(const std::vector<Ring>& rings);
// Decodes a list from property-list bytes of any form; std::nullopt when the bytes are not a
// property list, the root is not an array, or any record does not read.
std::optional<std::vector<Ring>> decodeRings(const std::vector<std::uint8_t>& bytes);

}  // namespace brivel
