#include "Brivel/forecast/forecast_month_left_to_pay_screen.h"

#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_ordering.h"
#include "Brivel/bills/bill_sections.h"
#include "Brivel/collections/bill_entity_small_list_view.h"
#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/forecast/internal/bill_rows.h"
#include "Brivel/forecast/left_to_pay.h"
#include "Brivel/model/bank_account_entity.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/review_handler.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/observation/observation.h"

namespace brivel {

using namespace platform::ui;

namespace {

View dot(std::string_view colorName) {
  return View(ColouredCircleSymbolView{.color = assetColor(colorName), .symbol = std::nullopt, .isProfileCard = false});
}

View title(View text) { return text | TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading}; }
View rolling(View text) { return text.contentTransition(ContentTransition::numericTextCountingUp); }
View countText(std::size_t count) { return Text(localized("%lld", {std::to_string(count)})); }

Frame fullWidth(Alignment alignment) {
  Frame frame;
  frame.maxWidth = infinity;
  frame.alignment = alignment;
  return frame;
}

View accountIcon() {
  return SystemImage("creditcard")
      .symbolVariant(SymbolVariant::circleFill)
      .font(Font::title2)
      .foregroundStyle(Color::system("white"))
      .shadow(Color::system("black").withOpacity(0.33), 0.6);
}

// The count and amount row of the summary and of the paid section.
View figuresRow(std::size_t count, double amount, Color background) {
  return LabeledContent(HStack({dot("sonicBlue"), rolling(title(countText(count)))}),
                        HStack({rolling(title(Verbatim(amountText(amount)))), dot("sonicYellow")}))
      .listRowBackground(background);
}

using Move = std::function<void(const std::shared_ptr<BillEntity>&)>;

// Whether the bills the sheet opened with (and so those it shows later) have ids of their
// own: then a row's key is its bill's id, made for the rows the page shows alone. Decided once,
// so the ids are read untracked: an observer per bill of the month would only be dropped again.
bool idsDiffer(const LeftToPayState& state) {
  std::unordered_set<platform::UUID> seen;
  seen.reserve(state.items.size() + state.payedBills.size());
  bool differ = true;
  platform::withoutObservationTracking([&] {
    for (const BillList* list : {&state.items, &state.payedBills}) {
      for (const auto& bill : *list) {
        if (!seen.insert(bill->id()).second) {
          differ = false;
          return;
        }
      }
    }
  });
  return differ;
}

// The rows share `bills` (a kept group's list is copied only when a move changes it while a
// render still holds it).
View billRows(std::shared_ptr<const BillList> bills, const Move& move, const std::string& id, bool ownIds) {
  auto row = [move, id](const std::shared_ptr<BillEntity>& bill) {
    return Button(View(BillEntitySmallListView{bill->name(), bill->cost(), nullptr, bill->category()}),
                  [move, bill] { withAnimation([&] { move(bill); }); })
        .accessibilityIdentifier(id);
  };
  if (ownIds) return forecast_internal::billForEachOfOwnIds(std::move(bills), std::move(row));
  auto keys = std::make_shared<const std::vector<std::string>>(billRowKeys(*bills));
  return forecast_internal::billForEach(BillRowGroup{std::move(bills), std::move(keys), nullptr}, std::move(row));
}

// A group's rows: its header row, its bills and its sum.
std::vector<View> groupRows(View headerTitle, Color background, const LeftToPayGroup& group, const Move& pay,
                            bool ownIds) {
  View header = LabeledContent(Label(title(std::move(headerTitle)), accountIcon()),
                               countText(group.bills->size()) |
                                   SubtitleFontStyleModifier{Font::subheadline, Color::system("white"), false, TextAlignment::leading})
                    .listRowBackground(background);
  View sum = rolling(Verbatim(amountText(group.cost)) |
                     SubtitleFontStyleModifier{Font::subheadline, Color::system("secondary"), false, TextAlignment::leading})
                 .frame(fullWidth(Alignment::trailing))
                 .accessibilityIdentifier("groupSum");
  return {header, billRows(group.bills, pay, "unpaidBill", ownIds), sum};
}

}  // namespace

