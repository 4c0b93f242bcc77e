#include "widget/widget_brivel_bundle.h"

#include "widget/accessory_widgets.h"

namespace brivel::widgets {

std::vector<platform::ui::WidgetConfiguration> WidgetBrivelBundle::body() const {
  return {WidgetAccessoryInlineBrivelTitle{}.body(), WidgetAccessoryCircularBrivelIcon{}.body()};
}

}  // namespace brivel::widgets

BRIVEL_WIDGET_BUNDLE_MAIN(brivel::widgets::WidgetBrivelBundle)
