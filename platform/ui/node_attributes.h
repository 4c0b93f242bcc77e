// The vocabulary of the rendered tree: every attribute a node can carry (`Attr`) and the closed
// sets of values that modifiers take (fonts, alignments, control styles, ...).
//
// Each attribute and each value is named once, here. A renderer reads attributes by their
// enum, never by text, and turns a closed-set value into its own vocabulary (a CSS class) with
// a switch or a table, so a value that has no look of its own is a compile-time matter rather
// than a silent typo. `name(value)` gives the stable lower-camel-case text of any of them (for
// messages, JSON dumps and tests); `ClosedSet<E>::names` lists all values of a set in order.
//
// Thread: plain values; safe anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::ui {

// Names of the values of a closed set, indexed by the value.
template <class E>
struct ClosedSet;

#define PLATFORM_UI_CASE(value, text) value,
#define PLATFORM_UI_NAME(value, text) text,
#define PLATFORM_UI_CLOSED_SET(Type, LIST)                        \
  enum class Type : std::uint8_t { LIST(PLATFORM_UI_CASE) };      \
  template <>                                                     \
  struct ClosedSet<Type> {                                        \
    static constexpr std::string_view names[] = {LIST(PLATFORM_UI_NAME)}; \
  };

// ----- Closed sets of modifier values -----

#define PLATFORM_UI_FONT(X)                                                                              \
  X(largeTitle, "largeTitle") X(title, "title") X(title2, "title2") X(title3, "title3")                  \
  X(headline, "headline") X(subheadline, "subheadline") X(body, "body") X(callout, "callout")            \
  X(footnote, "footnote") X(caption, "caption") X(caption2, "caption2")
PLATFORM_UI_CLOSED_SET(Font, PLATFORM_UI_FONT)

#define PLATFORM_UI_TEXT_ALIGNMENT(X) X(leading, "leading") X(center, "center") X(trailing, "trailing")
PLATFORM_UI_CLOSED_SET(TextAlignment, PLATFORM_UI_TEXT_ALIGNMENT)

// Where content sits in a stack, a frame, an overlay or an inset.
#define PLATFORM_UI_ALIGNMENT(X)                                                                           \
  X(center, "center") X(leading, "leading") X(trailing, "trailing") X(top, "top") X(bottom, "bottom")      \
  X(topLeading, "topLeading") X(topTrailing, "topTrailing") X(bottomLeading, "bottomLeading")              \
  X(bottomTrailing, "bottomTrailing") X(firstTextBaseline, "firstTextBaseline")
PLATFORM_UI_CLOSED_SET(Alignment, PLATFORM_UI_ALIGNMENT)

#define PLATFORM_UI_SYMBOL_VARIANT(X) X(fill, "fill") X(circle, "circle") X(circleFill, "circle.fill")
PLATFORM_UI_CLOSED_SET(SymbolVariant, PLATFORM_UI_SYMBOL_VARIANT)

#define PLATFORM_UI_SYMBOL_RENDERING_MODE(X) \
  X(monochrome, "monochrome") X(hierarchical, "hierarchical") X(palette, "palette") X(multicolor, "multicolor")
PLATFORM_UI_CLOSED_SET(SymbolRenderingMode, PLATFORM_UI_SYMBOL_RENDERING_MODE)

#define PLATFORM_UI_BUTTON_STYLE(X)                                                             \
  X(automatic, "automatic") X(plain, "plain") X(borderless, "borderless") X(bordered, "bordered") \
  X(borderedProminent, "borderedProminent")
PLATFORM_UI_CLOSED_SET(ButtonStyle, PLATFORM_UI_BUTTON_STYLE)

#define PLATFORM_UI_CONTROL_SIZE(X) \
  X(mini, "mini") X(small, "small") X(regular, "regular") X(large, "large") X(extraLarge, "extraLarge")
PLATFORM_UI_CLOSED_SET(ControlSize, PLATFORM_UI_CONTROL_SIZE)

#define PLATFORM_UI_PICKER_STYLE(X) X(automatic, "automatic") X(menu, "menu") X(segmented, "segmented")
PLATFORM_UI_CLOSED_SET(PickerStyle, PLATFORM_UI_PICKER_STYLE)

#define PLATFORM_UI_CONTROL_GROUP_STYLE(X) X(automatic, "automatic") X(menu, "menu")
PLATFORM_UI_CLOSED_SET(ControlGroupStyle, PLATFORM_UI_CONTROL_GROUP_STYLE)

