#include "Brivel/bills/bill_ordering.h"

#include <utility>

namespace brivel {

using namespace ordering;

bool billOrder(const BillEntity& a, const BillEntity& b, BillSortType sort) {
  const auto seconds = [](const BillEntity& bill) { return bill.timestamp().timeIntervalSinceReferenceDate; };
  switch (sort) {
    case BillSortType::name:
      return nameAscending(a.name(), b.name());
    case BillSortType::nameReversed:
      return nameDescending(a.name(), b.name());
    case BillSortType::cost:
      return totalLess(a.cost(), b.cost());
    case BillSortType::costReversed:
      return totalLess(b.cost(), a.cost());
    case BillSortType::timestamp:
      return totalLess(seconds(a), seconds(b));
    case BillSortType::timestampReversed:
      return totalLess(seconds(b), seconds(a));
  }
  return false;
}

bool billOrder(const BillEntity& a, const BillEntity& b, const ProfileEntity& profile) {
  return billOrder(a, b, profile.billSortType());
}

BillList sortedBills(BillList bills, BillSortType sort) {
  if (bills.empty()) return bills;
  switch (sort) {
    case BillSortType::name:
    case BillSortType::nameReversed:
      return sortedByName(std::move(bills), sort == BillSortType::nameReversed);
    case BillSortType::cost:
    case BillSortType::costReversed: {
      const bool reversed = sort == BillSortType::costReversed;
      return sortedByKey(std::move(bills), [](const BillEntity& b) { return b.cost(); },
                         [reversed](double a, double b) { return reversed ? totalLess(b, a) : totalLess(a, b); });
    }
    case BillSortType::timestamp:
    case BillSortType::timestampReversed:
      return sortedByTimestamp(std::move(bills), sort == BillSortType::timestampReversed);
  }
  return bills;
}

}  // namespace brivel
