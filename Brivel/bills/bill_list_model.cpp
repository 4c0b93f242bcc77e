#include "Brivel/bills/bill_list_model.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>

#include "Brivel/bills/bill_ordering.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/text.h"
#include "platform/observation/observation.h"
#include "platform/process_state/process_state.h"
#include "platform/ui/observable.h"

namespace brivel {

namespace {

// A lasting observer of every property of one object.
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

  // The text folded and normalised as the search compares it, in UTF-8 (a match of the
  // bytes is a match of the characters). Plain ASCII folds to its lower case without ICU,
  // except a capital I where the locale folds it to a dotless i.
  std::string folded(std::string_view text) const {
    std::string utf8;
    fold(text, utf8);
    return utf8;
  }

  // Folds `text` into `into` as folded() does, reusing its storage.
  void fold(std::string_view text, std::string& into) const {
    if (!isPlain(text)) {
      into.clear();
      foldedWithIcu(text).toUTF8String(into);
      return;
    }
    into.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) into[i] = asciiLower(text[i]);
  }

  // Plain ASCII with no capital I where the locale folds it to a dotless i.
  bool isPlain(std::string_view text) const {
    const bool turkic = foldOptions == U_FOLD_CASE_EXCLUDE_SPECIAL_I;
    for (char c : text) {
      if (static_cast<unsigned char>(c) >= 0x80 || (turkic && c == 'I')) return false;
    }
    return true;
  }

  static char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

  icu::UnicodeString foldedWithIcu(std::string_view text) const {
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

bool isNameOrder(BillSortType order) { return order == BillSortType::name || order == BillSortType::nameReversed; }

// The bills of a profile by when they fall due: the monthly ones, the quarterly ones of each
// month of the quarter, the yearly ones of each month. A quarterly bill without its month of
// the quarter, or a yearly one without its month, falls due in none.
constexpr int kMonthly = 0;
constexpr int kQuarterly = 1;  // + the month of the quarter (0 ... 2)
constexpr int kYearly = 4;     // + the month (0 ... 11)
constexpr std::size_t kDueGroups = 16;
constexpr int kNotDue = -1;

int dueGroupOf(const BillEntity& bill) {
  switch (bill.occurring()) {
    case OccurringType::monthly:
      return kMonthly;
    case OccurringType::quarterly: {
      const std::optional<QuarterType> quarter = bill.quarterly();
      return quarter ? kQuarterly + rawValue(*quarter) : kNotDue;
    }
    case OccurringType::yearly: {
      const std::optional<YearlyType> month = bill.yearly();
      return month ? kYearly + rawValue(*month) : kNotDue;
    }
  }
  return kNotDue;
}

}  // namespace

struct BillListModel::Impl {
  // What changed of a bill since the model last placed it.
  enum Pending : unsigned {
    kPlaceChanged = 1,  // cost, date or a link: it may move
    kNameChanged = 2,   // its keys go; under a name order it may move
    kIdChanged = 4,     // its row key goes
    kDueChanged = 8,    // its occurrence, quarter or month: it may fall due in other months
  };

  // One bill of the profile's list, with what its place in the list is decided by, read when
  // it was last placed (so that it can be found there again after it changed).
  struct Entry {
    std::shared_ptr<BillEntity> bill;  // held, so that no other bill takes its address meanwhile
    Watch watch;
    std::uint64_t sequence = 0;  // its place in the profile's list, relative to the others
    double cost = 0.0;
    double seconds = 0.0;
    const void* category = nullptr;
    const void* bankAccount = nullptr;
    int due = kNotDue;  // dueGroupOf(*bill)
    bool sortKeyKnown = false;
    std::string sortKey;
    bool searchKeyKnown = false;
    std::string searchKey;
    std::optional<platform::UUID> rowId;  // its row key's id, once made
    unsigned pending = 0;
    std::uint64_t mark = 0;
  };

  // The bills of one section, in order, and the rows last made of them.
  struct Group {
    std::vector<Entry*> rows;
    bool changed = true;
    bool idsChanged = false;  // a row's id changed since the rows were last made
    std::optional<BillRowGroup> made;
  };

  std::weak_ptr<ProfileEntity> profile;
  const ProfileEntity* profileAddress = nullptr;
  Watch profileWatch;
  std::vector<Watch> sideWatches;  // the profile's accounts and categories
  bool sidesWatched = false;
  std::unique_ptr<TextRules> rules;

