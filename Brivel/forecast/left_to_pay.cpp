#include "Brivel/forecast/left_to_pay.h"

#include <algorithm>

namespace brivel {

namespace {

// Takes `bill` out of `list`: every bill of its id, or, when ids differ, the one place it is
// at (its own object first, so no other bill's id is read). False when it is not there.
bool takeOut(BillList& list, const BillEntity& bill, bool idsDiffer) {
  if (idsDiffer) {
    auto at = std::find_if(list.begin(), list.end(), [&](const auto& member) { return member.get() == &bill; });
    if (at == list.end()) {
      const platform::UUID id = bill.id();
      at = std::find_if(list.begin(), list.end(), [&](const auto& member) { return member->id() == id; });
    }
    if (at == list.end()) return false;
    list.erase(at);
    return true;
  }
  const platform::UUID id = bill.id();
  return std::erase_if(list, [&](const auto& member) { return member->id() == id; }) != 0;
}

}  // namespace

bool payBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill, bool idsDiffer) {
  if (!bill || !takeOut(state.items, *bill, idsDiffer)) return false;
  state.payedBills.push_back(bill);
  state.cost -= bill->cost();
  return true;
}

bool unpayBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill, bool idsDiffer) {
  if (!bill || !takeOut(state.payedBills, *bill, idsDiffer)) return false;
  state.items.push_back(bill);
  state.cost = bill->cost() + state.cost;
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
    group->bills->push_back(bill);
    group->cost += bill->cost();
  }
  std::erase_if(groups, [](const LeftToPayGroup& group) { return group.bills->empty(); });
  return made;
}

// ----- KeptLeftToPayGroups -----

namespace {

// The group's own list to change: copied first while the rows of a render share it.
BillList& writable(LeftToPayGroup& group) {
  if (group.bills.use_count() > 1) group.bills = std::make_shared<BillList>(*group.bills);
  return *group.bills;
}

}  // namespace

KeptLeftToPayGroups::KeptLeftToPayGroups() = default;

KeptLeftToPayGroups::~KeptLeftToPayGroups() { stopObserving(); }

const LeftToPayGroups& KeptLeftToPayGroups::groups(const ProfileEntity& profile, const BillList& items) {
  platform::withoutObservationTracking([&] {
    const auto figures = profile.yearFigures();
    const BankAccountList accounts = profile.bankAccounts().value_or(BankAccountList{});
    if (made_ && !*linksChanged_ && unpaidCount_ == items.size() && figures == figures_.lock() &&
        accounts == accounts_) {
      return;
    }
    groups_ = leftToPayGroups(profile, items);
    made_ = true;
    unpaidCount_ = items.size();
    figures_ = figures;
    if (accounts != accounts_) {
      stopObserving();
      accounts_ = accounts;
      position_.clear();
      for (std::size_t i = 0; i < accounts_.size(); ++i) position_.emplace(accounts_[i].get(), i);
      observeAccounts();
    }
    *linksChanged_ = false;
  });
  return groups_;
}

KeptLeftToPayGroups::Place KeptLeftToPayGroups::placeOf(const BillEntity& bill) {
  Place place;
  platform::withoutObservationTracking([&] { place.account = bill.bankAccount(); });
  if (!place.account) {
    place.grouped = true;
    place.group = &groups_.uncategorized;
    return place;
  }
  if (!position_.contains(place.account.get())) return place;
  place.grouped = true;
  for (auto& group : groups_.accounts) {
    if (group.account == place.account) place.group = &group;
  }
  return place;
}

void KeptLeftToPayGroups::paid(const std::shared_ptr<BillEntity>& bill) {
  if (!made_ || !bill) return;
  --unpaidCount_;
  const Place place = placeOf(*bill);
  if (!place.grouped) return;
  LeftToPayGroup* group = place.group;
  const auto at = group ? std::find(group->bills->begin(), group->bills->end(), bill) : BillList::iterator{};
  if (!group || at == group->bills->end()) {
    made_ = false;  // not where its link says: grouped anew
    return;
  }
  const auto index = at - group->bills->begin();
  BillList& bills = writable(*group);
  bills.erase(bills.begin() + index);
  double cost = 0.0;
  platform::withoutObservationTracking([&] { cost = bill->cost(); });
  group->cost -= cost;
  if (!bills.empty()) return;
  if (group == &groups_.uncategorized) {
    group->cost = 0.0;
  } else {
    std::erase_if(groups_.accounts, [&](const LeftToPayGroup& each) { return &each == group; });
  }
}

void KeptLeftToPayGroups::unpaid(const std::shared_ptr<BillEntity>& bill) {
  if (!made_ || !bill) return;
  ++unpaidCount_;
  const Place place = placeOf(*bill);
  if (!place.grouped) return;
  LeftToPayGroup* group = place.group;
  if (!group) {
    // Its account's group comes back in the profile's account order.
    const std::size_t position = position_.at(place.account.get());
    auto before = std::find_if(groups_.accounts.begin(), groups_.accounts.end(), [&](const LeftToPayGroup& each) {
      return position_.at(each.account.get()) > position;
    });
    group = &*groups_.accounts.insert(before, LeftToPayGroup{place.account, std::make_shared<BillList>(), 0.0});
  }
  writable(*group).push_back(bill);
  double cost = 0.0;
  platform::withoutObservationTracking([&] { cost = bill->cost(); });
  group->cost += cost;
}

void KeptLeftToPayGroups::drop() { made_ = false; }

void KeptLeftToPayGroups::observeAccounts() {
  for (const auto& account : accounts_) {
    if (!account) continue;
    // A bill linked to or from the account: the groups are made again at the next ask.
    observers_.emplace_back(account, account->observationRegistrar().addObserver(
                                         BankAccountField::bills, [changed = linksChanged_] { *changed = true; }));
  }
}

void KeptLeftToPayGroups::stopObserving() {
  for (const auto& [account, token] : observers_) account->observationRegistrar().removeObserver(token);
  observers_.clear();
}

}  // namespace brivel
