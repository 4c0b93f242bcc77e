// The toast: a small capsule with a symbol and a short text that floats at the top of a
// screen after a save and goes away by itself 1.66 seconds later.
//
// A screen keeps a Bool flag in its view model, applies ToastMessageModifier built from it,
// and calls showToast() with a binding to the flag after a successful save:
//
//   content | ToastMessageModifier{model->savedToastMessage, ToastMessageType::added, SFSymbols::plus}
//   showToast(savedToastBinding);
//
// Threads: main thread; the flag is cleared by a block on the main queue.
#pragma once

#include <string_view>

#include "Brivel/model/enums.h"
#include "Brivel/shell/sf_symbols.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/dispatch/clock.h"
#include "platform/ui/view.h"

namespace brivel {

// How long a toast stays.
inline constexpr double kToastDurationSeconds = 1.66;

// The text key of a toast type: "localizable_added", "localizable_imported", and
// "localizable_saved" for both `updated` and `setQuickAction`.
std::string_view toastTextKey(ToastMessageType type);

struct ToastMessageView {
  ToastMessageType type = ToastMessageType::added;
  SFSymbols symbol = SFSymbols::checkmark;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

// Overlays the toast at the top centre of the content while `trigger` is true.
struct ToastMessageModifier {
  bool trigger = false;
  ToastMessageType type = ToastMessageType::added;
  SFSymbols symbol = SFSymbols::checkmark;
  platform::ui::View apply(const platform::ui::View& content) const;
};

// False while the store's saves fail: a toast or a success haptic confirms a save, so
// neither shows then (the page says that the changes are not saved instead).
bool savesSucceed();

// Shows the toast of `flag` for 1.66 seconds. A toast already showing is neither restarted
// nor extended.
void showToast(platform::ui::Binding<bool> flag);

}  // namespace brivel