#define PLATFORM_UI_AUTOCAPITALIZATION(X) \
  X(never, "never") X(words, "words") X(sentences, "sentences") X(characters, "characters")
PLATFORM_UI_CLOSED_SET(TextInputAutocapitalization, PLATFORM_UI_AUTOCAPITALIZATION)

#define PLATFORM_UI_SUBMIT_LABEL(X) \
  X(done, "done") X(go, "go") X(next, "next") X(return_, "return") X(search, "search") X(send, "send")
PLATFORM_UI_CLOSED_SET(SubmitLabel, PLATFORM_UI_SUBMIT_LABEL)

#define PLATFORM_UI_KEYBOARD_TYPE(X) X(default_, "default") X(decimalPad, "decimalPad") X(numberPad, "numberPad")
PLATFORM_UI_CLOSED_SET(KeyboardType, PLATFORM_UI_KEYBOARD_TYPE)

#define PLATFORM_UI_SCROLL_DISMISSES_KEYBOARD(X) \
  X(automatic, "automatic") X(immediately, "immediately") X(interactively, "interactively") X(never, "never")
PLATFORM_UI_CLOSED_SET(ScrollDismissesKeyboard, PLATFORM_UI_SCROLL_DISMISSES_KEYBOARD)

#define PLATFORM_UI_LIST_STYLE(X) X(automatic, "automatic") X(plain, "plain") X(insetGrouped, "insetGrouped")
PLATFORM_UI_CLOSED_SET(ListStyle, PLATFORM_UI_LIST_STYLE)

// The spacing between a list's sections when it is not a number of points.
#define PLATFORM_UI_LIST_SECTION_SPACING(X) X(default_, "default") X(compact, "compact")
PLATFORM_UI_CLOSED_SET(ListSectionSpacing, PLATFORM_UI_LIST_SECTION_SPACING)

#define PLATFORM_UI_SCROLL_BOUNCE_BEHAVIOR(X) X(automatic, "automatic") X(always, "always") X(basedOnSize, "basedOnSize")
PLATFORM_UI_CLOSED_SET(ScrollBounceBehavior, PLATFORM_UI_SCROLL_BOUNCE_BEHAVIOR)

#define PLATFORM_UI_ANIMATION(X) X(default_, "default")
PLATFORM_UI_CLOSED_SET(Animation, PLATFORM_UI_ANIMATION)

// How a view enters and leaves. `pushFromTopRemovingByOpacity` comes in pushed from the top
// and leaves by fading.
#define PLATFORM_UI_TRANSITION(X)                                                                  \
  X(opacity, "opacity") X(pushFromTop, "push(from: .top)")                                         \
  X(pushFromTopRemovingByOpacity, "asymmetric(insertion: push(from: top), removal: opacity)")
PLATFORM_UI_CLOSED_SET(Transition, PLATFORM_UI_TRANSITION)

#define PLATFORM_UI_CONTENT_TRANSITION(X) \
  X(numericText, "numericText") X(numericTextCountingUp, "numericText(countsDown: false)")
PLATFORM_UI_CLOSED_SET(ContentTransition, PLATFORM_UI_CONTENT_TRANSITION)

#define PLATFORM_UI_SCROLL_TRANSITION(X) X(interactive, "interactive")
PLATFORM_UI_CLOSED_SET(ScrollTransition, PLATFORM_UI_SCROLL_TRANSITION)

#define PLATFORM_UI_SYMBOL_EFFECT(X) X(bounce, "bounce")
PLATFORM_UI_CLOSED_SET(SymbolEffect, PLATFORM_UI_SYMBOL_EFFECT)

#define PLATFORM_UI_SEARCH_FIELD_PLACEMENT(X) X(automatic, "automatic")
PLATFORM_UI_CLOSED_SET(SearchFieldPlacement, PLATFORM_UI_SEARCH_FIELD_PLACEMENT)

#define PLATFORM_UI_SHAPE_KIND(X) \
  X(rectangle, "rectangle") X(capsule, "capsule") X(circle, "circle") X(roundedRectangle, "roundedRectangle")
PLATFORM_UI_CLOSED_SET(ShapeKind, PLATFORM_UI_SHAPE_KIND)

#define PLATFORM_UI_CORNER_STYLE(X) X(circular, "circular") X(continuous, "continuous")
PLATFORM_UI_CLOSED_SET(CornerStyle, PLATFORM_UI_CORNER_STYLE)

