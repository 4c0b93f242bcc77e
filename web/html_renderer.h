// HtmlRenderer: turns a rendered view tree into the HTML of the page and its table of controls.
//
// The page looks like the phone app at phone width: a navigation bar with its toolbar items,
// grouped lists and forms, sheets and confirmation dialogs as layers over the content, and a tab
// bar at the bottom. Every text goes through the string table and is escaped; every actionable
// node becomes a real control (button, input, select, link) carrying its action id in
// "data-action", so the page works with the keyboard alone. Rows with swipe actions or a context
// menu get an actions button that opens the same actions as a menu; the client script adds the
// swipe and the right click.
//
// The table of controls lists every action id of the render with the events it takes and, for
// text fields, the field's limit; the server accepts nothing else.
//
// Thread: any; a renderer only reads the tree and its constant tables.
#pragma once

#include <string>

#include "platform/ui/node.h"
#include "web/icons.h"
#include "web/page.h"
#include "web/strings.h"

namespace web {

class HtmlRenderer {
 public:
  HtmlRenderer(const StringTable& strings, const IconTable& icons) : strings_(strings), icons_(icons) {}

  // Renders a `window` node (or any subtree) into a Page.
  Page render(const platform::ui::Node& root) const;

 private:
  const StringTable& strings_;
  const IconTable& icons_;
};

// The CSS value of a colour: a custom property of the palette ("var(--c-sonicBlue)"), a system
// colour, a gradient for `gradient` colours, mixed with transparency below opacity 1. Unknown
// asset names give an empty text (the element keeps its inherited colour).
std::string cssColor(const platform::ui::Color& color);

// Whether a link may carry its URL into the page: http, https and mailto only.
bool isSafeLinkUrl(const std::string& url);

}  // namespace web
