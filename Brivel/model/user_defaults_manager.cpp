#include "Brivel/model/user_defaults_manager.h"

namespace brivel {

UserDefaultsManager::UserDefaultsManager(std::shared_ptr<platform::UserDefaults> defaults)
    : pickOccurringIndex_("pickOccurringIndex", 0, defaults),
      nettoSalary_("nettoSalary", 0.0, defaults),
      nettoSalaryJanuary_("nettoSalaryJanuary", 0.0, defaults),
      nettoSalaryFebruary_("nettoSalaryFebruary", 0.0, defaults),
      nettoSalaryMarch_("nettoSalaryMarch", 0.0, defaults),
      nettoSalaryApril_("nettoSalaryApril", 0.0, defaults),
      nettoSalaryMay_("nettoSalaryMay", 0.0, defaults),
      nettoSalaryJune_("nettoSalaryJune", 0.0, defaults),
      nettoSalaryJuly_("nettoSalaryJuly", 0.0, defaults),
      nettoSalaryAugust_("nettoSalaryAugust", 0.0, defaults),
      nettoSalarySeptember_("nettoSalarySeptember", 0.0, defaults),
      nettoSalaryOctober_("nettoSalaryOctober", 0.0, defaults),
      nettoSalaryNovember_("nettoSalaryNovember", 0.0, defaults),
      nettoSalaryDecember_("nettoSalaryDecember", 0.0, defaults),
      getNotified_("getNotified", false, defaults),
      popViewAfterSaveAndUpdate_("popViewAfterSaveAndUpdate", false, std::move(defaults)) {}

}  // namespace brivel
