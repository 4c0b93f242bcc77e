#include "Brivel/shell/entity_unavailable_view.h"

namespace brivel {

using namespace platform::ui;

View EntityUnavailableView::body(Context&) const {
  View descriptionView = description ? Text(*description) : View();
  View actions = (action && actionTitle) ? Button(Text(*actionTitle), action).buttonStyle(ButtonStyle::borderedProminent) : View();
  return ContentUnavailableView(Label(Text(title), image), descriptionView, actions);
}

}  // namespace brivel
