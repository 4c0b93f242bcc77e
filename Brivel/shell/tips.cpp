#include "Brivel/shell/tips.h"

#include "Brivel/shell/localized_keys.h"

namespace brivel {

platform::ui::TextContent BrivelTip::title() const { return platform::ui::localized(std::string(titleKey_)); }

std::optional<platform::ui::TextContent> BrivelTip::message() const {
  return platform::ui::localized(std::string(messageKey_));
}

std::optional<std::string> BrivelTip::imageAsset() const { return std::string("brivelTips"); }

ProfileActionsTip::ProfileActionsTip()
    : BrivelTip("ProfileActionsTip", localizable_profiles, localizable_profileQuickActionsTipMessageMobile) {}
QuickActionsTip::QuickActionsTip()
    : BrivelTip("QuickActionsTip", localizable_quickActions, localizable_howToSetQuickActionsTipMessageMobile) {}
CategoryActionsTip::CategoryActionsTip()
    : BrivelTip("CategoryActionsTip", localizable_categories, localizable_categoriesQuickActionsTipMessageMobile) {}
BankAccountActionsTip::BankAccountActionsTip()
    : BrivelTip("BankAccountActionsTip", localizable_bankAccounts,
                localizable_bankAccountsQuickActionsTipMessageMobile) {}
NotesActionsTip::NotesActionsTip()
    : BrivelTip("NotesActionsTip", localizable_notes, localizable_notesQuickActionsTipMessageMobile) {}
LeftToPayTip::LeftToPayTip() : BrivelTip("LeftToPayTip", localizable_forecast, localizable_leftToPayTipMessage) {}

}  // namespace brivel
