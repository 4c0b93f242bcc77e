// The two input rules that text fields of the editors carry.
//
// Length rule: a field holds at most `limit` user-perceived characters (grapheme clusters);
// a longer text is cut to its prefix, on every update including the first.
//
// Decimal rule: a cost field holds at most one decimal separator and at most two digits after
// it. It acts on changes only; each write-back that changes the text is a change of its own,
// so a pasted "12.3456" is cut one character at a time until it reads "12.34". It does not
// stop letters or signs and does not look at the part before the separator.
//
// Plain functions; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brivel {

// The text to write back under the length rule, or absent when the text fits.
std::optional<std::string> lengthRuleWriteBack(std::string_view text, std::size_t limit);

// One run of the decimal rule on a new value: the text to write back, or absent when the rule
// writes nothing. A write-back equal to `text` is not a change and ends the rule.
// An empty separator counts as ".".
std::optional<std::string> decimalRuleWriteBack(std::string_view text, std::string_view separator);

// The decimal rule run until it rests, as a field sees it after one edit.
std::string applyDecimalRule(std::string text, std::string_view separator);

}  // namespace brivel