  std::unordered_map<const BillEntity*, std::unique_ptr<Entry>> entries;
  // The bills in the profile's list order, as last seen: their addresses as the list holds
  // them, so that a change of the list is found by one walk of two arrays.
  std::vector<const platform::PersistentModel*> members;
  Group all;                                      // every bill, in the bill order
  std::unordered_map<const void*, Group> groups;  // by account or category (null: none)
  // Every bill that falls due by when (dueGroupOf), in the bill order, and a count per group
  // that changes whenever its rows may have.
  std::array<std::vector<Entry*>, kDueGroups> due;
  std::array<std::uint64_t, kDueGroups> dueChanges{};
  // Each month's rows as last made, with the changes of its three groups then.
  struct MonthMade {
    std::array<std::uint64_t, 3> changes{};
    std::optional<BillRowGroup> rows;
  };
  std::array<MonthMade, 12> months;
  BillSortType order = BillSortType::name;
  CollectionFilterType filter = CollectionFilterType::off;
  // How many made row ids each id has, and how many ids more than one bill has: while none
  // does, a row's key is its id.
  std::unordered_map<platform::UUID, int> idUses;
  std::size_t sharedIds = 0;
  std::uint64_t nextSequence = 0;
  std::uint64_t generation = 0;

  bool built = false;
  bool rebuildNeeded = true;
  bool listChanged = false;
  std::vector<Entry*> dirty;

  // The search keys of the whole order side by side, so that a search reads one block of
  // memory rather than every bill's entry: made after the list is shown (see foldAhead) and
  // good while `version` stays what it was made at. A bill put into the order or taken out of
  // it is patched in (see columnInsert), so that an add does not lay out every key again; a
  // change that the patches do not follow drops the column.
  struct SearchColumn {
    std::uint64_t version = 0;
    bool made = false;
    std::string text;                   // each row's key followed by a '\0', in the kept order
    std::vector<std::uint32_t> starts;  // where each row's key begins, then text.size()
    std::vector<Entry*> rows;           // all.rows as it was
    // Their row ids and bills, each held by one block: a search's results share them and name
    // their rows by place, so that a search neither copies nor counts every matching bill.
    // Patched only while no result shares them; otherwise a patch copies them first.
    std::shared_ptr<std::vector<platform::UUID>> ids;
    std::shared_ptr<BillList> bills;
  };
  SearchColumn column;
  std::size_t columnPatches = 0;  // in this update: past a few, laying it out again is cheaper

  std::shared_ptr<const BillListModelContent> grouped;
  std::string lastSearch;
  std::shared_ptr<const BillListModelContent> searched;
  std::optional<CollectionListState> state;
  bool screensTold = false;
  bool foldPosted = false;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);  // expires with the model, for posted work
  LastUpdate lastUpdate = LastUpdate::none;
  std::uint64_t version = 0;  // see BillListModel::version()

  ~Impl() { forget(); }

  void forget() {
    ++version;
    profileWatch.remove();
    profileWatch = {};
    unwatchSides();
    for (auto& [address, entry] : entries) entry->watch.remove();
    entries.clear();
    idUses.clear();
    sharedIds = 0;
    members.clear();
    groups.clear();
    forgetDue();
    all = {};
    dirty.clear();
    built = false;
    rebuildNeeded = true;
    listChanged = false;
    grouped.reset();
    searched.reset();
    column = {};
    state.reset();
    profile.reset();
    profileAddress = nullptr;
  }

  // Starts afresh when another profile is asked about.
  void select(const std::shared_ptr<ProfileEntity>& p) {
    if (profile.lock() == p && profileAddress == p.get()) return;
    forget();
    profile = p;
    profileAddress = p.get();
    profileWatch = watch(p, [this](std::size_t property) { profileChanged(property); });
  }

  // Something the list shows changed: drop the content and have the screens render again
  // (once until the model is next asked).
  void changed() {
    ++version;
    grouped.reset();
    searched.reset();
    if (screensTold) return;
    screensTold = true;
    platform::ui::notifyCacheDropped();
  }

  Watch watch(const std::shared_ptr<const platform::PersistentModel>& model,
              std::function<void(std::size_t)> callback) {
    return Watch{model, model->observationRegistrar().addObserverOfEveryProperty(std::move(callback))};
  }

  void profileChanged(std::size_t property) {
    using F = ProfileEntity::Field;
    switch (property) {
      case F::bills:
        listChanged = true;
        state.reset();
        break;
      case F::billSortType:
      case F::collectionFilterType:
        rebuildNeeded = true;
        break;
      case F::bankAccounts:
      case F::categories:
        sidesWatched = false;
        break;
      case F::bankAccountSortType:
      case F::categorySortType:
        break;
      default:
        return;
    }
    changed();
  }

  void billChanged(Entry* entry, std::size_t property) {
    using B = BillEntity::Field;
    unsigned what = 0;
    switch (property) {
      case B::cost:
      case B::timestamp:
      case B::category:
      case B::bankAccount:
        what = kPlaceChanged;
        break;
      case B::name:
        what = kNameChanged;
        break;
      case B::id:
        what = kIdChanged;
        break;
      case B::occurring:
      case B::quarterly:
      case B::yearly:
        // Changes no row of the list itself: its content stays.
        if (entry->pending == 0) dirty.push_back(entry);
        entry->pending |= kDueChanged;
        ++version;
        return;
      default:
        return;
    }
    if (entry->pending == 0) dirty.push_back(entry);
    entry->pending |= what;
    changed();
  }

