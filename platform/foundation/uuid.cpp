#include "platform/foundation/uuid.h"

#include <uuid/uuid.h>

#include <cstring>
#include <ostream>

namespace platform {

UUID UUID::random() {
  Bytes bytes{};
  uuid_generate_random(bytes.data());
  return UUID(bytes);
}

std::optional<UUID> UUID::fromString(std::string_view text) {
  // uuid_parse reads a NUL-terminated text of exactly 36 characters.
  if (text.size() != 36) return std::nullopt;
  char buffer[37];
  std::memcpy(buffer, text.data(), 36);
  buffer[36] = '\0';
  Bytes bytes{};
  if (uuid_parse(buffer, bytes.data()) != 0) return std::nullopt;
  return UUID(bytes);
}

std::string UUID::uuidString() const {
  char buffer[37];
  uuid_unparse_upper(bytes_.data(), buffer);
  return std::string(buffer, 36);
}

std::string UUID::lowercaseString() const {
  char buffer[37];
  uuid_unparse_lower(bytes_.data(), buffer);
  return std::string(buffer, 36);
}

std::ostream& operator<<(std::ostream& out, const UUID& uuid) { return out << uuid.uuidString(); }

}  // namespace platform

size_t std::hash<platform::UUID>::operator()(const platform::UUID& uuid) const noexcept {
  uint64_t high = 0;
  uint64_t low = 0;
  std::memcpy(&high, uuid.bytes().data(), 8);
  std::memcpy(&low, uuid.bytes().data() + 8, 8);
  return static_cast<size_t>(high ^ (low * 0x9E3779B97F4A7C15ULL));
}
