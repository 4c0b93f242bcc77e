#include "Brivel/forecast/forecast_sort_menu.h"

#include <string_view>

#include "Brivel/bills/bill_ordering.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/view_helpers.h"

namespace brivel {

using namespace platform::ui;

std::string dateSortImage(BillSortType current) {
  if (current != BillSortType::timestamp && current != BillSortType::timestampReversed) return "clock";
  return sortEntryImage("calendar", current, BillSortType::timestamp);
}

View forecastSortMenu(const std::shared_ptr<ProfileEntity>& profile) {
  const BillSortType current = profile->billSortType();
  auto entry = [&](std::string_view key, std::string image, BillSortType ascending) {
    auto action = [profile, ascending] {
      withAnimation([&] { profile->setBillSortType(nextSortValue(profile->billSortType(), ascending)); });
    };
    return Button(Label(LocalizedText(key), AssetImage(std::move(image))), action)
        .accessibilityIdentifier("sortBills." + std::string(key));
  };
  return Menu(Label(keyText(localizable_sort), "arrow.up.arrow.down"),
              {Label(LocalizedText(localizable_sortBillsBy), SystemImage("arrow.up.arrow.down")),
               entry(localizable_name, sortEntryImage("envelope", current, BillSortType::name), BillSortType::name),
               entry(localizable_cost, sortEntryImage("centsign.circle", current, BillSortType::cost), BillSortType::cost),
               entry(localizable_dateAdded, dateSortImage(current), BillSortType::timestamp)})
      .accessibilityIdentifier("sortMenu");
}

}  // namespace brivel
