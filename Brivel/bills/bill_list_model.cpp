#include "Brivel/bills/bill_list_model.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <optional>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Brivel/bills/bill_ordering.h"
#include "platform/observation/observation.h"
#include "platform/foundation/text.h"
#include "platform/ui/observable.h"

namespace brivel {

namespace {

// A lasting observer of one property of one entity.
struct Watch {
  std::weak_ptr<const platform::PersistentModel> model;
  platform::ObservationRegistrar::ObserverToken token = 0;

  void remove() const {
    if (auto m = model.lock()) m->observationRegistrar().removeObserver(token);
  }
};

// The text rules of one locale: its collator (case ignored, diacritics not) and its case folding.
struct TextRules {
  std::string locale;
  std::unique_ptr<icu::Collator> collator;
  uint32_t foldOptions = U_FOLD_CASE_DEFAULT;

  explicit TextRules(std::string id) : locale(std::move(id)) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale icuLocale(locale.c_str());
    collator.reset(icu::Collator::createInstance(icuLocale, status));
    if (U_FAILURE(status) || !collator) {
      status = U_ZERO_ERROR;
      collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
      if (U_FAILURE(status)) collator.reset();
    }
    if (collator) collator->setStrength(icu::Collator::SECONDARY);
    const std::string language = icuLocale.getLanguage();
    if (language == "tr" || language == "az") foldOptions = U_FOLD_CASE_EXCLUDE_SPECIAL_I;
  }

  // Bytes that order as the collator compares the names.
  std::string sortKey(const std::string& name) const {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);
    int32_t length = collator->getSortKey(text, nullptr, 0);
    std::string key(static_cast<std::size_t>(std::max(length, 0)), '\0');
    collator->getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), length);
    if (!key.empty() && key.back() == '\0') key.pop_back();
    return key;
  }

  // The text folded and normalised as the search compares it.
  icu::UnicodeString folded(std::string_view text) const {
    icu::UnicodeString value =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    value.foldCase(foldOptions);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || nfc == nullptr) return value;
    icu::UnicodeString normal = nfc->normalize(value, status);
    return U_FAILURE(status) ? value : normal;
  }
};

}  // namespace

struct BillListModel::Impl {
  // What is kept of one bill: its watches and its keys, made again when its name changes.
  struct Bill {
    std::vector<Watch> watches;
    bool keyed = false;
    std::string sortKey;
    icu::UnicodeString searchKey;
    std::string rowId;  // empty until made; dropped when the id changes
  };

  std::weak_ptr<ProfileEntity> profile;
  const ProfileEntity* profileAddress = nullptr;
  std::unique_ptr<TextRules> rules;
  std::vector<Watch> listWatches;  // the profile's, its accounts' and categories'
  std::unordered_map<const BillEntity*, Bill> bills;
  std::shared_ptr<const BillListModelContent> grouped;
  std::string lastSearch;
  std::shared_ptr<const BillListModelContent> searched;
  std::optional<CollectionListState> state;
  // The rows of the last computation: a group with the same bills in the same order keeps
  // its keys (until a bill's id changes).
  std::vector<BillRowGroup> lastGroups;

  ~Impl() { forget(); }

  void forget() {
    for (const Watch& w : listWatches) w.remove();
    listWatches.clear();
    for (auto& [address, bill] : bills) {
      for (const Watch& w : bill.watches) w.remove();
    }
    bills.clear();
    grouped.reset();
    searched.reset();
    state.reset();
    lastGroups.clear();
    profile.reset();
    profileAddress = nullptr;
  }

  // Starts afresh when another profile is asked about.
  void select(const std::shared_ptr<ProfileEntity>& p) {
    if (profile.lock() != p || profileAddress != p.get()) {
      forget();
      profile = p;
      profileAddress = p.get();
    }
  }

  // Something the list shows changed: drop what was derived and render again.
  void changed() {
    grouped.reset();
    searched.reset();
    state.reset();
    platform::ui::notifyCacheDropped();
  }

