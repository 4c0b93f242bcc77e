// ColouredCircleSymbolView: the small coloured badge that rows and cards draw beside a title,
// a disc in the gradient of a colour, either plain or carrying a white symbol. It keeps no
// state; its owner builds it afresh from a colour and an optional symbol.
//
//   ColouredCircleSymbolView{.color = colorFromAssetName("sonicBlue"), .symbol = std::nullopt, .isProfileCard = false}
//
// Threads: main thread, like the views.
#pragma once

#include <optional>

#include "Brivel/shell/sf_symbols.h"
#include "platform/ui/view.h"

namespace brivel {

struct ColouredCircleSymbolView {
  platform::ui::Color color;
  std::optional<SFSymbols> symbol;
  // On a profile card the badge keeps the default font size instead of the caption size.
  bool isProfileCard = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
