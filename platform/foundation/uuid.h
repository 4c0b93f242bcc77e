// UUID: a 128-bit universally unique identifier (random ones are version 4), written as
// upper-case hexadecimal in 8-4-4-4-12 groups. A plain value, safe across threads.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class UUID {
 public:
  using Bytes = std::array<uint8_t, 16>;

  // The nil UUID (all zero); `random()` for a fresh one.
  UUID() = default;
  explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

  static UUID random();
  // Parses the 36-character 8-4-4-4-12 form, in either case; std::nullopt for anything else.
  static std::optional<UUID> fromString(std::string_view text);

  // "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
  std::string uuidString() const;
  std::string lowercaseString() const;
  const Bytes& bytes() const { return bytes_; }

  friend bool operator==(const UUID&, const UUID&) = default;
  friend auto operator<=>(const UUID&, const UUID&) = default;

 private:
  Bytes bytes_{};
};

std::ostream& operator<<(std::ostream& out, const UUID& uuid);

}  // namespace platform

template <>
struct std::hash<platform::UUID> {
  size_t operator()(const platform::UUID& uuid) const noexcept;
};