  Watch watch(const std::shared_ptr<const platform::PersistentModel>& model, std::size_t property,
              std::function<void()> extra = {}) {
    auto token = model->observationRegistrar().addObserver(property, [this, extra] {
      if (extra) extra();
      changed();
    });
    return Watch{model, token};
  }

  template <class Entity>
  void watchAll(const std::optional<std::vector<std::shared_ptr<Entity>>>& entities,
                std::initializer_list<std::size_t> properties) {
    for (const auto& entity : entities.value_or(std::vector<std::shared_ptr<Entity>>{})) {
      for (std::size_t property : properties) listWatches.push_back(watch(entity, property));
    }
  }

  // The watches of the profile's lists and choices, and of its accounts and categories.
  void watchLists(const std::shared_ptr<ProfileEntity>& p) {
    for (const Watch& w : listWatches) w.remove();
    listWatches.clear();
    using F = ProfileEntity::Field;
    for (std::size_t property : {F::bills, F::billSortType, F::bankAccounts, F::bankAccountSortType, F::categories,
                                 F::categorySortType, F::collectionFilterType}) {
      listWatches.push_back(watch(p, property));
    }
    using A = BankAccountEntity::Field;
    watchAll(p->bankAccounts(), {A::name, A::color, A::number, A::timestamp, A::bills});
    using C = CategoryEntity::Field;
    watchAll(p->categories(), {C::name, C::color, C::timestamp, C::bills});
  }

  // Watches the bills of the list that are new to it and forgets those that left.
  void watchBills(const BillList& list) {
    std::unordered_set<const BillEntity*> present;
    present.reserve(list.size());
    for (const auto& bill : list) {
      present.insert(bill.get());
      auto [at, added] = bills.try_emplace(bill.get());
      if (!added) continue;
      const BillEntity* address = bill.get();
      using B = BillEntity::Field;
      auto rekey = [this, address] {
        if (auto found = bills.find(address); found != bills.end()) found->second.keyed = false;
      };
      auto reid = [this, address] {
        if (auto found = bills.find(address); found != bills.end()) found->second.rowId.clear();
        lastGroups.clear();
      };
      at->second.watches = {watch(bill, B::name, rekey), watch(bill, B::id, reid),       watch(bill, B::cost),
                            watch(bill, B::timestamp),   watch(bill, B::category), watch(bill, B::bankAccount)};
    }
    for (auto it = bills.begin(); it != bills.end();) {
      if (present.count(it->first)) {
        ++it;
        continue;
      }
      for (const Watch& w : it->second.watches) w.remove();
      it = bills.erase(it);
    }
  }

  Bill& keyed(const BillEntity& bill) {
    Bill& entry = bills[&bill];
    if (!entry.keyed) {
      const std::string name = bill.name();
      entry.sortKey = rules->collator ? rules->sortKey(name) : std::string();
      entry.searchKey = rules->folded(name);
      entry.keyed = true;
    }
    return entry;
  }

  BillList sort(BillList list, BillSortType order) {
    if ((order != BillSortType::name && order != BillSortType::nameReversed) || !rules->collator) {
      return sortedBills(std::move(list), order);
    }
    const bool reversed = order == BillSortType::nameReversed;
    std::vector<std::pair<const std::string*, std::shared_ptr<BillEntity>>> keyedList;
    keyedList.reserve(list.size());
    for (auto& bill : list) keyedList.emplace_back(&keyed(*bill).sortKey, std::move(bill));
    std::stable_sort(keyedList.begin(), keyedList.end(), [reversed](const auto& x, const auto& y) {
      return reversed ? *y.first < *x.first : *x.first < *y.first;
    });
    list.clear();
    for (auto& entry : keyedList) list.push_back(std::move(entry.second));
    return list;
  }

  bool matches(const BillEntity& bill, std::string_view searchText, const icu::UnicodeString& needle) {
    if (searchText.empty() || needle.isEmpty()) return false;
    return keyed(bill).searchKey.indexOf(needle) >= 0;
  }

