#include "web/html_classes.h"

#include <cstddef>

namespace web {

using namespace platform::ui;

std::string_view fontClass(Font font) {
  switch (font) {
    case Font::largeTitle: return "font-largeTitle";
    case Font::title: return "font-title";
    case Font::title2: return "font-title2";
    case Font::title3: return "font-title3";
    case Font::headline: return "font-headline";
    case Font::subheadline: return "font-subheadline";
    case Font::body: return "font-body";
    case Font::callout: return "font-callout";
    case Font::footnote: return "font-footnote";
    case Font::caption: return "font-caption";
    case Font::caption2: return "font-caption2";
  }
  return {};
}

std::string_view textAlignmentClass(TextAlignment alignment) {
  switch (alignment) {
    case TextAlignment::leading: return "ta-leading";
    case TextAlignment::center: return "ta-center";
    case TextAlignment::trailing: return "ta-trailing";
  }
  return {};
}

std::string_view stackAlignmentClass(Alignment alignment) {
  switch (alignment) {
    case Alignment::center: return {};  // how stacks lay out by default
    case Alignment::leading: return "align-leading";
    case Alignment::trailing: return "align-trailing";
    case Alignment::top: return "align-top";
    case Alignment::bottom: return "align-bottom";
    case Alignment::topLeading: return "align-topLeading";
    case Alignment::topTrailing: return "align-topTrailing";
    case Alignment::bottomLeading: return "align-bottomLeading";
    case Alignment::bottomTrailing: return "align-bottomTrailing";
    case Alignment::firstTextBaseline: return "align-firstTextBaseline";
  }
  return {};
}

std::string_view frameAlignmentClass(Alignment alignment) {
  switch (alignment) {
    case Alignment::center: return "frame-center";
    case Alignment::leading: return "frame-leading";
    case Alignment::trailing: return "frame-trailing";
    case Alignment::top: return "frame-top";
    case Alignment::bottom: return "frame-bottom";
    case Alignment::topLeading: return "frame-topLeading";
    case Alignment::topTrailing: return "frame-topTrailing";
    case Alignment::bottomLeading: return "frame-bottomLeading";
    case Alignment::bottomTrailing: return "frame-bottomTrailing";
    case Alignment::firstTextBaseline: return {};
  }
  return {};
}

std::string_view overlayAlignmentClass(Alignment alignment) {
  switch (alignment) {
    case Alignment::center: return "overlay-center";
    case Alignment::leading: return "overlay-leading";
    case Alignment::trailing: return "overlay-trailing";
    case Alignment::top: return "overlay-top";
    case Alignment::bottom: return "overlay-bottom";
    case Alignment::topLeading: return "overlay-topLeading";
    case Alignment::topTrailing: return "overlay-topTrailing";
    case Alignment::bottomLeading: return "overlay-bottomLeading";
    case Alignment::bottomTrailing: return "overlay-bottomTrailing";
    case Alignment::firstTextBaseline: return {};
  }
  return {};
}

std::string_view insetAlignmentClass(Alignment alignment) {
  switch (alignment) {
    case Alignment::leading:
    case Alignment::topLeading:
    case Alignment::bottomLeading:
    case Alignment::firstTextBaseline: return "inset-leading";
    case Alignment::trailing:
    case Alignment::topTrailing:
    case Alignment::bottomTrailing: return "inset-trailing";
    case Alignment::center:
    case Alignment::top:
    case Alignment::bottom: return "inset-center";
  }
  return {};
}

std::string_view insetEdgeClass(Edge edge) {
  // The page puts insets above or below the content; a side inset has no place of its own.
  return edge == Edge::top ? "edge-top" : "edge-bottom";
}

std::string_view symbolVariantClass(SymbolVariant variant) {
  switch (variant) {
    case SymbolVariant::fill: return "variant-fill";
    case SymbolVariant::circle: return "variant-circle";
    case SymbolVariant::circleFill: return "variant-circle-fill";
  }
  return {};
}

std::string_view buttonRoleClass(ButtonRole role) {
  switch (role) {
    case ButtonRole::none: return {};
    case ButtonRole::cancel: return "role-cancel";
    case ButtonRole::destructive: return "role-destructive";
  }
  return {};
}

std::string_view buttonStyleClass(ButtonStyle style) {
  switch (style) {
    case ButtonStyle::automatic:
    case ButtonStyle::borderless: return {};  // a plain tinted label, the default look
    case ButtonStyle::plain: return "btn-plain";
    case ButtonStyle::bordered: return "btn-bordered";
    case ButtonStyle::borderedProminent: return "btn-borderedProminent";
  }
  return {};
}

std::string_view controlSizeClass(ControlSize size) {
  switch (size) {
    case ControlSize::mini:
    case ControlSize::small:
    case ControlSize::regular: return {};
    case ControlSize::large: return "size-large";
    case ControlSize::extraLarge: return "size-extraLarge";
  }
  return {};
}

std::string_view clipShapeClass(ShapeKind shape) {
  switch (shape) {
    case ShapeKind::rectangle: return {};  // every view is a rectangle already
    case ShapeKind::capsule: return "clip-capsule";
    case ShapeKind::circle: return "clip-circle";
    case ShapeKind::roundedRectangle: return "clip-roundedRectangle";
  }
  return {};
}

std::string_view shapeClass(ShapeKind shape) {
  switch (shape) {
    case ShapeKind::rectangle: return {};
    case ShapeKind::capsule: return "shape-capsule";
    case ShapeKind::circle: return "shape-circle";
    case ShapeKind::roundedRectangle: return "shape-roundedRectangle";
  }
  return {};
}

std::string_view listStyleClass(ListStyle style) {
  switch (style) {
    case ListStyle::automatic:
    case ListStyle::insetGrouped: return {};  // the grouped look of every list
    case ListStyle::plain: return "list-plain";
  }
  return {};
}

std::string_view sectionSpacingClass(ListSectionSpacing spacing) {
  return spacing == ListSectionSpacing::compact ? "sections-compact" : std::string_view();
}

std::string_view sheetSizingClass(PresentationSizing sizing) {
  return sizing == PresentationSizing::form ? "sizing-form" : std::string_view();
}

std::string_view scrollAxisClass(Axis axis) {
  return axis == Axis::horizontal ? "scroll-h" : std::string_view();  // a scroll view scrolls down by default
}

namespace {
template <class E, class F>
void addAll(std::vector<std::string>& out, F classOf) {
  for (std::size_t i = 0; i < std::size(ClosedSet<E>::names); ++i) {
    std::string_view c = classOf(static_cast<E>(i));
    if (!c.empty()) out.emplace_back(c);
  }
}
}  // namespace

std::vector<std::string> closedSetClasses() {
  std::vector<std::string> out;
  addAll<Font>(out, fontClass);
  addAll<TextAlignment>(out, textAlignmentClass);
  addAll<Alignment>(out, stackAlignmentClass);
  addAll<Alignment>(out, frameAlignmentClass);
  addAll<Alignment>(out, overlayAlignmentClass);
  addAll<Alignment>(out, insetAlignmentClass);
  for (Edge e : {Edge::top, Edge::leading, Edge::bottom, Edge::trailing}) out.emplace_back(insetEdgeClass(e));
  addAll<SymbolVariant>(out, symbolVariantClass);
  addAll<ButtonRole>(out, buttonRoleClass);
  addAll<ButtonStyle>(out, buttonStyleClass);
  addAll<ControlSize>(out, controlSizeClass);
  addAll<ShapeKind>(out, clipShapeClass);
  addAll<ShapeKind>(out, shapeClass);
  addAll<ListStyle>(out, listStyleClass);
  addAll<ListSectionSpacing>(out, sectionSpacingClass);
  addAll<PresentationSizing>(out, sheetSizingClass);
  addAll<Axis>(out, scrollAxisClass);
  return out;
}

}  // namespace web
