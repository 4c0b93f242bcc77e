// ColorPickerView: the row of the 14 palette swatches every name-and-colour editor shows.
// The swatch of the selected colour carries a white dot; tapping a swatch sets the binding to
// its colour (an animated change). When the row comes on screen it scrolls to the selected
// swatch; a colour outside the palette selects none and scrolls nowhere.
//
// The picker only writes its binding; turning the colour into a stored name is the editor's
// work (assetNameFromColor).
//
// Threads: main thread.
#pragma once

#include "Brivel/shell/palette.h"
#include "platform/ui/view.h"

namespace brivel {

struct ColorPickerView {
  platform::ui::Binding<ColorValue> selectedColor;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