  // billRowKeys(list), from the ids kept per bill.
  std::shared_ptr<const std::vector<std::string>> rowKeys(const BillList& list) {
    std::vector<std::string> keys;
    keys.reserve(list.size());
    std::unordered_map<std::string_view, int> seen;
    seen.reserve(list.size());
    for (const auto& bill : list) {
      Bill& entry = bills[bill.get()];
      if (entry.rowId.empty()) entry.rowId = bill->id().uuidString();
      const int count = ++seen[entry.rowId];
      keys.push_back(count == 1 ? entry.rowId : entry.rowId + "#" + std::to_string(count));
    }
    return std::make_shared<const std::vector<std::string>>(std::move(keys));
  }

  std::shared_ptr<const BillListModelContent> compute(const ProfileEntity& p, std::string_view searchText) {
    const icu::UnicodeString needle = rules->folded(searchText);
    BillListRules listRules{[this](BillList list, BillSortType order) { return sort(std::move(list), order); },
                            [this, &needle](const BillEntity& bill, std::string_view text) {
                              return matches(bill, text, needle);
                            }};
    auto model = std::make_shared<BillListModelContent>();
    model->content = buildBillListContent(p, searchText, listRules);
    BillListContent& content = model->content;
    auto group = [&](BillList& list) {
      for (const BillRowGroup& last : lastGroups) {
        if (*last.bills == list) {
          model->groups.push_back(last);
          list.clear();
          return;
        }
      }
      auto shared = std::make_shared<const BillList>(std::move(list));
      list.clear();
      model->groups.push_back(BillRowGroup{shared, rowKeys(*shared)});
    };
    if (content.layout == BillListLayout::searchResults || content.layout == BillListLayout::allBills) {
      group(content.rows);
    } else {
      for (auto& section : content.sections) group(section.bills);
    }
    lastGroups = model->groups;
    return model;
  }
};

BillListModel& BillListModel::shared() {
  static BillListModel model;
  return model;
}

BillListModel::BillListModel() : impl_(std::make_unique<Impl>()) {}
BillListModel::~BillListModel() = default;

void BillListModel::reset() { impl_->forget(); }

CollectionListState BillListModel::listState(const std::shared_ptr<ProfileEntity>& profile) {
  Impl& m = *impl_;
  if (!profile) return collectionListState(profile);
  m.select(profile);
  if (!m.state) {
    // Watched below rather than tracked by the render that asked.
    platform::withoutObservationTracking([&] {
      if (m.listWatches.empty()) m.watchLists(profile);
      m.state = collectionListState(profile);
    });
  }
  return *m.state;
}

std::shared_ptr<const BillListModelContent> BillListModel::content(const std::shared_ptr<ProfileEntity>& profile,
                                                                   std::string_view searchText) {
  Impl& m = *impl_;
  if (!profile) return std::make_shared<const BillListModelContent>();
  m.select(profile);
  const std::string locale = platform::Locale::currentIdentifier();
  if (!m.rules || m.rules->locale != locale) {
    m.rules = std::make_unique<TextRules>(locale);
    for (auto& [address, bill] : m.bills) bill.keyed = false;
    m.grouped.reset();
    m.searched.reset();
  }
  const bool searching = isSearching(searchText);
  if (!searching && m.grouped) return m.grouped;
  if (searching && m.searched && m.lastSearch == searchText) return m.searched;

  // What the list reads here is watched above; the render that asked need not track it.
  std::shared_ptr<const BillListModelContent> result;
  platform::withoutObservationTracking([&] {
    if (!m.grouped && !m.searched) {
      m.watchLists(profile);
      m.watchBills(profile->bills().value_or(BillList{}));
    }
    result = m.compute(*profile, searchText);
  });
  if (searching) {
    m.searched = result;
    m.lastSearch = std::string(searchText);
  } else {
    m.grouped = result;
  }
  return result;
}

}  // namespace brivel