  void unwatchSides() {
    for (const Watch& w : sideWatches) w.remove();
    sideWatches.clear();
    sidesWatched = false;
  }

  // Any change of an account or category may change the sections: their order, headers or
  // whether they show.
  void watchSides(const ProfileEntity& p) {
    unwatchSides();
    auto onChange = [this](std::size_t) { changed(); };
    for (const auto& account : p.bankAccounts().value_or(BankAccountList{})) sideWatches.push_back(watch(account, onChange));
    for (const auto& category : p.categories().value_or(CategoryList{})) sideWatches.push_back(watch(category, onChange));
    sidesWatched = true;
  }

  // ----- Entries -----

  Entry& entryFor(const std::shared_ptr<BillEntity>& bill) {
    auto [at, added] = entries.try_emplace(bill.get());
    if (added) {
      at->second = std::make_unique<Entry>();
      Entry* entry = at->second.get();
      entry->bill = bill;
      entry->watch = watch(bill, [this, entry](std::size_t property) { billChanged(entry, property); });
    }
    return *at->second;
  }

  void dropEntry(Entry* entry) {
    entry->watch.remove();
    dropRowId(*entry);
    entries.erase(entry->bill.get());
  }

  // Reads what the bill's place depends on and drops the keys its pending changes made stale.
  void refresh(Entry& entry) {
    const BillEntity& bill = *entry.bill;
    entry.cost = bill.cost();
    entry.seconds = bill.timestamp().timeIntervalSinceReferenceDate;
    entry.category = bill.category().get();
    entry.bankAccount = bill.bankAccount().get();
    entry.due = dueGroupOf(bill);
    if (entry.pending & kNameChanged) entry.sortKeyKnown = entry.searchKeyKnown = false;
    if (entry.pending & kIdChanged) dropRowId(entry);
    entry.pending = 0;
    if (isNameOrder(order) && rules->collator && !entry.sortKeyKnown) {
      entry.sortKey = rules->sortKey(bill.name());
      entry.sortKeyKnown = true;
    }
  }

  const std::string& searchKey(Entry& entry) {
    if (!entry.searchKeyKnown) {
      rules->fold(entry.bill->name(), entry.searchKey);
      entry.searchKeyKnown = true;
    }
    return entry.searchKey;
  }

  const platform::UUID& rowId(Entry& entry) {
    if (!entry.rowId) {
      entry.rowId = entry.bill->id();
      if (++idUses[*entry.rowId] == 2) ++sharedIds;
    }
    return *entry.rowId;
  }
  void dropRowId(Entry& entry) {
    if (!entry.rowId) return;
    if (auto uses = idUses.find(*entry.rowId); uses != idUses.end()) {
      if (--uses->second == 1) --sharedIds;
      if (uses->second == 0) idUses.erase(uses);
    }
    entry.rowId.reset();
  }

  // ----- The order -----

  // The bill order (sortedBills) without the list order: below 0, 0 (equal keys) or above 0.
  int compareKeys(const Entry* a, const Entry* b) const {
    auto compare = [](double x, double y) { return ordering::totalLess(x, y) ? -1 : ordering::totalLess(y, x) ? 1 : 0; };
    int compared = 0;
    switch (order) {
      case BillSortType::name:
      case BillSortType::nameReversed:
        if (rules->collator) {
          compared = a->sortKey.compare(b->sortKey);
        } else {
          const std::string x = a->bill->name();
          const std::string y = b->bill->name();
          compared = ordering::nameAscending(x, y) ? -1 : ordering::nameAscending(y, x) ? 1 : 0;
        }
        break;
      case BillSortType::cost:
      case BillSortType::costReversed:
        compared = compare(a->cost, b->cost);
        break;
      case BillSortType::timestamp:
      case BillSortType::timestampReversed:
        compared = compare(a->seconds, b->seconds);
        break;
    }
    const bool reversed = order == BillSortType::nameReversed || order == BillSortType::costReversed ||
                          order == BillSortType::timestampReversed;
    return reversed ? -compared : compared;
  }

  // The bill order (sortedBills), with the profile's list order deciding between equals.
  bool less(const Entry* a, const Entry* b) const {
    const int compared = compareKeys(a, b);
    return compared != 0 ? compared < 0 : a->sequence < b->sequence;
  }

  bool grouping() const { return filter != CollectionFilterType::off; }
  const void* linkOf(const Entry& entry) const {
    return filter == CollectionFilterType::bankAccount ? entry.bankAccount : entry.category;
  }

  // Both answer the row the entry went to or came from (rows.size() when it was not there).
  std::size_t insertSorted(std::vector<Entry*>& rows, Entry* entry) {
    auto at = rows.insert(std::lower_bound(rows.begin(), rows.end(), entry, [this](const Entry* a, const Entry* b) {
                            return less(a, b);
                          }),
                          entry);
    return static_cast<std::size_t>(at - rows.begin());
  }
  std::size_t eraseSorted(std::vector<Entry*>& rows, Entry* entry) {
    auto at = std::lower_bound(rows.begin(), rows.end(), entry, [this](const Entry* a, const Entry* b) {
      return less(a, b);
    });
    if (at == rows.end() || *at != entry) at = std::find(rows.begin(), rows.end(), entry);
    if (at == rows.end()) return rows.size();
    const auto row = static_cast<std::size_t>(at - rows.begin());
    rows.erase(at);
    return row;
  }

