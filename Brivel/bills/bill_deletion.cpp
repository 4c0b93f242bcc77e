#include "Brivel/bills/bill_deletion.h"

#include <string>
#include <utility>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "platform/ui/state.h"

namespace brivel {

namespace {

// The list without the bills whose id text is `idText`, the rest in order.
BillList without(const BillList& bills, const std::string& idText) {
  BillList kept;
  kept.reserve(bills.size());
  for (const auto& bill : bills) {
    if (bill->id().uuidString() != idText) kept.push_back(bill);
  }
  return kept;
}

// Takes the bill out of the list of each owner that holds it.
template <class Owner>
void removeFromOwners(const std::vector<std::shared_ptr<Owner>>& owners, const std::string& idText) {
  for (const auto& owner : owners) {
    auto bills = owner->bills();
    if (!bills) continue;
    bool holds = false;
    for (const auto& bill : *bills) holds = holds || bill->id().uuidString() == idText;
    if (holds) owner->setBills(without(*bills, idText));
  }
}

}  // namespace

void removeBillFromProfileLists(const BillEntity& bill, ProfileEntity& profile) {
  const std::string idText = bill.id().uuidString();
  platform::ui::withAnimation([&] {
    auto bills = profile.bills();
    if (bills) profile.setBills(without(*bills, idText));
  });
  removeFromOwners(profile.categories().value_or(CategoryList{}), idText);
  removeFromOwners(profile.bankAccounts().value_or(BankAccountList{}), idText);
}

bool scheduleBillDeletion(const std::shared_ptr<BillEntity>& bill,
                          const std::shared_ptr<platform::ModelContainer>& container,
                          std::function<void()> afterWalk) {
  auto profile = bill->profile();
  if (!profile) return false;
  scheduleDeletion(container, [bill, profile] { removeBillFromProfileLists(*bill, *profile); }, std::move(afterWalk));
  return true;
}

}  // namespace brivel
