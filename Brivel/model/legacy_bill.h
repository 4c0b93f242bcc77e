// Bill: one bill as the app's earlier generation kept it, and the property-list coding of the
// legacy bill and ring lists.
//
// A bill is stored as a dictionary with the keys "id" (string), "title" (string), "amount"
// (real), "note" (string), "occurring", "startingMonth", "startingMonthYearly" (integers) and
// "ring" (a ring dictionary, left out when the bill has none). A list is a property-list
// array of such dictionaries, written in the binary form; any property-list form is read.
// A list decodes whole or not at all: one record with a missing or mistyped key (other than
// an absent "ring") makes the whole list unreadable. Unknown keys are ignored. Numbers are
// read by value: an integer stored as a whole real, or an amount stored as an integer, reads.
//
// A plain value, safe to copy between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Brivel/model/legacy_ring.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/uuid.h"

namespace brivel {

struct Bill {
  platform::UUID id = platform::UUID::random();
  std::string title;
  double amount = 0.0;
  // The empty string means no note.
  std::string note;
  // 1 quarterly, 2 yearly, any other value monthly.
  std::int64_t occurring = 0;
  // Quarterly bills: the month of the quarter, 0 to 2.
  std::int64_t startingMonth = 0;
  // Yearly bills: the month, 1 (January) to 12 (December).
  std::int64_t startingMonthYearly = 0;
  std::optional<Ring> ring;

  // Equal when all eight fields are: `amount` exactly, `ring` by ring equality (its name).
  friend bool operator==(const Bill& a, const Bill& b) {
    return a.id == b.id && a.title == b.title && a.amount == b.amount && a.note == b.note &&
           a.occurring == b.occurring && a.startingMonth == b.startingMonth &&
           a.startingMonthYearly == b.startingMonthYearly && a.ring == b.ring;
  }

  // Orders by the month a bill falls in: `startingMonth` when the left bill is quarterly,
  // `startingMonthYearly` otherwise. The left operand alone picks the field, so this is not a
  // strict weak ordering over bills of mixed recurrence: do not hand it to std::sort.
  friend bool operator<(const Bill& a, const Bill& b) {
    return a.occurring == 1 ? a.startingMonth < b.startingMonth
                            : a.startingMonthYearly < b.startingMonthYearly;
  }
  friend bool operator>(const Bill& a, const Bill& b) { return b < a; }
  friend bool operator<=(const Bill& a, const Bill& b) { return !(b < a); }
  friend bool operator>=(const Bill& a, const Bill& b) { return !(a < b); }
};

platform::PlistValue billToPlist(const Bill& bill);
std::optional<Bill> billFromPlist(const platform::PlistValue& value);

// Encodes a list in the binary property-list form; std::nullopt if it cannot be encoded.
std::optional<std::vector<std::uint8_t>> encodeBills(const std::vector<Bill>& bills);
// Decodes a list from property-list bytes of any form; std::nullopt when the bytes are not a
// property list, the root is not an array, or any record does not read.
std::optional<std::vector<Bill>> decodeBills(const std::vector<std::uint8_t>& bytes);

}  // namespace brivel
