// The widgets' timeline: one entry, dated when it is asked for, and nothing more until the
// widget host asks again by itself (the app never asks it to reload).
//
// Threads: any; every request calls its completion before it returns.
#pragma once

#include <chrono>
#include <functional>

#include "platform/ui/widget_kit.h"

namespace brivel::widgets {

// What a widget shows at one moment. The faces do not read it: the date only says when.
struct WidgetBrivelEntry {
  std::chrono::system_clock::time_point date;
};

class Provider final : public platform::ui::TimelineProvider<WidgetBrivelEntry> {
 public:
  using Entry = WidgetBrivelEntry;

  WidgetBrivelEntry placeholder(const platform::ui::TimelineProviderContext& context) const override;
  void getSnapshot(const platform::ui::TimelineProviderContext& context,
                   std::function<void(WidgetBrivelEntry)> completion) const override;
  // One entry dated now, with the policy `never`.
  void getTimeline(const platform::ui::TimelineProviderContext& context,
                   std::function<void(platform::ui::Timeline<WidgetBrivelEntry>)> completion) const override;
};

}  // namespace brivel::widgets
