// The two lock-screen accessory widgets: an inline title and a circular mark, both showing
// the app's symbol and name and reading nothing of the app.
#pragma once

#include <string>

#include "platform/ui/view.h"
#include "platform/ui/widget_kit.h"
#include "widget/provider.h"

namespace brivel::widgets {

// The inline face: the symbol, then "Brivel".
struct AccessoryInlineBrivelTitleView {
  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The circular face: a clear circle on the regular material, clipped round, with the symbol
// over it in the accent colour the host chooses.
struct AccessoryCircularBrivelIconView {
  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct WidgetAccessoryInlineBrivelTitleEntryView {
  WidgetBrivelEntry entry;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct WidgetAccessoryCircularBrivelIconEntryView {
  WidgetBrivelEntry entry;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct WidgetAccessoryInlineBrivelTitle {
  std::string kind = "WidgetAccessoryInlineBrivelTitle";
  platform::ui::WidgetConfiguration body() const;
};

struct WidgetAccessoryCircularBrivelIcon {
  std::string kind = "WidgetAccessoryCircularBrivelIcon";
  platform::ui::WidgetConfiguration body() const;
};

// The description both widgets share, made once.
const platform::ui::TextContent& widgetDescription();

}  // namespace brivel::widgets
