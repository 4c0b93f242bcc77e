// The app's six tips: popovers that explain the quick actions of the lists, how quick actions
// are set, and the left-to-pay figure. Each names its title, message and image; whether a tip
// was closed lives in the tips datastore (configured at launch), keyed by the tip's id, which
// is its type name, so two instances of one tip share their state.
//
//   std::shared_ptr<const platform::ui::Tip> profileActionsTip = std::make_shared<ProfileActionsTip>();
//   toolbarButton.popoverTip(profileActionsTip);
//
// Constant values; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/ui/view.h"

namespace brivel {

// A tip with a fixed id, title key and message key, and the "brivelTips" image.
class BrivelTip : public platform::ui::Tip {
 public:
  std::string id() const override { return std::string(tipId_); }
  platform::ui::TextContent title() const override;
  std::optional<platform::ui::TextContent> message() const override;
  std::optional<std::string> imageAsset() const override;

 protected:
  BrivelTip(std::string_view tipId, std::string_view titleKey, std::string_view messageKey)
      : tipId_(tipId), titleKey_(titleKey), messageKey_(messageKey) {}

 private:
  std::string_view tipId_, titleKey_, messageKey_;
};

class ProfileActionsTip final : public BrivelTip {
 public:
  ProfileActionsTip();
};
class QuickActionsTip final : public BrivelTip {
 public:
  QuickActionsTip();
};
class CategoryActionsTip final : public BrivelTip {
 public:
  CategoryActionsTip();
};
class BankAccountActionsTip final : public BrivelTip {
 public:
  BankAccountActionsTip();
};
class NotesActionsTip final : public BrivelTip {
 public:
  NotesActionsTip();
};
// Titled with the forecast's key, like the forecast tab.
class LeftToPayTip final : public BrivelTip {
 public:
  LeftToPayTip();
};

}  // namespace brivel
