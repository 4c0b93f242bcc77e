#include "web/internal/html_writer.h"

#include <algorithm>
#include <set>
#include <string>

#include "web/html_classes.h"

namespace web::html {

using namespace platform::ui;

void Writer::rowActions(const Node& n) {
  // The swipe actions show as a tray that the pointer reveals by swiping the row; the
  // actions button opens them, and the context menu's items, as a menu for the keyboard and a
  // right click.
  const auto& swipe = n.slot("swipeActions");
  const auto& context = n.slot("contextMenu");
  if (!swipe.empty()) {
    out_ += "<div class=\"swipe-tray\" aria-hidden=\"true\">";
    for (const auto& action : swipe) {
      if (action.flag(Attr::hidden)) continue;
      Tag tag("button", "swipe-action");
      decorate(action, tag);
      tag.addAttribute("type", "button");
      tag.addAttribute("tabindex", "-1");
      if (!action.actionId.empty()) tag.addAttribute("data-action", action.actionId);
      if (action.flag(Attr::disabled)) tag.addFlag("disabled");
      registerAction(action);
      open(tag);
      children(action);
      close(tag);
    }
    out_ += "</div>";
  }
  // The menu's items are fetched when it opens (they repeat the swipe and context actions,
  // and most rows' menus are never opened); their controls are in this render's table.
  out_ += "<div class=\"menu row-menu\"><button type=\"button\" class=\"menu-button row-more\" aria-haspopup=\"menu\" "
          "aria-expanded=\"false\" aria-label=\"Actions\"><span class=\"icon\" style=\"--icon:url(";
  out_ += icons_.url("ellipsis");
  out_ += ")\" aria-hidden=\"true\"></span></button><div class=\"menu-popup\" role=\"menu\" data-menu-of=\"";
  out_ += keyTable_.keyFor(n.identity);
  out_ += "\" hidden></div></div>";
  for (const auto& action : swipe) registerActions(action);
  for (const auto& item : context) registerActions(item);
}

void Writer::registerActions(const Node& n) {
  if (n.flag(Attr::hidden)) return;
  registerAction(n);
  for (const auto& child : n.children) registerActions(child);
  for (const auto& [name, nodes] : n.slots) {
    for (const auto& child : nodes) registerActions(child);
  }
}

namespace {
// What an action says it does: its icons (a filled variant named as the plain one) and texts.
void collectMarks(const Node& n, std::set<std::string>& marks) {
  if (n.flag(Attr::hidden)) return;
  if (n.kind == NodeKind::image) {
    std::string name = n.string(Attr::systemName);
    if (name.empty()) name = n.string(Attr::assetName);
    for (std::size_t at; (at = name.find(".fill")) != std::string::npos;) name.erase(at, 5);
    if (!name.empty()) marks.insert("i:" + name);
  }
  if (const TextContent* text = n.textContent(Attr::text)) marks.insert("t:" + text->key);
  for (const auto& child : n.children) collectMarks(child, marks);
  for (const auto& [name, nodes] : n.slots) {
    for (const auto& child : nodes) collectMarks(child, marks);
  }
}
}  // namespace

void Writer::rowMenuItems(const Node& n) {
  // The context menu holds a row's actions; a swipe action shows here only when no context item
  // does the same (same icon or text), so that each action is listed once.
  const auto& swipe = n.slot("swipeActions");
  const auto& context = n.slot("contextMenu");
  std::set<std::string> covered;
  for (const auto& item : context) collectMarks(item, covered);
  bool wroteSwipe = false;
  for (const auto& action : swipe) {
    std::set<std::string> marks;
    collectMarks(action, marks);
    bool repeated = std::any_of(marks.begin(), marks.end(), [&](const std::string& m) { return covered.count(m) > 0; });
    if (repeated || action.flag(Attr::hidden)) continue;
    node(action, Context::menu);
    wroteSwipe = true;
  }
  if (wroteSwipe && !context.empty()) out_ += "<hr class=\"menu-divider\" role=\"separator\">";
  for (const auto& item : context) node(item, Context::menu);
}

void Writer::list(const Node& n, std::string_view base) {
  Tag tag("div", base);
  if (auto style = n.choice<ListStyle>(Attr::listStyle)) tag.addClass(listStyleClass(*style));
  if (auto spacing = n.choice<ListSectionSpacing>(Attr::listSectionSpacing)) tag.addClass(sectionSpacingClass(*spacing));
  decorate(n, tag);
  // A lazy list names its row count and takes the first row the page shows; its rows say
  // where they stand in it, so assistive technology knows the list's length.
  const auto* count = n.attr(Attr::rowCount) ? std::get_if<std::int64_t>(n.attr(Attr::rowCount)) : nullptr;
  std::int64_t outerCount = rowCount_;
  rowCount_ = count ? *count : -1;
  if (count && !n.actionId.empty()) {
    registerAction(n);
    tag.addAttribute("role", "list");
    tag.addAttribute("data-rows-action", n.actionId);
    tag.addAttribute("data-row-count", std::to_string(*count));
  }
  open(tag);
  // Rows outside a section form a section of their own.
  bool looseOpen = false;
  for (const auto& child : n.children) {
    if (child.flag(Attr::hidden)) continue;
    if (child.kind == NodeKind::section) {
      if (looseOpen) out_ += "</div></section>";
      looseOpen = false;
      section(child);
    } else {
      if (!looseOpen) out_ += "<section class=\"section\"><div class=\"section-rows\">";
      looseOpen = true;
      row(child);
    }
  }
  if (looseOpen) out_ += "</div></section>";
  close(tag);
  rowCount_ = outerCount;
}

void Writer::section(const Node& n) {
  Tag tag("section", "section");
  decorate(n, tag);
  open(tag);
  if (!n.slot("header").empty()) {
    out_ += "<header class=\"section-header\">";
    for (const auto& child : n.slot("header")) drawKept(child);
    out_ += "</header>";
  }
  out_ += "<div class=\"section-rows\">";
  // A field under a switch (a note shown when the switch is on) is named by the switch.
  const std::string header = plainText(group(n.slot("header")));
  std::string outer = fieldName_;
  const Node* previous = nullptr;
  for (const auto& child : n.children) {
    fieldName_ = previous && previous->kind == NodeKind::toggle ? plainText(*previous) : header;
    if (fieldName_.empty()) fieldName_ = outer;
    row(child);
    if (!child.flag(Attr::hidden)) previous = &child;
  }
  fieldName_ = std::move(outer);
  out_ += "</div>";
  if (!n.slot("footer").empty()) {
    out_ += "<footer class=\"section-footer\">";
    slot(n, "footer");
    out_ += "</footer>";
  }
  close(tag);
}

void Writer::row(const Node& n) {
  if (n.flag(Attr::hidden)) return;
  if (n.kind == NodeKind::spacer && n.attr(Attr::placeholderRows)) {
    // Rows of a lazy list that are not on the page: the room they take, kept by the client.
    Tag gap("div", "row-placeholder");
    gap.addAttribute("data-key", uniqueKey(n.identity));
    gap.addAttribute("data-first", cssNumber(n.number(Attr::firstRow).value_or(0)));
    gap.addAttribute("data-rows", cssNumber(n.number(Attr::placeholderRows).value_or(0)));
    gap.addStyle("--rows", cssNumber(n.number(Attr::placeholderRows).value_or(0)));
    gap.addAttribute("aria-hidden", "true");
    open(gap);
    close(gap);
    return;
  }
  Tag tag("div", "row");
  if (n.attr(Attr::rowIndex) && rowCount_ >= 0) {
    // Keyed, so that the client keeps the rows it has when the window moves. The client numbers
    // the rows (their place and the list's size, for assistive technology) from the
    // placeholders around them, so that a row's HTML stays the same when rows come or go
    // before it.
    tag.addAttribute("data-key", uniqueKey(n.identity + "^"));
    tag.addAttribute("role", "listitem");
  }
  if (n.choice<Visibility>(Attr::listRowSeparator) == Visibility::hidden) tag.addClass("no-separator");
  if (const Color* c = n.color(Attr::listRowBackground)) tag.addStyle("background", cssColor(*c));
  if (n.number(Attr::listRowInsetsTop) || n.number(Attr::listRowInsetsLeading)) tag.addClass("custom-insets");
  for (const auto& [edge, property] : {std::pair{Attr::listRowInsetsTop, "padding-top"}, std::pair{Attr::listRowInsetsBottom, "padding-bottom"},
                                       std::pair{Attr::listRowInsetsLeading, "padding-inline-start"},
                                       std::pair{Attr::listRowInsetsTrailing, "padding-inline-end"}}) {
    if (auto v = n.number(edge)) tag.addStylePx(property, *v);
  }
  open(tag);
  drawKept(n);
  close(tag);
}

}  // namespace web::html
