#include "platform/foundation/plist.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <ostream>
#include <limits>
#include <memory>

namespace platform {

std::optional<int64_t> PlistValue::toInt64() const {
  if (const auto* value = asInteger()) return *value;
  if (const auto* value = asUnsignedInteger()) {
    if (*value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return static_cast<int64_t>(*value);
    }
  }
  return std::nullopt;
}

std::optional<double> PlistValue::toDouble() const {
  if (const auto* value = asReal()) return *value;
  if (const auto* value = asInteger()) return static_cast<double>(*value);
  if (const auto* value = asUnsignedInteger()) return static_cast<double>(*value);
  return std::nullopt;
}

const PlistValue* PlistValue::find(std::string_view key) const {
  const auto* dictionary = asDictionary();
  if (dictionary == nullptr) return nullptr;
  auto it = dictionary->find(key);
  return it == dictionary->end() ? nullptr : &it->second;
}

namespace {

struct NodeDeleter {
  void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

// libplist keeps dates as whole seconds and microseconds since 2001-01-01 in 32-bit fields.
plist_t makeDate(const Date& date) {
  double seconds = date.timeIntervalSinceReferenceDate;
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  if (!std::isfinite(seconds)) seconds = 0;
  seconds = std::clamp(seconds, kMin, kMax);
  double whole = std::floor(seconds);
  auto micro = static_cast<int32_t>(std::llround((seconds - whole) * 1e6));
  auto sec = static_cast<int32_t>(whole);
  if (micro >= 1000000 && sec < std::numeric_limits<int32_t>::max()) {
    micro -= 1000000;
    sec += 1;
  } else if (micro >= 1000000) {
    micro = 999999;
  }
  return plist_new_date(sec, micro);
}

// Builds a libplist node for `value`; nullptr when it holds a null anywhere.
plist_t toNode(const PlistValue& value) {
  switch (value.kind()) {
    case PlistValue::Kind::Null:
      return nullptr;
    case PlistValue::Kind::Boolean:
      return plist_new_bool(*value.asBool() ? 1 : 0);
    case PlistValue::Kind::Integer:
      // libplist keeps every integer as 64 bits; negative values round-trip as their
      // two's-complement pattern, which its writers emit as signed integers.
      return plist_new_uint(static_cast<uint64_t>(*value.asInteger()));
    case PlistValue::Kind::UnsignedInteger:
      // Above INT64_MAX: libplist would write the bit pattern as a negative integer, so
      // such a value is refused rather than silently changed.
      return nullptr;
    case PlistValue::Kind::Real:
      return plist_new_real(*value.asReal());
    case PlistValue::Kind::String:
      return plist_new_string(value.asString()->c_str());
    case PlistValue::Kind::Data: {
      const auto& data = *value.asData();
      return plist_new_data(reinterpret_cast<const char*>(data.data()), data.size());
    }
    case PlistValue::Kind::Date:
      return makeDate(*value.asDate());
    case PlistValue::Kind::Array: {
      Node array(plist_new_array());
      for (const auto& element : *value.asArray()) {
        plist_t child = toNode(element);
        if (child == nullptr) return nullptr;
        plist_array_append_item(array.get(), child);
      }
      return array.release();
    }
    case PlistValue::Kind::Dictionary: {
      Node dictionary(plist_new_dict());
      for (const auto& [key, element] : *value.asDictionary()) {
        plist_t child = toNode(element);
        if (child == nullptr) return nullptr;
        plist_dict_set_item(dictionary.get(), key.c_str(), child);
      }
      return dictionary.release();
    }
    case PlistValue::Kind::Uid:
      return plist_new_uid(value.asUid()->value);
  }
  return nullptr;
}

std::optional<PlistValue> fromNode(plist_t node, int depth) {
  // A binary plist can nest deeply by reference; stop well before the stack is at risk.
  if (node == nullptr || depth > 512) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t flag = 0;
      plist_get_bool_val(node, &flag);
      return PlistValue(flag != 0);
    }
    case PLIST_UINT: {
      uint64_t raw = 0;
      plist_get_uint_val(node, &raw);
      // libplist 2.2 cannot tell a large unsigned value from a negative one; values above
      // INT64_MAX read as negative integers, as the binary format stores them.
      return PlistValue(static_cast<long long>(static_cast<int64_t>(raw)));
    }
    case PLIST_REAL: {
      double real = 0;
      plist_get_real_val(node, &real);
      return PlistValue(real);
    }
    case PLIST_STRING: {
      // The pointer form: the copying getter asserts on a string with an embedded NUL,
      // which a damaged binary file can hold. The text ends at the first NUL.
      uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      return PlistValue(text ? std::string(text, static_cast<size_t>(length)) : std::string());
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      PlistValue::Data data(reinterpret_cast<uint8_t*>(bytes),
                            reinterpret_cast<uint8_t*>(bytes) + (bytes ? length : 0));
      std::free(bytes);
      return PlistValue(std::move(data));
    }
    case PLIST_DATE: {
      int32_t sec = 0;
      int32_t usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return PlistValue(Date{static_cast<double>(sec) + static_cast<double>(usec) / 1e6});
    }
    case PLIST_ARRAY: {
      PlistValue::Array array;
      uint32_t count = plist_array_get_size(node);
      array.reserve(count);
      for (uint32_t i = 0; i < count; ++i) {
        auto element = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!element) return std::nullopt;
        array.push_back(std::move(*element));
      }
      return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
      PlistValue::Dictionary dictionary;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (it == nullptr) return PlistValue(std::move(dictionary));
      bool ok = true;
      while (true) {
        char* key = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, it, &key, &child);
        if (child == nullptr) {
          std::free(key);
          break;
        }
        auto element = fromNode(child, depth + 1);
        if (!element || key == nullptr) {
          std::free(key);
          ok = false;
          break;
        }
        dictionary.insert_or_assign(std::string(key), std::move(*element));
        std::free(key);
      }
      std::free(it);
      if (!ok) return std::nullopt;
      return PlistValue(std::move(dictionary));
    }
    case PLIST_UID: {
      uint64_t uid = 0;
      plist_get_uid_val(node, &uid);
      return PlistValue(PlistUid{uid});
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const PlistValue& value) {
  switch (value.kind()) {
    case PlistValue::Kind::Null:
      return out << "null";
    case PlistValue::Kind::Boolean:
      return out << (*value.asBool() ? "true" : "false");
    case PlistValue::Kind::Integer:
      return out << *value.asInteger();
    case PlistValue::Kind::UnsignedInteger:
      return out << *value.asUnsignedInteger() << "u";
    case PlistValue::Kind::Real:
      return out << std::setprecision(17) << *value.asReal();
    case PlistValue::Kind::String:
      return out << std::quoted(*value.asString());
    case PlistValue::Kind::Data: {
      out << '<';
      for (uint8_t byte : *value.asData()) {
        static constexpr char kHex[] = "0123456789abcdef";
        out << kHex[byte >> 4] << kHex[byte & 0xF];
      }
      return out << '>';
    }
    case PlistValue::Kind::Date:
      return out << *value.asDate();
    case PlistValue::Kind::Array: {
      out << '[';
      const char* separator = "";
      for (const auto& element : *value.asArray()) {
        out << separator << element;
        separator = ", ";
      }
      return out << ']';
    }
    case PlistValue::Kind::Dictionary: {
      out << '{';
      const char* separator = "";
      for (const auto& [key, element] : *value.asDictionary()) {
        out << separator << std::quoted(key) << ": " << element;
        separator = ", ";
      }
      return out << '}';
    }
    case PlistValue::Kind::Uid:
      return out << "uid(" << value.asUid()->value << ')';
  }
  return out;
}

bool isPlistEncodable(const PlistValue& value) {
  switch (value.kind()) {
    case PlistValue::Kind::Null:
    case PlistValue::Kind::UnsignedInteger:
      return false;
    case PlistValue::Kind::Array:
      for (const auto& element : *value.asArray()) {
        if (!isPlistEncodable(element)) return false;
      }
      return true;
    case PlistValue::Kind::Dictionary:
      for (const auto& [key, element] : *value.asDictionary()) {
        if (!isPlistEncodable(element)) return false;
      }
      return true;
    default:
      return true;
  }
}

std::optional<std::vector<uint8_t>> encodePlist(const PlistValue& value, PlistFormat format) {
  Node root(toNode(value));
  if (!root) return std::nullopt;
  char* bytes = nullptr;
  uint32_t length = 0;
  if (format == PlistFormat::Binary) {
    plist_to_bin(root.get(), &bytes, &length);
  } else {
    plist_to_xml(root.get(), &bytes, &length);
  }
  if (bytes == nullptr) return std::nullopt;
  std::vector<uint8_t> result(reinterpret_cast<uint8_t*>(bytes),
                              reinterpret_cast<uint8_t*>(bytes) + length);
  std::free(bytes);
  return result;
}

std::optional<PlistValue> decodePlist(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size == 0 || size > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  plist_t root = nullptr;
  if (plist_is_binary(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size))) {
    plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &root);
  } else {
    plist_from_xml(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &root);
  }
  Node owner(root);
  if (!owner) return std::nullopt;
  return fromNode(owner.get(), 0);
}

}  // namespace platform
