// Contract: next-launch code; allocates, never runs at crash time.
#include "crash-reporting/core/section_reader.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/safe_memory.h"
#include "sdk-core/utilities/json_nesting.h"

namespace {

// `text` with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD: a
// line written by an older writer (or damaged on disk) keeps its other values.
std::string withValidUTF8(std::string_view text) {
  std::string valid;
  valid.reserve(text.size());
  const std::string terminated(text);
  for (size_t at = 0; at < terminated.size();) {
    const size_t length = terminated[at] == '\0' ? 1 : CRFileUTF8SequenceLength(terminated.c_str() + at);
    if (length == 0) {
      valid += "\xEF\xBF\xBD";
      ++at;
    } else {
      valid.append(terminated, at, length);
      at += length;
    }
  }
  return valid;
}

}  // namespace

std::optional<std::vector<nlohmann::json>> CRFileReadSections(
    const char* path, bool deleteOnFailure,
    const std::function<std::optional<nlohmann::json>(nlohmann::json)>& transform) {
  if (reinterpret_cast<uintptr_t>(path) < kCRMinimumValidAddress) {
    CRLogError("Error: input path is invalid\n");
    return std::nullopt;
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    if (deleteOnFailure) unlink(path);
    CRLogWarning("Unable to read file %s\n", path);
    return std::nullopt;
  }
  std::ostringstream contents;
  contents << stream.rdbuf();
  const std::string text = contents.str();

  std::vector<nlohmann::json> sections;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view piece(text.data() + start, end - start);
    if (!UTLJSONNestingWithin(piece)) {
      CRLogWarning("Skipping a line of %s nested too deep\n", path);
      start = end + 1;
      continue;
    }
    nlohmann::json value = nlohmann::json::parse(piece, nullptr, false);
    if (value.is_discarded()) value = nlohmann::json::parse(withValidUTF8(piece), nullptr, false);
    if (!value.is_discarded()) {
      if (transform) {
        if (auto kept = transform(std::move(value))) sections.push_back(std::move(*kept));
      } else {
        sections.push_back(std::move(value));
      }
    }
    start = end + 1;
  }
  return sections;
}

std::optional<int64_t> CRJSONInt64(const nlohmann::json& value) {
  if (value.is_number_unsigned()) return static_cast<int64_t>(value.get<uint64_t>());
  if (value.is_number_integer()) return value.get<int64_t>();
  if (!value.is_number_float()) return std::nullopt;
  const double number = value.get<double>();
  // -2^63 <= number < 2^63, and not NaN.
  if (!(number >= -9223372036854775808.0 && number < 9223372036854775808.0)) return std::nullopt;
  return static_cast<int64_t>(number);
}

std::optional<uint64_t> CRJSONUInt64(const nlohmann::json& value) {
  if (value.is_number_unsigned()) return value.get<uint64_t>();
  if (value.is_number_integer()) return static_cast<uint64_t>(value.get<int64_t>());
  if (!value.is_number_float()) return std::nullopt;
  const double number = value.get<double>();
  // 0 <= number < 2^64, and not NaN; a fraction above -1 drops to 0.
  if (!(number > -1.0 && number < 18446744073709551616.0)) return std::nullopt;
  return static_cast<uint64_t>(number);
}

std::string CRFileHexDecodeString(std::string_view hex) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t at = 0; at + 1 < hex.size(); at += 2) {
    const uint8_t high = CRHexDigitValue(hex[at]);
    const uint8_t low = CRHexDigitValue(hex[at + 1]);
    if (high == 255 || low == 255) break;
    bytes.push_back(static_cast<char>(high << 4 | low));
  }
  return bytes;
}
