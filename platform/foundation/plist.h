// PlistValue: an in-memory property-list tree, and its encoding to and decoding from the
// binary and XML property-list formats (binary written by our own writer; XML written, and
// both read, by libplist).
//
// A PlistValue is a plain value (deep copies; no sharing), safe to hand between threads.
// Dictionaries are ordered by key, so encoding a tree twice gives the same bytes.
// The null kind stands for "absent": it is what a default-constructed value holds and it is
// never written to a file (encoding a tree that contains one fails). Unsigned integers above
// INT64_MAX cannot be encoded either, nor in the binary form UIDs above UINT32_MAX. Dates keep microseconds in the binary form and whole
// seconds in XML (libplist 2.2 also drops the sign of the fraction of dates before 2001 in
// the binary form, so only whole seconds survive there); a UID read back from XML is its
// {"CF$UID": n} dictionary.
//
//   PlistValue record = PlistValue::Dictionary{{"id", "0F…"}, {"amount", 12.5}};
//   auto bytes = encodePlist(record, PlistFormat::Binary);   // std::optional<bytes>
//   auto back  = decodePlist(*bytes);                         // any format
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/date.h"

namespace platform {

// A reference into the object table of a keyed archive.
struct PlistUid {
  uint64_t value = 0;
  friend bool operator==(const PlistUid&, const PlistUid&) = default;
};

class PlistValue {
 public:
  using Data = std::vector<uint8_t>;
  using Array = std::vector<PlistValue>;
  using Dictionary = std::map<std::string, PlistValue, std::less<>>;

  enum class Kind { Null, Boolean, Integer, UnsignedInteger, Real, String, Data, Date, Array,
                    Dictionary, Uid };

  PlistValue() = default;
  PlistValue(std::nullptr_t) {}
  PlistValue(bool value) : storage_(value) {}
  PlistValue(int value) : storage_(int64_t{value}) {}
  PlistValue(long value) : storage_(int64_t{value}) {}
  PlistValue(long long value) : storage_(int64_t{value}) {}
  // Unsigned values that fit a signed 64-bit integer are stored as Integer; only larger
  // ones keep the UnsignedInteger kind.
  PlistValue(unsigned value) : storage_(int64_t{value}) {}
  PlistValue(unsigned long value) { setUnsigned(value); }
  PlistValue(unsigned long long value) { setUnsigned(value); }
  PlistValue(double value) : storage_(value) {}
  PlistValue(const char* value) : storage_(std::string(value)) {}
  PlistValue(std::string_view value) : storage_(std::string(value)) {}
  PlistValue(std::string value) : storage_(std::move(value)) {}
  PlistValue(Data value) : storage_(std::move(value)) {}
  PlistValue(Date value) : storage_(value) {}
  PlistValue(Array value) : storage_(std::move(value)) {}
  PlistValue(Dictionary value) : storage_(std::move(value)) {}
  PlistValue(PlistUid value) : storage_(value) {}

  Kind kind() const { return static_cast<Kind>(storage_.index()); }
  bool isNull() const { return kind() == Kind::Null; }
  // Whether the value is a number in the platform's sense: an integer, an unsigned integer, a
  // real or a boolean (all of which the platform keeps as one number type).
  bool isNumber() const {
    const Kind k = kind();
    return k == Kind::Boolean || k == Kind::Integer || k == Kind::UnsignedInteger || k == Kind::Real;
  }

  // Typed views: a pointer to the held value, or nullptr when the kind differs.
  const bool* asBool() const { return std::get_if<bool>(&storage_); }
  const int64_t* asInteger() const { return std::get_if<int64_t>(&storage_); }
  const uint64_t* asUnsignedInteger() const { return std::get_if<uint64_t>(&storage_); }
  const double* asReal() const { return std::get_if<double>(&storage_); }
  const std::string* asString() const { return std::get_if<std::string>(&storage_); }
  const Data* asData() const { return std::get_if<Data>(&storage_); }
  const Date* asDate() const { return std::get_if<Date>(&storage_); }
  const Array* asArray() const { return std::get_if<Array>(&storage_); }
  const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&storage_); }
  const PlistUid* asUid() const { return std::get_if<PlistUid>(&storage_); }
  Array* asArray() { return std::get_if<Array>(&storage_); }
  Dictionary* asDictionary() { return std::get_if<Dictionary>(&storage_); }

  // Number views across the numeric kinds: an Integer or UnsignedInteger that fits, or a
  // Real for toDouble(). Absent for every other kind (a Boolean is not a number here).
  std::optional<int64_t> toInt64() const;
  std::optional<double> toDouble() const;

  // Dictionary member lookup; nullptr when this is not a dictionary or the key is missing.
  const PlistValue* find(std::string_view key) const;

  friend bool operator==(const PlistValue&, const PlistValue&) = default;

 private:
  void setUnsigned(unsigned long long value) {
    if (value <= static_cast<unsigned long long>(INT64_MAX)) {
      storage_ = static_cast<int64_t>(value);
    } else {
      storage_ = static_cast<uint64_t>(value);
    }
  }

  // The alternatives follow the order of Kind.
  std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string, Data, Date, Array,
               Dictionary, PlistUid>
      storage_;
};

// A readable one-line rendering for logs and test failures:
// {"a": 1, "b": [true, "x", <00ff>, @2001-01-01T00:00:00Z, uid(3)]}.
std::ostream& operator<<(std::ostream& out, const PlistValue& value);

enum class PlistFormat { Binary, Xml };

// Encodes a tree; std::nullopt when it holds a null value or an unsigned integer above
// INT64_MAX anywhere, or (binary) a UID above UINT32_MAX.
std::optional<std::vector<uint8_t>> encodePlist(const PlistValue& value, PlistFormat format);
// Whether encodePlist can write the tree.
bool isPlistEncodable(const PlistValue& value);

// Decodes binary or XML property-list bytes; std::nullopt for anything that is not a
// well-formed property list.
std::optional<PlistValue> decodePlist(const uint8_t* bytes, size_t size);
inline std::optional<PlistValue> decodePlist(const std::vector<uint8_t>& bytes) {
  return decodePlist(bytes.data(), bytes.size());
}
inline std::optional<PlistValue> decodePlist(std::string_view bytes) {
  return decodePlist(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace platform
