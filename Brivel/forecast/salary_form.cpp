#include "Brivel/forecast/salary_form.h"

#include "Brivel/bills/bill_input.h"

namespace brivel {

using VM = SalaryListScreenViewModel;

const std::array<VM::MonthField, 12> VM::kMonthFields = {
    &VM::salaryJanuary, &VM::salaryFebruary, &VM::salaryMarch,     &VM::salaryApril,
    &VM::salaryMay,     &VM::salaryJune,     &VM::salaryJuly,      &VM::salaryAugust,
    &VM::salarySeptember, &VM::salaryOctober, &VM::salaryNovember, &VM::salaryDecember,
};

void loadSalary(VM& vm, const ProfileEntity& profile) {
  const SalaryType type = profile.salaryType();
  const std::vector<double> values = profile.salary();
  vm.salaryType = type;
  auto text = [&](std::size_t index) { return index < values.size() ? costFieldText(values[index]) : std::string(); };
  if (type == SalaryType::variable) {
    for (std::size_t m = 0; m < VM::kMonthFields.size(); ++m) (vm.*VM::kMonthFields[m]) = text(m);
  } else {
    vm.salary = text(0);
  }
}

void clearSalaryForm(VM& vm) {
  vm.salaryType = SalaryType::fixed;
  vm.salary = std::string();
  for (auto field : VM::kMonthFields) (vm.*field) = std::string();
}

std::vector<double> monthlySalaries(const VM& vm) {
  std::vector<double> values;
  values.reserve(VM::kMonthFields.size());
  for (auto field : VM::kMonthFields) values.push_back(costFromText((vm.*field).get()));
  return values;
}

void writeSalary(const VM& vm, ProfileEntity& profile) {
  profile.setSalaryType(vm.salaryType);
  if (vm.salaryType.get() == SalaryType::variable) {
    profile.setSalary(monthlySalaries(vm));
  } else {
    profile.setSalary({costFromText(vm.salary.get())});
  }
}

}  // namespace brivel
