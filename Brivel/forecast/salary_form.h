// The salary form: the unsaved salary type and amount texts of the salary screen, and how
// they are loaded from a profile, cleared and written back.
//
// A profile keeps one value while its salary is fixed and twelve (January first) while it is
// variable. An amount text reads by the cost rule of the bill editors (costFromText): every
// "," becomes ".", and anything but one plain number (an empty text, white space, leftovers,
// NaN, an infinity, or a number beyond kLargestCost whose totals could overflow) reads as 0.0. A stored value shows by the cost field's rule
// (costFieldText: 1500 shows as "1500.0").
//
//   auto vm = std::make_shared<SalaryListScreenViewModel>();
//   loadSalary(*vm, *profile);
//   vm->salary = "2,500";
//   writeSalary(*vm, *profile);   // profile: fixed, [2500.0]
//
// Main thread only.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "Brivel/model/profile_entity.h"
#include "platform/ui/observable.h"

namespace brivel {

class SalaryListScreenViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<SalaryType> salaryType{*this, SalaryType::fixed};
  platform::ui::Published<std::string> salary{*this, ""};
  platform::ui::Published<std::string> salaryJanuary{*this, ""};
  platform::ui::Published<std::string> salaryFebruary{*this, ""};
  platform::ui::Published<std::string> salaryMarch{*this, ""};
  platform::ui::Published<std::string> salaryApril{*this, ""};
  platform::ui::Published<std::string> salaryMay{*this, ""};
  platform::ui::Published<std::string> salaryJune{*this, ""};
  platform::ui::Published<std::string> salaryJuly{*this, ""};
  platform::ui::Published<std::string> salaryAugust{*this, ""};
  platform::ui::Published<std::string> salarySeptember{*this, ""};
  platform::ui::Published<std::string> salaryOctober{*this, ""};
  platform::ui::Published<std::string> salaryNovember{*this, ""};
  platform::ui::Published<std::string> salaryDecember{*this, ""};
  platform::ui::Published<bool> savedHaptic{*this, false};
  platform::ui::Published<bool> savedToastMessage{*this, false};

  using MonthField = platform::ui::Published<std::string> SalaryListScreenViewModel::*;
  // The twelve month texts, January first.
  static const std::array<MonthField, 12> kMonthFields;
};

// Fills the form from the profile: its type, and the texts of the values that type uses
// (the fixed text, or the twelve month texts). Values the stored list lacks leave their
// texts empty; the other texts are left as they are.
void loadSalary(SalaryListScreenViewModel& vm, const ProfileEntity& profile);
// Back to the initial form: fixed, every text empty. The haptic and toast flags stay.
void clearSalaryForm(SalaryListScreenViewModel& vm);
// The twelve month texts read as amounts, January first.
std::vector<double> monthlySalaries(const SalaryListScreenViewModel& vm);
// Writes the form's type and, for that type, its one or twelve amounts into the profile.
void writeSalary(const SalaryListScreenViewModel& vm, ProfileEntity& profile);

}  // namespace brivel
