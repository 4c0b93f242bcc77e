#include "Brivel/collections/coloured_circle_symbol_view.h"

#include "Brivel/shell/view_helpers.h"

namespace brivel {

using namespace platform::ui;

namespace {
// Black at a third of full opacity: the faint edge that lifts the disc off the background.
Color discShadow() { return Color::system("black").withOpacity(0.33); }
}  // namespace

View ColouredCircleSymbolView::body(Context&) const {
  View image;
  if (symbol) {
    // Two levels: the glyph in white, the disc in the colour.
    image = SymbolImage(*symbol)
                .symbolVariant(SymbolVariant::circleFill)
                .symbolRenderingMode(SymbolRenderingMode::palette)
                .foregroundStyle(color.withGradient())
                .attr(Attr::palettePrimary, Color::system("white").withGradient());
  } else {
    image = SymbolImage(SFSymbols::circle).symbolVariant(SymbolVariant::fill).foregroundStyle(color.withGradient());
  }
  image = image.shadow(discShadow(), 0.4);
  // On a profile card the badge takes the default font size, whatever font its card sets.
  return image.font(isProfileCard ? Font::body : Font::caption);
}

}  // namespace brivel
