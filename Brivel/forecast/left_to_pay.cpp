#include "Brivel/forecast/left_to_pay.h"

#include <algorithm>
#include <unordered_map>

namespace brivel {

namespace {

bool holds(const BillList& list, const BillEntity& bill) {
  const platform::UUID id = bill.id();
  return std::any_of(list.begin(), list.end(), [&](const auto& member) { return member->id() == id; });
}

void removeAll(BillList& list, const BillEntity& bill) {
  const platform::UUID id = bill.id();
  std::erase_if(list, [&](const auto& member) { return member->id() == id; });
}

}  // namespace

bool payBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill) {
  if (!bill || !holds(state.items, *bill)) return false;
  state.payedBills.push_back(bill);
  state.cost -= bill->cost();
  removeAll(state.items, *bill);
  return true;
}

bool unpayBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill) {
  if (!bill || !holds(state.payedBills, *bill)) return false;
  state.items.push_back(bill);
  state.cost = bill->cost() + state.cost;
  removeAll(state.payedBills, *bill);
  return true;
}

void resetPayedBills(LeftToPayState& state) {
  const BillList paid = state.payedBills;
  for (const auto& bill : paid) unpayBill(state, bill);
}

double payedBillsCost(const LeftToPayState& state) {
  double sum = 0.0;
  for (const auto& bill : state.payedBills) sum += bill->cost();
  return sum;
}

LeftToPayGroups leftToPayGroups(const ProfileEntity& profile, const BillList& items) {
  const BankAccountList accounts = profile.bankAccounts().value_or(BankAccountList{});
  LeftToPayGroups made;
  std::vector<LeftToPayGroup>& groups = made.accounts;
  groups.resize(accounts.size());
  std::unordered_map<const BankAccountEntity*, std::size_t> position;
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    groups[i].account = accounts[i];
    position.emplace(accounts[i].get(), i);
  }
  // One walk over the unpaid bills, however many accounts there are.
  for (const auto& bill : items) {
    const auto account = bill->bankAccount();
    LeftToPayGroup* group = &made.uncategorized;
    if (account) {
      auto found = position.find(account.get());
      if (found == position.end()) continue;
      group = &groups[found->second];
    }
    group->bills.push_back(bill);
    group->cost += bill->cost();
  }
  std::erase_if(groups, [](const LeftToPayGroup& group) { return group.bills.empty(); });
  return made;
}



}  // namespace brivel
