#include "Brivel/bills/internal/interim_screens.h"

#include <optional>
#include <string>

#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel::bills_internal {

using namespace platform::ui;

View InterimListScreen::body(Context&) const {
  EntityUnavailableView empty{keyText(emptyTitleKey), SystemImage(std::string(symbol)),
                              emptyDescriptionKey.empty() ? std::nullopt
                                                          : std::optional<TextContent>(keyText(emptyDescriptionKey)),
                              std::nullopt,
                              {}};
  View page = List({Section({View(empty)})}) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(titleKey)};
  return NavigationStack(page.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss))}));
}

}  // namespace brivel::bills_internal