  // Calls `f` with each group the entry is in, by what it held when last refreshed: every
  // bill's and, when the list is grouped, its section's.
  template <typename F>
  void eachGroupOf(const Entry& entry, F&& f) {
    f(all);
    if (grouping()) f(groups[linkOf(entry)]);
  }

  // Puts an entry into the order, its section and its due group, or takes it out.
  void place(Entry* entry) {
    eachGroupOf(*entry, [&](Group& group) {
      const std::size_t row = insertSorted(group.rows, entry);
      group.changed = true;
      if (&group == &all) columnInsert(row, *entry);
    });
    placeDue(entry);
  }
  void unplace(Entry* entry) {
    eachGroupOf(*entry, [&](Group& group) {
      const std::size_t row = eraseSorted(group.rows, entry);
      group.changed = true;
      if (&group == &all) columnErase(row, *entry);
    });
    unplaceDue(entry);
  }

  // ----- The due groups -----

  void placeDue(Entry* entry) {
    if (entry->due == kNotDue) return;
    const auto k = static_cast<std::size_t>(entry->due);
    insertSorted(due[k], entry);
    ++dueChanges[k];
  }
  void unplaceDue(Entry* entry) {
    if (entry->due == kNotDue) return;
    const auto k = static_cast<std::size_t>(entry->due);
    eraseSorted(due[k], entry);
    ++dueChanges[k];
  }
  // Every due group from the sorted rows of every bill.
  void groupDue() {
    for (std::size_t k = 0; k < kDueGroups; ++k) {
      due[k].clear();
      ++dueChanges[k];
    }
    for (Entry* entry : all.rows) {
      if (entry->due != kNotDue) due[static_cast<std::size_t>(entry->due)].push_back(entry);
    }
  }
  void forgetDue() {
    for (std::size_t k = 0; k < kDueGroups; ++k) {
      due[k] = {};
      ++dueChanges[k];
    }
    months = {};
  }

  // Month m's groups: its monthly bills, its quarterly ones, its yearly ones.
  static std::array<std::size_t, 3> dueGroupsOf(int month) {
    return {kMonthly, static_cast<std::size_t>(kQuarterly + month % 3), static_cast<std::size_t>(kYearly + month)};
  }

  // Month m's bills in the bill order, a run of equal keys ordered by part (monthly, quarterly,
  // yearly), then by the list order: its three groups merged. A run of one group between two
  // bills of the others is found by a binary search, not walked bill by bill.
  std::vector<Entry*> mergedMonth(int month) {
    const std::array<std::size_t, 3> parts = dueGroupsOf(month);
    std::vector<Entry*> rows;
    rows.reserve(due[parts[0]].size() + due[parts[1]].size() + due[parts[2]].size());
    std::array<std::size_t, 3> at{};
    const auto before = [this](const Entry* a, const Entry* b) { return compareKeys(a, b) < 0; };
    for (;;) {
      // The part whose next bill goes first; on equal keys the earliest part.
      std::size_t first = 3;
      for (std::size_t k = 0; k < 3; ++k) {
        if (at[k] == due[parts[k]].size()) continue;
        if (first == 3 || before(due[parts[k]][at[k]], due[parts[first]][at[first]])) first = k;
      }
      if (first == 3) break;
      // Its bills up to the first that another part's next bill goes before.
      const std::vector<Entry*>& from = due[parts[first]];
      const auto begin = from.begin() + static_cast<long>(at[first]);
      auto end = from.end();
      for (std::size_t k = 0; k < 3; ++k) {
        if (k == first || at[k] == due[parts[k]].size()) continue;
        const Entry* other = due[parts[k]][at[k]];
        // A bill of an earlier part with an equal key goes before it; of a later part, after.
        end = k < first ? std::lower_bound(begin, end, other, before) : std::upper_bound(begin, end, other, before);
      }
      rows.insert(rows.end(), begin, end);
      at[first] = static_cast<std::size_t>(end - from.begin());
    }
    return rows;
  }

  // Month m's rows, made again only when one of its groups changed since.
  const BillRowGroup& monthRows(int month) {
    MonthMade& made = months[static_cast<std::size_t>(month)];
    const std::array<std::size_t, 3> parts = dueGroupsOf(month);
    const std::array<std::uint64_t, 3> changes{dueChanges[parts[0]], dueChanges[parts[1]], dueChanges[parts[2]]};
    if (!made.rows || made.changes != changes) {
      const std::vector<Entry*> rows = mergedMonth(month);
      made.rows = isColumnOrder(rows) ? columnRows() : rowsOf(rows);
      made.changes = changes;
    }
    return *made.rows;
  }

