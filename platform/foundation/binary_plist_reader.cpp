#include <cmath>
#include <cstring>

#include "platform/foundation/binary_plist.h"

namespace platform::detail {

namespace {

uint64_t bigEndian(const uint8_t* at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value = (value << 8) | at[i];
  return value;
}

// Reads a structurally sound file (see decodePlist) straight into a PlistValue. Whatever it
// does not know to read exactly as libplist would (16-byte integers, sets, strings with
// NULs, bytes above 0x7F in ASCII strings, empty UTF-16 strings or unpaired surrogates, odd
// widths) marks the read
// unsupported, and the caller hands the file to libplist instead.
class Reader {
 public:
  Reader(const uint8_t* bytes, size_t size) : bytes_(bytes) {
    const uint8_t* trailer = bytes + size - 32;
    offsetWidth_ = trailer[6];
    refWidth_ = trailer[7];
    count_ = bigEndian(trailer + 8, 8);
    top_ = bigEndian(trailer + 16, 8);
    table_ = bigEndian(trailer + 24, 8);
  }

  BinaryReadResult read() {
    auto value = object(top_, 0);
    if (unsupported_) return BinaryReadResult::unsupportedForm();
    return BinaryReadResult{std::move(value), false};
  }

 private:
  uint64_t offsetOf(uint64_t index) const { return bigEndian(bytes_ + table_ + index * offsetWidth_, offsetWidth_); }

  bool fits(uint64_t from, uint64_t length) {
    if (from > table_ || length > table_ - from) {
      unsupported_ = true;
      return false;
    }
    return true;
  }

  // The length in the marker's low nibble or in the integer after it; false (unsupported)
  // when it is malformed.
  bool lengthAt(uint64_t at, uint64_t& length, uint64_t& content) {
    const uint8_t info = bytes_[at] & 0x0F;
    content = at + 1;
    if (info != 0x0F) {
      length = info;
      return true;
    }
    if (!fits(content, 1) || (bytes_[content] & 0xF0) != 0x10 || (bytes_[content] & 0x0F) > 3) {
      unsupported_ = true;
      return false;
    }
    const size_t width = size_t{1} << (bytes_[content] & 0x0F);
    if (!fits(content + 1, width)) return false;
    length = bigEndian(bytes_ + content + 1, width);
    content += 1 + width;
    return true;
  }

