#include "widget/provider.h"

namespace brivel::widgets {
namespace {

WidgetBrivelEntry entryDatedNow() { return WidgetBrivelEntry{std::chrono::system_clock::now()}; }

}  // namespace

WidgetBrivelEntry Provider::placeholder(const platform::ui::TimelineProviderContext&) const {
  return entryDatedNow();
}

void Provider::getSnapshot(const platform::ui::TimelineProviderContext&,
                           std::function<void(WidgetBrivelEntry)> completion) const {
  completion(entryDatedNow());
}

void Provider::getTimeline(const platform::ui::TimelineProviderContext&,
                           std::function<void(platform::ui::Timeline<WidgetBrivelEntry>)> completion) const {
  completion(platform::ui::Timeline<WidgetBrivelEntry>{{entryDatedNow()}, platform::ui::TimelineReloadPolicy::never()});
}

}  // namespace brivel::widgets
