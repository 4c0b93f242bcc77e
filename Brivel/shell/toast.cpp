#include "Brivel/shell/toast.h"

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"

namespace brivel {

using namespace platform::ui;

std::string_view toastTextKey(ToastMessageType type) {
  switch (type) {
    case ToastMessageType::added:
      return localizable_added;
    case ToastMessageType::imported:
      return localizable_imported;
    case ToastMessageType::updated:
    case ToastMessageType::setQuickAction:
      return localizable_saved;
  }
  return localizable_saved;
}

View ToastMessageView::body(Context&) const {
  View title = LocalizedText(toastTextKey(type)) |
               NoteFontStyleModifier{Font::caption, Color::system("white"), true, TextAlignment::leading};
  View icon = SymbolImage(symbol).foregroundStyle(Color::system("white")).symbolVariant(SymbolVariant::circleFill);
  return Label(title.padding(Edge::trailing, 3.0), icon)
      .padding(Edge::all, 9.0)
      .background(assetColor("sonicBlue").withGradient().withOpacity(0.8), Shape::capsule(/*continuous=*/true))
      .padding(Edge::top, 3.0)
      .transition(Transition::pushFromTopRemovingByOpacity)
      .accessibilityIdentifier("toast")
      .attr(Attr::accessibilityAnnouncement, true);
}

View ToastMessageModifier::apply(const View& content) const {
  const ToastMessageType shownType = type;
  const SFSymbols shownSymbol = symbol;
  return content.overlay(when(trigger && savesSucceed(), [&] { return View(ToastMessageView{shownType, shownSymbol}); }), Alignment::top);
}

bool savesSucceed() { return !platform::DataNotices::shared().has(platform::kSaveFailureNoticeKey); }

void showToast(Binding<bool> flag) {
  if (flag.get()) return;
  withAnimation([&] { flag.set(true); });
  platform::DispatchQueue::main()->asyncAfter(platform::secondsToDuration(kToastDurationSeconds), [flag] {
    // The flag goes off, whatever happened to it meanwhile: a toast never stays for good.
    withAnimation([&] { flag.set(false); });
  });
}

}  // namespace brivel
