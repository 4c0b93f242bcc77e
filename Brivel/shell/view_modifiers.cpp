#include "Brivel/shell/view_modifiers.h"

#include <cstdint>
#include <memory>

#include "Brivel/shell/text_field_rules.h"
#include "Brivel/shell/view_helpers.h"

namespace brivel {

using platform::ui::Edge;
using platform::ui::Frame;
using platform::ui::Shape;

View TitleFontStyleModifier::apply(const View& content) const {
  return content.font(font).foregroundStyle(color).bold(bold).multilineTextAlignment(textAlignment);
}

View SubtitleFontStyleModifier::apply(const View& content) const {
  return content.font(font).foregroundStyle(color).bold(bold).multilineTextAlignment(textAlignment);
}

View NoteFontStyleModifier::apply(const View& content) const {
  return content.font(font).foregroundStyle(color.withGradient()).bold(bold).multilineTextAlignment(textAlignment);
}

View ErrorFontStyleModifier::apply(const View& content) const {
  return content.font(font).foregroundStyle(color);
}

View CorneredRadiusModifier::apply(const View& content) const {
  return content.clipShape(Shape::roundedRectangle(radius, /*continuous=*/true));
}

View ListRoundedIconStyleModifier::apply(const View& content) const {
  View styled = content.foregroundStyle(Color::system("white"));
  if (filledIconStyle) styled = styled.symbolVariant(platform::ui::SymbolVariant::circleFill);
  styled = styled.frame(fixedFrame(34.0, 34.0))
               .background(bgc.withGradient());
  return styled | CorneredRadiusModifier{12};
}

View HorizontalPaddingModifier::apply(const View& content) const {
  const std::int64_t product = static_cast<std::int64_t>(length) * static_cast<std::int64_t>(paddingMultiplier);
  return content.padding(edge, static_cast<double>(product));
}

View NavigationBarTitleDisplayModifier::apply(const View& content) const {
  return content.navigationBarTitleDisplayMode(displayMode)
      .navigationTitle(platform::ui::localized(title.value_or("")));
}

View ScaleOpacityBlurScrollTransitionViewModifier::apply(const View& content) const {
  // The identity phase draws the content as it is; the renderer applies these three values,
  // in this order, to content that is entering or leaving the visible area.
  return content.scrollTransition(platform::ui::ScrollTransition::interactive)
      .attr(platform::ui::Attr::scrollTransitionScaleEffect, scaleEffect)
      .attr(platform::ui::Attr::scrollTransitionOpacity, opacity)
      .attr(platform::ui::Attr::scrollTransitionBlur, blurRadius);
}

View SearchableTextFieldModifier::apply(const View& content) const {
  if (!isActive) return content;
  return content.searchable(text, isPresented, platform::ui::localized(prompt), placement);
}

View TextFieldLimiterModifier::apply(const View& content) const {
  auto bound = text;
  const std::size_t max = limit;
  return content.maxLength(max).onUpdate([bound, max] {
    if (auto cut = lengthRuleWriteBack(bound.get(), max)) bound.set(*cut);
  });
}

View TextFieldLimitAfterDecimalModifier::apply(const View& content) const {
  auto bound = input;
  const std::string separator = decimalSeparator.empty() ? std::string(".") : decimalSeparator;
  return content.onChange<std::string>(bound.get(), [bound, separator](const std::string&, const std::string& now) {
    auto written = decimalRuleWriteBack(now, separator);
    if (written && *written != now) bound.set(*written);
  });
}

}  // namespace brivel
