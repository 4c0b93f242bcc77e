#include "Brivel/bills/internal/bill_form_sections.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_ordering.h"
#include "Brivel/bills/bill_sections.h"
#include "Brivel/bills/neighbour_screens.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/text_field_rules.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel::bills_internal {

using namespace platform::ui;

namespace {

constexpr std::size_t kNameLimit = 30;
constexpr std::size_t kCostLimit = 24;
constexpr std::size_t kNoteLimit = 80;

constexpr std::array<std::string_view, 3> kOccurringKeys{localizable_monthly, localizable_quarterly,
                                                         localizable_yearly};
constexpr std::array<std::string_view, 3> kQuarterKeys{localizable_quarter01, localizable_quarter02,
                                                       localizable_quarter03};
constexpr std::array<std::string_view, 12> kMonthKeys{
    localizable_january, localizable_february, localizable_march,     localizable_april,
    localizable_may,     localizable_june,     localizable_july,      localizable_august,
    localizable_september, localizable_october, localizable_november, localizable_december};

Color secondary() { return Color::system("secondary"); }

View secondaryLabel(std::string_view key) { return LocalizedText(key).foregroundStyle(secondary()); }

Frame trailingFullWidth() {
  Frame frame;
  frame.maxWidth = infinity;
  frame.alignment = Alignment::trailing;
  return frame;
}

// A binding whose writes pass through `rule` first: the rules of the detail screen act on
// what the user types only.
Binding<std::string> ruledBinding(Binding<std::string> base, std::function<std::string(std::string)> rule) {
  return Binding<std::string>([base] { return base.get(); },
                              [base, rule](std::string typed) { base.set(rule(std::move(typed))); });
}

// A quarter-month or month picker: red rows with the chosen value at the trailing edge.
template <std::size_t N>
View periodPicker(std::string_view titleKey, Binding<std::int64_t> selection, const std::array<std::string_view, N>& keys) {
  std::vector<View> options;
  for (std::size_t i = 0; i < N; ++i) {
    options.push_back((LocalizedText(keys[i]) | TitleFontStyleModifier{Font::headline, assetColor("sonicRed"), true, TextAlignment::leading})
                          .tag(static_cast<std::int64_t>(i)));
  }
  return Picker<std::int64_t>(LocalizedText(titleKey), selection, Group(std::move(options)))
      .labelsHidden()
      .pickerStyle(PickerStyle::menu)
      .foregroundStyle(Color::system("white"))
      .tint(Color::system("white").withGradient())
      .listRowBackground(assetColor("sonicRed"))
      .frame(trailingFullWidth());
}

// The picker of a profile's bank accounts or categories, tinted in the picked one's colour.
template <class Entity>
View linkPicker(std::string_view symbol, std::string_view nameKey, Binding<std::shared_ptr<Entity>> selection,
                const std::vector<std::shared_ptr<Entity>>& choices) {
  std::vector<std::string> ids;
  for (const auto& choice : choices) ids.push_back(choice->id().uuidString());
  const auto keys = uniqueKeys(ids);
  std::vector<std::pair<std::string, std::shared_ptr<Entity>>> keyed;
  for (std::size_t i = 0; i < choices.size(); ++i) keyed.emplace_back(keys[i], choices[i]);
  View options = ForEach(
      keyed, [](const auto& entry) { return entry.first; },
      [](const auto& entry) { return Verbatim(entry.second->name()).tag(entry.second); });
  auto picked = selection.get();
  const Color color = colorFromAssetName(picked ? picked->color() : "sonicBlue").withGradient();
  return Picker<std::shared_ptr<Entity>>(SystemImage(std::string(symbol)), selection, options)
      .pickerStyle(PickerStyle::menu)
      .accessibilityLabel(keyText(nameKey))
      .tint(color)
      .foregroundStyle(color);
}

View createButton(std::string_view asset, std::string_view nameKey, std::string_view rowColor, std::function<void()> action,
                  std::string accessibilityId) {
  return Button(AssetImage(std::string(asset)).foregroundStyle(Color::system("white").withGradient()).frame(trailingFullWidth()),
                std::move(action))
      .listRowBackground(assetColor(rowColor))
      .accessibilityLabel(keyText(nameKey))
      .accessibilityIdentifier(std::move(accessibilityId));
}

}  // namespace