#define PLATFORM_UI_AXIS(X) X(horizontal, "horizontal") X(vertical, "vertical")
PLATFORM_UI_CLOSED_SET(Axis, PLATFORM_UI_AXIS)

#define PLATFORM_UI_BUTTON_ROLE(X) X(none, "none") X(cancel, "cancel") X(destructive, "destructive")
PLATFORM_UI_CLOSED_SET(ButtonRole, PLATFORM_UI_BUTTON_ROLE)

#define PLATFORM_UI_TOOLBAR_PLACEMENT(X)                                                    \
  X(automatic, "automatic") X(topBarLeading, "topBarLeading") X(topBarTrailing, "topBarTrailing") \
  X(primaryAction, "primaryAction")
PLATFORM_UI_CLOSED_SET(ToolbarPlacement, PLATFORM_UI_TOOLBAR_PLACEMENT)

#define PLATFORM_UI_TITLE_DISPLAY_MODE(X) X(automatic, "automatic") X(inline_, "inline") X(large, "large")
PLATFORM_UI_CLOSED_SET(TitleDisplayMode, PLATFORM_UI_TITLE_DISPLAY_MODE)

#define PLATFORM_UI_PRESENTATION_SIZING(X) X(automatic, "automatic") X(page, "page") X(form, "form")
PLATFORM_UI_CLOSED_SET(PresentationSizing, PLATFORM_UI_PRESENTATION_SIZING)

#define PLATFORM_UI_VISIBILITY(X) X(automatic, "automatic") X(visible, "visible") X(hidden, "hidden")
PLATFORM_UI_CLOSED_SET(Visibility, PLATFORM_UI_VISIBILITY)

// A set of edges. Nodes carry single edges (the edge of an inset, of a swipe, of an arrow).
enum class Edge : unsigned {
  top = 1,
  leading = 2,
  bottom = 4,
  trailing = 8,
  horizontal = 2 | 8,
  vertical = 1 | 4,
  all = 15,
};
constexpr Edge operator|(Edge a, Edge b) {
  return static_cast<Edge>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool contains(Edge set, Edge one) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(one)) == static_cast<unsigned>(one);
}
// "top", "leading", "bottom", "trailing"; "all" for any set of several edges.
std::string_view name(Edge edge);

template <class E>
concept ClosedSetValue = requires { ClosedSet<E>::names; };

template <ClosedSetValue E>
constexpr std::string_view name(E value) {
  return ClosedSet<E>::names[static_cast<std::size_t>(value)];
}

