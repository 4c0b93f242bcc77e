// The CSS classes the page's stylesheet (web/assets/app.css) gives to the view layer's closed
// sets of values: a font, an alignment, a button style, ... Each function answers the class of
// a value, or an empty text when the value has no look of its own in the page (the default
// look, such as a centred stack or an automatic button style).
//
// Every class the renderer writes for a value comes from here, so a test can check all of them
// against the stylesheet (`closedSetClasses()`).
//
// Thread: plain functions; safe anywhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/node_attributes.h"

namespace web {

std::string_view fontClass(platform::ui::Font font);
std::string_view textAlignmentClass(platform::ui::TextAlignment alignment);
// A stack's alignment of its children.
std::string_view stackAlignmentClass(platform::ui::Alignment alignment);
std::string_view frameAlignmentClass(platform::ui::Alignment alignment);
std::string_view overlayAlignmentClass(platform::ui::Alignment alignment);
// Where a safe-area inset sits along its edge, and the edge.
std::string_view insetAlignmentClass(platform::ui::Alignment alignment);
std::string_view insetEdgeClass(platform::ui::Edge edge);
std::string_view symbolVariantClass(platform::ui::SymbolVariant variant);
std::string_view buttonRoleClass(platform::ui::ButtonRole role);
std::string_view buttonStyleClass(platform::ui::ButtonStyle style);
std::string_view controlSizeClass(platform::ui::ControlSize size);
// The clip of a view and the shape a shape view draws.
std::string_view clipShapeClass(platform::ui::ShapeKind shape);
std::string_view shapeClass(platform::ui::ShapeKind shape);
std::string_view listStyleClass(platform::ui::ListStyle style);
std::string_view sectionSpacingClass(platform::ui::ListSectionSpacing spacing);
std::string_view sheetSizingClass(platform::ui::PresentationSizing sizing);
std::string_view scrollAxisClass(platform::ui::Axis axis);

// Every class the functions above can answer, for every value of their sets.
std::vector<std::string> closedSetClasses();

}  // namespace web