  // Whether `rows` are the whole list in the order the search column holds, keyed by their
  // ids: then a month every bill falls due in shares the column's blocks of bills and ids,
  // rather than counting every bill again.
  bool isColumnOrder(const std::vector<Entry*>& rows) const {
    return sharedIds == 0 && columnCurrent() && rows == column.rows;
  }
  BillRowGroup columnRows() const {
    return BillRowGroup{column.bills, nullptr, column.ids};
  }

  // ----- Bringing the order up to date -----

  // More patches of the search column than this in one update lay it out again.
  static constexpr std::size_t kColumnPatches = 8;

  // More changes than this sort everything again.
  std::size_t bulk() const { return std::max<std::size_t>(64, members.size() / 8); }

  // Reads the profile's whole list, sorts and groups it. Entries of bills still in the list
  // keep their keys.
  void rebuild(const ProfileEntity& p) {
    order = p.billSortType();
    filter = p.collectionFilterType();
    static const platform::PersistentModel::ModelList none;
    const platform::PersistentModel::ModelList* list = p.billsWithoutCopy();
    if (!list) list = &none;
    ++generation;
    members.clear();
    members.reserve(list->size());
    all.rows.clear();
    all.rows.reserve(list->size());
    bool idsChanged = false;
    for (const auto& member : *list) {
      Entry& entry = entryFor(std::static_pointer_cast<BillEntity>(member));
      entry.sequence = members.size();
      entry.mark = generation;
      idsChanged = idsChanged || (entry.pending & kIdChanged);
      refresh(entry);
      members.push_back(member.get());
      all.rows.push_back(&entry);
    }
    std::vector<Entry*> gone;
    for (const auto& [address, entry] : entries) {
      if (entry->mark != generation) gone.push_back(entry.get());
    }
    for (Entry* entry : gone) dropEntry(entry);
    nextSequence = members.size();
    dirty.clear();
    listChanged = false;
    rebuildNeeded = false;
    built = true;
    dropColumn();

    std::sort(all.rows.begin(), all.rows.end(), [this](const Entry* a, const Entry* b) { return less(a, b); });
    all.changed = true;
    all.idsChanged = all.idsChanged || idsChanged;
    groupDue();
    // Sections keep what they made last, for reuse when their rows come out the same.
    auto previous = std::move(groups);
    groups.clear();
    if (grouping()) {
      for (Entry* entry : all.rows) groups[linkOf(*entry)].rows.push_back(entry);
      for (auto& [link, group] : groups) {
        if (auto found = previous.find(link); found != previous.end()) {
          group.made = std::move(found->second.made);
          group.idsChanged = idsChanged || found->second.idsChanged;
        }
      }
    }
  }

  // Applies the changes of the profile's list as bills removed and bills added: the longest
  // start of the new list that keeps the old order stays, the bills left out of it go, and
  // the rest of the new list comes in as new (a bill that moved in the list goes and comes
  // back). False when that is too much to apply one by one; then everything is built again.
  bool applyListChange(const ProfileEntity& p) {
    const platform::PersistentModel::ModelList* list = p.billsWithoutCopy();
    const std::size_t count = list ? list->size() : 0;
    std::vector<std::size_t> removed;  // places in members, in order
    // The start both share, in one tight walk (all of the old list, when bills were added).
    std::size_t kept = 0;
    for (const std::size_t both = std::min(count, members.size()); kept < both && (*list)[kept].get() == members[kept];) {
      ++kept;
    }
    std::size_t old = kept;
    for (; kept < count; ++kept) {
      const platform::PersistentModel* bill = (*list)[kept].get();
      while (old < members.size() && members[old] != bill) removed.push_back(old++);
      if (old == members.size()) break;
      ++old;
    }
    while (old < members.size()) removed.push_back(old++);
    if (removed.size() + (count - kept) > bulk()) return false;

    if (!removed.empty()) {
      std::vector<Entry*> gone;
      gone.reserve(removed.size());
      for (std::size_t at : removed) {
        Entry* entry = entries.at(static_cast<const BillEntity*>(members[at])).get();
        unplace(entry);
        gone.push_back(entry);
      }
      // The members left, in order, closed up over the removed ones.
      std::size_t to = removed.front();
      for (std::size_t from = removed.front(), r = 0; from < members.size(); ++from) {
        if (r < removed.size() && removed[r] == from) {
          ++r;
        } else {
          members[to++] = members[from];
        }
      }
      members.resize(to);
      for (Entry* entry : gone) dropEntry(entry);
    }
    for (std::size_t i = kept; i < count; ++i) {
      Entry& entry = entryFor(std::static_pointer_cast<BillEntity>((*list)[i]));
      entry.sequence = nextSequence++;
      entry.mark = generation;
      refresh(entry);
      members.push_back((*list)[i].get());
      place(&entry);
    }
    listChanged = false;
    return true;
  }

