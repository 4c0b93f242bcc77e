#include "Brivel/shell/color_picker_view.h"

#include <algorithm>
#include <string>

#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel {

using namespace platform::ui;

View ColorPickerView::body(Context&) const {
  const auto selection = selectedColor;
  return ScrollViewReader([selection](const ScrollProxy& proxy) {
    const auto& palette = assetColorPalette();
    const ColorValue current = selection.get();
    View swatches = ForEach(
        palette, [](const ColorValue& color) { return color.name; },
        [&](const ColorValue& color) {
          View circle = ShapeView(Shape::circle(), color.withGradient())
                            .frame(fixedFrame(32.0, 32.0))
                            .overlay(when(color == current,
                                          [] {
                                            return ShapeView(Shape::circle(), Color::system("white"))
                                                .frame(fixedFrame(6.0, 6.0));
                                          }),
                                     Alignment::center);
          return Button(circle, [selection, color] { withAnimation([&] { selection.set(color); }); })
                     .accessibilityIdentifier("swatch." + color.name)
                     .id(color.name) |
                 ScaleOpacityBlurScrollTransitionViewModifier{0.8, 0.6, 0.8};
        });
    return ScrollView(Axis::horizontal, {Grid({GridRow({swatches})})})
        .scrollIndicators(Visibility::hidden)
        .onAppear([proxy, selection] {
          const ColorValue selected = selection.get();
          const auto& colors = assetColorPalette();
          auto found = std::find(colors.begin(), colors.end(), selected);
          if (found != colors.end()) proxy.scrollTo(found->name);
        });
  });
}

}  // namespace brivel
