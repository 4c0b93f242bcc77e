#include "Brivel/forecast/forecast_month_item_screen.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_entity_view.h"
#include "Brivel/bills/bill_list_model.h"
#include "Brivel/bills/bill_ordering.h"
#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/forecast/forecast_month_view.h"
#include "Brivel/forecast/internal/bill_rows.h"
#include "Brivel/forecast/forecast_sort_menu.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"
#include "platform/process_state/process_state.h"

namespace brivel {

using namespace platform::ui;

std::shared_ptr<const ForecastMonthValues> currentMonthValues(const ProfileEntity& profile,
                                                              std::shared_ptr<const ForecastMonthValues> values) {
  const std::optional<int> month = forecastMonthIndex(values->month);
  if (!month) return values;
  auto year = yearRecords(profile);
  return std::shared_ptr<const ForecastMonthValues>(year, &(*year)[static_cast<std::size_t>(*month)]);
}

namespace {

// The rows of the month last shown, kept between its renders and for the next time it is
// pushed (one month at a time: it holds its bills until another month is shown).
struct KeptMonthRows {
  std::weak_ptr<ProfileEntity> profile;
  int month = -1;
  BillSortType order = BillSortType::name;
  std::string locale;
  std::uint64_t billEdits = 0;  // ProfileEntity::billEdits() then
  // The record the rows were last given for. The year's records are made anew whenever a bill
  // figure or the bill list changes, so while this one is still alive and no bill was edited
  // the rows stand as they are, without a look at the month's bills.
  std::weak_ptr<const ForecastMonthValues> record;
  // The month's bills by part, in the profile's list order, as the rows were read from them.
  std::array<std::vector<const BillEntity*>, MonthBills::kParts> parts;
  std::shared_ptr<const BillList> bills;  // the rows, in order
  // billRowKeys(*bills) as last made in full (null: each row's key is its bill's id, the ids
  // as the model read them in `ids`), whether those were the bills' ids (no two alike), and
  // the ids of the bills put in since (then a row's key is its bill's id).
  std::shared_ptr<const std::vector<std::string>> keys;
  std::shared_ptr<const std::vector<platform::UUID>> ids;
  bool ownIds = false;
  std::vector<std::string> addedIds;
};

// Month m's part of a bill, as its record lists them: the monthly bills, then the quarterly
// ones of month m mod 3 of their quarter, then the yearly ones of month m; -1: not in it.
int partInMonth(const BillEntity& bill, int month) {
  switch (bill.occurring()) {
    case OccurringType::monthly:
      return 0;
    case OccurringType::quarterly: {
      const std::optional<QuarterType> quarter = bill.quarterly();
      return quarter && rawValue(*quarter) == month % 3 ? 1 : -1;
    }
    case OccurringType::yearly: {
      const std::optional<YearlyType> yearly = bill.yearly();
      return yearly && rawValue(*yearly) == month ? 2 : -1;
    }
  }
  return -1;
}

KeptMonthRows& keptMonthRows() {
  static KeptMonthRows kept;
  static const bool resettable = [] {
    platform::addProcessStateReset(+[] { keptMonthRows() = KeptMonthRows{}; });
    return true;
  }();
  (void)resettable;
  return kept;
}

// Whether `month`'s parts start with the kept ones, bill for bill: then the month gained
// bills at the ends of its parts and lost none.
bool extendsKept(const KeptMonthRows& kept, const MonthBills& month) {
  for (std::size_t k = 0; k < MonthBills::kParts; ++k) {
    const BillList& part = month.part(k);
    const std::vector<const BillEntity*>& was = kept.parts[k];
    if (part.size() < was.size()) return false;
    for (std::size_t i = 0; i < was.size(); ++i) {
      if (part[i].get() != was[i]) return false;
    }
  }
  return true;
}

// Puts the bills the month gained since the rows were made into their places, as sortedBills
// over the parts would have them (after the bills of equal keys and parts: they come last in
// the list). False, changing nothing, when that cannot be done one by one: too many bills, a
// bill of the rows edited since, or a gained bill whose id another row has (the row keys
// would change).
bool insertGained(KeptMonthRows& kept, const ProfileEntity& profile, const MonthBills& month) {
  constexpr std::size_t kMostGained = 64;
  if (!kept.ownIds || (!kept.ids && !kept.keys)) return false;
  const auto edited = profile.billsEditedSince(kept.billEdits);
  if (!edited) return false;
  std::vector<std::pair<std::shared_ptr<BillEntity>, int>> gained;
  for (std::size_t k = 0; k < MonthBills::kParts; ++k) {
    const BillList& part = month.part(k);
    for (std::size_t i = kept.parts[k].size(); i < part.size(); ++i) {
      if (gained.size() == kMostGained) return false;
      gained.emplace_back(part[i], static_cast<int>(k));
    }
  }
  // An edited bill that the rows held may have moved; one the month neither held nor gained
  // is in no row.
  for (const BillEntity* bill : *edited) {
    const bool isGained =
        std::any_of(gained.begin(), gained.end(), [&](const auto& entry) { return entry.first.get() == bill; });
    if (isGained) continue;
    for (const std::vector<const BillEntity*>& part : kept.parts) {
      if (std::find(part.begin(), part.end(), bill) != part.end()) return false;
    }
  }
  if (gained.empty()) return true;
  // The rows' ids as read with them (a row edited since was ruled out above), not each
  // row's bill again: a long month is a long walk over bills otherwise.
  std::vector<std::string> ids = kept.addedIds;
  for (const auto& [bill, part] : gained) {
    const platform::UUID& uuid = bill->id();
    std::string id = uuid.uuidString();
    const bool held = kept.ids ? std::find(kept.ids->begin(), kept.ids->end(), uuid) != kept.ids->end()
                               : std::find(kept.keys->begin(), kept.keys->end(), id) != kept.keys->end();
    if (held || std::find(ids.begin(), ids.end(), id) != ids.end()) return false;
    ids.push_back(std::move(id));
  }
  BillList rows = *kept.bills;
  rows.reserve(rows.size() + gained.size());
  for (const auto& [bill, part] : gained) {
    const int gainedPart = part;
    // Past every row that goes first: a smaller key, or an equal key in the same or an earlier
    // part (as the stable sort over the parts one after another places it).
    auto at = std::upper_bound(rows.begin(), rows.end(), bill, [&](const auto& gainedBill, const auto& row) {
      if (billOrder(*gainedBill, *row, kept.order)) return true;
      if (billOrder(*row, *gainedBill, kept.order)) return false;
      return gainedPart < partInMonth(*row, kept.month);
    });
    rows.insert(at, bill);
  }
  kept.bills = std::make_shared<const BillList>(std::move(rows));
  kept.addedIds = std::move(ids);
  return true;
}

// The month's bills in the profile's bill order with their row keys, as sortedBills and
// billRowKeys make them: read off the bills list's kept order when the month is first shown
// or its bills were edited, and brought up to date bill by bill when the month only gained
// bills (as a bill added to the profile's list does).
struct MonthRows {
  std::shared_ptr<const BillList> bills;
  std::shared_ptr<const std::vector<std::string>> keys;  // null: each row's key is its bill's id
};

// The kept rows as they are shown: once bills were put in, each row's key is its bill's id.
MonthRows keptRows(const KeptMonthRows& kept) { return MonthRows{kept.bills, kept.addedIds.empty() ? kept.keys : nullptr}; }

MonthRows monthRows(KeptMonthRows& kept, const std::shared_ptr<ProfileEntity>& profile,
                    const std::shared_ptr<const ForecastMonthValues>& month) {
  const std::optional<int> index = forecastMonthIndex(month->month);
  if (!index) {
    BillList rows = sortedBills(month->items.list(), profile->billSortType());
    auto keys = std::make_shared<const std::vector<std::string>>(billRowKeys(rows));
    return MonthRows{std::make_shared<const BillList>(std::move(rows)), std::move(keys)};
  }
  const std::string locale = platform::Locale::currentIdentifier();
  const BillSortType order = profile->billSortType();
  const bool same = kept.bills && kept.profile.lock() == profile && kept.month == *index && kept.order == order &&
                    kept.locale == locale;
  if (same && kept.record.lock() == month && kept.billEdits == profile->billEdits()) {
    return keptRows(kept);
  }
  if (!(same && extendsKept(kept, month->items) && insertGained(kept, *profile, month->items))) {
    const int m = *index;
    BillRowGroup rows = BillListModel::shared().monthRows(profile, m);
    kept.profile = profile;
    kept.month = m;
    kept.order = order;
    kept.locale = locale;
    kept.bills = std::move(rows.bills);
    // No keys: no two bills of the list share an id, so each row's key is its bill's id.
    kept.keys = std::move(rows.keys);
    kept.ids = std::move(rows.ids);
    kept.ownIds = !kept.keys || std::none_of(kept.keys->begin(), kept.keys->end(), [](const std::string& key) {
                                  return key.find('#') != std::string::npos;
                                });
    kept.addedIds.clear();
  }
  kept.billEdits = profile->billEdits();
  kept.record = month;
  for (std::size_t k = 0; k < MonthBills::kParts; ++k) {
    const BillList& part = month->items.part(k);
    std::vector<const BillEntity*>& was = kept.parts[k];
    was.resize(part.size());
    for (std::size_t i = 0; i < part.size(); ++i) was[i] = part[i].get();
  }
  return keptRows(kept);
}

View dot(std::string_view colorName) {
  return View(ColouredCircleSymbolView{.color = assetColor(colorName), .symbol = std::nullopt, .isProfileCard = false});
}

View cardLine(View text, std::string_view colorName) {
  return HStack({text | TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading}, dot(colorName)});
}

}  // namespace

