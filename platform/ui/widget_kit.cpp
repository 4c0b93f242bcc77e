#include "platform/ui/widget_kit.h"

#include <algorithm>

#include "platform/ui/runtime.h"

namespace platform::ui {

std::string_view familyName(WidgetFamily family) {
  switch (family) {
    case WidgetFamily::accessoryInline: return "accessoryInline";
    case WidgetFamily::accessoryCircular: return "accessoryCircular";
    case WidgetFamily::accessoryRectangular: return "accessoryRectangular";
    case WidgetFamily::systemSmall: return "systemSmall";
  }
  return "unknown";
}

bool WidgetConfiguration::supports(WidgetFamily family) const {
  return std::find(supportedFamilies.begin(), supportedFamilies.end(), family) != supportedFamilies.end();
}

Node renderWidgetFace(const View& face, WidgetFamily family) {
  // A face has no actions and no timers: its own runtime runs anything posted at once.
  ViewRuntime runtime([face] { return face; }, [](std::function<void()> work) { work(); });
  Node tree = runtime.render();
  tree.attrs[Attr::widgetFamily] = std::string(familyName(family));
  return tree;
}

View containerBackground(const View& face, Color color) { return face.attr(Attr::containerBackground, std::move(color)); }

View widgetAccentable(const View& content, bool accentable) { return content.attr(Attr::widgetAccentable, accentable); }

}  // namespace platform::ui
