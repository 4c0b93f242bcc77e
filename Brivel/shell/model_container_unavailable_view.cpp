#include "Brivel/shell/model_container_unavailable_view.h"

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/support_links.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/data/model_container.h"

namespace brivel {

using namespace platform::ui;

View ModelContainerUnavailableView::body(Context&) const {
  View label = Label(LocalizedText(localizable_appCrashed),
                     AssetImage("externaldrive.connected.to.line.below.fill.badge.person.crop"));
  // Why the store could not be opened, when it is known, and what to do about it.
  std::optional<platform::Error> failure = platform::ModelContainer::lastOpenFailure();
  View description = failure ? View(VStack({Text(verbatim(failure->localizedDescription())), LocalizedText(localizable_reinstallApp)}))
                                       | ErrorFontStyleModifier{Font::caption, Color::system("red")}
                             : LocalizedText(localizable_reinstallApp) | ErrorFontStyleModifier{Font::caption, Color::system("red")};
  View feedback = Link(kSupportMailURL, LocalizedText(localizable_feedback))
                      .buttonStyle(ButtonStyle::borderedProminent)
                      .controlSize(ControlSize::extraLarge)
                      .padding();
  Frame fullHeight;
  fullHeight.maxHeight = infinity;
  fullHeight.alignment = Alignment::center;
  return VStack({ContentUnavailableView(label, description, feedback)}).frame(fullHeight);
}

}  // namespace brivel
