#include "web/html_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "web/escape.h"
#include "web/palette.h"

namespace web {

using platform::ui::AttrValue;
using platform::ui::Color;
using platform::ui::Node;
using platform::ui::NodeKind;
using platform::ui::TextContent;

namespace {

// A plain container for a slot's nodes, so that the walkers can treat them as one node.
Node group(const std::vector<Node>& nodes) {
  Node n;
  n.kind = NodeKind::vStack;
  n.children = nodes;
  return n;
}

// Asset images that are pictures rather than one-colour symbols.
bool isArtwork(std::string_view name) { return name == "brivelTips"; }

// Keeps letters, digits, '-' and '_' so that a value can stand in a class name; dots become '-'.
std::string classToken(std::string_view value) {
  std::string out;
  for (char c : value) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      out += c;
    } else if (c == '.') {
      out += '-';
    }
  }
  return out;
}

std::string cssNumber(double value) {
  if (!std::isfinite(value)) return "0";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", value);
  return buffer;
}

std::string px(double value) { return cssNumber(value) + "px"; }

// What a few common icon-only buttons are called for screen readers.
std::string iconName(std::string_view symbol) {
  static const std::pair<std::string_view, std::string_view> names[] = {
      {"xmark", "Close"},          {"plus", "Add"},        {"ellipsis", "More"},
      {"trash", "Delete"},         {"pencil", "Edit"},     {"gearshape", "Settings"},
      {"arrow.up.arrow.down", "Sort"}, {"line.3.horizontal.decrease", "Filter"},
      {"chevron.forward", "Open"}, {"doc.on.doc", "Copy"}, {"person.2", "Profiles"},
      {"checkmark", "Save"},       {"person.crop.circle.fill", "Profiles"},
      {"person.crop.circle.fill.badge.checkmark", "Profiles"},
      {"personalhotspot.badge.plus", "Add category"}, {"creditcard.badge.plus", "Add account"},
      {"archivebox", "Archive"},   {"archivebox.fill", "Archive"},
      {"archivebox.slash", "Unarchive"}, {"archivebox.fill.slash", "Unarchive"},
      {"star", "Set as quick action"}, {"line.3.horizontal.decrease.slash", "Clear filter"},
      {"eye", "Show"},             {"eye.slash", "Hide"},  {"questionmark.bubble", "Help"},
  };
  for (const auto& [name, text] : names) {
    if (name == symbol) return std::string(text);
  }
  std::string out(symbol);
  for (char& c : out) {
    if (c == '.') c = ' ';
  }
  return out;
}

// True when a visible node of `nodes` or below them (their modifier slots included) is drawn as
// a control of its own: a button, link, menu, field, switch or picker, or a row's actions button.
bool holdsControls(const std::vector<Node>& nodes) {
  for (const auto& m : nodes) {
    if (m.flag("hidden")) continue;
    switch (m.kind) {
      case NodeKind::button:
      case NodeKind::navigationLink:
      case NodeKind::link:
      case NodeKind::menu:
      case NodeKind::toggle:
      case NodeKind::textField:
      case NodeKind::searchField:
      case NodeKind::picker:
      case NodeKind::pickerOption:
        return true;
      default:
        break;
    }
    if (!m.actionId.empty() || holdsControls(m.children)) return true;
    for (const auto& entry : m.slots) {
      if (entry.first == "swipeActions" || entry.first == "contextMenu") {
        if (!entry.second.empty()) return true;
      } else if (holdsControls(entry.second)) {
        return true;
      }
    }
  }
  return false;
}

// An element being opened: its class list, inline style and other attributes.
struct Tag {
  std::string name;
  std::string classes;
  std::string style;
  std::string attributes;  // already escaped, each with a leading space

  Tag(std::string tagName, std::string_view baseClass) : name(std::move(tagName)), classes(baseClass) {}
  void addClass(std::string_view c) {
    if (c.empty()) return;
    if (!classes.empty()) classes += ' ';
    classes += c;
  }
  void addStyle(std::string_view property, std::string_view value) {
    if (value.empty()) return;
    style += property;
    style += ':';
    style += value;
    style += ';';
  }
  void addAttribute(std::string_view attribute, std::string_view value) {
    attributes += ' ';
    attributes += attribute;
    attributes += "=\"";
    appendEscapedHtml(attributes, value);
    attributes += '"';
  }
  void addFlag(std::string_view attribute) {
    attributes += ' ';
    attributes += attribute;
  }
};

enum class Context { normal, menu, bar };

class Writer {
 public:
  Writer(const StringTable& strings, const IconTable& icons, KeyTable& keyTable, Page& page)
      : strings_(strings), icons_(icons), keyTable_(keyTable), page_(page), out_(page.html) {}

  void node(const Node& n, Context context = Context::normal);
  // The items of a row's actions menu, as the menu shows them.
  void rowMenuItems(const Node& n);
  // Registers the controls under `n` (drawn later, in a menu the page fetches).
  void registerActions(const Node& n);
  // Draws elements without their keys (content the page adds outside its renders).
  void omitKeys() { omitKeys_ = true; }

 private:
  // Tags and texts.
  void open(const Tag& tag);
  void close(const Tag& tag) { out_ += "</" + tag.name + ">"; }
  void text(const TextContent& content) { appendEscapedHtml(out_, strings_.text(content)); }
  std::string plainText(const Node& n) const;
  bool hasText(const Node& n) const;
  std::optional<std::string> firstSymbol(const Node& n) const;
  void children(const Node& n, Context context = Context::normal) {
    for (const auto& child : n.children) node(child, context);
  }
  void slot(const Node& n, std::string_view name, Context context = Context::normal) {
    for (const auto& child : n.slot(name)) node(child, context);
  }

  // The common attributes of every node as classes and style.
  void decorate(const Node& n, Tag& tag);
  void registerAction(const Node& n);

  // One node without its wrapping modifiers.
  void element(const Node& n, Context context);
  void window(const Node& n);
  void navigationStack(const Node& n);
  void navigationPage(const Node& n);
  void tabView(const Node& n);
  void list(const Node& n, std::string_view base);
  void section(const Node& n);
  void row(const Node& n);
  void image(const Node& n, Tag tag);
  void button(const Node& n, Context context);
  void textField(const Node& n);
  void toggle(const Node& n);
  void picker(const Node& n, Context context);
  void menu(const Node& n, Context context);
  void searchField(const Node& n);
  void sheet(const Node& n);
  void dialog(const Node& n);
  void popoverTip(const Node& n);
  void rowActions(const Node& n);

