#include "Brivel/model/legacy_bill.h"

#include "Brivel/model/internal/plist_coding.h"

namespace brivel {

platform::PlistValue billToPlist(const Bill& bill) {
  platform::PlistValue::Dictionary dict{
      {"id", bill.id.uuidString()},
      {"title", bill.title},
      {"amount", bill.amount},
      {"note", bill.note},
      {"occurring", bill.occurring},
      {"startingMonth", bill.startingMonth},
      {"startingMonthYearly", bill.startingMonthYearly},
  };
  if (bill.ring) dict.emplace("ring", ringToPlist(*bill.ring));
  return dict;
}

std::optional<Bill> billFromPlist(const platform::PlistValue& value) {
  if (value.asDictionary() == nullptr) return std::nullopt;
  auto id = internal::plistUUID(value, "id");
  auto title = internal::plistString(value, "title");
  auto amount = internal::plistReal(value, "amount");
  auto note = internal::plistString(value, "note");
  auto occurring = internal::plistInteger(value, "occurring");
  auto startingMonth = internal::plistInteger(value, "startingMonth");
  auto startingMonthYearly = internal::plistInteger(value, "startingMonthYearly");
  if (!id || !title || !amount || !note || !occurring || !startingMonth || !startingMonthYearly) {
    return std::nullopt;
  }
  Bill bill{*id, std::move(*title), *amount, std::move(*note), *occurring, *startingMonth,
            *startingMonthYearly, std::nullopt};
  // "ring" may be left out; when it is there it must be a readable ring.
  if (const platform::PlistValue* ring = value.find("ring")) {
    bill.ring = ringFromPlist(*ring);
    if (!bill.ring) return std::nullopt;
  }
  return bill;
}

std::optional<std::vector<std::uint8_t>> encodeBills(const std::vector<Bill>& bills) {
  return internal::encodeList(bills, &billToPlist);
}

std::optional<std::vector<Bill>> decodeBills(const std::vector<std::uint8_t>& bytes) {
  return internal::decodeList(bytes, &billFromPlist);
}

}  // namespace brivel
