#include "platform/ui/view.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "platform/ui/internal/view_parts.h"
#include "platform/ui/services.h"

namespace platform::ui {

using namespace detail;

// ----- Leaf and container views -----

View Closure(std::string name, std::function<View(Context&)> body) {
  return View(std::make_shared<detail::ClosureComponent>(std::move(name), std::move(body)));
}

TextContent localized(std::string key, std::vector<std::string> args) {
  return TextContent{std::move(key), std::move(args), false};
}
TextContent verbatim(std::string text) { return TextContent{std::move(text), {}, true}; }

namespace {
View leaf(NodeKind kind, AttrTable attrs) {
  return make([kind, attrs](Builder&, const std::string& path, std::vector<Node>& out) {
    Node n = node(kind, path);
    n.attrs = attrs;
    out.push_back(std::move(n));
  });
}

View container(NodeKind kind, std::vector<View> children, AttrTable attrs = {}) {
  return make([kind, children, attrs](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(kind, path);
    n.attrs = attrs;
    buildChildren(b, path, children, n.children);
    out.push_back(std::move(n));
  });
}
}  // namespace

namespace {
AttrTable attrsOf(std::initializer_list<std::pair<Attr, AttrValue>> values) {
  AttrTable attrs;
  for (const auto& [name, value] : values) attrs[name] = value;
  return attrs;
}
}  // namespace

View Text(TextContent text) { return leaf(NodeKind::text, attrsOf({{Attr::text, std::move(text)}})); }
View Verbatim(std::string text) { return Text(verbatim(std::move(text))); }
View SystemImage(std::string name) { return leaf(NodeKind::image, attrsOf({{Attr::systemName, std::move(name)}})); }
View AssetImage(std::string name) { return leaf(NodeKind::image, attrsOf({{Attr::assetName, std::move(name)}})); }

View ShapeView(Shape shape, std::optional<Color> fill) {
  AttrTable attrs = attrsOf({{Attr::shape, shape.kind}});
  if (shape.kind == ShapeKind::roundedRectangle) attrs[Attr::cornerRadius] = shape.cornerRadius;
  if (shape.continuous) attrs[Attr::cornerStyle] = CornerStyle::continuous;
  if (fill) attrs[Attr::fill] = *fill;
  return leaf(NodeKind::shape, std::move(attrs));
}

View ColorView(Color color) { return leaf(NodeKind::color, attrsOf({{Attr::color, std::move(color)}})); }
View Spacer() { return leaf(NodeKind::spacer, {}); }
View Divider() { return leaf(NodeKind::divider, {}); }
View ProgressView(double value, double total) {
  return leaf(NodeKind::progressView, attrsOf({{Attr::value, value}, {Attr::total, total}}));
}

namespace {
AttrTable stackAttrs(std::optional<double> spacing, Alignment alignment) {
  AttrTable attrs = attrsOf({{Attr::alignment, alignment}});
  if (spacing) attrs[Attr::spacing] = *spacing;
  return attrs;
}
}  // namespace

View VStack(std::vector<View> children, std::optional<double> spacing, Alignment alignment) {
  return container(NodeKind::vStack, std::move(children), stackAttrs(spacing, alignment));
}
View HStack(std::vector<View> children, std::optional<double> spacing, Alignment alignment) {
  return container(NodeKind::hStack, std::move(children), stackAttrs(spacing, alignment));
}
View ZStack(std::vector<View> children, Alignment alignment) {
  return container(NodeKind::zStack, std::move(children), attrsOf({{Attr::alignment, alignment}}));
}
View Group(std::vector<View> children) {
  return make([children](Builder& b, const std::string& path, std::vector<Node>& out) {
    buildChildren(b, path, children, out);
  });
}
namespace {
// A lazy list builds the rows the page's window holds, from the first one it shows, and an
// overscan of half a window (at least a few rows) on either side, so that the page carries
// about two windows of rows. The page says how many rows its window holds when it scrolls;
// until it has, the list takes a phone screen's worth.
constexpr std::int64_t kPhoneRowsShown = 10;
constexpr std::int64_t kMinOverscan = 3;
std::int64_t overscanFor(std::int64_t rowsShown) { return std::max(kMinOverscan, (rowsShown + 1) / 2); }
}  // namespace

View List(std::vector<View> children) {
  return make([children](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::list, path);
    auto shown = b.stateBox<std::int64_t>(path + ".firstShownRow", [] { return std::int64_t{0}; });
    auto perWindow = b.stateBox<std::int64_t>(path + ".rowsShown", [] { return kPhoneRowsShown; });
    const std::int64_t overscan = overscanFor(perWindow->value);
    detail::LazyRows rows;
    rows.path = path;
    rows.first = std::max<std::int64_t>(0, shown->value - overscan);
    rows.end = shown->value + perWindow->value + overscan;
    {
      ScopeGuard guard(b);
      b.scope.lazy = &rows;
      b.scope.lazyRowsOut = &n.children;
      b.scope.lazyInSection = false;
      buildChildren(b, path, children, n.children);
    }
    if (rows.any) {
      n.attrs[Attr::rowCount] = rows.next;
      if (shown->value > 0 && rows.first >= rows.next) {
        // The list got shorter than where the page was: show its end instead.
        shown->value = std::max<std::int64_t>(0, rows.next - perWindow->value);
        shown->changed();
      }
      Handlers h;
      h.scroll = [shown, perWindow](std::int64_t row, std::int64_t rowsShown) {
        if (rowsShown > 0 && rowsShown != perWindow->value) {
          perWindow->value = rowsShown;
          perWindow->changed();
        }
        if (row == shown->value) return;
        shown->value = row;
        shown->changed();
      };
      b.registerAction(n, std::move(h));
    }
    out.push_back(std::move(n));
  });
}
View Form(std::vector<View> children) { return container(NodeKind::form, std::move(children)); }

