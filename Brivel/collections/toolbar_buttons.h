// The toolbar and close buttons that the editing and list screens put into their toolbars:
// a text button, an image button with an optional tip, and the "xmark" close buttons. They
// are plain functions of their arguments and keep no state; the returned views run the given
// action on the main thread when tapped.
//
//   .toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(showSheet.binding())),
//             ToolbarItem(ToolbarPlacement::primaryAction,
//                         toolbarTipImageButton(save, SystemImage("checkmark"), nameIsEmpty, true, nullptr))})
//
// Every close button carries the accessibility identifier "close".
// Threads: main thread, like the views.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/ui/environment.h"
#include "platform/ui/view.h"

namespace brivel {

// A button titled with a localized key. With a tint the title shows in that colour; without
// one the surrounding tint is cleared and it shows the accent colour. Disabled while `isDisabled`; bold when `isBold` (whether or
// not it is disabled).
platform::ui::View toolbarTextButton(std::string_view titleKey, std::function<void()> action,
                                     std::optional<platform::ui::Color> tint, bool isDisabled, bool isBold);

// A button showing `image`. Disabled while `isDisabled`; bold only while `isBold` and enabled;
// the image bounces each time `isDisabled` changes; with a tip, the tip's popover hangs from
// the button (arrow on the top edge).
platform::ui::View toolbarTipImageButton(std::function<void()> action, platform::ui::View image, bool isDisabled,
                                         bool isBold, std::shared_ptr<const platform::ui::Tip> tip);

// An "xmark" button that calls the environment's dismiss action (screens that close through
// their presentation).
platform::ui::View xmarkCloseButton(const platform::ui::DismissAction& dismiss);

// An "xmark" button that toggles the presenter's flag (true becomes false: the sheet closes).
platform::ui::View xmarkCloseButton(const platform::ui::Binding<bool>& isPresented);

// The same button as xmarkCloseButton(dismiss), under the name some screens use for it.
inline platform::ui::View xmarkDismissButton(const platform::ui::DismissAction& dismiss) {
  return xmarkCloseButton(dismiss);
}

}  // namespace brivel