  // Moves each changed bill to where it now belongs.
  void applyBillChanges() {
    for (Entry* entry : dirty) {
      const unsigned what = entry->pending;
      if (what & kIdChanged) {
        dropRowId(*entry);
        eachGroupOf(*entry, [](Group& group) { group.changed = group.idsChanged = true; });
        if (entry->due != kNotDue) ++dueChanges[static_cast<std::size_t>(entry->due)];
        dropColumn();
      }
      if ((what & kPlaceChanged) || ((what & kNameChanged) && isNameOrder(order))) {
        unplace(entry);
        refresh(*entry);
        place(entry);
      } else if (what & kNameChanged) {
        dropColumn();  // its search key changes in place
        refresh(*entry);
      } else if (what & kDueChanged) {
        unplaceDue(entry);
        refresh(*entry);
        placeDue(entry);
      } else {
        refresh(*entry);
      }
    }
    dirty.clear();
  }

  // Brings the order and the sections up to date with the profile, and the search column
  // with them where it followed the changes; answers how.
  LastUpdate update(const ProfileEntity& p) {
    columnPatches = 0;
    const LastUpdate how = updateOrder(p);
    if (column.made) column.version = version;
    return how;
  }
  LastUpdate updateOrder(const ProfileEntity& p) {
    if (!sidesWatched) watchSides(p);
    if (!built || rebuildNeeded || dirty.size() > bulk()) {
      rebuild(p);
      return LastUpdate::full;
    }
    if (dirty.empty() && !listChanged) return LastUpdate::kept;
    applyBillChanges();
    if (listChanged && !applyListChange(p)) {
      rebuild(p);
      return LastUpdate::full;
    }
    return LastUpdate::incremental;
  }

  // ----- The content -----

  // The rows with billRowKeys of them, from the ids kept per bill: the ids alone while no two
  // bills share one.
  BillRowGroup rowsOf(const std::vector<Entry*>& rows) {
    BillList bills;
    bills.reserve(rows.size());
    std::vector<platform::UUID> ids;
    ids.reserve(rows.size());
    for (Entry* entry : rows) {
      bills.push_back(entry->bill);
      ids.push_back(rowId(*entry));
    }
    BillRowGroup group{std::make_shared<const BillList>(std::move(bills)), nullptr, nullptr};
    if (sharedIds == 0) {
      group.ids = std::make_shared<const std::vector<platform::UUID>>(std::move(ids));
      return group;
    }
    std::vector<std::string> keys;
    keys.reserve(ids.size());
    std::unordered_map<platform::UUID, int> seen;
    seen.reserve(ids.size());
    for (const platform::UUID& id : ids) {
      const int count = ++seen[id];
      keys.push_back(count == 1 ? id.uuidString() : id.uuidString() + "#" + std::to_string(count));
    }
    group.keys = std::make_shared<const std::vector<std::string>>(std::move(keys));
    return group;
  }

  // The group's rows, made again only when they changed (and then kept when they came out as
  // before: the same bills, none of them with another id).
  const BillRowGroup& made(Group& group) {
    if (group.made && group.changed) {
      const BillList& last = *group.made->bills;
      bool same = !group.idsChanged && last.size() == group.rows.size();
      for (std::size_t i = 0; same && i < last.size(); ++i) same = last[i] == group.rows[i]->bill;
      if (!same) group.made.reset();
    }
    if (!group.made) group.made = rowsOf(group.rows);
    group.changed = group.idsChanged = false;
    return *group.made;
  }

  // Takes up `p` and the current locale's rules before the order is read.
  void prepare(const std::shared_ptr<ProfileEntity>& p) {
    select(p);
    screensTold = false;
    const std::string locale = platform::Locale::currentIdentifier();
    if (!rules || rules->locale != locale) {
      rules = std::make_unique<TextRules>(locale);
      for (auto& [address, entry] : entries) entry->sortKeyKnown = entry->searchKeyKnown = false;
      rebuildNeeded = true;
      grouped.reset();
      searched.reset();
      ++version;
    }
  }

  // True when the order holds every change noticed so far.
  bool current() const { return built && !rebuildNeeded && dirty.empty() && !listChanged; }
  bool columnCurrent() const { return column.made && column.version == version; }

  // Lays the search keys of the kept order side by side (folding those not made yet).
  void makeColumn() {
    SearchColumn made;
    const std::size_t count = all.rows.size();
    // Room for the rows later adds patch in, so that the first of them does not move every row.
    const std::size_t room = count + columnRoom(count);
    made.starts.reserve(room + 1);
    made.rows.reserve(room);
    made.rows.assign(all.rows.begin(), all.rows.end());
    std::vector<platform::UUID> ids;
    ids.reserve(room);
    BillList bills;
    bills.reserve(room);
    for (Entry* entry : all.rows) {
      made.starts.push_back(static_cast<std::uint32_t>(made.text.size()));
      made.text += searchKey(*entry);
      made.text.push_back('\0');
      ids.push_back(rowId(*entry));
      bills.push_back(entry->bill);
    }
    made.starts.push_back(static_cast<std::uint32_t>(made.text.size()));
    made.ids = std::make_shared<std::vector<platform::UUID>>(std::move(ids));
    made.bills = std::make_shared<BillList>(std::move(bills));
    made.version = version;
    made.made = true;
    column = std::move(made);
  }