  std::optional<PlistValue> object(uint64_t index, int depth) {
    if (unsupported_ || depth > 512) return std::nullopt;
    const uint64_t at = offsetOf(index);
    const uint8_t marker = bytes_[at];
    const uint8_t info = marker & 0x0F;
    switch (marker >> 4) {
      case 0x0:
        if (marker == 0x08 || marker == 0x09) return PlistValue(marker == 0x09);
        break;
      case 0x1: {
        if (info > 3) break;
        const size_t width = size_t{1} << info;
        if (!fits(at + 1, width)) return std::nullopt;
        return PlistValue(static_cast<long long>(static_cast<int64_t>(bigEndian(bytes_ + at + 1, width))));
      }
      case 0x2:
        if (info == 2 && fits(at + 1, 4)) {
          float real;
          const auto raw = static_cast<uint32_t>(bigEndian(bytes_ + at + 1, 4));
          std::memcpy(&real, &raw, 4);
          return PlistValue(static_cast<double>(real));
        }
        if (info == 3 && fits(at + 1, 8)) return PlistValue(realAt(at + 1));
        break;
      case 0x3:
        if (marker == 0x33 && fits(at + 1, 8)) {
          // As libplist hands a date out: whole seconds, and the microseconds of the
          // fraction without its sign.
          const double value = realAt(at + 1);
          if (!(value >= -2147483648.0 && value < 2147483648.0)) break;
          const auto sec = static_cast<int32_t>(value);
          const auto usec = static_cast<int32_t>(std::fabs((value - static_cast<int64_t>(value)) * 1000000));
          return PlistValue(Date{static_cast<double>(sec) + static_cast<double>(usec) / 1e6});
        }
        break;
      case 0x4: {
        uint64_t length = 0, content = 0;
        if (!lengthAt(at, length, content) || !fits(content, length)) return std::nullopt;
        return PlistValue(PlistValue::Data(bytes_ + content, bytes_ + content + length));
      }
      case 0x5: {
        uint64_t length = 0, content = 0;
        if (!lengthAt(at, length, content) || !fits(content, length)) return std::nullopt;
        const auto* text = reinterpret_cast<const char*>(bytes_ + content);
        for (uint64_t i = 0; i < length; ++i) {
          if (bytes_[content + i] == 0 || bytes_[content + i] > 0x7F) {
            unsupported_ = true;
            return std::nullopt;
          }
        }
        return PlistValue(std::string(text, length));
      }
      case 0x6:
        return utf16String(at);
      case 0x8:
        if (info == 0 || info == 1 || info == 3) {
          if (!fits(at + 1, info + 1u)) return std::nullopt;
          return PlistValue(PlistUid{bigEndian(bytes_ + at + 1, info + 1u)});
        }
        break;
      case 0xA: {
        uint64_t length = 0, content = 0;
        if (!lengthAt(at, length, content)) return std::nullopt;
        PlistValue::Array array;
        array.reserve(length);
        for (uint64_t i = 0; i < length; ++i) {
          auto element = object(bigEndian(bytes_ + content + i * refWidth_, refWidth_), depth + 1);
          if (!element) return std::nullopt;
          array.push_back(std::move(*element));
        }
        return PlistValue(std::move(array));
      }
      case 0xD: {
        uint64_t length = 0, content = 0;
        if (!lengthAt(at, length, content)) return std::nullopt;
        PlistValue::Dictionary dictionary;
        for (uint64_t i = 0; i < length; ++i) {
          auto key = object(bigEndian(bytes_ + content + i * refWidth_, refWidth_), depth + 1);
          if (!key || !key->asString()) {
            unsupported_ = true;
            return std::nullopt;
          }
          auto element = object(bigEndian(bytes_ + content + (length + i) * refWidth_, refWidth_), depth + 1);
          if (!element) return std::nullopt;
          dictionary.insert_or_assign(std::move(*const_cast<std::string*>(key->asString())), std::move(*element));
        }
        return PlistValue(std::move(dictionary));
      }
      default:
        break;
    }
    unsupported_ = true;
    return std::nullopt;
  }

  double realAt(uint64_t at) const {
    const uint64_t raw = bigEndian(bytes_ + at, 8);
    double value;
    std::memcpy(&value, &raw, 8);
    return value;
  }

  // UTF-16 (big-endian) to UTF-8; unsupported for a NUL or an unpaired surrogate.
  std::optional<PlistValue> utf16String(uint64_t at) {
    uint64_t length = 0, content = 0;
    if (!lengthAt(at, length, content) || length > table_ || !fits(content, 2 * length)) return std::nullopt;
    if (length == 0) {  // libplist refuses an empty UTF-16 string; let it say so
      unsupported_ = true;
      return std::nullopt;
    }
    std::string text;
    text.reserve(length * 3);
    for (uint64_t i = 0; i < length; ++i) {
      uint32_t c = static_cast<uint32_t>(bigEndian(bytes_ + content + 2 * i, 2));
      if (c == 0 || (c >= 0xDC00 && c <= 0xDFFF)) {
        unsupported_ = true;
        return std::nullopt;
      }
      if (c >= 0xD800 && c <= 0xDBFF) {
        const uint32_t low = i + 1 < length ? static_cast<uint32_t>(bigEndian(bytes_ + content + 2 * (i + 1), 2)) : 0;
        if (low < 0xDC00 || low > 0xDFFF) {
          unsupported_ = true;
          return std::nullopt;
        }
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
      if (c < 0x80) {
        text.push_back(static_cast<char>(c));
      } else if (c < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (c >> 6)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      } else if (c < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | (c >> 12)));
        text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      } else {
        text.push_back(static_cast<char>(0xF0 | (c >> 18)));
        text.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    return PlistValue(std::move(text));
  }

  const uint8_t* bytes_;
  size_t offsetWidth_ = 0, refWidth_ = 0;
  uint64_t count_ = 0, top_ = 0, table_ = 0;
  bool unsupported_ = false;
};

}  // namespace

BinaryReadResult readBinaryPlist(const uint8_t* bytes, size_t size) {
  return Reader(bytes, size).read();
}

}  // namespace platform::detail