View ForecastMonthItemScreen::body(Context& ctx) const {
  auto showCalculateSheet = ctx.state<bool>("showCalculateSheet", false);
  auto calculateSheetHaptic = ctx.state<bool>("calculateSheetHaptic", false);
  std::shared_ptr<const Tip> leftToPayTip = std::make_shared<LeftToPayTip>();

  const std::shared_ptr<const ForecastMonthValues> record = currentMonthValues(*profile, values);
  const ForecastMonthValues& month = *record;
  const bool isEmpty = month.items.empty();

  const MonthRows rows = monthRows(keptMonthRows(), profile, record);
  auto row = [](const std::shared_ptr<BillEntity>& bill) {
    return View(BillEntityView{.bill = bill, .collectionFilterType = CollectionFilterType::off,
                               .compactMode = {.isOn = true, .showOccurring = false},
                               .isDeleteable = false, .isEditable = true})
        .accessibilityIdentifier("billRow")
        .listRowSeparator(Visibility::hidden)
        .listRowInsets(4, 9, 4, 9);
  };
  View list = List({rows.keys ? forecast_internal::billForEach(BillRowGroup{rows.bills, rows.keys, nullptr}, row)
                              : forecast_internal::billForEachOfOwnIds(rows.bills, row)})
                  .listStyle(ListStyle::plain) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::large, month.month};

  View card = when(!isEmpty, [&] {
    auto tap = [showCalculateSheet, calculateSheetHaptic, leftToPayTip] {
      calculateSheetHaptic.toggle();
      showCalculateSheet.toggle();
      leftToPayTip->invalidate("actionPerformed");
    };
    View figures = VStack({cardLine(Text(localized("%lld", {std::to_string(month.items.size())})), "sonicBlue"),
                           cardLine(Verbatim(amountText(month.cost)), "sonicYellow")},
                          std::nullopt, Alignment::trailing)
                       .padding(12)
                       .background(ShapeView(Shape::roundedRectangle(22, true), assetColor("sonicRed").withGradient())
                                       .shadow(Color::system("black").withOpacity(0.33), 1))
                       .opacity(0.8);
    return (Button(figures | CorneredRadiusModifier{26}, tap).buttonStyle(ButtonStyle::plain).padding(9))
        .sensoryFeedback(SensoryFeedback::selection, calculateSheetHaptic.get())
        .popoverTip(leftToPayTip, Edge::bottom, [] {})
        .accessibilityIdentifier("monthSummary");
  });
  View empty = when(isEmpty, [] {
    Frame frame;
    frame.maxWidth = infinity;
    return View(EntityUnavailableView{keyText(localizable_noBillsThisMonth), AssetImage("envelope.circle.fill.badge.checkmark"),
                                      keyText(localizable_noBillsAvailableDescription), std::nullopt, {}})
        .frame(frame);
  });

  list = list.scrollIndicators(Visibility::hidden)
             .scrollBounceBehavior(isEmpty ? ScrollBounceBehavior::basedOnSize : ScrollBounceBehavior::automatic)
             .safeAreaInset(Edge::bottom, card, Alignment::trailing)
             .overlay(empty, Alignment::center);
  list = leftToPaySheet(list, showCalculateSheet, profile, record);
  return list.toolbar({ToolbarItem(ToolbarPlacement::automatic, forecastSortMenu(profile))});
}

}  // namespace brivel