  void dropColumn() { column = {}; }

  // Follows an entry put into the order at `row`, or taken out of it from `row`, in the column
  // (when it is laid out): its key, row id and bill go in or come out there, and the keys
  // after it move along.
  void columnInsert(std::size_t row, Entry& entry) {
    if (!column.made) return;
    if (++columnPatches > kColumnPatches || column.rows.size() + 1 != all.rows.size() || row > column.rows.size()) {
      dropColumn();
      return;
    }
    const std::string& key = searchKey(entry);
    const auto length = static_cast<std::uint32_t>(key.size() + 1);
    const std::uint32_t at = column.starts[row];
    column.text.insert(at, key.c_str(), length);  // with its '\0'
    const auto offset = static_cast<long>(row);
    column.starts.insert(column.starts.begin() + offset, at);
    for (std::size_t i = row + 1; i < column.starts.size(); ++i) column.starts[i] += length;
    column.rows.insert(column.rows.begin() + offset, &entry);
    auto& ids = unshared(column.ids);
    ids.insert(ids.begin() + offset, rowId(entry));
    auto& bills = unshared(column.bills);
    bills.insert(bills.begin() + offset, entry.bill);
  }
  void columnErase(std::size_t row, const Entry& entry) {
    if (!column.made) return;
    if (++columnPatches > kColumnPatches || column.rows.size() != all.rows.size() + 1 || row >= column.rows.size() ||
        column.rows[row] != &entry) {
      dropColumn();
      return;
    }
    const std::uint32_t at = column.starts[row];
    const std::uint32_t length = column.starts[row + 1] - at;
    column.text.erase(at, length);
    const auto offset = static_cast<long>(row);
    column.starts.erase(column.starts.begin() + offset);
    for (std::size_t i = row; i < column.starts.size(); ++i) column.starts[i] -= length;
    column.rows.erase(column.rows.begin() + offset);
    auto& ids = unshared(column.ids);
    ids.erase(ids.begin() + offset);
    auto& bills = unshared(column.bills);
    bills.erase(bills.begin() + offset);
  }
  // A block of the column, copied first (with room to grow) when a search result shares it.
  template <typename T>
  static T& unshared(std::shared_ptr<T>& held) {
    if (held.use_count() > 1) {
      auto copy = std::make_shared<T>();
      copy->reserve(held->size() + columnRoom(held->size()));
      copy->assign(held->begin(), held->end());
      held = std::move(copy);
    }
    return *held;
  }
  static std::size_t columnRoom(std::size_t count) { return std::max<std::size_t>(64, count / 64); }

  // Folds the search keys not made yet, and lays them out for the search, in a later turn of
  // the main queue once the list is shown: the first letter typed then finds them ready,
  // however long the list.
  void foldAhead() {
    if (foldPosted || columnCurrent()) return;  // the column holds every key
    foldPosted = true;
    platform::DispatchQueue::main()->async([this, alive = std::weak_ptr<bool>(alive)] {
      if (alive.expired()) return;
      foldPosted = false;
      if (!rules) return;
      platform::withoutObservationTracking([&] {
        if (current()) {
          if (!columnCurrent()) makeColumn();
          return;
        }
        // A change came meanwhile: the order is brought up to date when the list is next
        // asked for; the keys of the bills can be made now.
        for (auto& [address, entry] : entries) searchKey(*entry);
      });
    });
  }