  // The DOM key of a view: its identity, made unique within the page (a view drawn twice, such
  // as a swipe action in its tray and in the actions menu, gets "#2" on its second drawing), so
  // that the client can match elements across renders.
  const std::string& uniqueKey(const std::string& identity) {
    int& seen = keys_[identity];
    ++seen;
    return keyTable_.keyFor(seen == 1 ? identity : identity + "#" + std::to_string(seen));
  }

  const StringTable& strings_;
  const IconTable& icons_;
  KeyTable& keyTable_;
  Page& page_;
  std::string& out_;
  std::unordered_map<std::string, int> keys_;
  // The row count of the lazy list being written, -1 outside one.
  std::int64_t rowCount_ = -1;
  bool omitKeys_ = false;
  // What the row being written calls its value (its label, a switch above it, its section's
  // header): the accessible name of a field or choice that has no words of its own.
  std::string fieldName_;
};

void Writer::open(const Tag& tag) {
  out_ += '<';
  out_ += tag.name;
  if (!tag.classes.empty()) {
    out_ += " class=\"";
    appendEscapedHtml(out_, tag.classes);
    out_ += '"';
  }
  if (!tag.style.empty()) {
    out_ += " style=\"";
    appendEscapedHtml(out_, tag.style);
    out_ += '"';
  }
  out_ += tag.attributes;
  out_ += '>';
}

std::string Writer::plainText(const Node& n) const {
  std::string out;
  std::function<void(const Node&)> walk = [&](const Node& m) {
    if (m.flag("hidden")) return;
    if (m.kind == NodeKind::text) {
      if (const auto* t = m.textContent("text")) {
        if (!out.empty()) out += ' ';
        out += strings_.text(*t);
      }
    }
    for (const auto& child : m.slot("title")) walk(child);
    for (const auto& child : m.slot("label")) walk(child);
    for (const auto& child : m.children) walk(child);
  };
  walk(n);
  return out;
}

bool Writer::hasText(const Node& n) const { return !plainText(n).empty(); }


namespace {
// The named colour that fills the first shape under `n`.
std::optional<PaletteColor> firstFill(const Node& n) {
  if (n.flag("hidden")) return std::nullopt;
  if (n.kind == NodeKind::shape) {
    if (const Color* c = n.color("fill"); c && c->kind == Color::Kind::asset) return paletteColor(c->name);
  }
  for (const auto& child : n.children) {
    if (auto found = firstFill(child)) return found;
  }
  return std::nullopt;
}
}  // namespace

std::optional<std::string> Writer::firstSymbol(const Node& n) const {
  if (n.kind == NodeKind::image) {
    std::string name = n.string("systemName");
    if (name.empty()) name = n.string("assetName");
    if (!name.empty()) return name;
  }
  for (const auto& slotName : {"icon", "title", "label"}) {
    for (const auto& child : n.slot(slotName)) {
      if (auto found = firstSymbol(child)) return found;
    }
  }
  for (const auto& child : n.children) {
    if (auto found = firstSymbol(child)) return found;
  }
  return std::nullopt;
}

void Writer::registerAction(const Node& n) {
  if (n.actionId.empty()) return;
  ActionSpec spec;
  switch (n.kind) {
    case NodeKind::toggle:
      spec.tap = true;
      spec.value = ActionSpec::Value::flag;
      break;
    case NodeKind::textField:
    case NodeKind::searchField: {
      spec.value = ActionSpec::Value::text;
      spec.focus = true;
      spec.submit = true;
      spec.dismiss = n.kind == NodeKind::searchField;
      spec.multiline = n.string("axis") == "vertical";
      if (auto limit = n.number("maxLength"); limit && *limit >= 0) spec.maxLength = static_cast<size_t>(*limit);
      break;
    }
    case NodeKind::sheet:
    case NodeKind::confirmationDialog:
    case NodeKind::navigationPage:
    case NodeKind::popoverTip:
      spec.dismiss = true;
      break;
    case NodeKind::list:
    case NodeKind::form:
      spec.scroll = true;  // a lazy list: the page tells which row it shows first
      break;
    default:
      spec.tap = true;
  }
  page_.actions[n.actionId] = spec;
}