View Section(std::vector<View> rows, View header, View footer) {
  return make([rows, header, footer](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::section, path);
    header.build(b, path + "/header", n.slots["header"]);
    {
      // A section straight in a lazy list holds rows of that list; any other section (in a
      // sheet or a row of the list) does not.
      auto* outerRows = b.scope.lazyRowsOut;
      const bool outerInSection = b.scope.lazyInSection;
      const bool rowsOfList = b.scope.lazy && &out == outerRows && !outerInSection;
      b.scope.lazyRowsOut = rowsOfList ? &n.children : nullptr;
      b.scope.lazyInSection = rowsOfList;
      buildChildren(b, path, rows, n.children);
      b.scope.lazyRowsOut = outerRows;
      b.scope.lazyInSection = outerInSection;
    }
    footer.build(b, path + "/footer", n.slots["footer"]);
    if (n.slots["header"].empty()) n.slots.erase("header");
    if (n.slots["footer"].empty()) n.slots.erase("footer");
    out.push_back(std::move(n));
  });
}

View ScrollView(Axis axis, std::vector<View> children) {
  return container(NodeKind::scrollView, std::move(children), attrsOf({{Attr::axis, axis}}));
}

View ScrollViewReader(std::function<View(const ScrollProxy&)> content) {
  return make([content](Builder& b, const std::string& path, std::vector<Node>& out) {
    std::string key = path + "$scrollReader";
    auto target = b.stateBox<std::string>(key + ".target", [] { return std::string(); });
    ScrollProxy proxy([target, key](const std::string& id) {
      EventLog::shared().record(LoggedEventType::scrollTo, id, key);
      target->value = id;
      target->changed();
    });
    std::size_t first = out.size();
    content(proxy).build(b, key, out);
    if (target->value.empty()) return;
    std::vector<Node> mine(std::make_move_iterator(out.begin() + static_cast<std::ptrdiff_t>(first)),
                           std::make_move_iterator(out.end()));
    out.resize(first);
    if (Node* scroll = firstOfKind(mine, NodeKind::scrollView)) scroll->attrs[Attr::scrollTarget] = target->value;
    target->value.clear();  // a scroll request is delivered with one render
    for (Node& n : mine) out.push_back(std::move(n));
  });
}

View Grid(std::vector<View> rows) { return container(NodeKind::grid, std::move(rows)); }
View GridRow(std::vector<View> cells) { return container(NodeKind::gridRow, std::move(cells)); }

View Label(View title, View icon) {
  return make([title, icon](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::label, path);
    title.build(b, path + "/title", n.slots["title"]);
    icon.build(b, path + "/icon", n.slots["icon"]);
    out.push_back(std::move(n));
  });
}
View Label(TextContent title, std::string systemImage) {
  return Label(Text(std::move(title)), SystemImage(std::move(systemImage)));
}

