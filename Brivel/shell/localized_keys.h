// The localized text keys of every visible text of the app, in declaration order.
//
// Screens never spell a key inline; they name one of these constants, so a rename happens
// here only. The English texts behind the keys are in the web front's string table.
#pragma once

#include <array>
#include <string_view>

namespace brivel {

inline constexpr std::string_view localizable_add = "localizable_add";
inline constexpr std::string_view localizable_addBankAccount = "localizable_addBankAccount";
inline constexpr std::string_view localizable_addCategory = "localizable_addCategory";
inline constexpr std::string_view localizable_added = "localizable_added";
inline constexpr std::string_view localizable_addNote = "localizable_addNote";
inline constexpr std::string_view localizable_allMonths = "localizable_allMonths";
inline constexpr std::string_view localizable_allPayed = "localizable_allPayed";
inline constexpr std::string_view localizable_appCrashed = "localizable_appCrashed";
inline constexpr std::string_view localizable_april = "localizable_april";
inline constexpr std::string_view localizable_archive = "localizable_archive";
inline constexpr std::string_view localizable_august = "localizable_august";
inline constexpr std::string_view localizable_backup = "localizable_backup";
inline constexpr std::string_view localizable_backupAvailable = "localizable_backupAvailable";
inline constexpr std::string_view localizable_bankAccount = "localizable_bankAccount";
inline constexpr std::string_view localizable_bankAccounts = "localizable_bankAccounts";
inline constexpr std::string_view localizable_bankAccountsQuickActionsTipMessageMobile = "localizable_bankAccountsQuickActionsTipMessageMobile";
inline constexpr std::string_view localizable_bills = "localizable_bills";
inline constexpr std::string_view localizable_billsPerYear = "localizable_billsPerYear";
inline constexpr std::string_view localizable_cancel = "localizable_cancel";
inline constexpr std::string_view localizable_category = "localizable_category";
inline constexpr std::string_view localizable_categories = "localizable_categories";
inline constexpr std::string_view localizable_categoriesQuickActionsTipMessageMobile = "localizable_categoriesQuickActionsTipMessageMobile";
inline constexpr std::string_view localizable_changeYourSearchDescription = "localizable_changeYourSearchDescription";
inline constexpr std::string_view localizable_close = "localizable_close";
inline constexpr std::string_view localizable_collection = "localizable_collection";
inline constexpr std::string_view localizable_color = "localizable_color";
inline constexpr std::string_view localizable_copyAccountNumber = "localizable_copyAccountNumber";
inline constexpr std::string_view localizable_copyNote = "localizable_copyNote";
inline constexpr std::string_view localizable_cost = "localizable_cost";
inline constexpr std::string_view localizable_costPerYear = "localizable_costPerYear";
inline constexpr std::string_view localizable_dateAdded = "localizable_dateAdded";
inline constexpr std::string_view localizable_december = "localizable_december";
inline constexpr std::string_view localizable_delete = "localizable_delete";
inline constexpr std::string_view localizable_deleteBackup = "localizable_deleteBackup";
inline constexpr std::string_view localizable_deleteBackupMessage = "localizable_deleteBackupMessage";
inline constexpr std::string_view localizable_deleteBankAccount = "localizable_deleteBankAccount";
inline constexpr std::string_view localizable_deleteBankAccountMessage = "localizable_deleteBankAccountMessage";
inline constexpr std::string_view localizable_deleteBill = "localizable_deleteBill";
inline constexpr std::string_view localizable_deleteBillMessage = "localizable_deleteBillMessage";
inline constexpr std::string_view localizable_deleteCategory = "localizable_deleteCategory";
inline constexpr std::string_view localizable_deleteCategoryMessage = "localizable_deleteCategoryMessage";
inline constexpr std::string_view localizable_deleteNote = "localizable_deleteNote";
inline constexpr std::string_view localizable_deleteNoteMessage = "localizable_deleteNoteMessage";
inline constexpr std::string_view localizable_deleteProfile = "localizable_deleteProfile";
inline constexpr std::string_view localizable_deleteProfileMessage = "localizable_deleteProfileMessage";
inline constexpr std::string_view localizable_details = "localizable_details";
inline constexpr std::string_view localizable_dismissAutomatically = "localizable_dismissAutomatically";
inline constexpr std::string_view localizable_edit = "localizable_edit";
inline constexpr std::string_view localizable_enter = "localizable_enter";
inline constexpr std::string_view localizable_feedback = "localizable_feedback";
inline constexpr std::string_view localizable_february = "localizable_february";
inline constexpr std::string_view localizable_filterBy = "localizable_filterBy";
inline constexpr std::string_view localizable_fixed = "localizable_fixed";
inline constexpr std::string_view localizable_forecast = "localizable_forecast";
inline constexpr std::string_view localizable_general = "localizable_general";
inline constexpr std::string_view localizable_hideSpendable = "localizable_hideSpendable";
inline constexpr std::string_view localizable_howToSetQuickActionsTipMessageMobile = "localizable_howToSetQuickActionsTipMessageMobile";
inline constexpr std::string_view localizable_icloudDescription = "localizable_icloudDescription";
inline constexpr std::string_view localizable_icloudDescriptionFooter = "localizable_icloudDescriptionFooter";
inline constexpr std::string_view localizable_import = "localizable_import";
inline constexpr std::string_view localizable_imported = "localizable_imported";
inline constexpr std::string_view localizable_incomePerYear = "localizable_incomePerYear";
inline constexpr std::string_view localizable_january = "localizable_january";
inline constexpr std::string_view localizable_july = "localizable_july";
inline constexpr std::string_view localizable_june = "localizable_june";
inline constexpr std::string_view localizable_leftToPay = "localizable_leftToPay";
inline constexpr std::string_view localizable_leftToPayTipMessage = "localizable_leftToPayTipMessage";
inline constexpr std::string_view localizable_march = "localizable_march";
inline constexpr std::string_view localizable_markAllUnpaid = "localizable_markAllUnpaid";
inline constexpr std::string_view localizable_may = "localizable_may";
inline constexpr std::string_view localizable_month = "localizable_month";
inline constexpr std::string_view localizable_monthly = "localizable_monthly";
inline constexpr std::string_view localizable_name = "localizable_name";
inline constexpr std::string_view localizable_nettoSalary = "localizable_nettoSalary";
inline constexpr std::string_view localizable_newBankAccount = "localizable_newBankAccount";
inline constexpr std::string_view localizable_newBill = "localizable_newBill";
inline constexpr std::string_view localizable_newCategory = "localizable_newCategory";
inline constexpr std::string_view localizable_newNote = "localizable_newNote";
inline constexpr std::string_view localizable_newProfile = "localizable_newProfile";
inline constexpr std::string_view localizable_noBankAccountsAvailable = "localizable_noBankAccountsAvailable";
inline constexpr std::string_view localizable_noBankAccountsAvailableDescription = "localizable_noBankAccountsAvailableDescription";
inline constexpr std::string_view localizable_noBillsAvailable = "localizable_noBillsAvailable";
inline constexpr std::string_view localizable_noBillsAvailableDescription = "localizable_noBillsAvailableDescription";
inline constexpr std::string_view localizable_noBillsFound = "localizable_noBillsFound";
inline constexpr std::string_view localizable_noBillsThisMonth = "localizable_noBillsThisMonth";
inline constexpr std::string_view localizable_noCategoriesAvailable = "localizable_noCategoriesAvailable";
inline constexpr std::string_view localizable_noCategoriesAvailableDescription = "localizable_noCategoriesAvailableDescription";
inline constexpr std::string_view localizable_noMonthlyBills = "localizable_noMonthlyBills";
inline constexpr std::string_view localizable_noNotesAvailable = "localizable_noNotesAvailable";
inline constexpr std::string_view localizable_noNotesAvailableDescription = "localizable_noNotesAvailableDescription";
inline constexpr std::string_view localizable_noProfilesAvailable = "localizable_noProfilesAvailable";
inline constexpr std::string_view localizable_noProfilesAvailableDescription = "localizable_noProfilesAvailableDescription";
inline constexpr std::string_view localizable_noProfileSelected = "localizable_noProfileSelected";
inline constexpr std::string_view localizable_noProfileSelectedDescription = "localizable_noProfileSelectedDescription";
inline constexpr std::string_view localizable_noQuarterlyBills = "localizable_noQuarterlyBills";
inline constexpr std::string_view localizable_noYearlyBills = "localizable_noYearlyBills";
inline constexpr std::string_view localizable_notes = "localizable_notes";
inline constexpr std::string_view localizable_notesQuickActionsTipMessageMobile = "localizable_notesQuickActionsTipMessageMobile";
inline constexpr std::string_view localizable_november = "localizable_november";
inline constexpr std::string_view localizable_number = "localizable_number";
inline constexpr std::string_view localizable_october = "localizable_october";
inline constexpr std::string_view localizable_occurring = "localizable_occurring";
inline constexpr std::string_view localizable_off = "localizable_off";
inline constexpr std::string_view localizable_profiles = "localizable_profiles";
inline constexpr std::string_view localizable_profileQuickActionsTipMessageMobile = "localizable_profileQuickActionsTipMessageMobile";
inline constexpr std::string_view localizable_quarter = "localizable_quarter";
inline constexpr std::string_view localizable_quarter01 = "localizable_quarter01";
inline constexpr std::string_view localizable_quarter02 = "localizable_quarter02";
inline constexpr std::string_view localizable_quarter03 = "localizable_quarter03";
inline constexpr std::string_view localizable_quarterly = "localizable_quarterly";
inline constexpr std::string_view localizable_quickActions = "localizable_quickActions";
inline constexpr std::string_view localizable_rateInTheAppStore = "localizable_rateInTheAppStore";
inline constexpr std::string_view localizable_reinstallApp = "localizable_reinstallApp";
inline constexpr std::string_view localizable_saved = "localizable_saved";
inline constexpr std::string_view localizable_salary = "localizable_salary";
inline constexpr std::string_view localizable_search = "localizable_search";
inline constexpr std::string_view localizable_selectProfile = "localizable_selectProfile";
inline constexpr std::string_view localizable_september = "localizable_september";
inline constexpr std::string_view localizable_setAsQuickAction = "localizable_setAsQuickAction";
inline constexpr std::string_view localizable_settings = "localizable_settings";
inline constexpr std::string_view localizable_showSpendable = "localizable_showSpendable";
inline constexpr std::string_view localizable_sort = "localizable_sort";
inline constexpr std::string_view localizable_sortBillsBy = "localizable_sortBillsBy";
inline constexpr std::string_view localizable_sortFilterBy = "localizable_sortFilterBy";
inline constexpr std::string_view localizable_spendablePerYear = "localizable_spendablePerYear";
inline constexpr std::string_view localizable_support = "localizable_support";
inline constexpr std::string_view localizable_totalLeftToPay = "localizable_totalLeftToPay";
inline constexpr std::string_view localizable_totalPaid = "localizable_totalPaid";
inline constexpr std::string_view localizable_uncategorized = "localizable_uncategorized";
inline constexpr std::string_view localizable_unarchive = "localizable_unarchive";
inline constexpr std::string_view localizable_update = "localizable_update";
inline constexpr std::string_view localizable_variable = "localizable_variable";
inline constexpr std::string_view localizable_year = "localizable_year";
inline constexpr std::string_view localizable_yearly = "localizable_yearly";

// Every key above, in declaration order.
inline constexpr std::array<std::string_view, 134> kLocalizedKeys = {
    localizable_add,
    localizable_addBankAccount,
    localizable_addCategory,
    localizable_added,
    localizable_addNote,
    localizable_allMonths,
    localizable_allPayed,
    localizable_appCrashed,
    localizable_april,
    localizable_archive,
    localizable_august,
    localizable_backup,
    localizable_backupAvailable,
    localizable_bankAccount,
    localizable_bankAccounts,
    localizable_bankAccountsQuickActionsTipMessageMobile,
    localizable_bills,
    localizable_billsPerYear,
    localizable_cancel,
    localizable_category,
    localizable_categories,
    localizable_categoriesQuickActionsTipMessageMobile,
    localizable_changeYourSearchDescription,
    localizable_close,
    localizable_collection,
    localizable_color,
    localizable_copyAccountNumber,
    localizable_copyNote,
    localizable_cost,
    localizable_costPerYear,
    localizable_dateAdded,
    localizable_december,
    localizable_delete,
    localizable_deleteBackup,
    localizable_deleteBackupMessage,
    localizable_deleteBankAccount,
    localizable_deleteBankAccountMessage,
    localizable_deleteBill,
    localizable_deleteBillMessage,
    localizable_deleteCategory,
    localizable_deleteCategoryMessage,
    localizable_deleteNote,
    localizable_deleteNoteMessage,
    localizable_deleteProfile,
    localizable_deleteProfileMessage,
    localizable_details,
    localizable_dismissAutomatically,
    localizable_edit,
    localizable_enter,
    localizable_feedback,
    localizable_february,
    localizable_filterBy,
    localizable_fixed,
    localizable_forecast,
    localizable_general,
    localizable_hideSpendable,
    localizable_howToSetQuickActionsTipMessageMobile,
    localizable_icloudDescription,
    localizable_icloudDescriptionFooter,
    localizable_import,
    localizable_imported,
    localizable_incomePerYear,
    localizable_january,
    localizable_july,
    localizable_june,
    localizable_leftToPay,
    localizable_leftToPayTipMessage,
    localizable_march,
    localizable_markAllUnpaid,
    localizable_may,
    localizable_month,
    localizable_monthly,
    localizable_name,
    localizable_nettoSalary,
    localizable_newBankAccount,
    localizable_newBill,
    localizable_newCategory,
    localizable_newNote,
    localizable_newProfile,
    localizable_noBankAccountsAvailable,
    localizable_noBankAccountsAvailableDescription,
    localizable_noBillsAvailable,
    localizable_noBillsAvailableDescription,
    localizable_noBillsFound,
    localizable_noBillsThisMonth,
    localizable_noCategoriesAvailable,
    localizable_noCategoriesAvailableDescription,
    localizable_noMonthlyBills,
    localizable_noNotesAvailable,
    localizable_noNotesAvailableDescription,
    localizable_noProfilesAvailable,
    localizable_noProfilesAvailableDescription,
    localizable_noProfileSelected,
    localizable_noProfileSelectedDescription,
    localizable_noQuarterlyBills,
    localizable_noYearlyBills,
    localizable_notes,
    localizable_notesQuickActionsTipMessageMobile,
    localizable_november,
    localizable_number,
    localizable_october,
    localizable_occurring,
    localizable_off,
    localizable_profiles,
    localizable_profileQuickActionsTipMessageMobile,
    localizable_quarter,
    localizable_quarter01,
    localizable_quarter02,
    localizable_quarter03,
    localizable_quarterly,
    localizable_quickActions,
    localizable_rateInTheAppStore,
    localizable_reinstallApp,
    localizable_saved,
    localizable_salary,
    localizable_search,
    localizable_selectProfile,
    localizable_september,
    localizable_setAsQuickAction,
    localizable_settings,
    localizable_showSpendable,
    localizable_sort,
    localizable_sortBillsBy,
    localizable_sortFilterBy,
    localizable_spendablePerYear,
    localizable_support,
    localizable_totalLeftToPay,
    localizable_totalPaid,
    localizable_uncategorized,
    localizable_unarchive,
    localizable_update,
    localizable_variable,
    localizable_year,
    localizable_yearly,
};

}  // namespace brivel
