// A widget plug-in whose bundle offers no widget.
#include "platform/ui/widget_kit.h"

namespace {
class EmptyBundle final : public platform::ui::WidgetBundle {
 public:
  std::vector<platform::ui::WidgetConfiguration> body() const override { return {}; }
};
}  // namespace

BRIVEL_WIDGET_BUNDLE_MAIN(EmptyBundle)