  // Calls `f` with each row whose search key holds `needle` (not empty), in the kept order: each
  // place of its first byte is tried in turn, a match must end inside the row, and a row is
  // left at its first match.
  template <typename F>
  void eachMatch(std::string_view needle, F&& f) const {
    const char* const text = column.text.data();
    const std::size_t size = column.text.size();
    const std::uint32_t* const starts = column.starts.data();
    std::size_t row = 0;
    for (std::size_t from = 0; from < size;) {
      const void* hit = std::memchr(text + from, needle[0], size - from);
      if (hit == nullptr) return;
      const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - text);
      while (starts[row + 1] <= at) ++row;  // the places come in order: walk on to the row
      const std::size_t next = starts[row + 1];
      if (at + needle.size() < next &&
          (needle.size() == 1 || std::memcmp(text + at + 1, needle.data() + 1, needle.size() - 1) == 0)) {
        f(row);
        from = next;
      } else {
        from = at + 1;
      }
    }
  }

  std::shared_ptr<const BillListModelContent> search(std::string_view searchText) {
    auto model = std::make_shared<BillListModelContent>();
    model->content.layout = BillListLayout::searchResults;
    const std::string needle = rules->folded(searchText);
    if (searchText.empty() || needle.empty()) {
      model->groups.push_back(rowsOf({}));
      return model;
    }
    if (!columnCurrent()) makeColumn();
    if (sharedIds != 0) {
      std::vector<Entry*> rows;
      eachMatch(needle, [&](std::size_t row) { rows.push_back(column.rows[row]); });
      model->groups.push_back(rowsOf(rows));
      return model;
    }
    // The matches as places in the column's rows, whose bills and ids the results share.
    std::vector<std::uint32_t> positions;
    eachMatch(needle, [&](std::size_t row) { positions.push_back(static_cast<std::uint32_t>(row)); });
    model->groups.push_back(BillRowGroup{column.bills, nullptr, column.ids,
                                         std::make_shared<const std::vector<std::uint32_t>>(std::move(positions))});
    return model;
  }

  std::shared_ptr<const BillListModelContent> group(const ProfileEntity& p) {
    auto model = std::make_shared<BillListModelContent>();
    BillListContent& content = model->content;
    content.layout = billListLayout(p, "");
    if (content.layout == BillListLayout::allBills) {
      model->groups.push_back(made(all));
      return model;
    }
    content.sections = sectionsWithoutBills(p, content.layout);
    const bool byAccount = content.layout == BillListLayout::bankAccountSections;
    for (const BillSection& section : content.sections) {
      const void* link = byAccount ? static_cast<const void*>(section.bankAccount.get()) : section.category.get();
      auto found = groups.find(link);
      model->groups.push_back(found != groups.end() ? made(found->second) : rowsOf({}));
    }
    if (auto none = groups.find(nullptr); none != groups.end() && !none->second.rows.empty()) {
      BillSection section;
      section.isUncategorized = true;
      content.sections.push_back(std::move(section));
      model->groups.push_back(made(none->second));
    }
    return model;
  }
};

BillList BillRowGroup::allBills() const {
  if (!positions) return *bills;
  BillList rows;
  rows.reserve(size());
  for (std::size_t row = 0; row < size(); ++row) rows.push_back(bill(row));
  return rows;
}

std::vector<std::string> BillRowGroup::allKeys() const {
  if (keys && !positions) return *keys;
  std::vector<std::string> made;
  made.reserve(size());
  for (std::size_t row = 0; row < size(); ++row) made.push_back(key(row));
  return made;
}

BillListModel& BillListModel::shared() {
  static BillListModel model;
  static const bool resettable = [] {
    platform::addProcessStateReset(+[] { BillListModel::shared().reset(); });
    return true;
  }();
  (void)resettable;
  return model;
}

BillListModel::BillListModel() : impl_(std::make_unique<Impl>()) {}
BillListModel::~BillListModel() = default;

void BillListModel::reset() { impl_->forget(); }

BillListModel::LastUpdate BillListModel::lastUpdate() const { return impl_->lastUpdate; }

std::uint64_t BillListModel::version() const { return impl_->version; }

BillRowGroup BillListModel::monthRows(const std::shared_ptr<ProfileEntity>& profile, int month) {
  Impl& m = *impl_;
  if (!profile || month < 0 || month >= 12) {
    return BillRowGroup{std::make_shared<const BillList>(), std::make_shared<const std::vector<std::string>>(), nullptr};
  }
  m.prepare(profile);
  BillRowGroup rows;
  platform::withoutObservationTracking([&] {
    m.update(*profile);
    rows = m.monthRows(month);
  });
  return rows;
}

CollectionListState BillListModel::listState(const std::shared_ptr<ProfileEntity>& profile) {
  Impl& m = *impl_;
  if (!profile) {
    m.forget();  // lets go of the bills of a profile no longer shown
    return collectionListState(profile);
  }
  m.select(profile);
  m.screensTold = false;
  // Observed by the model rather than tracked by the render that asked.
  if (!m.state) platform::withoutObservationTracking([&] { m.state = collectionListState(profile); });
  return *m.state;
}

std::shared_ptr<const BillListModelContent> BillListModel::content(const std::shared_ptr<ProfileEntity>& profile,
                                                                   std::string_view searchText) {
  Impl& m = *impl_;
  m.lastUpdate = LastUpdate::none;
  if (!profile) return std::make_shared<const BillListModelContent>();
  m.prepare(profile);
  const bool searching = isSearching(searchText);
  if (!searching && m.grouped) {
    m.lastUpdate = LastUpdate::kept;
    return m.grouped;
  }
  if (searching && m.searched && m.lastSearch == searchText) {
    m.lastUpdate = LastUpdate::kept;
    return m.searched;
  }

  // What the list reads here is observed by the model; the render that asked need not track it.
  std::shared_ptr<const BillListModelContent> result;
  platform::withoutObservationTracking([&] {
    m.lastUpdate = m.update(*profile);
    result = searching ? m.search(searchText) : m.group(*profile);
  });
  if (searching) {
    m.searched = result;
    m.lastSearch = std::string(searchText);
  } else {
    m.grouped = result;
    m.foldAhead();
  }
  return result;
}

}  // namespace brivel
