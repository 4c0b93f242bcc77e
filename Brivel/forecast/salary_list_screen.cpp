#include "Brivel/forecast/salary_list_screen.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/forecast/salary_form.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel {

using namespace platform::ui;

namespace {

using VM = SalaryListScreenViewModel;

View salaryFieldLabel(std::string_view key) { return LocalizedText(key).foregroundStyle(Color::system("secondary")); }

View salaryTextField(const Binding<std::string>& text, const Binding<bool>& isFocused) {
  return (TextField(keyText(localizable_enter), text).keyboardType(KeyboardType::decimalPad) |
          TextFieldLimitAfterDecimalModifier{text, platform::decimalSeparator()})
      .multilineTextAlignment(TextAlignment::trailing)
      .focused(isFocused);
}

}  // namespace

View SalaryListScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto vm = ctx.stateWith<std::shared_ptr<VM>>("vm", [] { return std::make_shared<VM>(); }).get();
  const auto shown = ctx.stateWith<std::shared_ptr<ProfileEntity>>("profile", [this] { return profile; }).get();
  auto salaryIsFocused = ctx.focusState<bool>("salaryIsFocused");
  std::vector<State<bool>> monthIsFocused;
  for (std::string_view key : kForecastMonthKeys) monthIsFocused.push_back(ctx.focusState<bool>(std::string(key) + "IsFocused"));
  const DismissAction dismiss = ctx.dismiss();

  auto unfocusAllFields = [salaryIsFocused, monthIsFocused] {
    salaryIsFocused.set(false);
    for (const auto& focused : monthIsFocused) focused.set(false);
  };
  auto updateSalary = [vm, shown, settings, dismiss, unfocusAllFields] {
    writeSalary(*vm, *shown);
    unfocusAllFields();
    vm->savedHaptic = !vm->savedHaptic.get();
    if (settings->popViewAfterSaveAndUpdate()) {
      dismiss();
    } else {
      showToast(bind(vm, &VM::savedToastMessage));
    }
  };

  View picker = Picker<SalaryType>(salaryFieldLabel(localizable_nettoSalary), bind(vm, &VM::salaryType),
                                   Group({LocalizedText(localizable_fixed).tag(SalaryType::fixed),
                                          LocalizedText(localizable_variable).tag(SalaryType::variable)}))
                    .pickerStyle(PickerStyle::menu)
                    .foregroundStyle(Color::system("secondary"))
                    .tint(assetColor("sonicYellow").withGradient())
                    .accessibilityIdentifier("salaryType");
  const bool isVariable = vm->salaryType.get() == SalaryType::variable;
  View months = when(isVariable, [&] {
    std::vector<View> rows;
    for (std::size_t m = 0; m < VM::kMonthFields.size(); ++m) {
      rows.push_back(LabeledContent(salaryFieldLabel(kForecastMonthKeys[m]),
                                    salaryTextField(bind(vm, VM::kMonthFields[m]), monthIsFocused[m].binding()))
                         .accessibilityIdentifier("salary." + std::string(kForecastMonthKeys[m])));
    }
    return Group(std::move(rows));
  });
  View fixed = when(!isVariable, [&] {
    return LabeledContent(salaryFieldLabel(localizable_monthly),
                          salaryTextField(bind(vm, &VM::salary), salaryIsFocused.binding()))
        .accessibilityIdentifier("salary.fixed");
  });

  View form = Form({Section({picker, months, fixed})})
                  .scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively)
                  .animation(Animation::default_, vm->salaryType.get()) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_salary)};
  form = form.toolbar({when(presentedInSheet,
                            [&] { return ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)); }),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTextButton(localizable_update, updateSalary, std::nullopt, false, true)
                                       .accessibilityIdentifier("update"))}) |
         ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::updated, SFSymbols::centSign};

  // In a sheet the screen brings its own navigation stack; pushed, it lives on its
  // presenter's stack and "back" returns there.
  View content = presentedInSheet ? NavigationStack(form) : form;
  return content.interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .accentColor(colorFromAssetName(shown->color()))
      .onAppear([vm, shown] { loadSalary(*vm, *shown); })
      .onDisappear([vm] { clearSalaryForm(*vm); });
}

View salarySheetScreen(const std::shared_ptr<ProfileEntity>& profile, DismissAction) {
  return View(SalaryListScreen{.profile = profile, .presentedInSheet = true});
}

View pushedSalaryScreen(const std::shared_ptr<ProfileEntity>& profile, DismissAction) {
  return View(SalaryListScreen{.profile = profile, .presentedInSheet = false});
}

}  // namespace brivel
