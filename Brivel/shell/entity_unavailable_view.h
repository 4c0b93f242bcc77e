// EntityUnavailableView: the one empty-state view of the app. A list or screen with nothing
// to show puts it in place of its content: an icon with a headline, an optional description
// and an optional call-to-action button (shown only when both its title and its action are
// given).
//
//   EntityUnavailableView{keyText(localizable_noProfileSelected),
//                         SymbolImage(SFSymbols::personCropCircleBadgeQuestionmarkFill),
//                         keyText(localizable_noProfileSelectedDescription), std::nullopt, {}}
//
// Threads: main thread; the action runs there when the button is tapped.
#pragma once

#include <functional>
#include <optional>

#include "platform/ui/view.h"

namespace brivel {

struct EntityUnavailableView {
  platform::ui::TextContent title;
  platform::ui::View image;
  std::optional<platform::ui::TextContent> description;
  std::optional<platform::ui::TextContent> actionTitle;
  std::function<void()> action;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
