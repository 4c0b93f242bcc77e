#include "platform/foundation/binary_plist.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/foundation/text.h"

namespace platform::detail {

namespace {

// Object markers of the binary layout (high nibble) and their fixed forms.
constexpr uint8_t kFalse = 0x08, kTrue = 0x09, kInteger = 0x10, kReal = 0x20, kDate = 0x30,
                  kData = 0x40, kAsciiString = 0x50, kUtf16String = 0x60, kUid = 0x80,
                  kArray = 0xA0, kDictionary = 0xD0;

// The fewest of 1, 2, 4 or 8 bytes that hold `value`.
unsigned widthFor(uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFFu) return 4;
  return 8;
}

void appendBigEndian(std::string& out, uint64_t value, unsigned width) {
  for (unsigned i = width; i-- > 0;) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// An integer object: positive values in the fewest bytes, negative ones as 8 bytes of two's
// complement, as every reader of the layout expects.
void appendInteger(std::string& out, int64_t value) {
  const unsigned width = value < 0 ? 8 : widthFor(static_cast<uint64_t>(value));
  out.push_back(static_cast<char>(kInteger | std::countr_zero(width)));
  appendBigEndian(out, static_cast<uint64_t>(value), width);
}

// A marker with its length: in the low nibble below 15, else 0xF and an integer object.
void appendMarker(std::string& out, uint8_t marker, size_t length) {
  if (length < 15) {
    out.push_back(static_cast<char>(marker | length));
  } else {
    out.push_back(static_cast<char>(marker | 0x0F));
    appendInteger(out, static_cast<int64_t>(length));
  }
}

void appendDouble(std::string& out, uint8_t marker, double value) {
  out.push_back(static_cast<char>(marker | 3));
  appendBigEndian(out, std::bit_cast<uint64_t>(value), 8);
}

// UTF-8 to UTF-16 code units; false on malformed input.
bool toUtf16(std::string_view text, std::u16string& units) {
  units.clear();
  units.reserve(text.size());
  const auto* at = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = at + text.size();
  while (at < end) {
    uint32_t c = *at++;
    int more = 0;
    uint32_t least = 0;
    if (c < 0x80) {
      units.push_back(static_cast<char16_t>(c));
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      c &= 0x1F, more = 1, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      c &= 0x0F, more = 2, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      c &= 0x07, more = 3, least = 0x10000;
    } else {
      return false;
    }
    if (end - at < more) return false;
    for (int i = 0; i < more; ++i) {
      if ((at[i] & 0xC0) != 0x80) return false;
      c = (c << 6) | (at[i] & 0x3F);
    }
    at += more;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(c));
    }
  }
  return true;
}

// Text ends at its first NUL, as the C strings of the libplist path do.
std::string_view cText(const std::string& text) {
  return std::string_view(text.c_str());
}

class Writer {
 public:
  explicit Writer(size_t nodes) : refWidth_(widthFor(nodes == 0 ? 0 : nodes - 1)) {
    out_.reserve(256);
    out_.append("bplist00");
  }

  // Writes `value` and its children; the object's index, or std::nullopt when the tree
  // cannot be written.
  std::optional<uint64_t> write(const PlistValue& value) {
    switch (value.kind()) {
      case PlistValue::Kind::Null:
      case PlistValue::Kind::UnsignedInteger:
        return std::nullopt;
      case PlistValue::Kind::Boolean:
        scratch_.assign(1, static_cast<char>(*value.asBool() ? kTrue : kFalse));
        return leaf();
      case PlistValue::Kind::Integer:
        scratch_.clear();
        appendInteger(scratch_, *value.asInteger());
        return leaf();
      case PlistValue::Kind::Real:
        scratch_.clear();
        appendDouble(scratch_, kReal, *value.asReal());
        return leaf();
      case PlistValue::Kind::Date: {
        scratch_.clear();
        const auto [sec, micro] = dateSecondsAndMicroseconds(*value.asDate());
        appendDouble(scratch_, kDate, static_cast<double>(sec) + static_cast<double>(micro) / 1000000);
        return leaf();
      }
      case PlistValue::Kind::String:
        return string(cText(*value.asString()));
      case PlistValue::Kind::Data: {
        const auto& data = *value.asData();
        scratch_.clear();
        appendMarker(scratch_, kData, data.size());
        scratch_.append(reinterpret_cast<const char*>(data.data()), data.size());
        return leaf();
      }
      case PlistValue::Kind::Uid: {
        // Readers of the layout (libplist among them) take references of at most 4 bytes.
        const uint64_t uid = value.asUid()->value;
        if (uid > 0xFFFFFFFFu) return std::nullopt;
        const unsigned width = widthFor(uid);
        scratch_.assign(1, static_cast<char>(kUid | (width - 1)));
        appendBigEndian(scratch_, uid, width);
        return leaf();
      }
      case PlistValue::Kind::Array: {
        const uint64_t index = reserve();
        std::vector<uint64_t> refs;
        refs.reserve(value.asArray()->size());
        for (const auto& element : *value.asArray()) {
          auto ref = write(element);
          if (!ref) return std::nullopt;
          refs.push_back(*ref);
        }
        container(index, kArray, refs, refs.size());
        return index;
      }
      case PlistValue::Kind::Dictionary:
        return dictionary(*value.asDictionary());
    }
    return std::nullopt;
  }

