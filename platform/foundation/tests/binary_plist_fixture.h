// Hand-made binary property lists, for tests that feed damaged ones to their readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::testing {

// An ASCII string object of a binary property list (shorter than 256 bytes).
inline std::string asciiObject(const std::string& text) {
  if (text.size() < 15) return static_cast<char>(0x50 | text.size()) + text;
  return std::string("\x5F\x10", 2) + static_cast<char>(text.size()) + text;
}

// A binary property list of one dictionary {key: value}, both strings, from raw bytes.
inline std::string binaryDictionary(const std::string& key, const std::string& value) {
  std::string out = "bplist00";
  std::vector<size_t> offsets;
  offsets.push_back(out.size());
  out += std::string("\xD1\x01\x02", 3);
  offsets.push_back(out.size());
  out += asciiObject(key);
  offsets.push_back(out.size());
  out += asciiObject(value);
  const size_t table = out.size();
  for (size_t offset : offsets) out += static_cast<char>(offset);
  out += std::string(6, '\0') + '\x01' + '\x01';
  auto be64 = [&](uint64_t v) {
    for (int i = 7; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  be64(3);
  be64(0);
  be64(table);
  return out;
}

}  // namespace platform::testing
