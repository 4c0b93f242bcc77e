// The rendered view tree: what a screen looks like after one render, as plain data.
//
// A ViewRuntime (runtime.h) evaluates a screen's body into a tree of Node values. Renderers
// (the web front, the test driver) only read this tree; they never call into views. Every
// node that the user can act on carries an `actionId`; a renderer sends that id back with an
// ActionEvent and the runtime runs the matching handler on the main thread, then renders
// again. Action ids are stable across renders (they follow the view's identity) and unique
// within one render; the runtime accepts only ids of its latest render.
//
// Shape of a tree:
//   window                       the root the runtime returns
//     children[0..]              the root content
//     slot "presentations"       sheets and confirmation dialogs, bottom-most first
//   navigationStack
//     children                   one navigationPage per stack level, root first; every page
//                                but the last has attr "hidden" = true
//   navigationPage               attrs "title" (TextContent), "titleDisplayMode",
//                                "backButtonHidden"; slots "toolbar" (toolbarItem nodes),
//                                "search" (one searchField); pushed pages are actionable
//                                (dismiss = back)
//   tabView > tab                tab: slot "tabItem", children the content, attr "selected";
//                                the content of unselected tabs has "hidden" = true; tap selects
//   list                         children the rows and sections; a list with a ForEach of
//                                rows builds only a window of them (see "Lazy rows" below)
//   section                      slots "header", "footer"; children the rows
//   label                        slots "title", "icon"
//   labeledContent               slot "label"; children the value
//   button / link /
//   navigationLink / toggle      children are the label
//   menu                         slot "label"; children the items (buttons, dividers, menus,
//                                pickers)
//   picker                       slot "label"; children pickerOption nodes (attr "selected",
//                                children the option's label; tap selects)
//   contentUnavailable           slots "label", "description", "actions"
//   sheet                        children the content; attrs "sizing", "interactiveDismissDisabled"
//   confirmationDialog           attrs "title", "titleVisibility"; slot "message"; children buttons
//
// Lazy rows: inside a List, the rows a ForEach puts straight into the list or into one of
// its sections are numbered across the whole list, and only those in the list's window
// (the rows around the first row the page shows, plus rows that present a sheet, a dialog or
// the pushed page) are built. Each built row carries attr "rowIndex"; each run of rows left
// out is one `spacer` node with attrs "placeholderRows" (how many) and "firstRow". Such a list
// carries "rowCount" (all its numbered rows) and is actionable: a `scroll` event with the
// index of the first row the page shows moves the window, and the number of rows the page's
// window holds (ActionEvent::rowsShown), when given, sizes it.
//
// Modifier slots any node may carry: "overlay", "safeAreaInset", "background", "contextMenu",
// "swipeActions", "popoverTip", "toolbar" (only outside a navigation stack). Attributes are
// named by `Attr` (node_attributes.h); their value types are listed in platform/ui/README.md.
//
// Accepted events: the runtime writes into every actionable node the events its handlers take
// (`accepts`), so a renderer or a server checks an event against the node itself.
//
// Thread: a tree is an immutable value once returned; it may be read on any thread.
#pragma once

#include <cstdint>
#include <map>
#include <type_traits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/ui/node_attributes.h"

namespace platform::ui {

enum class NodeKind {
  // Structure.
  window,
  navigationStack,
  navigationPage,
  tabView,
  tab,
  list,
  form,
  section,
  scrollView,
  grid,
  gridRow,
  hStack,
  vStack,
  zStack,
  spacer,
  divider,
  // Content.
  text,
  image,
  label,
  labeledContent,
  contentUnavailable,
  shape,
  color,
  progressView,
  // Controls.
  button,
  link,
  navigationLink,
  textField,
  toggle,
  picker,
  pickerOption,
  menu,
  controlGroup,
  searchField,
  // Presentations and bars.
  sheet,
  confirmationDialog,
  popoverTip,
  toolbarItem,
};

// Stable lower-camel-case name of a kind ("navigationStack"), for renderers and messages.
std::string_view kindName(NodeKind kind);

// A text as a view shows it: either a localization key with its arguments, looked up in
// the app's string table by the renderer, or a verbatim string shown as it stands.
// Arguments fill the key's placeholders ("%lld", "%@") in order, already formatted.
struct TextContent {
  std::string key;
  std::vector<std::string> args;
  bool verbatim = false;

  friend bool operator==(const TextContent&, const TextContent&) = default;
};

// A colour as a view names it. `asset` colours are the app's named colours ("sonicBlue");
// `system` colours are "primary", "secondary", "tertiary", "white", "black", "clear", "red",
// "accent" (the inherited accent colour) and "regularMaterial" (a translucent blurred fill). `gradient` asks for the colour's own subtle
// gradient; `opacity` multiplies the colour's alpha.
struct Color {
  enum class Kind { asset, system };
  Kind kind = Kind::system;
  std::string name = "primary";
  bool gradient = false;
  double opacity = 1.0;

  static Color asset(std::string name) { return Color{Kind::asset, std::move(name)}; }
  static Color system(std::string name) { return Color{Kind::system, std::move(name)}; }
  // The colour's own subtle gradient (a platform colour's `.gradient`).
  Color withGradient() const {
    Color c = *this;
    c.gradient = true;
    return c;
  }
  Color withOpacity(double value) const {
    Color c = *this;
    c.opacity = value;
    return c;
  }

