// BrivelWidgetsExtension: the widget plug-in a widget host loads. Its one exported symbol,
// "platform_widget_bundle", hands out WidgetBrivelBundle: the inline widget, then the
// circular one.
#pragma once

#include <vector>

#include "platform/ui/widget_kit.h"

namespace brivel::widgets {

class WidgetBrivelBundle final : public platform::ui::WidgetBundle {
 public:
  std::vector<platform::ui::WidgetConfiguration> body() const override;
};

}  // namespace brivel::widgets