View BillForm::nameAndOccurrenceSection() const {
  auto name = fieldBinding(vm, &BillFormViewModel::name);
  View field = TextField(keyText(localizable_enter), variant == BillFormVariant::detail
                                                         ? ruledBinding(name, [](std::string typed) {
                                                             return platform::graphemePrefix(typed, kNameLimit);
                                                           })
                                                         : name)
                   .textInputAutocapitalization(TextInputAutocapitalization::words)
                   .focused(focus.name.binding())
                   .accessibilityIdentifier("billName");
  if (variant == BillFormVariant::newBill) {
    auto costFocus = focus.cost;
    field = (field.submitLabel(SubmitLabel::next).onSubmit([costFocus] { costFocus.set(true); }) |
             TextFieldLimiterModifier{name, kNameLimit})
                .multilineTextAlignment(TextAlignment::trailing);
  } else {
    field = field.submitLabel(SubmitLabel::return_).maxLength(kNameLimit).multilineTextAlignment(TextAlignment::trailing);
  }
  View label = secondaryLabel(localizable_name);
  if (variant == BillFormVariant::detail) {
    Frame top;
    top.alignment = Alignment::top;
    label = label.frame(top);
  }
  View nameRow = LabeledContent(label, field);

  std::vector<View> occurrenceOptions;
  for (std::size_t i = 0; i < kOccurringKeys.size(); ++i) {
    occurrenceOptions.push_back(LocalizedText(kOccurringKeys[i]).tag(static_cast<std::int64_t>(i)));
  }
  View occurrence = Picker<std::int64_t>(LocalizedText(localizable_occurring), fieldBinding(vm, &BillFormViewModel::occurring),
                                         Group(std::move(occurrenceOptions)))
                        .pickerStyle(PickerStyle::menu)
                        .foregroundStyle(secondary())
                        .tint(assetColor("sonicRed").withGradient())
                        .accessibilityIdentifier("occurring");
  const std::int64_t occurs = vm->occurring.get();
  View quarter = when(occurs == 1, [&] {
    return periodPicker(localizable_quarterly, fieldBinding(vm, &BillFormViewModel::occurringQuarterly), kQuarterKeys)
        .accessibilityIdentifier("quarterPicker");
  });
  View month = when(occurs == 2, [&] {
    return periodPicker(localizable_yearly, fieldBinding(vm, &BillFormViewModel::occurringYearly), kMonthKeys)
        .accessibilityIdentifier("monthPicker");
  });
  return Section({nameRow, occurrence, quarter, month});
}

View BillForm::costAndBankAccountSection() const {
  auto cost = fieldBinding(vm, &BillFormViewModel::cost);
  const std::string separator = platform::decimalSeparator();
  View field;
  if (variant == BillFormVariant::detail) {
    auto typed = ruledBinding(cost, [separator](std::string text) {
      return applyDecimalRule(platform::graphemePrefix(text, kCostLimit), separator);
    });
    field = TextField(keyText(localizable_enter), typed)
                .keyboardType(KeyboardType::decimalPad)
                .focused(focus.cost.binding())
                .maxLength(kCostLimit)
                .multilineTextAlignment(TextAlignment::trailing);
  } else {
    field = (TextField(keyText(localizable_enter), cost).keyboardType(KeyboardType::decimalPad).focused(focus.cost.binding()) |
             TextFieldLimiterModifier{cost, kCostLimit} | TextFieldLimitAfterDecimalModifier{cost, separator})
                .multilineTextAlignment(TextAlignment::trailing);
  }
  View costRow = LabeledContent(secondaryLabel(localizable_cost), field.accessibilityIdentifier("billCost"));

  View costPerYear = when(variant == BillFormVariant::detail && bill != nullptr, [&] {
    return LabeledContent(secondaryLabel(localizable_costPerYear), Verbatim(platform::formatCurrency(bill->costPerYear())))
        .accessibilityIdentifier("costPerYear");
  });

  View toggle = Toggle(fieldBinding(vm, &BillFormViewModel::connectBankAccount), LocalizedText(localizable_addBankAccount))
                    .tint(assetColor("sonicGreen"))
                    .foregroundStyle(secondary())
                    .accessibilityIdentifier("connectBankAccount");
  auto model = vm;
  auto owner = profile;
  const bool keepEarlierPick = variant == BillFormVariant::detail;
  toggle = toggle.onChange<bool>(vm->connectBankAccount.get(), [model, owner, keepEarlierPick](const bool& was, const bool& now) {
    if (keepEarlierPick) {
      if (was || model->pickedBankAccount.get()) return;
      if (owner && owner->bankAccounts() && owner->bankAccounts()->empty()) return;
    } else if (!now) {
      return;
    }
    auto choices = bankAccountChoices(owner ? owner->bankAccounts() : std::nullopt);
    model->pickedBankAccount = choices.empty() ? nullptr : choices.front();
  });

  const bool connected = vm->connectBankAccount.get();
  View accountRow = when(connected, [&] {
    auto accounts = profile ? profile->bankAccounts() : std::nullopt;
    if (accounts && accounts->empty()) {
      return LocalizedText(localizable_noBankAccountsAvailable).foregroundStyle(Color::system("tertiary"));
    }
    return linkPicker<BankAccountEntity>("creditcard", localizable_bankAccount, fieldBinding(vm, &BillFormViewModel::pickedBankAccount),
                                         bankAccountChoices(accounts))
        .accessibilityIdentifier("bankAccountPicker");
  });
  View create = when(connected, [&] {
    return createButton("creditcard.badge.plus", localizable_addBankAccount, "sonicBlue",
                        [model] { model->showCreateBankAccountScreen = !model->showCreateBankAccountScreen.get(); },
                        "createBankAccount");
  });
  return Section({costRow, costPerYear, toggle, accountRow, create});
}