View LabeledContent(View label, View content) {
  return make([label, content](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::labeledContent, path);
    label.build(b, path + "/label", n.slots["label"]);
    content.build(b, path + "/content", n.children);
    out.push_back(std::move(n));
  });
}

View ContentUnavailableView(View label, View description, View actions) {
  return make([label, description, actions](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::contentUnavailable, path);
    label.build(b, path + "/label", n.slots["label"]);
    std::vector<Node> desc, acts;
    description.build(b, path + "/description", desc);
    actions.build(b, path + "/actions", acts);
    if (!desc.empty()) n.slots["description"] = std::move(desc);
    if (!acts.empty()) n.slots["actions"] = std::move(acts);
    out.push_back(std::move(n));
  });
}

View Button(View label, std::function<void()> action, ButtonRole role) {
  return make([label, action, role](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::button, path);
    label.build(b, path + "/label", n.children);
    if (role != ButtonRole::none) n.attrs[Attr::role] = role;
    Handlers h;
    h.tap = b.wrapAction(action ? action : [] {});
    makeActionable(b, n, std::move(h));
    out.push_back(std::move(n));
  });
}
View Button(TextContent title, std::function<void()> action, ButtonRole role) {
  return Button(Text(std::move(title)), std::move(action), role);
}

View Link(std::string url, View label) {
  return make([url, label](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::link, path);
    n.attrs[Attr::url] = url;
    label.build(b, path + "/label", n.children);
    Handlers h;
    h.tap = b.wrapAction([url] { openURL(url); });
    makeActionable(b, n, std::move(h));
    out.push_back(std::move(n));
  });
}

View NavigationLink(View label, std::function<View()> destination) {
  return make([label, destination](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::navigationLink, path);
    label.build(b, path + "/label", n.children);
    Handlers h;
    if (detail::NavCollector* nav = b.scope.nav) {
      nav->links[path] = destination;
      h.tap = b.wrapAction([push = nav->push, path] { push(path); });
    } else {
      h.disabled = true;  // no stack to push onto
    }
    makeActionable(b, n, std::move(h));
    out.push_back(std::move(n));
  });
}

View Toggle(Binding<bool> isOn, View label) {
  return make([isOn, label](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::toggle, path);
    n.attrs[Attr::isOn] = isOn.get();
    label.build(b, path + "/label", n.children);
    Handlers h;
    h.tap = [isOn] { isOn.set(!isOn.get()); };
    h.setBool = [isOn](bool v) { isOn.set(v); };
    makeActionable(b, n, std::move(h));
    out.push_back(std::move(n));
  });
}

View TextField(TextContent placeholder, Binding<std::string> text, Axis axis) {
  return make([placeholder, text, axis](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::textField, path);
    n.attrs[Attr::placeholder] = placeholder;
    n.attrs[Attr::value] = text.get();
    n.attrs[Attr::axis] = axis;
    Handlers h;
    h.setText = [text](std::string v) { text.set(std::move(v)); };
    makeActionable(b, n, std::move(h));
    out.push_back(std::move(n));
  });
}

View Menu(View label, std::vector<View> items) {
  return make([label, items](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::menu, path);
    label.build(b, path + "/label", n.slots["label"]);
    buildChildren(b, path, items, n.children);
    if (b.scope.disabled) n.attrs[Attr::disabled] = true;
    out.push_back(std::move(n));
  });
}

View ControlGroup(View label, std::vector<View> items) {
  return make([label, items](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::controlGroup, path);
    label.build(b, path + "/label", n.slots["label"]);
    buildChildren(b, path, items, n.children);
    out.push_back(std::move(n));
  });
}

View ToolbarItem(ToolbarPlacement placement, View content) { return ToolbarItemGroup(placement, {std::move(content)}); }
View ToolbarItemGroup(ToolbarPlacement placement, std::vector<View> items) {
  return container(NodeKind::toolbarItem, std::move(items), attrsOf({{Attr::placement, placement}}));
}

View when(bool condition, const std::function<View()>& content) { return condition ? content() : View(); }