  friend bool operator==(const Color&, const Color&) = default;
};

using AttrValue =
    std::variant<bool, std::int64_t, double, std::string, Color, TextContent, Font, TextAlignment, Alignment,
                 SymbolVariant, SymbolRenderingMode, ButtonStyle, ControlSize, PickerStyle, ControlGroupStyle,
                 TextInputAutocapitalization, SubmitLabel, KeyboardType, ScrollDismissesKeyboard, ListStyle,
                 ListSectionSpacing, ScrollBounceBehavior, Animation, Transition, ContentTransition,
                 ScrollTransition, SymbolEffect, SearchFieldPlacement, ShapeKind, CornerStyle, Axis, ButtonRole,
                 ToolbarPlacement, TitleDisplayMode, PresentationSizing, Visibility, Edge>;

// The text of a value as a JSON dump or a message shows it: closed-set values and edges by
// their names, colours and texts by their key or name.
std::string describe(const AttrValue& value);

// A node's attributes: a small flat table keyed by `Attr`, in the order they were first set.
// Nodes carry a handful each, so a lookup is a short scan without allocation.
class AttrTable {
 public:
  using Entry = std::pair<Attr, AttrValue>;

  const AttrValue* find(Attr name) const;
  bool contains(Attr name) const { return find(name) != nullptr; }
  // The value of `name`, added (as false) when absent.
  AttrValue& operator[](Attr name);
  void erase(Attr name);
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }

  friend bool operator==(const AttrTable&, const AttrTable&) = default;

 private:
  std::vector<Entry> entries_;
};

// What an actionable node takes, as written by the runtime from its handlers.
struct Accepts {
  enum class Value : std::uint8_t { none, text, flag };

  bool tap = false;
  bool dismiss = false;   // also when the node refuses it now (a sheet that cannot be closed)
  bool submit = false;
  bool focus = false;
  bool scroll = false;    // a lazy list: the index of the first row the page shows
  Value value = Value::none;  // what a setValue event carries

  bool any() const { return tap || dismiss || submit || focus || scroll || value != Value::none; }
  friend bool operator==(const Accepts&, const Accepts&) = default;
};

struct Node {
  NodeKind kind = NodeKind::vStack;

  // Structural identity: a path of segments from the root, stable across renders for the
  // same view. Contains ForEach ids, so treat it as untrusted text when printing it.
  std::string identity;
  // Non-empty on actionable nodes; what a renderer posts back.
  std::string actionId;
  // The events the node's action id takes (nothing on a node without one).
  Accepts accepts;

  AttrTable attrs;
  std::vector<Node> children;
  // Non-zero on the nodes a memoised view (memo.h) produced: the same number on every copy
  // it repeats, a new one each time it builds again, never used twice. A renderer may keep
  // what it made of a subtree and reuse it while every node below carries the numbers it had
  // then and the subtree's top node the same attributes (views around the memoised one may
  // set those; a modifier that edits a node further down clears its number).
  std::uint64_t memoStamp = 0;
  std::map<std::string, std::vector<Node>, std::less<>> slots;

  // Attribute accessors; each answers the fallback when the attribute is absent or of
  // another type.
  const AttrValue* attr(Attr name) const { return attrs.find(name); }
  bool flag(Attr name) const;  // false when absent
  // A text, or the name of a closed-set value or an edge ("headline", "circle.fill").
  std::string string(Attr name) const;
  std::optional<double> number(Attr name) const;  // int64 or double
  const Color* color(Attr name) const;
  const TextContent* textContent(Attr name) const;
  // A closed-set value (Font, Alignment, ...) or an edge.
  template <class E>
    requires(ClosedSetValue<E> || std::is_same_v<E, Edge>)
  std::optional<E> choice(Attr name) const {
    const AttrValue* v = attr(name);
    const E* e = v ? std::get_if<E>(v) : nullptr;
    return e ? std::optional<E>(*e) : std::nullopt;
  }
  // The nodes of a slot, or an empty list.
  const std::vector<Node>& slot(std::string_view name) const;

  friend bool operator==(const Node&, const Node&) = default;
};

// What a renderer sends back for an actionable node.
enum class EventKind {
  tap,       // buttons, links, navigation links, menu items, picker options, tabs; flips a toggle
  setValue,  // toggle (bool), text or search field (string)
  submit,    // return key in a text field
  focus,     // a text or search field gained (true) or lost (false) focus
  dismiss,   // close a sheet interactively, cancel a dialog, go back from a pushed page,
             // close a popover tip, cancel a search
  scroll,    // a lazy list: the page now shows this row (int64, from 0) first
};

using EventValue = std::variant<std::monostate, bool, std::string, std::int64_t>;

struct ActionEvent {
  std::string actionId;
  EventKind kind = EventKind::tap;
  EventValue value;
  // A scroll: how many rows the page's window holds; 0 when the page did not say.
  std::int64_t rowsShown = 0;
};

enum class DispatchStatus {
  handled,
  unknownAction,  // not an action id of the latest render
  disabled,       // the node is disabled
  refused,        // the node does not take this kind of event or value (for example the
                  // interactive dismissal of a sheet that disables it)
};

std::string_view statusName(DispatchStatus status);

}  // namespace platform::ui
