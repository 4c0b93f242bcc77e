#include "Brivel/bills/bill_sort_menu.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "Brivel/bills/bill_ordering.h"
#include "Brivel/collections/collection_views.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/view_helpers.h"

namespace brivel {

using namespace platform::ui;

namespace {

View titleRow(std::string_view key) { return Label(LocalizedText(key), SystemImage("arrow.up.arrow.down")); }

// One entry of a sort pair on a stored choice of the profile; disabled unless `enabled`.
template <StoredEnumType E>
View sortEntry(std::string_view idPrefix, std::string_view key, std::string_view family,
               const std::shared_ptr<ProfileEntity>& profile, E (ProfileEntity::*read)() const,
               void (ProfileEntity::*write)(E), E ascending, bool enabled) {
  return sortMenuEntry(profile, key, family, read, write, ascending, idPrefix).disabled(!enabled);
}

View groupingImage(CollectionFilterType filter) {
  switch (filter) {
    case CollectionFilterType::bankAccount:
      return SystemImage("creditcard");
    case CollectionFilterType::category:
      return SystemImage("personalhotspot");
    case CollectionFilterType::off:
      break;
  }
  return AssetImage("line.3.horizontal.decrease.slash");
}

View groupingEntry(std::string_view key, CollectionFilterType value, const std::shared_ptr<ProfileEntity>& profile,
                   CollectionFilterType current) {
  return Button(Label(LocalizedText(key), groupingImage(value)),
                [profile, value] { withAnimation([&] { profile->setCollectionFilterType(value); }); })
      .disabled(current == value)
      .accessibilityIdentifier("group." + std::string(key));
}

}  // namespace

std::vector<View> billSortMenuItems(const std::shared_ptr<ProfileEntity>& profile) {
  const CollectionFilterType grouping = profile->collectionFilterType();
  auto bill = [&](std::string_view key, std::string_view family, BillSortType ascending) {
    return sortEntry("sortBills.", key, family, profile, &ProfileEntity::billSortType, &ProfileEntity::setBillSortType, ascending, true);
  };
  const bool byAccount = grouping == CollectionFilterType::bankAccount;
  const bool byCategory = grouping == CollectionFilterType::category;
  auto account = [&](std::string_view key, std::string_view family, BankAccountSortType ascending) {
    return sortEntry("sortAccounts.", key, family, profile, &ProfileEntity::bankAccountSortType, &ProfileEntity::setBankAccountSortType,
                     ascending, byAccount);
  };
  auto category = [&](std::string_view key, std::string_view family, CategorySortType ascending) {
    return sortEntry("sortCategories.", key, family, profile, &ProfileEntity::categorySortType, &ProfileEntity::setCategorySortType,
                     ascending, byCategory);
  };
  return {
      titleRow(localizable_sortBillsBy),
      bill(localizable_name, "envelope", BillSortType::name),
      bill(localizable_cost, "centsign.circle", BillSortType::cost),
      bill(localizable_dateAdded, "clock", BillSortType::timestamp),
      Divider(),
      Menu(Label(LocalizedText(localizable_filterBy), groupingImage(grouping)),
           {groupingEntry(localizable_off, CollectionFilterType::off, profile, grouping),
            groupingEntry(localizable_bankAccount, CollectionFilterType::bankAccount, profile, grouping),
            groupingEntry(localizable_category, CollectionFilterType::category, profile, grouping)})
          .accessibilityIdentifier("filterBy"),
      when(byAccount, [&] {
        return Group({titleRow(localizable_sortFilterBy), account(localizable_name, "personalhotspot", BankAccountSortType::name),
                      account(localizable_color, "paintbrush", BankAccountSortType::color),
                      account(localizable_number, "paintbrush", BankAccountSortType::number),
                      account(localizable_dateAdded, "clock", BankAccountSortType::timestamp)});
      }),
      when(byCategory, [&] {
        return Group({titleRow(localizable_sortFilterBy), category(localizable_name, "personalhotspot", CategorySortType::name),
                      category(localizable_color, "paintbrush", CategorySortType::color),
                      category(localizable_dateAdded, "clock", CategorySortType::timestamp)});
      }),
  };
}

}  // namespace brivel
