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
#include <vector>

#include "platform/foundation/binary_plist.h"
#include "platform/foundation/text.h"

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

plist_t makeDate(const Date& date) {
  const auto [sec, micro] = detail::dateSecondsAndMicroseconds(date);
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
      // Text that is not valid UTF-8 is repaired here, so that writing it back gives a
      // readable file.
      return PlistValue(text ? repairedUtf8(std::string_view(text, static_cast<size_t>(length))) : std::string());
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
        dictionary.insert_or_assign(repairedUtf8(key), std::move(*element));
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
    case PlistValue::Kind::Uid:
      return value.asUid()->value <= 0xFFFFFFFFu;
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

namespace {

std::optional<std::vector<uint8_t>> encodeWithLibplist(const PlistValue& value, PlistFormat format) {
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

}  // namespace

namespace detail {
std::optional<std::vector<uint8_t>> libplistBinaryPlist(const PlistValue& value) {
  return encodeWithLibplist(value, PlistFormat::Binary);
}
}  // namespace detail

std::optional<std::vector<uint8_t>> encodePlist(const PlistValue& value, PlistFormat format) {
  if (format == PlistFormat::Binary) return detail::writeBinaryPlist(value);
  return encodeWithLibplist(value, format);
}

namespace {

uint64_t readBigEndian(const uint8_t* at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | at[i];
  return value;
}

// Checks the structure of a binary property list before libplist reads it: the trailer and
// the offset table fit the file, every object and reference lies inside it, no container
// holds itself, and every dictionary key is a string without a NUL (libplist's key getter
// asserts on one). Damaged files fail here instead of inside libplist.
bool binaryPlistIsSound(const uint8_t* bytes, size_t size) {
  constexpr size_t kHeader = 8, kTrailer = 32;
  if (size < kHeader + kTrailer + 1) return false;
  const uint8_t* trailer = bytes + size - kTrailer;
  const size_t offsetSize = trailer[6], refSize = trailer[7];
  const uint64_t count = readBigEndian(trailer + 8, 8);
  const uint64_t top = readBigEndian(trailer + 16, 8);
  const uint64_t table = readBigEndian(trailer + 24, 8);
  const size_t end = size - kTrailer;
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) return false;
  if (count == 0 || top >= count || table < kHeader || table > end) return false;
  if (count > (end - table) / offsetSize) return false;
  std::vector<uint64_t> offsets(count);
  for (uint64_t i = 0; i < count; ++i) {
    offsets[i] = readBigEndian(bytes + table + i * offsetSize, offsetSize);
    if (offsets[i] < kHeader || offsets[i] >= table) return false;
  }
  // The length of an object at `at` (its low nibble, or a following integer) and where its
  // content starts; false when it runs past the objects.
  auto lengthOf = [&](uint64_t at, uint64_t& length, uint64_t& content) {
    const uint8_t info = bytes[at] & 0x0f;
    content = at + 1;
    if (info != 0x0f) {
      length = info;
      return true;
    }
    if (content >= table || (bytes[content] & 0xf0) != 0x10) return false;
    const size_t width = size_t{1} << (bytes[content] & 0x0f);
    if (width > 8 || content + 1 + width > table) return false;
    length = readBigEndian(bytes + content + 1, width);
    content += 1 + width;
    return true;
  };
  auto isSoundKey = [&](uint64_t index) {
    const uint64_t at = offsets[index];
    const uint8_t type = bytes[at] >> 4;
    uint64_t length = 0, content = 0;
    if ((type != 0x5 && type != 0x6) || !lengthOf(at, length, content)) return false;
    const uint64_t unit = type == 0x5 ? 1 : 2;
    if (length > (table - content) / unit) return false;
    for (uint64_t i = 0; i < length; ++i) {
      if (unit == 1 ? bytes[content + i] == 0 : (bytes[content + 2 * i] == 0 && bytes[content + 2 * i + 1] == 0)) {
        return false;
      }
    }
    return true;
  };
  // Depth-first over the containers from the top object; a container met again on the
  // current path is a cycle.
  enum : uint8_t { unseen, onPath, done };
  std::vector<uint8_t> state(count, unseen);
  struct Frame {
    uint64_t index;
    std::vector<uint64_t> children;
    size_t next = 0;
  };
  std::vector<Frame> path;
  auto enter = [&](uint64_t index) {
    const uint64_t at = offsets[index];
    const uint8_t type = bytes[at] >> 4;
    Frame frame{index, {}};
    if (type == 0xA || type == 0xC || type == 0xD) {
      uint64_t length = 0, content = 0;
      if (!lengthOf(at, length, content)) return false;
      const uint64_t refs = type == 0xD ? 2 * length : length;
      if (length > (table - content) / refSize || refs > (table - content) / refSize) return false;
      for (uint64_t i = 0; i < refs; ++i) {
        const uint64_t ref = readBigEndian(bytes + content + i * refSize, refSize);
        if (ref >= count) return false;
        if (type == 0xD && i < length && !isSoundKey(ref)) return false;
        frame.children.push_back(ref);
      }
    }
    state[index] = onPath;
    path.push_back(std::move(frame));
    return true;
  };
  if (!enter(top)) return false;
  while (!path.empty()) {
    Frame& frame = path.back();
    if (frame.next == frame.children.size()) {
      state[frame.index] = done;
      path.pop_back();
      continue;
    }
    const uint64_t child = frame.children[frame.next++];
    if (state[child] == onPath) return false;
    if (state[child] == unseen && !enter(child)) return false;
  }
  return true;
}

}  // namespace

namespace {

std::optional<PlistValue> decodeBytes(const uint8_t* bytes, size_t size, bool direct) {
  if (bytes == nullptr || size == 0 || size > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  plist_t root = nullptr;
  if (plist_is_binary(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size))) {
    if (!binaryPlistIsSound(bytes, size)) return std::nullopt;
    if (direct) {
      // Sound files are read straight into the tree; libplist takes the rare forms.
      auto read = detail::readBinaryPlist(bytes, size);
      if (!read.unsupported) return std::move(read.value);
    }
    plist_from_bin(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &root);
  } else {
    plist_from_xml(reinterpret_cast<const char*>(bytes), static_cast<uint32_t>(size), &root);
  }
  Node owner(root);
  if (!owner) return std::nullopt;
  return fromNode(owner.get(), 0);
}

}  // namespace

std::optional<PlistValue> decodePlist(const uint8_t* bytes, size_t size) {
  return decodeBytes(bytes, size, true);
}

namespace detail {
std::optional<PlistValue> libplistDecodePlist(const uint8_t* bytes, size_t size) {
  return decodeBytes(bytes, size, false);
}
}  // namespace detail

}  // namespace platform