// ----- Attributes -----
//
// The value type of each attribute is listed in platform/ui/README.md; a reader that asks for
// another type gets the fallback.
#define PLATFORM_UI_ATTR(X)                                                                               \
  /* Window */                                                                                            \
  X(appearanceTableShowsVerticalScrollIndicator, "appearance.tableShowsVerticalScrollIndicator")          \
  X(appearanceSegmentedSelectedTint, "appearance.segmentedSelectedTint")                                  \
  X(appearanceSegmentedSelectedTitleColor, "appearance.segmentedSelectedTitleColor")                      \
  X(appearanceSegmentedNormalTitleColor, "appearance.segmentedNormalTitleColor")                          \
  /* Any node */                                                                                          \
  X(hidden, "hidden") X(disabled, "disabled") X(accessibilityIdentifier, "accessibilityIdentifier")       \
  X(accessibilityAnnouncement, "accessibilityAnnouncement") X(accessibilityLabel, "accessibilityLabel")    \
  X(id, "id")                                                                                             \
  X(font, "font") X(bold, "bold") X(foregroundStyle, "foregroundStyle") X(tint, "tint")                   \
  X(tintCleared, "tintCleared") X(accentColor, "accentColor")                                             \
  X(multilineTextAlignment, "multilineTextAlignment") X(lineLimit, "lineLimit")                           \
  X(minimumScaleFactor, "minimumScaleFactor") X(symbolVariant, "symbolVariant")                           \
  X(symbolRenderingMode, "symbolRenderingMode") X(palettePrimary, "palette.primary")                      \
  X(shadowColor, "shadow.color") X(shadowRadius, "shadow.radius") X(shadowX, "shadow.x")                 \
  X(shadowY, "shadow.y")                                                                                  \
  X(paddingTop, "padding.top") X(paddingLeading, "padding.leading") X(paddingBottom, "padding.bottom")   \
  X(paddingTrailing, "padding.trailing")                                                                  \
  X(frameWidth, "frame.width") X(frameHeight, "frame.height") X(frameMinWidth, "frame.minWidth")          \
  X(frameMaxWidth, "frame.maxWidth") X(frameMinHeight, "frame.minHeight")                                 \
  X(frameMaxHeight, "frame.maxHeight") X(frameAlignment, "frame.alignment")                               \
  X(opacity, "opacity") X(blur, "blur") X(scaleEffect, "scaleEffect")                                     \
  X(clipShape, "clipShape") X(clipShapeCornerRadius, "clipShape.cornerRadius")                            \
  X(clipShapeStyle, "clipShape.style")                                                                    \
  X(overlayAlignment, "overlay.alignment") X(safeAreaInsetEdge, "safeAreaInset.edge")                     \
  X(safeAreaInsetAlignment, "safeAreaInset.alignment") X(backgroundIgnoresSafeArea, "background.ignoresSafeArea") \
  X(swipeActionsEdge, "swipeActions.edge") X(swipeActionsAllowsFullSwipe, "swipeActions.allowsFullSwipe") \
  X(buttonStyle, "buttonStyle") X(controlSize, "controlSize") X(labelsHidden, "labelsHidden")             \
  X(role, "role") X(spacing, "spacing") X(alignment, "alignment")                                         \
  X(animation, "animation") X(transition, "transition") X(contentTransition, "contentTransition")         \
  X(scrollTransition, "scrollTransition") X(scrollTransitionScaleEffect, "scrollTransition.scaleEffect")  \
  X(scrollTransitionOpacity, "scrollTransition.opacity") X(scrollTransitionBlur, "scrollTransition.blur") \
  X(symbolEffect, "symbolEffect")                                                                         \
  X(listStyle, "listStyle") X(listSectionSpacing, "listSectionSpacing")                                   \
  X(listRowBackground, "listRowBackground") X(listRowSeparator, "listRowSeparator")                       \
  X(listRowInsetsTop, "listRowInsets.top") X(listRowInsetsLeading, "listRowInsets.leading")               \
  X(listRowInsetsBottom, "listRowInsets.bottom") X(listRowInsetsTrailing, "listRowInsets.trailing")       \
  X(scrollIndicators, "scrollIndicators") X(scrollBounceBehavior, "scrollBounceBehavior")                 \
  X(scrollDismissesKeyboard, "scrollDismissesKeyboard") X(navigationTitle, "navigationTitle")             \
  /* Per kind */                                                                                          \
  X(text, "text") X(systemName, "systemName") X(assetName, "assetName") X(shape, "shape")                 \
  X(cornerRadius, "cornerRadius") X(cornerStyle, "cornerStyle") X(fill, "fill") X(color, "color")         \
  X(value, "value") X(total, "total") X(isOn, "isOn") X(placeholder, "placeholder") X(axis, "axis")       \
  X(maxLength, "maxLength") X(focused, "focused") X(submitLabel, "submitLabel")                           \
  X(keyboardType, "keyboardType") X(autocapitalization, "autocapitalization")                             \
  X(prompt, "prompt") X(presented, "presented") X(placement, "placement")                                 \
  X(pickerStyle, "pickerStyle") X(controlGroupStyle, "controlGroupStyle") X(selected, "selected")         \
  X(url, "url") X(scrollTarget, "scrollTarget") X(sizing, "sizing")                                       \
  X(interactiveDismissDisabled, "interactiveDismissDisabled") X(title, "title")                           \
  X(titleVisibility, "titleVisibility") X(tipId, "tipId") X(message, "message")                           \
  X(imageAsset, "imageAsset") X(arrowEdge, "arrowEdge") X(titleDisplayMode, "titleDisplayMode")           \
  X(backButtonHidden, "backButtonHidden") X(rowCount, "rowCount") X(rowIndex, "rowIndex")                 \
  X(placeholderRows, "placeholderRows") X(firstRow, "firstRow")                                           \
  /* Widget faces */                                                                                      \
  X(widgetFamily, "widgetFamily") X(containerBackground, "containerBackground")                           \
  X(widgetAccentable, "widgetAccentable")
PLATFORM_UI_CLOSED_SET(Attr, PLATFORM_UI_ATTR)

#undef PLATFORM_UI_CLOSED_SET
#undef PLATFORM_UI_NAME
#undef PLATFORM_UI_CASE

}  // namespace platform::ui