View BillForm::noteSection() const {
  auto model = vm;
  auto noteFocus = focus.note;
  const bool onlyWhenEmpty = variant == BillFormVariant::detail;
  View toggle = Toggle(fieldBinding(vm, &BillFormViewModel::connectNote), LocalizedText(localizable_addNote))
                    .tint(assetColor("sonicGreen"))
                    .foregroundStyle(secondary())
                    .accessibilityIdentifier("connectNote")
                    .onChange<bool>(vm->connectNote.get(), [model, noteFocus, onlyWhenEmpty](const bool& was, const bool& now) {
                      if (onlyWhenEmpty ? (!was && model->note.get().empty()) : now) noteFocus.set(true);
                    });
  auto note = fieldBinding(vm, &BillFormViewModel::note);
  View field = when(vm->connectNote.get(), [&] {
    View text = TextField(keyText(localizable_enter),
                          onlyWhenEmpty ? ruledBinding(note, [](std::string typed) {
                            return platform::graphemePrefix(typed, kNoteLimit);
                          })
                                        : note,
                          Axis::vertical)
                    .textInputAutocapitalization(TextInputAutocapitalization::sentences)
                    .focused(focus.note.binding())
                    // Without a name of its own it would be read out as the switch above it.
                    .accessibilityLabel(TextContent{.key = "Note", .args = {}, .verbatim = true})
                    .accessibilityIdentifier("billNote");
    text = onlyWhenEmpty ? text.maxLength(kNoteLimit) : text | TextFieldLimiterModifier{note, kNoteLimit};
    return text.lineLimit(3);
  });
  return Section({toggle, field});
}

View BillForm::categorySection() const {
  auto model = vm;
  auto owner = profile;
  const bool keepEarlierPick = variant == BillFormVariant::detail;
  View toggle =
      Toggle(fieldBinding(vm, &BillFormViewModel::connectCategory), LocalizedText(localizable_addCategory))
          .tint(assetColor("sonicGreen"))
          .foregroundStyle(secondary())
          .accessibilityIdentifier("connectCategory")
          .onChange<bool>(vm->connectCategory.get(), [model, owner, keepEarlierPick](const bool& was, const bool& now) {
            if (keepEarlierPick) {
              if (was || model->pickedCategory.get()) return;
              if (owner && owner->categories() && owner->categories()->empty()) return;
            } else if (!now) {
              return;
            }
            auto choices = categoryChoices(owner ? owner->categories() : std::nullopt);
            model->pickedCategory = choices.empty() ? nullptr : choices.front();
          });
  const bool connected = vm->connectCategory.get();
  View categoryRow = when(connected, [&] {
    auto categories = profile ? profile->categories() : std::nullopt;
    if (categories && categories->empty()) {
      return LocalizedText(localizable_noCategoriesAvailable).foregroundStyle(Color::system("tertiary"));
    }
    return linkPicker<CategoryEntity>("personalhotspot", localizable_category, fieldBinding(vm, &BillFormViewModel::pickedCategory),
                                      categoryChoices(categories))
        .accessibilityIdentifier("categoryPicker");
  });
  View create = when(connected, [&] {
    return createButton("personalhotspot.badge.plus", localizable_addCategory, "sonicPurple",
                        [model] { model->showCreateCategoryScreen = !model->showCreateCategoryScreen.get(); },
                        "createCategory");
  });
  return Section({toggle, categoryRow, create});
}

View BillForm::decorate(View form) const {
  auto model = vm;
  auto owner = profile;
  std::vector<bool> linkSwitches = variant == BillFormVariant::detail
                                       ? std::vector<bool>{vm->connectBankAccount.get(), vm->connectCategory.get(),
                                                           vm->connectNote.get()}
                                       : std::vector<bool>{vm->connectNote.get(), vm->connectCategory.get()};
  return form.scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively)
      .animation(Animation::default_, linkSwitches)
      .animation(Animation::default_, vm->occurring.get())
      .sheet(fieldBinding(vm, &BillFormViewModel::showCreateCategoryScreen),
             [model, owner] {
               return Closure("createCategorySheet", [model, owner](Context& ctx) {
                 if (!owner) return View();
                 auto screens = ctx.environment<BillsNeighbourScreensKey>();
                 return screens.categoryAdd(fieldBinding(model, &BillFormViewModel::showCreateCategoryScreen), owner,
                                            true, [model](const std::shared_ptr<CategoryEntity>& category) {
                                              model->pickedCategory = category;
                                            });
               });
             })
      .sheet(fieldBinding(vm, &BillFormViewModel::showCreateBankAccountScreen), [model, owner] {
        return Closure("createBankAccountSheet", [model, owner](Context& ctx) {
          if (!owner) return View();
          auto screens = ctx.environment<BillsNeighbourScreensKey>();
          return screens.bankAccountAdd(fieldBinding(model, &BillFormViewModel::showCreateBankAccountScreen), owner,
                                        true, [model](const std::shared_ptr<BankAccountEntity>& account) {
                                          model->pickedBankAccount = account;
                                        });
        });
      });
}

}  // namespace brivel::bills_internal