void Writer::decorate(const Node& n, Tag& tag) {
  if (!n.identity.empty() && !omitKeys_) tag.addAttribute("data-key", uniqueKey(n.identity));
  std::string testId = n.string("accessibilityIdentifier");
  if (!testId.empty()) tag.addAttribute("data-id", testId);
  // A passing message (a toast): the page reads its words out through its announcer.
  if (n.flag("accessibilityAnnouncement")) {
    tag.addAttribute("role", "status");
    tag.addAttribute("data-announce", "true");
  }

  std::string font = n.string("font");
  if (!font.empty()) tag.addClass("font-" + classToken(font));
  if (n.flag("bold")) tag.addClass("bold");
  if (const Color* c = n.color("foregroundStyle")) {
    std::string value = cssColor(*c);
    if (c->gradient) {
      tag.addClass("fg-gradient");
      tag.addStyle("--fg", value);
    } else {
      tag.addClass("fg");
      tag.addStyle("color", value);
    }
  }
  if (const Color* c = n.color("tint")) tag.addStyle("--tint", cssColor(*c));
  if (const Color* c = n.color("accentColor")) tag.addStyle("--tint", cssColor(*c));
  std::string align = n.string("multilineTextAlignment");
  if (!align.empty()) tag.addClass("ta-" + classToken(align));
  if (auto lines = n.number("lineLimit"); lines && *lines > 0) {
    tag.addClass("line-limit");
    tag.addStyle("--lines", cssNumber(*lines));
  }
  if (auto v = n.number("opacity")) tag.addStyle("opacity", cssNumber(*v));
  std::string filter;
  if (auto v = n.number("blur"); v && *v > 0) filter += "blur(" + px(*v) + ") ";
  if (const Color* c = n.color("shadow.color")) {
    double radius = n.number("shadow.radius").value_or(0);
    filter += "drop-shadow(" + px(n.number("shadow.x").value_or(0)) + " " + px(n.number("shadow.y").value_or(0)) +
              " " + px(radius) + " " + cssColor(*c) + ")";
  }
  if (!filter.empty()) tag.addStyle("filter", filter);
  if (auto v = n.number("scaleEffect")) tag.addStyle("transform", "scale(" + cssNumber(*v) + ")");

  auto dimension = [&](const char* attr, const char* property) {
    if (auto v = n.number(attr)) {
      if (std::isinf(*v)) return true;
      tag.addStyle(property, px(*v));
    }
    return false;
  };
  dimension("frame.width", "width");
  dimension("frame.height", "height");
  dimension("frame.minWidth", "min-width");
  dimension("frame.minHeight", "min-height");
  if (dimension("frame.maxWidth", "max-width")) tag.addClass("fill-w");
  if (dimension("frame.maxHeight", "max-height")) tag.addClass("fill-h");
  std::string frameAlign = n.string("frame.alignment");
  if (!frameAlign.empty()) tag.addClass("frame-" + classToken(frameAlign));
  for (const auto& [edge, property] : {std::pair{"padding.top", "padding-top"}, std::pair{"padding.bottom", "padding-bottom"},
                                       std::pair{"padding.leading", "padding-inline-start"},
                                       std::pair{"padding.trailing", "padding-inline-end"}}) {
    if (auto v = n.number(edge)) tag.addStyle(property, px(*v));
  }
  std::string clip = n.string("clipShape");
  if (!clip.empty()) {
    tag.addClass("clip-" + classToken(clip));
    if (auto r = n.number("clipShape.cornerRadius")) tag.addStyle("--radius", px(*r));
  }
  std::string variant = n.string("symbolVariant");
  if (!variant.empty()) tag.addClass("variant-" + classToken(variant));
  std::string role = n.string("role");
  if (!role.empty()) tag.addClass("role-" + classToken(role));
  std::string buttonStyle = n.string("buttonStyle");
  if (!buttonStyle.empty()) tag.addClass("btn-" + classToken(buttonStyle));
  std::string size = n.string("controlSize");
  if (!size.empty()) tag.addClass("size-" + classToken(size));
  if (auto v = n.number("spacing")) tag.addStyle("gap", px(*v));
  std::string alignment = n.string("alignment");
  if (!alignment.empty()) tag.addClass("align-" + classToken(alignment));
  std::string transition = n.string("transition");
  if (!transition.empty()) tag.addClass("transition");
  if (const Color* c = n.color("listRowBackground")) tag.addStyle("--row-bg", cssColor(*c));
}

void Writer::node(const Node& n, Context context) {
  if (n.flag("hidden")) return;

  bool actions = !n.slot("swipeActions").empty() || !n.slot("contextMenu").empty();
  bool layered = !n.slot("background").empty() || !n.slot("overlay").empty();
  bool inset = !n.slot("safeAreaInset").empty();
  bool bar = !n.slot("toolbar").empty() && n.kind != NodeKind::navigationPage;

  if (inset) out_ += "<div class=\"inset-host\">";
  if (bar) {
    out_ += "<div class=\"toolbar\">";
    slot(n, "toolbar", Context::bar);
    out_ += "</div>";
  }
  if (actions) {
    Tag host("div", "actions-host");
    if (n.string("swipeActions.allowsFullSwipe") == "true" || n.flag("swipeActions.allowsFullSwipe")) {
      host.addAttribute("data-full-swipe", "true");
    }
    open(host);
  }
  if (layered) {
    // A clip shape cuts the background and overlay too, as they are drawn within the view.
    Tag wrapper("div", "layered");
    std::string clip = n.string("clipShape");
    if (!clip.empty()) {
      wrapper.addClass("clip-" + classToken(clip));
      if (auto r = n.number("clipShape.cornerRadius")) wrapper.addStyle("--radius", px(*r));
    }
    open(wrapper);
    if (!n.slot("background").empty()) {
      out_ += "<div class=\"layer-background\" aria-hidden=\"true\">";
      slot(n, "background");
      out_ += "</div>";
    }
  }

  element(n, context);

  if (layered) {
    if (!n.slot("overlay").empty()) {
      Tag overlay("div", "layer-overlay");
      std::string alignment = n.string("overlay.alignment");
      overlay.addClass("overlay-" + classToken(alignment.empty() ? "center" : alignment));
      open(overlay);
      slot(n, "overlay");
      close(overlay);
    }
    out_ += "</div>";
  }
  if (actions) {
    rowActions(n);
    out_ += "</div>";
  }
  for (const auto& tip : n.slot("popoverTip")) popoverTip(tip);
  if (inset) {
    Tag tag("div", "safe-inset");
    tag.addClass("edge-" + classToken(n.string("safeAreaInset.edge").empty() ? "bottom" : n.string("safeAreaInset.edge")));
    tag.addClass("inset-" + classToken(n.string("safeAreaInset.alignment").empty() ? "center"
                                                                                     : n.string("safeAreaInset.alignment")));
    open(tag);
    slot(n, "safeAreaInset");
    close(tag);
    out_ += "</div>";
  }
}

