// How the bill editors turn their form into bill values, and a stored bill back into form
// text: the cost text, the occurrence and period picker indices, the trimmed name and note.
//
//   costFromText("12,5")          // 12.5
//   costFromText(" 12.5")         // 0.0: nothing but one number is accepted
//   billPeriodFromIndices(1, 2, 5) // quarterly, quarter3, no month
//
// Plain functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Brivel/model/enums.h"

namespace brivel {

// The cost a cost field's text stands for. Every "," becomes "."; the whole text must then
// read as one number in the C locale's floating-point syntax (exponents and hexadecimal
// forms included). An empty text, a text starting with white space, anything left over after
// the number, and a text that reads as NaN or an infinity are unreadable and give 0.0, as is
// a number beyond kLargestCost, whose totals could overflow to an infinity.
inline constexpr double kLargestCost = 1e15;
double costFromText(std::string_view text);

// A stored cost as the cost field shows it: the shortest text that reads back to the same
// value, "." as separator, whole numbers with ".0" (10 gives "10.0").
std::string costFieldText(double cost);

// The occurrence of a picker index: 1 quarterly, 2 yearly, anything else monthly.
OccurringType occurringFromIndex(std::int64_t index);

// The month of the quarter of a picker index: 1 quarter2, 2 quarter3, anything else quarter1.
QuarterType quarterFromIndex(std::int64_t index);

// The occurrence and the one period value it uses.
struct BillPeriod {
  OccurringType occurring = OccurringType::monthly;
  std::optional<QuarterType> quarterly;
  std::optional<YearlyType> yearly;

  friend bool operator==(const BillPeriod&, const BillPeriod&) = default;
};

// The period of the editors' three picker indices: a quarterly bill gets its quarter month
// and no month, a yearly bill its month (outside 0..11: january) and no quarter month, a
// monthly bill neither.
BillPeriod billPeriodFromIndices(std::int64_t occurring, std::int64_t quarterly, std::int64_t yearly);

// The note a bill gets from the note switch and text: the trimmed text while the switch is
// on and the trimmed text is not empty; otherwise no note.
std::optional<std::string> noteFromInput(bool connectNote, std::string_view note);

// True when the name, trimmed of white space and line breaks, is empty (the save and update
// buttons are disabled then).
bool isBlankName(std::string_view name);

}  // namespace brivel