namespace detail {

View makePicker(View label, View content, std::function<bool(const AnyValue&)> isSelected,
                std::function<void(const AnyValue&)> select) {
  return make([=](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node picker = node(NodeKind::picker, path);
    picker.attrs[Attr::pickerStyle] = PickerStyle::automatic;
    label.build(b, path + "/label", picker.slots["label"]);
    std::vector<Node> options;
    content.build(b, path + "/options", options);
    for (Node& option : options) {
      auto tag = b.tags().find(option.identity);
      if (tag == b.tags().end()) continue;  // untagged content cannot be chosen
      Node wrapped = node(NodeKind::pickerOption, option.identity + "!option");
      wrapped.attrs[Attr::selected] = isSelected(tag->second);
      AnyValue value = tag->second;
      Handlers h;
      h.tap = b.wrapAction([select, value] { select(value); });
      wrapped.children.push_back(std::move(option));
      makeActionable(b, wrapped, std::move(h));
      picker.children.push_back(std::move(wrapped));
      // The tag is the picker's own now: a memoised subtree around the picker leaves no tag
      // behind, and can be repeated from a copy.
      b.tags().erase(tag);
    }
    if (b.scope.disabled) picker.attrs[Attr::disabled] = true;
    out.push_back(std::move(picker));
  });
}

namespace {

// The elements of one ForEach: how many, the id of each (as a path segment, unique within
// the ForEach), and how to build one.
struct Elements {
  std::size_t count = 0;
  RowIdentity identity = RowIdentity::forEach;
  std::function<std::string(std::size_t)> idOf;
  std::function<void(std::size_t, const std::string& elementPath, std::vector<Node>& out)> build;
};

// Builds the elements into `out`. When `out` holds the rows of a lazy list (see node.h), only
// the rows in the list's window are built, and rows that present something (a sheet, a
// dialog, the page pushed above this one) stay built outside it; each run of rows left out
// becomes one placeholder. `rowsByNature` says the elements are rows even straight in the
// list (a ForEach of sections is not).
void buildElements(Builder& b, const std::string& path, std::vector<Node>& out, const Elements& elements,
                   bool rowsByNature) {
  detail::LazyRows* rows = b.scope.lazy;
  const bool windowed = rows && &out == b.scope.lazyRowsOut && (rowsByNature || b.scope.lazyInSection);
  if (!windowed) {
    for (std::size_t i = 0; i < elements.count; ++i) elements.build(i, path + "/[" + elements.idOf(i) + "]", out);
    return;
  }
  // Rows may be known by the list alone (builder.h, LazyRows).
  const bool byList = elements.identity == RowIdentity::list;
  auto pathOf = [&](std::size_t i) { return (byList ? rows->path : path) + "/[" + elements.idOf(i) + "]"; };
  auto claim = [rows, byList](std::string elementPath) {
    if (!byList || rows->ids.insert(elementPath).second) return elementPath;
    for (int n = 1;; ++n) {
      std::string other = elementPath;
      other.insert(other.size() - 1, "!" + std::to_string(n));
      if (rows->ids.insert(other).second) return other;
    }
  };
  rows->any = true;
  // A covered list (a page under a pushed page, a hidden tab) shows no rows: it builds only
  // those that keep something on screen.
  const bool covered = b.scope.hidden;
  struct Pinned {
    std::set<std::string> paths;            // as built (a repeated id's with its suffix)
    std::map<std::string, std::size_t> at;  // by path before any suffix: where it was, as a hint
    std::size_t builtFrom = 0, builtTo = 0;  // the elements built last time
  };
  auto pinned = b.persistent<Pinned>(path + "#pinned", [] { return std::make_shared<Pinned>(); });
  std::set<std::string> stillPinned;
  const std::int64_t base = rows->next;
  const auto count = static_cast<std::int64_t>(elements.count);
  rows->next += count;

  std::int64_t gapStart = -1;
  auto closeGap = [&](std::int64_t end) {
    if (gapStart < 0) return;
    Node gap = node(NodeKind::spacer, path + "/~" + std::to_string(gapStart - base));
    gap.attrs[Attr::placeholderRows] = end - gapStart;
    gap.attrs[Attr::firstRow] = gapStart;
    out.push_back(std::move(gap));
    gapStart = -1;
  };
  const detail::NavCollector* nav = b.scope.nav;
  auto pushedFrom = [nav](const std::string& elementPath) {
    return nav && !nav->pushed.empty() && nav->pushed.compare(0, elementPath.size(), elementPath) == 0;
  };
  // A covered list may have just pushed the page over it: look for the row that did.
  const bool seekPusher = covered && nav && !nav->pushed.empty() &&
                          std::none_of(pinned->paths.begin(), pinned->paths.end(), pushedFrom);
  // Outside the window only rows that keep something on screen are looked at: the pinned rows
  // where they were last time and, seeking the pusher, the rows built last time (only a row
  // that was built can have pushed; in a list of sections, most sections hold no such row).
  // When a pinned row is not where it was (a search or a regrouping moved it) every row is
  // looked at, as a long list cannot afford on every render.
  std::set<std::size_t> look;
  bool walkAll = false;
  for (const auto& [plainPath, at] : pinned->at) {
    if (at < elements.count && pathOf(at) == plainPath) {
      look.insert(at);
    } else {
      walkAll = true;
    }
  }
  if (seekPusher && !walkAll) {
    for (std::size_t i = pinned->builtFrom; i < std::min(pinned->builtTo, elements.count); ++i) {
      if (pushedFrom(pathOf(i))) look.insert(i);
    }
  }
  std::map<std::string, std::size_t> stillAt;
  std::size_t builtFrom = elements.count, builtTo = 0;
  for (std::int64_t i = 0; i < count;) {
    const std::int64_t row = base + i;
    const bool inWindow = !covered && row >= rows->first && row < rows->end;
    if (!inWindow && !walkAll) {
      // Skip at once to the next row worth a look, or to the window.
      auto next = look.lower_bound(static_cast<std::size_t>(i));
      std::int64_t stop = next == look.end() ? count : static_cast<std::int64_t>(*next);
      if (!covered && row < rows->first) stop = std::min(stop, rows->first - base);
      if (stop > i) {
        if (gapStart < 0) gapStart = row;
        i = stop;
        continue;
      }
    }
    std::string elementPath = pathOf(static_cast<std::size_t>(i));
    if (!inWindow && !pinned->at.count(elementPath) && !pushedFrom(elementPath)) {
      if (gapStart < 0) gapStart = row;
      ++i;
      continue;
    }
    closeGap(row);
    std::string plainPath = elementPath;
    elementPath = claim(std::move(elementPath));
    const std::size_t before = out.size();
    const std::size_t presentations = b.presentationCount();
    const auto at = static_cast<std::size_t>(i);
    elements.build(at, elementPath, out);
    builtFrom = std::min(builtFrom, at);
    builtTo = std::max(builtTo, at + 1);
    for (std::size_t k = before; k < out.size(); ++k) out[k].attrs[Attr::rowIndex] = row;
    const bool presents = b.presentationCount() > presentations || pushedFrom(elementPath);
    if (presents) {
      stillAt[std::move(plainPath)] = at;
      stillPinned.insert(std::move(elementPath));
    }
    ++i;
  }
  closeGap(base + count);
  pinned->paths = std::move(stillPinned);
  pinned->at = std::move(stillAt);
  pinned->builtFrom = builtTo > 0 ? builtFrom : 0;
  pinned->builtTo = builtTo;
}

}  // namespace

View makeForEach(std::vector<std::pair<std::string, View>> items) {
  return make([items](Builder& b, const std::string& path, std::vector<Node>& out) {
    // Ids should be unique; a repeated one gets a suffix so that two elements never share
    // state or actions.
    std::vector<std::string> ids;
    ids.reserve(items.size());
    std::map<std::string, int> seen;
    for (const auto& [id, view] : items) {
      int n = seen[id]++;
      ids.push_back(n == 0 ? id : id + "%" + std::to_string(n));
    }
    Elements elements;
    elements.count = items.size();
    elements.idOf = [&ids](std::size_t i) { return ids[i]; };
    elements.build = [&items, &b](std::size_t i, const std::string& elementPath, std::vector<Node>& into) {
      items[i].second.build(b, elementPath, into);
    };
    buildElements(b, path, out, elements, false);
  });
}

}  // namespace detail

View LazyForEach(std::size_t count, std::function<std::string(std::size_t)> id,
                 std::function<View(std::size_t)> content, RowIdentity identity) {
  return make([count, id, content, identity](Builder& b, const std::string& path, std::vector<Node>& out) {
    detail::Elements elements;
    elements.count = count;
    elements.identity = identity;
    elements.idOf = [&](std::size_t i) { return detail::idText(id(i)); };
    elements.build = [&](std::size_t i, const std::string& elementPath, std::vector<Node>& into) {
      content(i).build(b, elementPath, into);
    };
    detail::buildElements(b, path, out, elements, true);
  });
}


}  // namespace platform::ui
