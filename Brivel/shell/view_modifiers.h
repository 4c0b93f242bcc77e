// The view modifiers every screen styles its texts, icons, titles, paddings and input fields
// with. Each is a small value holding its parameters; apply() wraps a view in a fixed chain
// of view-layer modifiers, in a fixed order. The two text-field modifiers also carry the
// length and decimal rules of text_field_rules.h and write back through their binding.
//
//   Text(localizable_settings) | SubtitleFontStyleModifier{Font::subheadline, primary, false, TextAlignment::leading}
//
// Threads: main thread, like the views.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/ui/view.h"

namespace brivel {

using platform::ui::Color;
using platform::ui::Font;
using platform::ui::TextAlignment;
using platform::ui::View;

struct TitleFontStyleModifier {
  Font font = Font::body;
  Color color;
  bool bold = false;  // a title is drawn bold when its caller asks for it
  TextAlignment textAlignment = TextAlignment::leading;
  View apply(const View& content) const;
};

struct SubtitleFontStyleModifier {
  Font font = Font::body;
  Color color;
  bool bold = false;
  TextAlignment textAlignment = TextAlignment::leading;
  View apply(const View& content) const;
};

// Like the subtitle style, but the text is drawn with the colour's own subtle gradient.
struct NoteFontStyleModifier {
  Font font = Font::body;
  Color color;
  bool bold = false;
  TextAlignment textAlignment = TextAlignment::leading;
  View apply(const View& content) const;
};

struct ErrorFontStyleModifier {
  Font font = Font::body;
  Color color;
  View apply(const View& content) const;
};

// Clips to a rounded rectangle with continuous corners of `radius` points.
struct CorneredRadiusModifier {
  double radius = 0;
  View apply(const View& content) const;
};

// A white symbol on a 34-point square of the gradient of `bgc`, corners rounded by 12.
struct ListRoundedIconStyleModifier {
  Color bgc;
  bool filledIconStyle = false;
  View apply(const View& content) const;
};

// Padding of length × paddingMultiplier points on `edge`.
struct HorizontalPaddingModifier {
  platform::ui::Edge edge = platform::ui::Edge::horizontal;
  int length = 0;
  int paddingMultiplier = 1;
  View apply(const View& content) const;
};

// The navigation bar's display mode and title; an absent title shows an empty one.
struct NavigationBarTitleDisplayModifier {
  platform::ui::TitleDisplayMode displayMode = platform::ui::TitleDisplayMode::automatic;
  std::optional<std::string> title;
  View apply(const View& content) const;
};

// Shrinks, fades and blurs content while it scrolls into or out of view.
struct ScaleOpacityBlurScrollTransitionViewModifier {
  double scaleEffect = 1;
  double opacity = 1;
  double blurRadius = 0;
  View apply(const View& content) const;
};

// The search field, only while `isActive`.
struct SearchableTextFieldModifier {
  bool isActive = false;
  platform::ui::Binding<std::string> text;
  platform::ui::Binding<bool> isPresented;
  platform::ui::SearchFieldPlacement placement = platform::ui::SearchFieldPlacement::automatic;
  std::string prompt;
  View apply(const View& content) const;
};

// The length rule on a text field: at most `limit` user-perceived characters, applied on
// every update including the first. The limit also travels with the field, so the runtime
// and the web server cut longer input before the binding sees it.
struct TextFieldLimiterModifier {
  platform::ui::Binding<std::string> text;
  std::size_t limit = 0;
  View apply(const View& content) const;
};

// The decimal rule on a cost field, on changes after the field is first shown. An empty
// separator counts as ".".
struct TextFieldLimitAfterDecimalModifier {
  platform::ui::Binding<std::string> input;
  std::string decimalSeparator = ".";
  View apply(const View& content) const;
};

// `view | modifier` applies a modifier.
template <class M>
  requires requires(const M& m, const View& v) {
    { m.apply(v) } -> std::convertible_to<View>;
  }
View operator|(const View& content, const M& modifier) {
  return modifier.apply(content);
}

}  // namespace brivel