View ForecastMonthLeftToPayScreen::body(Context& ctx) const {
  auto state = ctx.stateWith<LeftToPayState>(
      "values", [this] { return LeftToPayState{values.month, values.cost, values.items.list(), payedBills}; });
  const LeftToPayState& now = state.get();
  const bool ownIds = ctx.stateWith<bool>("ownIds", [&] { return idsDiffer(now); }).get();
  // The unpaid bills' groups, kept while the sheet is open: a tick moves only the ticked bill,
  // while a move that may take out more than one bill (ids shared) has them grouped anew.
  const auto kept =
      ctx.stateWith<std::shared_ptr<KeptLeftToPayGroups>>("groups", [] { return std::make_shared<KeptLeftToPayGroups>(); })
          .get();
  using Step = bool (*)(LeftToPayState&, const std::shared_ptr<BillEntity>&, bool);
  using Tell = void (KeptLeftToPayGroups::*)(const std::shared_ptr<BillEntity>&);
  auto mover = [&](Step step, Tell tell) -> Move {
    return [state, kept, ownIds, step, tell](const std::shared_ptr<BillEntity>& bill) {
      state.mutate([&](LeftToPayState& s) {
        if (!step(s, bill, ownIds)) return;
        if (ownIds) {
          ((*kept).*tell)(bill);
        } else {
          kept->drop();
        }
      });
    };
  };
  const Move pay = mover(payBill, &KeptLeftToPayGroups::paid);
  const Move unpay = mover(unpayBill, &KeptLeftToPayGroups::unpaid);
  const bool allPaid = now.items.empty();

  // The summary: the count and amount left, or "all paid".
  View summary = Section(
      {when(!allPaid, [&] { return figuresRow(now.items.size(), now.cost, assetColor("sonicRed").withOpacity(0.8)); }),
       when(allPaid,
            [&] {
              return (LocalizedText(localizable_allPayed) |
                      TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::center})
                  .frame(fullWidth(Alignment::center))
                  .listRowBackground(assetColor("sonicGreen"))
                  .onAppear([] { ReviewHandler::requestReviewIfAppropriate(); })
                  .accessibilityIdentifier("allPayed");
            })},
      when(!allPaid, [] { return LocalizedText(localizable_totalLeftToPay); }));

  // One section per bank account with unpaid bills, in the profile's list order. The bills'
  // links and costs are read untracked: a change of a bill's cost, or of the profile's bills,
  // still renders the sheet again (the profile's figures are read for it), without an
  // observer per bill.
  profile->yearFigures();
  (void)profile->bankAccounts();
  const LeftToPayGroups& grouped = kept->groups(*profile, now.items);
  const std::vector<LeftToPayGroup>& groups = grouped.accounts;
  const LeftToPayGroup& loose = grouped.uncategorized;
  std::vector<std::string> ids;
  ids.reserve(groups.size());
  for (const auto& group : groups) ids.push_back(group.account->id().uuidString());
  const auto keys = uniqueKeys(ids);
  std::vector<std::pair<std::string, const LeftToPayGroup*>> keyed;
  for (std::size_t i = 0; i < groups.size(); ++i) keyed.emplace_back(keys[i], &groups[i]);
  View accounts = ForEach(
      keyed, [](const auto& entry) { return entry.first; },
      [&](const auto& entry) {
        const LeftToPayGroup& group = *entry.second;
        return Section(
            groupRows(Verbatim(group.account->number()), colorFromAssetName(group.account->color()), group, pay, ownIds));
      });

  // The bills without an account; the section stays, empty, when there are none.
  View uncategorized =
      Section({when(!loose.bills->empty(), [&] {
        return Group(groupRows(LocalizedText(localizable_uncategorized), assetColor("sonicGreen"), loose, pay, ownIds));
      })});

  // The paid bills, by name; the stored list keeps the order they were paid in.
  View paid = when(!now.payedBills.empty(), [&] {
    return Section({figuresRow(now.payedBills.size(), payedBillsCost(now), assetColor("sonicGray").withOpacity(0.8)),
                    billRows(std::make_shared<const BillList>(sortedBills(now.payedBills, BillSortType::name)), unpay,
                             "paidBill", ownIds)},
                   LocalizedText(localizable_totalPaid));
  });

  auto reset = [state, kept] {
    withAnimation([&] {
      state.mutate([&](LeftToPayState& s) {
        resetPayedBills(s);
        kept->drop();
      });
    });
  };
  View list = List({summary, accounts, uncategorized, paid}) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, now.month};
  list = list.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTipImageButton(reset, SystemImage("arrow.circlepath"), now.payedBills.empty(),
                                                         true, nullptr)
                                       .accessibilityLabel(keyText(localizable_markAllUnpaid))
                                       .accessibilityIdentifier("resetPayedBills"))});
  return NavigationStack(list)
      .interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::selection, static_cast<std::int64_t>(now.items.size()))
      .accentColor(colorFromAssetName(profile->color()));
}

}  // namespace brivel