void Writer::rowActions(const Node& n) {
  // The swipe actions show as a tray that the pointer reveals by swiping the row; the
  // actions button opens them, and the context menu's items, as a menu for the keyboard and a
  // right click.
  const auto& swipe = n.slot("swipeActions");
  const auto& context = n.slot("contextMenu");
  if (!swipe.empty()) {
    out_ += "<div class=\"swipe-tray\" aria-hidden=\"true\">";
    for (const auto& action : swipe) {
      if (action.flag("hidden")) continue;
      Tag tag("button", "swipe-action");
      decorate(action, tag);
      tag.addAttribute("type", "button");
      tag.addAttribute("tabindex", "-1");
      if (!action.actionId.empty()) tag.addAttribute("data-action", action.actionId);
      if (action.flag("disabled")) tag.addFlag("disabled");
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
  if (n.flag("hidden")) return;
  registerAction(n);
  for (const auto& child : n.children) registerActions(child);
  for (const auto& [name, nodes] : n.slots) {
    for (const auto& child : nodes) registerActions(child);
  }
}

namespace {
// What an action says it does: its icons (a filled variant named as the plain one) and texts.
void collectMarks(const Node& n, std::set<std::string>& marks) {
  if (n.flag("hidden")) return;
  if (n.kind == NodeKind::image) {
    std::string name = n.string("systemName");
    if (name.empty()) name = n.string("assetName");
    for (std::size_t at; (at = name.find(".fill")) != std::string::npos;) name.erase(at, 5);
    if (!name.empty()) marks.insert("i:" + name);
  }
  if (const TextContent* text = n.textContent("text")) marks.insert("t:" + text->key);
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
    if (repeated || action.flag("hidden")) continue;
    node(action, Context::menu);
    wroteSwipe = true;
  }
  if (wroteSwipe && !context.empty()) out_ += "<hr class=\"menu-divider\" role=\"separator\">";
  for (const auto& item : context) node(item, Context::menu);
}

void Writer::element(const Node& n, Context context) {
  switch (n.kind) {
    case NodeKind::window: return window(n);
    case NodeKind::navigationStack: return navigationStack(n);
    case NodeKind::navigationPage: return navigationPage(n);
    case NodeKind::tabView: return tabView(n);
    case NodeKind::tab: return children(n);
    case NodeKind::list: return list(n, "list");
    case NodeKind::form: return list(n, "list form");
    case NodeKind::section: return section(n);
    case NodeKind::image: return image(n, Tag("span", "icon"));
    case NodeKind::button:
    case NodeKind::navigationLink:
    case NodeKind::link:
    case NodeKind::pickerOption: return button(n, context);
    case NodeKind::textField: return textField(n);
    case NodeKind::toggle: return toggle(n);
    case NodeKind::picker: return picker(n, context);
    case NodeKind::menu: return menu(n, context);
    case NodeKind::searchField: return searchField(n);
    case NodeKind::sheet: return sheet(n);
    case NodeKind::confirmationDialog: return dialog(n);
    case NodeKind::popoverTip: return popoverTip(n);
    case NodeKind::toolbarItem: return children(n, context);
    default: break;
  }

  Tag tag("div", "");
  switch (n.kind) {
    case NodeKind::scrollView: {
      tag.addClass("scroll");
      tag.addClass(n.string("axis") == "horizontal" ? "scroll-h" : "scroll-v");
      if (n.string("scrollIndicators") == "hidden") tag.addClass("no-indicators");
      std::string target = n.string("scrollTarget");
      if (!target.empty()) tag.addAttribute("data-scroll-target", target);
      break;
    }
    case NodeKind::grid: tag.addClass("grid"); break;
    case NodeKind::gridRow: tag.addClass("grid-row"); break;
    case NodeKind::hStack: tag.addClass("hstack"); break;
    case NodeKind::vStack: tag.addClass("vstack"); break;
    case NodeKind::zStack: tag.addClass("zstack"); break;
    case NodeKind::controlGroup:
      // A menu-style group is one button that opens its items, like a menu.
      if (n.string("style") == "menu") return menu(n, context);
      tag.addClass(context == Context::menu ? "menu-control-group" : "control-group");
      break;
    case NodeKind::spacer:
      tag = Tag("span", "spacer");
      tag.addAttribute("aria-hidden", "true");
      break;
    case NodeKind::divider:
      tag = Tag("hr", context == Context::menu ? "menu-divider" : "divider");
      decorate(n, tag);
      open(tag);
      return;
    case NodeKind::text:
      tag = Tag("span", context == Context::menu ? "text menu-title" : "text");
      break;
    case NodeKind::label:
      tag = Tag("span", context == Context::menu ? "label menu-title" : "label");
      break;
    case NodeKind::labeledContent: tag.addClass("labeled"); break;
    case NodeKind::contentUnavailable: tag.addClass("unavailable"); break;
    case NodeKind::shape: {
      tag = Tag("span", "shape");
      std::string shape = n.string("shape");
      tag.addClass("shape-" + classToken(shape.empty() ? "rectangle" : shape));
      if (auto r = n.number("cornerRadius")) tag.addStyle("--radius", px(*r));
      if (const Color* c = n.color("fill")) tag.addStyle("background", cssColor(*c));
      tag.addAttribute("aria-hidden", "true");
      break;
    }
    case NodeKind::color:
      tag = Tag("span", "color-fill");
      if (const Color* c = n.color("color")) tag.addStyle("background", cssColor(*c));
      tag.addAttribute("aria-hidden", "true");
      break;
    case NodeKind::progressView: {
      tag = Tag("progress", "progress");
      if (auto value = n.number("value")) {
        tag.addAttribute("value", cssNumber(*value));
        tag.addAttribute("max", cssNumber(n.number("total").value_or(1.0)));
      }
      break;
    }
    default:
      tag.addClass(classToken(platform::ui::kindName(n.kind)));
  }
  decorate(n, tag);
  open(tag);
  switch (n.kind) {
    case NodeKind::text:
      if (const auto* t = n.textContent("text")) text(*t);
      break;
    case NodeKind::label:
      out_ += "<span class=\"label-icon\">";
      slot(n, "icon", context);
      out_ += "</span><span class=\"label-title\">";
      slot(n, "title", context);
      out_ += "</span>";
      break;
    case NodeKind::labeledContent: {
      out_ += "<span class=\"labeled-label\">";
      slot(n, "label");
      out_ += "</span><span class=\"labeled-value\">";
      std::string outer = std::exchange(fieldName_, plainText(group(n.slot("label"))));
      children(n);
      fieldName_ = std::move(outer);
      out_ += "</span>";
      break;
    }
    case NodeKind::contentUnavailable:
      out_ += "<div class=\"unavailable-label\">";
      slot(n, "label");
      out_ += "</div><div class=\"unavailable-description\">";
      slot(n, "description");
      out_ += "</div><div class=\"unavailable-actions\">";
      slot(n, "actions");
      out_ += "</div>";
      break;
    case NodeKind::progressView:
    case NodeKind::shape:
    case NodeKind::color:
    case NodeKind::spacer:
      break;
    default:
      children(n, context == Context::bar ? Context::normal : context);
  }
  close(tag);
}

void Writer::window(const Node& n) {
  const auto& presentations = n.slot("presentations");
  Tag content("div", "window-content");
  decorate(n, content);
  if (!presentations.empty()) content.addFlag("inert");
  open(content);
  children(n);
  close(content);
  for (size_t i = 0; i < presentations.size(); ++i) {
    Tag layer("div", "layer");
    layer.addClass(presentations[i].kind == NodeKind::confirmationDialog ? "dialog-layer" : "sheet-layer");
    if (i + 1 < presentations.size()) layer.addFlag("inert");
    open(layer);
    node(presentations[i]);
    close(layer);
  }
}

void Writer::navigationStack(const Node& n) {
  Tag tag("div", "nav-stack");
  decorate(n, tag);
  open(tag);
  children(n);
  close(tag);
}

void Writer::navigationPage(const Node& n) {
  registerAction(n);
  Tag tag("div", "nav-page");
  decorate(n, tag);
  open(tag);
  const TextContent* title = n.textContent("title");
  std::string titleText = title ? strings_.text(*title) : std::string();
  if (!titleText.empty()) page_.title = titleText;
  bool large = n.string("titleDisplayMode") == "large";

  std::vector<const Node*> leading, trailing, bottom;
  for (const auto& item : n.slot("toolbar")) {
    if (item.flag("hidden")) continue;
    std::string placement = item.string("placement");
    if (placement == "topBarLeading" || placement == "navigation" || placement == "cancellationAction") {
      leading.push_back(&item);
    } else if (placement == "bottomBar") {
      bottom.push_back(&item);
    } else {
      trailing.push_back(&item);
    }
  }
  out_ += "<header class=\"nav-bar\"><div class=\"nav-leading\">";
  if (!n.actionId.empty() && !n.flag("backButtonHidden")) {
    Tag back("button", "nav-back");
    back.addAttribute("type", "button");
    back.addAttribute("data-action", n.actionId);
    back.addAttribute("data-event", "dismiss");
    back.addAttribute("aria-label", "Back");
    open(back);
    out_ += "<span class=\"icon chevron-back\" aria-hidden=\"true\" style=\"--icon:url(";
    out_ += icons_.url("chevron.forward");
    out_ += ")\"></span>";
    close(back);
  }
  for (const Node* item : leading) node(*item, Context::bar);
  out_ += "</div><h1 class=\"nav-title";
  if (large) out_ += " hidden-title";
  out_ += "\">";
  appendEscapedHtml(out_, titleText);
  out_ += "</h1><div class=\"nav-trailing\">";
  for (const Node* item : trailing) node(*item, Context::bar);
  out_ += "</div></header>";
  if (large && !titleText.empty()) {
    out_ += "<h1 class=\"large-title\">";
    appendEscapedHtml(out_, titleText);
    out_ += "</h1>";
  }
  slot(n, "search");
  out_ += "<div class=\"nav-content\">";
  children(n);
  out_ += "</div>";
  if (!bottom.empty()) {
    out_ += "<footer class=\"bottom-bar\">";
    for (const Node* item : bottom) node(*item, Context::bar);
    out_ += "</footer>";
  }
  close(tag);
}

void Writer::tabView(const Node& n) {
  Tag tag("div", "tab-view");
  decorate(n, tag);
  open(tag);
  out_ += "<div class=\"tab-content\">";
  for (const auto& tab : n.children) {
    if (!tab.flag("hidden")) node(tab);
  }
  out_ += "</div><nav class=\"tab-bar\" role=\"tablist\">";
  for (const auto& tab : n.children) {
    registerAction(tab);
    Tag item("button", "tab-item");
    item.addAttribute("type", "button");
    item.addAttribute("role", "tab");
    item.addAttribute("aria-selected", tab.flag("selected") ? "true" : "false");
    if (!tab.identity.empty()) item.addAttribute("data-key", uniqueKey(tab.identity + "#item"));
    if (!tab.actionId.empty()) item.addAttribute("data-action", tab.actionId);
    open(item);
    for (const auto& label : tab.slot("tabItem")) node(label);
    close(item);
  }
  out_ += "</nav>";
  close(tag);
}

void Writer::list(const Node& n, std::string_view base) {
  Tag tag("div", base);
  std::string style = n.string("listStyle");
  if (!style.empty()) tag.addClass("list-" + classToken(style));
  std::string spacing = n.string("listSectionSpacing");
  if (!spacing.empty()) tag.addClass("sections-" + classToken(spacing));
  decorate(n, tag);
  // A lazy list names its row count and takes the first row the page shows; its rows say
  // where they stand in it, so assistive technology knows the list's length.
  const auto* count = n.attr("rowCount") ? std::get_if<std::int64_t>(n.attr("rowCount")) : nullptr;
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
    if (child.flag("hidden")) continue;
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
    slot(n, "header");
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
    if (!child.flag("hidden")) previous = &child;
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
  if (n.flag("hidden")) return;
  if (n.kind == NodeKind::spacer && n.attr("placeholderRows")) {
    // Rows of a lazy list that are not on the page: the room they take, kept by the client.
    Tag gap("div", "row-placeholder");
    gap.addAttribute("data-key", uniqueKey(n.identity));
    gap.addAttribute("data-first", cssNumber(n.number("firstRow").value_or(0)));
    gap.addAttribute("data-rows", cssNumber(n.number("placeholderRows").value_or(0)));
    gap.addStyle("--rows", cssNumber(n.number("placeholderRows").value_or(0)));
    gap.addAttribute("aria-hidden", "true");
    open(gap);
    close(gap);
    return;
  }
  Tag tag("div", "row");
  if (n.attr("rowIndex") && rowCount_ >= 0) {
    // Keyed, so that the client keeps the rows it has when the window moves. The client numbers
    // the rows (their place and the list's size, for assistive technology) from the
    // placeholders around them, so that a row's HTML stays the same when rows come or go
    // before it.
    tag.addAttribute("data-key", uniqueKey(n.identity + "^"));
    tag.addAttribute("role", "listitem");
  }
  if (n.string("listRowSeparator") == "hidden") tag.addClass("no-separator");
  if (const Color* c = n.color("listRowBackground")) tag.addStyle("background", cssColor(*c));
  if (n.number("listRowInsets.top") || n.number("listRowInsets.leading")) tag.addClass("custom-insets");
  for (const auto& [edge, property] : {std::pair{"listRowInsets.top", "padding-top"}, std::pair{"listRowInsets.bottom", "padding-bottom"},
                                       std::pair{"listRowInsets.leading", "padding-inline-start"},
                                       std::pair{"listRowInsets.trailing", "padding-inline-end"}}) {
    if (auto v = n.number(edge)) tag.addStyle(property, px(*v));
  }
  open(tag);
  node(n);
  close(tag);
}

void Writer::image(const Node& n, Tag tag) {
  std::string name = n.string("systemName");
  if (name.empty()) name = n.string("assetName");
  decorate(n, tag);
  if (isArtwork(name)) {
    Tag img("img", "artwork");
    img.style = tag.style;
    img.addClass(tag.classes);
    img.addAttribute("src", icons_.url(name));
    img.addAttribute("alt", "");
    open(img);
    return;
  }
  tag.addStyle("--icon", "url(" + icons_.url(name) + ")");
  // The plain circle filled is a disc; the icon table has only its outline.
  if (name == "circle") tag.addClass("sym-circle");
  // A symbol in a fixed frame keeps its own size, centred in the frame.
  if (n.number("frame.width") || n.number("frame.height")) tag.addClass("framed");
  tag.addAttribute("aria-hidden", "true");
  open(tag);
  close(tag);
}

void Writer::button(const Node& n, Context context) {
  registerAction(n);
  bool disabled = n.flag("disabled");
  if (n.kind == NodeKind::link) {
    Tag tag("a", "link");
    decorate(n, tag);
    std::string url = n.string("url");
    if (isSafeLinkUrl(url)) {
      tag.addAttribute("href", url);
      tag.addAttribute("target", "_blank");
      tag.addAttribute("rel", "noopener noreferrer");
    }
    if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
    if (context == Context::menu) tag.addAttribute("role", "menuitem");
    if (disabled) tag.addAttribute("aria-disabled", "true");
    open(tag);
    children(n);
    close(tag);
    return;
  }
  // A row whose label holds controls of its own (a card with buttons and menus) cannot be a
  // <button>: the browser would move the inner controls out of it. It becomes a focusable
  // element with the button role instead, which the client activates with Enter and Space.
  const bool container = n.kind == NodeKind::navigationLink && context != Context::menu &&
                         (holdsControls(n.children) || holdsControls(n.slot("label")));
  Tag tag(container ? "div" : "button", n.kind == NodeKind::navigationLink ? "nav-link" : "button");
  if (context == Context::menu) {
    tag.addClass("menu-item");
    tag.addAttribute("role", n.kind == NodeKind::pickerOption ? "menuitemradio" : "menuitem");
    if (n.kind == NodeKind::pickerOption) tag.addAttribute("aria-checked", n.flag("selected") ? "true" : "false");
  } else if (context == Context::bar) {
    tag.addClass("bar-item");
  }
  decorate(n, tag);
  if (container) {
    tag.addAttribute("role", "button");
    tag.addAttribute("tabindex", disabled ? "-1" : "0");
    if (disabled) tag.addAttribute("aria-disabled", "true");
  } else {
    tag.addAttribute("type", "button");
  }
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  if (disabled && !container) tag.addFlag("disabled");
  if (!hasText(n)) {
    if (auto symbol = firstSymbol(n)) {
      tag.addAttribute("aria-label", iconName(*symbol));
    } else if (auto colour = firstFill(n)) {
      // A colour swatch: named by its colour.
      tag.addAttribute("aria-label", colour->spoken);
    }
  }
  open(tag);
  if (n.kind == NodeKind::pickerOption && context == Context::menu) {
    out_ += "<span class=\"check\" aria-hidden=\"true\"></span>";
  }
  children(n);
  if (n.kind == NodeKind::navigationLink) {
    out_ += "<span class=\"icon chevron\" aria-hidden=\"true\" style=\"--icon:url(";
    out_ += icons_.url("chevron.forward");
    out_ += ")\"></span>";
  }
  close(tag);
}

void Writer::textField(const Node& n) {
  registerAction(n);
  bool multiline = n.string("axis") == "vertical";
  Tag tag(multiline ? "textarea" : "input", "field");
  decorate(n, tag);
  if (!multiline) tag.addAttribute("type", "text");
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  std::string name = fieldName_;
  if (const auto* placeholder = n.textContent("placeholder")) {
    std::string text = strings_.text(*placeholder);
    tag.addAttribute("placeholder", text);
    if (name.empty()) name = text;
  }
  if (!name.empty()) tag.addAttribute("aria-label", name);
  if (n.flag("focused")) tag.addAttribute("data-focused", "true");
  if (auto limit = n.number("maxLength")) tag.addAttribute("data-max-length", cssNumber(*limit));
  std::string keyboard = n.string("keyboardType");
  if (keyboard == "decimalPad") tag.addAttribute("inputmode", "decimal");
  if (keyboard == "numberPad") tag.addAttribute("inputmode", "numeric");
  std::string caps = n.string("autocapitalization");
  if (caps == "never") tag.addAttribute("autocapitalize", "off");
  if (caps == "words" || caps == "sentences" || caps == "characters") tag.addAttribute("autocapitalize", caps);
  std::string submit = n.string("submitLabel");
  if (!submit.empty()) tag.addAttribute("enterkeyhint", submit == "return" ? "enter" : classToken(submit));
  tag.addAttribute("autocomplete", "off");
  if (n.flag("disabled")) tag.addFlag("disabled");
  std::string value = n.string("value");
  if (multiline) {
    tag.addAttribute("rows", "2");
    open(tag);
    appendEscapedHtml(out_, value);
    close(tag);
  } else {
    tag.addAttribute("value", value);
    open(tag);
  }
}

void Writer::toggle(const Node& n) {
  registerAction(n);
  Tag tag("label", "toggle");
  decorate(n, tag);
  open(tag);
  out_ += "<span class=\"toggle-label\">";
  children(n);
  out_ += "</span>";
  Tag input("input", "switch");
  input.addAttribute("type", "checkbox");
  input.addAttribute("role", "switch");
  if (!n.actionId.empty()) input.addAttribute("data-action", n.actionId);
  if (n.flag("isOn")) input.addFlag("checked");
  if (n.flag("disabled")) input.addFlag("disabled");
  open(input);
  close(tag);
}

void Writer::picker(const Node& n, Context context) {
  std::string style = n.string("style");
  bool labelsHidden = n.flag("labelsHidden");
  if (context == Context::menu) {
    // Inside a menu the options are checkable items under the picker's title.
    Tag group("div", "menu-group");
    decorate(n, group);
    group.addAttribute("role", "group");
    open(group);
    if (!labelsHidden && !n.slot("label").empty()) {
      out_ += "<div class=\"menu-title\">";
      slot(n, "label");
      out_ += "</div>";
    }
    for (const auto& option : n.children) node(option, Context::menu);
    close(group);
    return;
  }
  if (style == "segmented") {
    Tag tag("div", "segmented");
    decorate(n, tag);
    tag.addAttribute("role", "radiogroup");
    std::string label = plainText(group(n.slot("label")));
    if (!label.empty()) tag.addAttribute("aria-label", label);
    open(tag);
    for (const auto& option : n.children) {
      if (option.flag("hidden")) continue;
      registerAction(option);
      Tag segment("button", "segment");
      decorate(option, segment);
      segment.addAttribute("type", "button");
      segment.addAttribute("role", "radio");
      segment.addAttribute("aria-checked", option.flag("selected") ? "true" : "false");
      if (!option.actionId.empty()) segment.addAttribute("data-action", option.actionId);
      if (!hasText(option)) {
        if (auto symbol = firstSymbol(option)) segment.addAttribute("aria-label", iconName(*symbol));
      }
      if (option.flag("disabled") || n.flag("disabled")) segment.addFlag("disabled");
      open(segment);
      children(option);
      close(segment);
    }
    close(tag);
    return;
  }
  // A menu-style picker is a native select: one option per choice, valued by its action id;
  // choosing one posts a tap on that id.
  Tag tag("label", "picker");
  decorate(n, tag);
  open(tag);
  out_ += labelsHidden ? "<span class=\"picker-label visually-hidden\">" : "<span class=\"picker-label\">";
  slot(n, "label");
  out_ += "</span>";
  Tag select("select", "picker-select");
  select.addAttribute("data-picker", "true");
  if (!hasText(group(n.slot("label")))) {
    // A choice labelled by an icon alone: named by its row, or by what the icon stands for.
    std::string name = fieldName_;
    if (auto symbol = firstSymbol(group(n.slot("label"))); name.empty() && symbol) name = iconName(*symbol);
    if (!name.empty()) select.addAttribute("aria-label", name);
  }
  if (n.flag("disabled")) select.addFlag("disabled");
  open(select);
  bool anySelected = false;
  for (const auto& option : n.children) anySelected = anySelected || option.flag("selected");
  if (!anySelected) out_ += "<option value=\"\" selected disabled hidden></option>";
  for (const auto& option : n.children) {
    if (option.flag("hidden")) continue;
    registerAction(option);
    Tag item("option", "");
    item.addAttribute("value", option.actionId);
    if (option.flag("selected")) item.addFlag("selected");
    if (option.flag("disabled")) item.addFlag("disabled");
    open(item);
    appendEscapedHtml(out_, plainText(option));
    close(item);
  }
  close(select);
  close(tag);
}

void Writer::menu(const Node& n, Context context) {
  registerAction(n);
  Tag tag("div", context == Context::menu ? "menu submenu" : "menu");
  decorate(n, tag);
  open(tag);
  Tag trigger("button", "menu-button");
  if (context == Context::menu) {
    trigger.addClass("menu-item");
    trigger.addAttribute("role", "menuitem");
  } else if (context == Context::bar) {
    trigger.addClass("bar-item");
  }
  trigger.addAttribute("type", "button");
  trigger.addAttribute("aria-haspopup", "menu");
  trigger.addAttribute("aria-expanded", "false");
  if (n.flag("disabled")) trigger.addFlag("disabled");
  Node labelNode = group(n.slot("label"));
  if (!hasText(labelNode)) {
    if (auto symbol = firstSymbol(labelNode)) trigger.addAttribute("aria-label", iconName(*symbol));
  }
  open(trigger);
  slot(n, "label");
  close(trigger);
  out_ += "<div class=\"menu-popup\" role=\"menu\" hidden>";
  children(n, Context::menu);
  out_ += "</div>";
  close(tag);
}

void Writer::searchField(const Node& n) {
  registerAction(n);
  Tag tag("div", "search");
  decorate(n, tag);
  open(tag);
  Tag input("input", "search-input");
  input.addAttribute("type", "search");
  if (!n.actionId.empty()) input.addAttribute("data-action", n.actionId);
  if (const auto* prompt = n.textContent("prompt")) {
    std::string text = strings_.text(*prompt);
    input.addAttribute("placeholder", text);
    input.addAttribute("aria-label", text);
  }
  if (n.flag("focused")) input.addAttribute("data-focused", "true");
  if (auto limit = n.number("maxLength")) input.addAttribute("data-max-length", cssNumber(*limit));
  input.addAttribute("autocomplete", "off");
  input.addAttribute("value", n.string("value"));
  open(input);
  if (n.flag("presented")) {
    Tag cancel("button", "search-cancel");
    cancel.addAttribute("type", "button");
    if (!n.actionId.empty()) cancel.addAttribute("data-action", n.actionId);
    cancel.addAttribute("data-event", "dismiss");
    open(cancel);
    appendEscapedHtml(out_, strings_.lookup("localizable_cancel"));
    close(cancel);
  }
  close(tag);
}

void Writer::sheet(const Node& n) {
  registerAction(n);
  Tag tag("div", "sheet");
  std::string sizing = n.string("sizing");
  tag.addClass("sizing-" + classToken(sizing.empty() ? "automatic" : sizing));
  decorate(n, tag);
  tag.addAttribute("role", "dialog");
  tag.addAttribute("aria-modal", "true");
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  tag.addAttribute("data-dismissable", n.flag("interactiveDismissDisabled") ? "false" : "true");
  tag.addAttribute("tabindex", "-1");
  open(tag);
  children(n);
  close(tag);
}

void Writer::dialog(const Node& n) {
  registerAction(n);
  Tag tag("div", "dialog");
  decorate(n, tag);
  tag.addAttribute("role", "alertdialog");
  tag.addAttribute("aria-modal", "true");
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  tag.addAttribute("data-dismissable", "true");
  tag.addAttribute("tabindex", "-1");
  open(tag);
  std::string visibility = n.string("titleVisibility");
  if (const auto* title = n.textContent("title"); title && visibility != "hidden") {
    out_ += "<h2 class=\"dialog-title\">";
    text(*title);
    out_ += "</h2>";
  }
  if (!n.slot("message").empty()) {
    out_ += "<div class=\"dialog-message\">";
    slot(n, "message");
    out_ += "</div>";
  }
  // Cancel comes last, set apart, as on the phone.
  out_ += "<div class=\"dialog-actions\">";
  for (const auto& b : n.children) {
    if (b.string("role") != "cancel") node(b);
  }
  for (const auto& b : n.children) {
    if (b.string("role") == "cancel") node(b);
  }
  out_ += "</div>";
  close(tag);
}

void Writer::popoverTip(const Node& n) {
  if (n.flag("hidden")) return;
  registerAction(n);
  Tag tag("div", "tip");
  decorate(n, tag);
  tag.addAttribute("role", "note");
  std::string edge = n.string("arrowEdge");
  if (!edge.empty()) tag.addClass("arrow-" + classToken(edge));
  open(tag);
  std::string imageName = n.string("imageAsset");
  if (!imageName.empty()) {
    Node picture;
    picture.kind = NodeKind::image;
    picture.attrs["assetName"] = imageName;
    image(picture, Tag("span", "icon tip-image"));
  }
  out_ += "<div class=\"tip-text\">";
  if (const auto* title = n.textContent("title")) {
    out_ += "<strong class=\"tip-title\">";
    text(*title);
    out_ += "</strong>";
  }
  if (const auto* message = n.textContent("message")) {
    out_ += "<p class=\"tip-message\">";
    text(*message);
    out_ += "</p>";
  }
  out_ += "</div>";
  if (!n.actionId.empty()) {
    Tag close("button", "tip-close");
    close.addAttribute("type", "button");
    close.addAttribute("data-action", n.actionId);
    close.addAttribute("data-event", "dismiss");
    close.addAttribute("aria-label", "Close");
    open(close);
    out_ += "<span class=\"icon\" aria-hidden=\"true\" style=\"--icon:url(";
    out_ += icons_.url("xmark");
    out_ += ")\"></span>";
    this->close(close);
  }
  children(n);
  close(tag);
}

}  // namespace

std::string cssColor(const Color& color) {
  std::string base;
  if (color.kind == Color::Kind::asset) {
    if (!paletteColor(color.name)) return {};
    base = "var(--c-" + color.name + ")";
  } else {
    static const std::pair<std::string_view, std::string_view> system[] = {
        {"primary", "var(--label)"},     {"secondary", "var(--label-secondary)"},
        {"tertiary", "var(--label-tertiary)"}, {"white", "#fff"},
        {"black", "#000"},               {"clear", "transparent"},
        {"red", "var(--system-red)"},    {"accent", "var(--tint)"},
        {"gray", "var(--system-gray)"},
        {"regularMaterial", "var(--material-regular)"},
    };
    for (const auto& [name, value] : system) {
      if (name == color.name) base = value;
    }
    if (base.empty()) return {};
  }
  if (color.opacity < 1.0) {
    double percent = std::max(0.0, color.opacity) * 100.0;
    base = "color-mix(in srgb," + base + " " + cssNumber(percent) + "%,transparent)";
  }
  if (color.gradient) {
    return "linear-gradient(180deg,color-mix(in srgb," + base + ",#fff 16%)," + base + " 55%,color-mix(in srgb," +
           base + ",#000 10%))";
  }
  return base;
}

bool isSafeLinkUrl(const std::string& url) {
  for (std::string_view scheme : {"https://", "http://", "mailto:"}) {
    if (url.size() > scheme.size() && url.compare(0, scheme.size(), scheme) == 0) return true;
  }
  return false;
}

const std::string* KeyTable::identityOf(const std::string& key) const {
  auto found = identities_.find(key);
  return found == identities_.end() ? nullptr : &found->second;
}

const std::string& KeyTable::keyFor(const std::string& identity) {
  constexpr std::size_t kMostKeys = 200000;
  if (keys_.size() >= kMostKeys && !keys_.count(identity)) {
    keys_.clear();
    identities_.clear();
  }
  auto [at, added] = keys_.try_emplace(identity);
  if (added) {
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string key;
    for (std::uint64_t n = next_++;; n /= 36) {
      key.insert(key.begin(), digits[n % 36]);
      if (n < 36) break;
    }
    at->second = "k" + key;
    identities_.emplace(at->second, identity);
  }
  return at->second;
}

namespace {
const Node* findRowWithActions(const Node& n, const std::string& identity) {
  if (n.identity == identity && (!n.slot("swipeActions").empty() || !n.slot("contextMenu").empty())) return &n;
  for (const auto& child : n.children) {
    if (const Node* found = findRowWithActions(child, identity)) return found;
  }
  for (const auto& [name, nodes] : n.slots) {
    for (const auto& child : nodes) {
      if (const Node* found = findRowWithActions(child, identity)) return found;
    }
  }
  return nullptr;
}
}  // namespace

std::optional<std::string> HtmlRenderer::renderRowMenu(const Node& root, const std::string& key) const {
  const std::string* identity = keys_->identityOf(key);
  const Node* row = identity ? findRowWithActions(root, *identity) : nullptr;
  if (!row) return std::nullopt;
  Page page;
  Writer writer(strings_, icons_, *keys_, page);
  writer.omitKeys();
  writer.rowMenuItems(*row);
  return std::move(page.html);
}

Page HtmlRenderer::render(const Node& root) const {
  Page page;
  page.html.reserve(16 * 1024);
  Writer writer(strings_, icons_, *keys_, page);
  writer.node(root);
  if (page.title.empty()) page.title = "Brivel";
  return page;
}

}  // namespace web
