#include "widget/accessory_widgets.h"

#include <memory>

namespace brivel::widgets {

using platform::ui::Color;
using platform::ui::Context;
using platform::ui::Shape;
using platform::ui::View;
using platform::ui::WidgetConfiguration;
using platform::ui::WidgetFamily;

namespace {

constexpr const char* kDisplayName = "Brivel";
constexpr const char* kSymbol = "circle";

// A widget of one family, described as both widgets are.
WidgetConfiguration accessoryWidget(const std::string& kind, WidgetFamily family,
                                    std::function<View(const WidgetBrivelEntry&)> content) {
  return platform::ui::StaticConfiguration<WidgetBrivelEntry>(kind, std::make_shared<const Provider>(),
                                                              std::move(content))
      .configurationDisplayName(kDisplayName)
      .withDescription(widgetDescription())
      .withSupportedFamilies({family});
}

}  // namespace

const platform::ui::TextContent& widgetDescription() {
  static const platform::ui::TextContent description = platform::ui::localized("localizable_startBrivel");
  return description;
}

View AccessoryInlineBrivelTitleView::body(Context&) const {
  return platform::ui::containerBackground(
      platform::ui::HStack({platform::ui::SystemImage(kSymbol), platform::ui::Verbatim(kDisplayName)}, 5, platform::ui::Alignment::center),
      Color::system("clear"));
}

View AccessoryCircularBrivelIconView::body(Context&) const {
  View mark = platform::ui::widgetAccentable(platform::ui::SystemImage(kSymbol).font(platform::ui::Font::largeTitle), true);
  View face = platform::ui::ShapeView(Shape::circle())
                  .foregroundStyle(Color::system("clear"))
                  .background(Color::system("regularMaterial"))
                  .clipShape(Shape::roundedRectangle(100, true))
                  .overlay(mark, platform::ui::Alignment::center);
  return platform::ui::containerBackground(face, Color::system("clear"));
}

View WidgetAccessoryInlineBrivelTitleEntryView::body(Context&) const { return AccessoryInlineBrivelTitleView{}; }

View WidgetAccessoryCircularBrivelIconEntryView::body(Context&) const { return AccessoryCircularBrivelIconView{}; }

WidgetConfiguration WidgetAccessoryInlineBrivelTitle::body() const {
  return accessoryWidget(kind, WidgetFamily::accessoryInline, [](const WidgetBrivelEntry& entry) {
    return View(WidgetAccessoryInlineBrivelTitleEntryView{entry});
  });
}

WidgetConfiguration WidgetAccessoryCircularBrivelIcon::body() const {
  return accessoryWidget(kind, WidgetFamily::accessoryCircular, [](const WidgetBrivelEntry& entry) {
    return View(WidgetAccessoryCircularBrivelIconEntryView{entry});
  });
}

}  // namespace brivel::widgets