  std::vector<uint8_t> finish(uint64_t top) {
    const uint64_t tableOffset = out_.size();
    const unsigned offsetWidth = widthFor(tableOffset);
    out_.reserve(out_.size() + offsets_.size() * offsetWidth + 32);
    for (uint64_t offset : offsets_) appendBigEndian(out_, offset, offsetWidth);
    out_.append(6, '\0');
    out_.push_back(static_cast<char>(offsetWidth));
    out_.push_back(static_cast<char>(refWidth_));
    appendBigEndian(out_, offsets_.size(), 8);
    appendBigEndian(out_, top, 8);
    appendBigEndian(out_, tableOffset, 8);
    return std::vector<uint8_t>(out_.begin(), out_.end());
  }

 private:
  uint64_t reserve() {
    offsets_.push_back(0);
    return offsets_.size() - 1;
  }

  // Writes the object in scratch_, or refers to an equal one written before.
  uint64_t leaf() {
    auto [it, added] = leaves_.try_emplace(scratch_, offsets_.size());
    if (added) {
      offsets_.push_back(out_.size());
      out_.append(scratch_);
    }
    return it->second;
  }

  uint64_t string(std::string_view text) {
    scratch_.clear();
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      appendMarker(scratch_, kAsciiString, text.size());
      scratch_.append(text);
      return leaf();
    }
    if (!toUtf16(text, units_)) {
      const std::string repaired = repairedUtf8(text);
      toUtf16(repaired, units_);
    }
    appendMarker(scratch_, kUtf16String, units_.size());
    for (char16_t unit : units_) appendBigEndian(scratch_, unit, 2);
    return leaf();
  }

  std::optional<uint64_t> dictionary(const PlistValue::Dictionary& entries) {
    const uint64_t index = reserve();
    // Keys end at their first NUL; when two keys meet that way the later value wins.
    std::vector<std::pair<std::string_view, const PlistValue*>> members;
    members.reserve(entries.size());
    for (const auto& [key, element] : entries) {
      const std::string_view name = cText(key);
      auto same = name.size() == key.size()
                      ? members.end()
                      : std::find_if(members.begin(), members.end(), [&](const auto& m) { return m.first == name; });
      if (same != members.end()) {
        same->second = &element;
      } else {
        members.emplace_back(name, &element);
      }
    }
    std::vector<uint64_t> refs(2 * members.size());
    for (size_t i = 0; i < members.size(); ++i) refs[i] = string(members[i].first);
    for (size_t i = 0; i < members.size(); ++i) {
      auto ref = write(*members[i].second);
      if (!ref) return std::nullopt;
      refs[members.size() + i] = *ref;
    }
    container(index, kDictionary, refs, members.size());
    return index;
  }

  void container(uint64_t index, uint8_t marker, const std::vector<uint64_t>& refs, size_t count) {
    offsets_[index] = out_.size();
    appendMarker(out_, marker, count);
    for (uint64_t ref : refs) appendBigEndian(out_, ref, refWidth_);
  }

  const unsigned refWidth_;
  std::string out_;
  std::vector<uint64_t> offsets_;
  std::unordered_map<std::string, uint64_t> leaves_;
  std::string scratch_;
  std::u16string units_;
};

// Every node of the tree with dictionary keys: an upper bound on the objects written, which
// fixes the width of references before any is written.
size_t nodeCount(const PlistValue& value) {
  size_t count = 1;
  if (const auto* array = value.asArray()) {
    for (const auto& element : *array) count += nodeCount(element);
  } else if (const auto* dictionary = value.asDictionary()) {
    for (const auto& [key, element] : *dictionary) count += 1 + nodeCount(element);
  }
  return count;
}

}  // namespace

std::pair<int32_t, int32_t> dateSecondsAndMicroseconds(const Date& date) {
  double seconds = date.timeIntervalSinceReferenceDate;
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  if (!std::isfinite(seconds)) seconds = 0;
  seconds = std::clamp(seconds, kMin, kMax);
  const double whole = std::floor(seconds);
  auto micro = static_cast<int32_t>(std::llround((seconds - whole) * 1e6));
  auto sec = static_cast<int32_t>(whole);
  if (micro >= 1000000 && sec < std::numeric_limits<int32_t>::max()) {
    micro -= 1000000;
    sec += 1;
  } else if (micro >= 1000000) {
    micro = 999999;
  }
  return {sec, micro};
}

std::optional<std::vector<uint8_t>> writeBinaryPlist(const PlistValue& value) {
  Writer writer(nodeCount(value));
  auto top = writer.write(value);
  if (!top) return std::nullopt;
  return writer.finish(*top);
}

}  // namespace platform::detail
