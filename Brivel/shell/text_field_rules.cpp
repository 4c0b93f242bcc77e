#include "Brivel/shell/text_field_rules.h"

#include <vector>

#include "platform/foundation/text.h"

namespace brivel {
namespace {

std::vector<std::string> graphemes(std::string_view text) {
  std::vector<std::string> result;
  const std::size_t count = platform::graphemeCount(text);
  std::size_t consumed = 0;
  for (std::size_t i = 1; i <= count; ++i) {
    const std::string prefix = platform::graphemePrefix(text, i);
    result.emplace_back(prefix.substr(consumed));
    consumed = prefix.size();
  }
  return result;
}

}  // namespace

std::optional<std::string> lengthRuleWriteBack(std::string_view text, std::size_t limit) {
  if (platform::graphemeCount(text) <= limit) return std::nullopt;
  return platform::graphemePrefix(text, limit);
}

std::optional<std::string> decimalRuleWriteBack(std::string_view text, std::string_view separator) {
  if (separator.empty()) separator = ".";
  const std::vector<std::string> characters = graphemes(text);
  std::size_t separators = 0;
  for (const std::string& character : characters) {
    if (character == separator) ++separators;
  }
  if (separators == 0) return std::nullopt;

  const auto withoutLast = [&] {
    return std::string(text.substr(0, text.size() - characters.back().size()));
  };
  if (separators >= 2) return withoutLast();

  const std::string& last = characters.back();
  if (last == separator) return std::string(text);
  if (!platform::isNumericCharacter(last)) return std::nullopt;

  // Split at the separator, dropping empty pieces.
  std::vector<std::size_t> pieceLengths;
  std::size_t current = 0;
  for (const std::string& character : characters) {
    if (character == separator) {
      if (current > 0) pieceLengths.push_back(current);
      current = 0;
    } else {
      ++current;
    }
  }
  if (current > 0) pieceLengths.push_back(current);

  if (pieceLengths.size() == 2 && pieceLengths[1] >= 3) return withoutLast();
  return std::string(text);
}

std::string applyDecimalRule(std::string text, std::string_view separator) {
  while (auto writeBack = decimalRuleWriteBack(text, separator)) {
    if (*writeBack == text) break;
    text = std::move(*writeBack);
  }
  return text;
}

}  // namespace brivel
