// LockScreen: the widget host's page, a phone's lock screen: the date with the inline slot
// above the clock, the circular slots below it, and a gallery sheet that offers each slot
// the widgets of its family.
//
// Threads: main thread.
#pragma once

#include <memory>

#include "platform/ui/view.h"
#include "widget/host/lock_screen_model.h"

namespace brivel::widgethost {

struct LockScreen {
  std::shared_ptr<LockScreenModel> model;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The clock's two lines for `time` in the local time zone: "Thursday, 10 December" and "17:05".
struct ClockText {
  std::string date;
  std::string time;
};
ClockText clockText(std::chrono::system_clock::time_point time);

}  // namespace brivel::widgethost
