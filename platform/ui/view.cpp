#include "platform/ui/view.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "platform/ui/services.h"

namespace platform::ui {

namespace detail {
namespace {

using BuildFn = std::function<void(Builder& b, const std::string& path, std::vector<Node>& out)>;

class FnImpl final : public ViewImpl {
 public:
  explicit FnImpl(BuildFn fn) : fn_(std::move(fn)) {}
  void build(Builder& b, const std::string& path, std::vector<Node>& out) const override { fn_(b, path, out); }

 private:
  BuildFn fn_;
};

class ModifiedImpl final : public ViewImpl {
 public:
  ModifiedImpl(View base, View::Apply apply) : base_(std::move(base)), apply_(std::move(apply)) {}
  void build(Builder& b, const std::string& path, std::vector<Node>& out) const override {
    apply_(b, path, base_, out);
  }

 private:
  View base_;
  View::Apply apply_;
};

}  // namespace

void ClosureComponent::build(Builder& b, const std::string& path, std::vector<Node>& out) const {
  std::string key = path + "$" + name_;
  Context ctx(b, key);
  View body = body_(ctx);
  body.build(b, key, out);
}

std::string idText(const std::string& id) {
  // Keep ids from looking like path structure.
  std::string escaped;
  for (char c : id) {
    if (c == '/' || c == '[' || c == ']' || c == '%' || c == '#' || c == '$' || c == '!') {
      static const char* hex = "0123456789ABCDEF";
      escaped += '%';
      escaped += hex[(static_cast<unsigned char>(c) >> 4) & 0xF];
      escaped += hex[static_cast<unsigned char>(c) & 0xF];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace detail

using detail::Builder;
using detail::Handlers;
using detail::ScopeGuard;

namespace {

View make(detail::BuildFn fn) { return View(std::make_shared<detail::FnImpl>(std::move(fn))); }

Node node(NodeKind kind, const std::string& identity) {
  Node n;
  n.kind = kind;
  n.identity = identity;
  return n;
}

void buildChildren(Builder& b, const std::string& path, const std::vector<View>& children, std::vector<Node>& out) {
  for (std::size_t i = 0; i < children.size(); ++i) children[i].build(b, path + "/" + std::to_string(i), out);
}

void makeActionable(Builder& b, Node& n, Handlers h) {
  h.disabled = h.disabled || b.scope.disabled;
  if (h.disabled) n.attrs["disabled"] = true;
  n.actionId = b.registerAction(n.identity, std::move(h));
}

// Applies `edit` to every text or search field in the nodes (and their descendants).
void forEachField(std::vector<Node>& nodes, const std::function<void(Node&)>& edit) {
  for (Node& n : nodes) {
    if (n.kind == NodeKind::textField || n.kind == NodeKind::searchField) edit(n);
    forEachField(n.children, edit);
    for (auto& [name, slot] : n.slots) forEachField(slot, edit);
  }
}

// A short stable stand-in for a long key, for page identities.
std::string shortKey(const std::string& key) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016zx", std::hash<std::string>{}(key));
  return buffer;
}

Node* firstOfKind(std::vector<Node>& nodes, NodeKind kind) {
  for (Node& n : nodes) {
    if (n.kind == kind) return &n;
    if (Node* found = firstOfKind(n.children, kind)) return found;
  }
  return nullptr;
}

std::string edgeName(Edge e) {
  switch (e) {
    case Edge::top: return "top";
    case Edge::leading: return "leading";
    case Edge::bottom: return "bottom";
    case Edge::trailing: return "trailing";
    default: return "all";
  }
}

std::string visibilityName(Visibility v) {
  switch (v) {
    case Visibility::visible: return "visible";
    case Visibility::hidden: return "hidden";
    default: return "automatic";
  }
}

std::string placementName(ToolbarPlacement p) {
  switch (p) {
    case ToolbarPlacement::topBarLeading: return "topBarLeading";
    case ToolbarPlacement::topBarTrailing: return "topBarTrailing";
    case ToolbarPlacement::primaryAction: return "primaryAction";
    default: return "automatic";
  }
}

std::string feedbackName(SensoryFeedback f) {
  switch (f) {
    case SensoryFeedback::success: return "success";
    case SensoryFeedback::warning: return "warning";
    case SensoryFeedback::error: return "error";
    case SensoryFeedback::selection: return "selection";
    default: return "impact";
  }
}

// Builds `content` into a named slot of the first node, at the node's identity.
View slotModifier(const View& self, std::string slotName,
                  std::function<void(Builder&, const std::string& key, Node& target)> fill) {
  return self.modified([slotName, fill](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    for (std::size_t i = first; i < out.size(); ++i) {
      Node& target = out[i];
      fill(b, b.subKey(target.identity, slotName.c_str()), target);
    }
  });
}

// Remembers a value per identity and tells whether it changed since the last render.
struct LastValue {
  std::optional<detail::AnyValue> value;
};
bool changedSinceLastRender(Builder& b, const std::string& key, const detail::AnyValue& value) {
  auto last = b.persistent<LastValue>(key, [] { return std::make_shared<LastValue>(); });
  bool changed = last->value.has_value() && !(*last->value == value);
  last->value = value;
  return changed;
}

}  // namespace

// ----- View basics -----

View::View() = default;
View::View(std::shared_ptr<const detail::ViewImpl> impl) : impl_(std::move(impl)) {}

void View::build(Builder& b, const std::string& path, std::vector<Node>& out) const {
  if (impl_) impl_->build(b, path, out);
}

View View::modified(Apply apply) const {
  if (!impl_) return *this;  // a modified empty view is still empty
  return View(std::make_shared<detail::ModifiedImpl>(*this, std::move(apply)));
}

View View::attr(std::string name, AttrValue value) const {
  return modified([name, value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    for (std::size_t i = first; i < out.size(); ++i) out[i].attrs[name] = value;
  });
}

View View::withScope(std::function<void(detail::Scope&)> edit) const {
  return modified([edit](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    ScopeGuard guard(b);
    edit(b.scope);
    base.build(b, path, out);
  });
}

// ----- Styling -----

View View::font(std::string textStyle) const { return attr("font", std::move(textStyle)); }
View View::bold(bool on) const { return attr("bold", on); }
View View::foregroundStyle(Color color) const { return attr("foregroundStyle", std::move(color)); }
View View::tint(Color color) const { return attr("tint", std::move(color)); }
View View::accentColor(Color color) const {
  return attr("accentColor", color).withScope([color](detail::Scope& s) { s.env = s.env.with<AccentColorKey>(color); });
}
View View::multilineTextAlignment(std::string alignment) const {
  return attr("multilineTextAlignment", std::move(alignment));
}
View View::lineLimit(int lines) const { return attr("lineLimit", static_cast<std::int64_t>(lines)); }
View View::minimumScaleFactor(double factor) const { return attr("minimumScaleFactor", factor); }
View View::symbolVariant(std::string variant) const { return attr("symbolVariant", std::move(variant)); }
View View::symbolRenderingMode(std::string mode) const { return attr("symbolRenderingMode", std::move(mode)); }
View View::shadow(Color color, double radius, double x, double y) const {
  return attr("shadow.color", std::move(color)).attr("shadow.radius", radius).attr("shadow.x", x).attr("shadow.y", y);
}

View View::padding(Edge edges, double length) const {
  View v = *this;
  for (Edge e : {Edge::top, Edge::leading, Edge::bottom, Edge::trailing}) {
    if (contains(edges, e)) v = v.attr("padding." + edgeName(e), length);
  }
  return v;
}

View View::frame(Frame f) const {
  View v = *this;
  auto set = [&](const char* name, const std::optional<double>& value) {
    if (value) v = v.attr(std::string("frame.") + name, *value);
  };
  set("width", f.width);
  set("height", f.height);
  set("minWidth", f.minWidth);
  set("maxWidth", f.maxWidth);
  set("minHeight", f.minHeight);
  set("maxHeight", f.maxHeight);
  if (!f.alignment.empty()) v = v.attr("frame.alignment", f.alignment);
  return v;
}

View View::opacity(double value) const { return attr("opacity", value); }
View View::blur(double radius) const { return attr("blur", radius); }
View View::scaleEffect(double scale) const { return attr("scaleEffect", scale); }

View View::background(Color color) const { return background(ColorView(std::move(color))); }
View View::background(Color color, Shape in) const { return background(ShapeView(std::move(in), std::move(color))); }
View View::background(View content) const {
  return slotModifier(*this, "background", [content](Builder& b, const std::string& key, Node& target) {
    content.build(b, key, target.slots["background"]);
  });
}

View View::clipShape(Shape shape) const {
  View v = attr("clipShape", shape.kind);
  if (shape.kind == "roundedRectangle") v = v.attr("clipShape.cornerRadius", shape.cornerRadius);
  if (shape.continuous) v = v.attr("clipShape.style", std::string("continuous"));
  return v;
}

View View::overlay(View content, std::string alignment) const {
  return slotModifier(*this, "overlay", [content, alignment](Builder& b, const std::string& key, Node& target) {
    target.attrs["overlay.alignment"] = alignment;
    content.build(b, key, target.slots["overlay"]);
  });
}

View View::safeAreaInset(Edge edge, View content, std::string alignment) const {
  return slotModifier(*this, "safeAreaInset",
                      [content, alignment, edge](Builder& b, const std::string& key, Node& target) {
                        target.attrs["safeAreaInset.edge"] = edgeName(edge);
                        target.attrs["safeAreaInset.alignment"] = alignment;
                        content.build(b, key, target.slots["safeAreaInset"]);
                      });
}

// ----- Controls -----

View View::disabled(bool isDisabled) const {
  return withScope([isDisabled](detail::Scope& s) { s.disabled = s.disabled || isDisabled; });
}
View View::buttonStyle(std::string style) const { return attr("buttonStyle", std::move(style)); }
View View::controlSize(std::string size) const { return attr("controlSize", std::move(size)); }
View View::pickerStyle(std::string style) const {
  return modified([style](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    for (std::size_t i = first; i < out.size(); ++i) {
      if (out[i].kind == NodeKind::picker) {
        out[i].attrs["style"] = style;
      } else if (Node* p = firstOfKind(out[i].children, NodeKind::picker)) {
        p->attrs["style"] = style;
      }
    }
  });
}
View View::controlGroupStyle(std::string style) const { return attr("style", std::move(style)); }
View View::labelsHidden() const { return attr("labelsHidden", true); }

View View::tag(detail::AnyValue value) const {
  return modified([value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    for (std::size_t i = first; i < out.size(); ++i) b.tags()[out[i].identity] = value;
  });
}

View View::accessibilityIdentifier(std::string id) const { return attr("accessibilityIdentifier", std::move(id)); }
View View::id(std::string id) const { return attr("id", std::move(id)); }

// ----- Text input -----

namespace {
View fieldAttr(const View& self, std::string name, AttrValue value) {
  return self.modified([name, value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    std::vector<Node> mine(std::make_move_iterator(out.begin() + static_cast<std::ptrdiff_t>(first)),
                           std::make_move_iterator(out.end()));
    out.resize(first);
    forEachField(mine, [&](Node& n) {
      if (!n.attrs.count(name)) n.attrs[name] = value;
    });
    for (Node& n : mine) out.push_back(std::move(n));
  });
}

View fieldEdit(const View& self, std::function<void(Builder&, Node&)> edit) {
  return self.modified([edit](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    for (std::size_t i = first; i < out.size(); ++i) {
      std::vector<Node> one;
      one.push_back(std::move(out[i]));
      forEachField(one, [&](Node& n) { edit(b, n); });
      out[i] = std::move(one.front());
    }
  });
}
}  // namespace

View View::textInputAutocapitalization(std::string mode) const {
  return fieldAttr(*this, "autocapitalization", std::move(mode));
}
View View::submitLabel(std::string label) const { return fieldAttr(*this, "submitLabel", std::move(label)); }
View View::keyboardType(std::string type) const { return fieldAttr(*this, "keyboardType", std::move(type)); }
View View::scrollDismissesKeyboard(std::string mode) const { return attr("scrollDismissesKeyboard", std::move(mode)); }

View View::maxLength(std::size_t characters) const {
  return fieldEdit(*this, [characters](Builder& b, Node& n) {
    Handlers* h = b.handlers(n.actionId);
    if (!h) return;
    if (!h->maxLength || *h->maxLength > characters) {
      h->maxLength = characters;
      n.attrs["maxLength"] = static_cast<std::int64_t>(characters);
    }
  });
}

View View::onSubmit(std::function<void()> action) const {
  return fieldEdit(*this, [action](Builder& b, Node& n) {
    if (Handlers* h = b.handlers(n.actionId)) h->submit.push_back(action);
  });
}

View View::focused(Binding<bool> isFocused) const {
  return modified([isFocused](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    bool done = false;
    for (std::size_t i = first; i < out.size() && !done; ++i) {
      std::vector<Node> one;
      one.push_back(std::move(out[i]));
      forEachField(one, [&](Node& n) {
        if (done) return;
        done = true;
        n.attrs["focused"] = isFocused.get();
        if (Handlers* h = b.handlers(n.actionId)) h->focus = [isFocused](bool on) { isFocused.set(on); };
      });
      out[i] = std::move(one.front());
    }
  });
}

// ----- Lists and scrolling -----

View View::listStyle(std::string style) const { return attr("listStyle", std::move(style)); }
View View::listRowBackground(Color color) const { return attr("listRowBackground", std::move(color)); }
View View::listRowSeparator(Visibility visibility) const { return attr("listRowSeparator", visibilityName(visibility)); }
View View::listRowInsets(double top, double leading, double bottom, double trailing) const {
  return attr("listRowInsets.top", top)
      .attr("listRowInsets.leading", leading)
      .attr("listRowInsets.bottom", bottom)
      .attr("listRowInsets.trailing", trailing);
}
View View::listSectionSpacing(AttrValue spacing) const { return attr("listSectionSpacing", std::move(spacing)); }
View View::scrollIndicators(Visibility visibility) const { return attr("scrollIndicators", visibilityName(visibility)); }
View View::scrollBounceBehavior(std::string behavior) const { return attr("scrollBounceBehavior", std::move(behavior)); }

// ----- Motion -----

View View::animation(std::string animation) const { return attr("animation", std::move(animation)); }
View View::animationOn(std::string animation, detail::AnyValue value) const {
  return attr("animation", animation)
      .modified([animation, value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
        base.build(b, path, out);
        if (changedSinceLastRender(b, b.subKey(path, "animation"), value)) {
          b.afterRender([animation, path] { EventLog::shared().record(LoggedEventType::animation, animation, path); });
        }
      });
}
View View::transition(std::string transition) const { return attr("transition", std::move(transition)); }
View View::contentTransition(std::string transition) const { return attr("contentTransition", std::move(transition)); }
View View::scrollTransition(std::string configuration) const {
  return attr("scrollTransition", std::move(configuration));
}

// ----- Navigation bar -----

View View::navigationTitle(TextContent title) const {
  return modified([title](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    if (b.scope.nav) {
      if (!b.scope.nav->title) b.scope.nav->title = title;
    } else if (first < out.size()) {
      out[first].attrs["navigationTitle"] = title;
    }
  });
}

View View::navigationBarTitleDisplayMode(TitleDisplayMode mode) const {
  std::string name = mode == TitleDisplayMode::inline_ ? "inline"
                     : mode == TitleDisplayMode::large ? "large"
                                                        : "automatic";
  return modified([name](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    if (b.scope.nav) {
      if (b.scope.nav->displayMode.empty()) b.scope.nav->displayMode = name;
    } else if (first < out.size()) {
      out[first].attrs["titleDisplayMode"] = name;
    }
  });
}

View View::navigationBarBackButtonHidden(bool hidden) const {
  return modified([hidden](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (b.scope.nav && !b.scope.nav->backButtonHidden) b.scope.nav->backButtonHidden = hidden;
  });
}

View View::toolbar(std::vector<View> items) const {
  return modified([items](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    std::string key = b.subKey(path, "toolbar");
    std::vector<Node> built;
    buildChildren(b, key, items, built);
    if (b.scope.nav) {
      for (Node& n : built) b.scope.nav->toolbar.push_back(std::move(n));
    } else if (first < out.size()) {
      for (Node& n : built) out[first].slots["toolbar"].push_back(std::move(n));
    }
  });
}

View View::searchable(Binding<std::string> text, Binding<bool> isPresented, TextContent prompt,
                      std::string placement) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    {
      ScopeGuard guard(b);
      b.scope.env = b.scope.env.with<DismissSearchKey>(DismissSearchAction([text, isPresented] {
        isPresented.set(false);
        text.set("");
      }));
      base.build(b, path, out);
    }
    Node field = node(NodeKind::searchField, b.subKey(path, "search"));
    field.attrs["prompt"] = prompt;
    field.attrs["value"] = text.get();
    field.attrs["presented"] = isPresented.get();
    field.attrs["placement"] = placement;
    Handlers h;
    h.setText = [text](std::string v) { text.set(std::move(v)); };
    h.focus = [isPresented](bool on) {
      if (on) isPresented.set(true);
    };
    h.dismiss = [text, isPresented] {
      isPresented.set(false);
      text.set("");
    };
    makeActionable(b, field, std::move(h));
    if (b.scope.nav) {
      b.scope.nav->search.push_back(std::move(field));
    } else if (first < out.size()) {
      out[first].slots["search"].push_back(std::move(field));
    }
  });
}

View View::navigationDestination(Binding<bool> isPresented, std::function<View()> destination) const {
  return modified([isPresented, destination](Builder& b, const std::string& path, const View& base,
                                             std::vector<Node>& out) {
    base.build(b, path, out);
    std::string key = b.subKey(path, "destination");
    if (b.scope.nav) b.scope.nav->destinations.push_back({key, isPresented, destination});
  });
}

View View::tabItem(View label) const {
  return slotModifier(*this, "tabItem", [label](Builder& b, const std::string& key, Node& target) {
    label.build(b, key, target.slots["tabItem"]);
  });
}

// ----- Presentations -----

View View::sheet(Binding<bool> isPresented, std::function<View()> content, std::function<void()> onDismiss) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    std::string key = b.subKey(path, "sheet");
    struct Presented {
      bool value = false;
    };
    auto was = b.persistent<Presented>(key + ".presented", [] { return std::make_shared<Presented>(); });
    bool presented = isPresented.get();
    if (was->value && !presented && onDismiss) b.afterRender(onDismiss);
    was->value = presented;
    if (!presented) return;

    std::size_t index = b.reservePresentation();
    Node sheet = node(NodeKind::sheet, key);
    detail::PresentationPrefs prefs;
    {
      ScopeGuard guard(b);
      b.scope.nav = nullptr;
      b.scope.presentation = &prefs;
      b.scope.disabled = false;
      b.scope.afterAction = {};
      b.scope.env = b.scope.env.with<DismissKey>(DismissAction([isPresented] { isPresented.set(false); }));
      content().build(b, key, sheet.children);
    }
    sheet.attrs["sizing"] = prefs.sizing.value_or("automatic");
    sheet.attrs["interactiveDismissDisabled"] = prefs.interactiveDismissDisabled.value_or(false);
    Handlers h;
    h.dismiss = [isPresented] { isPresented.set(false); };
    h.refuseDismiss = prefs.interactiveDismissDisabled.value_or(false);
    sheet.actionId = b.registerAction(sheet.identity, std::move(h));
    b.setPresentation(index, std::move(sheet));
  });
}

View View::presentationSizing(PresentationSizing sizing) const {
  std::string name = sizing == PresentationSizing::page ? "page"
                     : sizing == PresentationSizing::form ? "form"
                                                          : "automatic";
  return modified([name](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (b.scope.presentation && !b.scope.presentation->sizing) b.scope.presentation->sizing = name;
  });
}

View View::interactiveDismissDisabled(bool disabled) const {
  return modified([disabled](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (b.scope.presentation && !b.scope.presentation->interactiveDismissDisabled) {
      b.scope.presentation->interactiveDismissDisabled = disabled;
    }
  });
}

View View::confirmationDialog(TextContent title, Binding<bool> isPresented, Visibility titleVisibility,
                              std::vector<View> actions, View message) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    std::string key = b.subKey(path, "dialog");
    if (!isPresented.get()) return;
    std::size_t index = b.reservePresentation();
    Node dialog = node(NodeKind::confirmationDialog, key);
    dialog.attrs["title"] = title;
    dialog.attrs["titleVisibility"] = visibilityName(titleVisibility);
    {
      ScopeGuard guard(b);
      b.scope.nav = nullptr;
      b.scope.disabled = false;
      b.scope.afterAction = [isPresented] { isPresented.set(false); };
      buildChildren(b, key, actions, dialog.children);
      message.build(b, key + "/message", dialog.slots["message"]);
    }
    Handlers h;
    h.dismiss = [isPresented] { isPresented.set(false); };
    dialog.actionId = b.registerAction(dialog.identity, std::move(h));
    b.setPresentation(index, std::move(dialog));
  });
}

View View::contextMenu(std::vector<View> items) const {
  return slotModifier(*this, "contextMenu", [items](Builder& b, const std::string& key, Node& target) {
    buildChildren(b, key, items, target.slots["contextMenu"]);
  });
}

View View::swipeActions(Edge edge, bool allowsFullSwipe, std::vector<View> actions) const {
  return slotModifier(*this, "swipeActions",
                      [items = std::move(actions), edge, allowsFullSwipe](Builder& b, const std::string& key,
                                                                          Node& target) {
                        target.attrs["swipeActions.edge"] = edgeName(edge);
                        target.attrs["swipeActions.allowsFullSwipe"] = allowsFullSwipe;
                        buildChildren(b, key, items, target.slots["swipeActions"]);
                      });
}

View View::popoverTip(std::shared_ptr<const Tip> tip, Edge arrowEdge, std::function<void()> action) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    if (!tip || first >= out.size() || !Tips::shouldDisplay(tip->id())) return;
    Node& anchor = out[first];
    Node popover = node(NodeKind::popoverTip, b.subKey(anchor.identity, "tip"));
    popover.attrs["tipId"] = tip->id();
    popover.attrs["title"] = tip->title();
    if (auto message = tip->message()) popover.attrs["message"] = *message;
    if (auto image = tip->imageAsset()) popover.attrs["imageAsset"] = *image;
    popover.attrs["arrowEdge"] = edgeName(arrowEdge);
    Handlers h;
    h.dismiss = [tip] { tip->invalidate("tipClosed"); };
    h.tap = action ? action : [] {};
    popover.actionId = b.registerAction(popover.identity, std::move(h));
    anchor.slots["popoverTip"].push_back(std::move(popover));
  });
}

// ----- Lifecycle -----

View View::onAppear(std::function<void()> action) const {
  return modified([action](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    struct Seen {
      bool visible = false;
    };
    auto seen = b.persistent<Seen>(b.subKey(path, "appear"), [] { return std::make_shared<Seen>(); });
    bool visible = !b.scope.hidden;
    if (visible && !seen->visible) b.afterRender(action);
    seen->visible = visible;
  });
}

View View::onDisappear(std::function<void()> action) const {
  return modified([action](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    struct Seen {
      bool visible = false;
      std::function<void()> action;
    };
    auto seen = b.persistent<Seen>(
        b.subKey(path, "disappear"), [] { return std::make_shared<Seen>(); },
        [](Seen& s) {
          if (s.visible && s.action) s.action();
        });
    bool visible = !b.scope.hidden;
    if (!visible && seen->visible) b.whenDisappearing(action);
    seen->visible = visible;
    seen->action = action;
  });
}

View View::onUpdate(std::function<void()> action) const {
  return modified([action](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    b.afterRender(action);
  });
}

View View::taskOn(detail::AnyValue id, std::function<void(const TaskHandle&)> action) const {
  return modified([id, action](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    struct Running {
      detail::AnyValue id;
      TaskHandle handle;
      bool running = false;
    };
    auto slot = b.persistent<Running>(
        b.subKey(path, "task"), [] { return std::make_shared<Running>(); }, [](Running& r) { r.handle.cancel(); });
    bool visible = !b.scope.hidden;
    if (!visible) {
      if (slot->running) slot->handle.cancel();
      slot->running = false;
      return;
    }
    if (slot->running && slot->id == id) return;
    if (slot->running) slot->handle.cancel();
    slot->handle = TaskHandle();
    slot->id = id;
    slot->running = true;
    TaskHandle handle = slot->handle;
    auto post = b.post;
    b.afterRender([post, action, handle] {
      auto start = [action, handle] {
        if (!handle.isCancelled()) action(handle);
      };
      if (post) {
        post(start);
      } else {
        start();
      }
    });
  });
}

View View::feedbackOn(SensoryFeedback feedback, detail::AnyValue trigger) const {
  return modified([feedback, trigger](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (changedSinceLastRender(b, b.subKey(path, "feedback"), trigger)) {
      std::string name = feedbackName(feedback);
      b.afterRender([name, path] { EventLog::shared().record(LoggedEventType::haptic, name, path); });
    }
  });
}

View View::symbolEffectOn(std::string effect, detail::AnyValue value) const {
  return attr("symbolEffect", effect)
      .modified([effect, value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
        base.build(b, path, out);
        if (changedSinceLastRender(b, b.subKey(path, "symbolEffect"), value)) {
          b.afterRender([effect, path] { EventLog::shared().record(LoggedEventType::symbolEffect, effect, path); });
        }
      });
}

// ----- Leaf and container views -----

View Closure(std::string name, std::function<View(Context&)> body) {
  return View(std::make_shared<detail::ClosureComponent>(std::move(name), std::move(body)));
}

TextContent localized(std::string key, std::vector<std::string> args) {
  return TextContent{std::move(key), std::move(args), false};
}
TextContent verbatim(std::string text) { return TextContent{std::move(text), {}, true}; }

namespace {
View leaf(NodeKind kind, std::map<std::string, AttrValue, std::less<>> attrs) {
  return make([kind, attrs](Builder&, const std::string& path, std::vector<Node>& out) {
    Node n = node(kind, path);
    n.attrs = attrs;
    out.push_back(std::move(n));
  });
}

View container(NodeKind kind, std::vector<View> children, std::map<std::string, AttrValue, std::less<>> attrs = {}) {
  return make([kind, children, attrs](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(kind, path);
    n.attrs = attrs;
    buildChildren(b, path, children, n.children);
    out.push_back(std::move(n));
  });
}
}  // namespace

View Text(TextContent text) { return leaf(NodeKind::text, {{"text", std::move(text)}}); }
View Verbatim(std::string text) { return Text(verbatim(std::move(text))); }
View SystemImage(std::string name) { return leaf(NodeKind::image, {{"systemName", std::move(name)}}); }
View AssetImage(std::string name) { return leaf(NodeKind::image, {{"assetName", std::move(name)}}); }

View ShapeView(Shape shape, std::optional<Color> fill) {
  std::map<std::string, AttrValue, std::less<>> attrs{{"shape", shape.kind}};
  if (shape.kind == "roundedRectangle") attrs["cornerRadius"] = shape.cornerRadius;
  if (shape.continuous) attrs["cornerStyle"] = std::string("continuous");
  if (fill) attrs["fill"] = *fill;
  return leaf(NodeKind::shape, std::move(attrs));
}

View ColorView(Color color) { return leaf(NodeKind::color, {{"color", std::move(color)}}); }
View Spacer() { return leaf(NodeKind::spacer, {}); }
View Divider() { return leaf(NodeKind::divider, {}); }
View ProgressView(double value, double total) {
  return leaf(NodeKind::progressView, {{"value", value}, {"total", total}});
}

namespace {
std::map<std::string, AttrValue, std::less<>> stackAttrs(std::optional<double> spacing, std::string alignment) {
  std::map<std::string, AttrValue, std::less<>> attrs{{"alignment", std::move(alignment)}};
  if (spacing) attrs["spacing"] = *spacing;
  return attrs;
}
}  // namespace

View VStack(std::vector<View> children, std::optional<double> spacing, std::string alignment) {
  return container(NodeKind::vStack, std::move(children), stackAttrs(spacing, std::move(alignment)));
}
View HStack(std::vector<View> children, std::optional<double> spacing, std::string alignment) {
  return container(NodeKind::hStack, std::move(children), stackAttrs(spacing, std::move(alignment)));
}
View ZStack(std::vector<View> children, std::string alignment) {
  return container(NodeKind::zStack, std::move(children), {{"alignment", std::move(alignment)}});
}
View Group(std::vector<View> children) {
  return make([children](Builder& b, const std::string& path, std::vector<Node>& out) {
    buildChildren(b, path, children, out);
  });
}
namespace {
// A lazy list builds the rows from a little before the first row the page shows to well past
// the last one a tall window shows; the page asks for another window as it scrolls.
constexpr std::int64_t kRowsBefore = 10;
constexpr std::int64_t kRowsAfter = 40;
}  // namespace

View List(std::vector<View> children) {
  return make([children](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node n = node(NodeKind::list, path);
    auto shown = b.stateBox<std::int64_t>(path + ".firstShownRow", [] { return std::int64_t{0}; });
    detail::LazyRows rows;
    rows.first = std::max<std::int64_t>(0, shown->value - kRowsBefore);
    rows.end = shown->value + kRowsAfter;
    {
      ScopeGuard guard(b);
      b.scope.lazy = &rows;
      b.scope.lazyRowsOut = &n.children;
      b.scope.lazyInSection = false;
      buildChildren(b, path, children, n.children);
    }
    if (rows.any) {
      n.attrs["rowCount"] = rows.next;
      if (shown->value > 0 && rows.first >= rows.next) {
        // The list got shorter than where the page was: show its end instead.
        shown->value = std::max<std::int64_t>(0, rows.next - kRowsAfter);
        shown->changed();
      }
      Handlers h;
      h.scroll = [shown](std::int64_t row) {
        if (row == shown->value) return;
        shown->value = row;
        shown->changed();
      };
      n.actionId = b.registerAction(n.identity, std::move(h));
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
  return container(NodeKind::scrollView, std::move(children),
                   {{"axis", std::string(axis == Axis::horizontal ? "horizontal" : "vertical")}});
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
    if (Node* scroll = firstOfKind(mine, NodeKind::scrollView)) scroll->attrs["scrollTarget"] = target->value;
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
    if (role != ButtonRole::none) {
      n.attrs["role"] = std::string(role == ButtonRole::cancel ? "cancel" : "destructive");
    }
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
    n.attrs["url"] = url;
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
    n.attrs["isOn"] = isOn.get();
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
    n.attrs["placeholder"] = placeholder;
    n.attrs["value"] = text.get();
    n.attrs["axis"] = std::string(axis == Axis::horizontal ? "horizontal" : "vertical");
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
    if (b.scope.disabled) n.attrs["disabled"] = true;
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
  return container(NodeKind::toolbarItem, std::move(items), {{"placement", placementName(placement)}});
}

View NavigationStack(View root) {
  return make([root](Builder& b, const std::string& path, std::vector<Node>& out) {
    using Entries = std::vector<std::string>;
    auto box = b.stateBox<Entries>(path + ".navigationPath", [] { return Entries(); });
    Node stack = node(NodeKind::navigationStack, path);
    const bool outerHidden = b.scope.hidden;

    std::function<View()> content = [root] { return root; };
    std::function<void()> pop;  // how the page being built leaves the stack
    for (std::size_t level = 0;; ++level) {
      detail::NavCollector nav;
      if (level < box->value.size()) nav.pushed = box->value[level];
      nav.push = [box, level](const std::string& key) {
        box->value.resize(std::min(box->value.size(), level));
        box->value.push_back(key);
        box->changed();
      };
      std::string pagePath =
          level == 0 ? path + "/root" : path + "/page" + std::to_string(level) + "[" + shortKey(box->value[level - 1]) + "]";
      Node page = node(NodeKind::navigationPage, pagePath);
      {
        ScopeGuard guard(b);
        b.scope.nav = &nav;
        b.scope.hidden = outerHidden || level < box->value.size();
        if (pop) b.scope.env = b.scope.env.with<DismissKey>(DismissAction(pop));
        content().build(b, pagePath, page.children);
      }
      if (b.scope.hidden || level < box->value.size()) page.attrs["hidden"] = true;
      if (nav.title) page.attrs["title"] = *nav.title;
      page.attrs["titleDisplayMode"] = nav.displayMode.empty() ? std::string("automatic") : nav.displayMode;
      page.attrs["backButtonHidden"] = nav.backButtonHidden.value_or(false);
      if (!nav.toolbar.empty()) page.slots["toolbar"] = std::move(nav.toolbar);
      if (!nav.search.empty()) page.slots["search"] = std::move(nav.search);
      if (pop) {
        Handlers h;
        h.dismiss = pop;
        h.refuseDismiss = nav.backButtonHidden.value_or(false);
        page.actionId = b.registerAction(page.identity, std::move(h));
      }
      stack.children.push_back(std::move(page));

      // Which page comes next: the entry of the path at this level, if it still leads
      // somewhere, or an isPresented destination that has just turned true.
      Entries& entries = box->value;
      auto truncate = [&] {
        entries.resize(level);
        box->changed();
      };
      auto makePop = [box, level](std::optional<Binding<bool>> flag) {
        return std::function<void()>([box, level, flag] {
          if (box->value.size() > level) {
            box->value.resize(level);
            box->changed();
          }
          if (flag) flag->set(false);
        });
      };
      if (level < entries.size()) {
        const std::string& key = entries[level];
        if (auto link = nav.links.find(key); link != nav.links.end()) {
          content = link->second;
          pop = makePop(std::nullopt);
          continue;
        }
        auto dest = std::find_if(nav.destinations.begin(), nav.destinations.end(),
                                 [&](const auto& d) { return d.key == key; });
        if (dest != nav.destinations.end() && dest->isPresented.get()) {
          content = dest->content;
          pop = makePop(dest->isPresented);
          continue;
        }
        truncate();
        break;
      }
      auto shown = std::find_if(nav.destinations.begin(), nav.destinations.end(),
                                [](const auto& d) { return d.isPresented.get(); });
      if (shown == nav.destinations.end()) break;
      entries.push_back(shown->key);
      box->changed();
      content = shown->content;
      pop = makePop(shown->isPresented);
    }
    out.push_back(std::move(stack));
  });
}

namespace {
View tabView(std::optional<Binding<int>> selection, std::vector<View> tabs) {
  return make([selection, tabs](Builder& b, const std::string& path, std::vector<Node>& out) {
    Binding<int> selected = selection ? *selection : [&] {
      auto box = b.stateBox<int>(path + ".selection", [] { return 0; });
      return State<int>(box).binding();
    }();
    std::vector<int> present;
    for (std::size_t i = 0; i < tabs.size(); ++i) {
      if (!tabs[i].isEmpty()) present.push_back(static_cast<int>(i));
    }
    int current = selected.get();
    if (std::find(present.begin(), present.end(), current) == present.end()) {
      current = present.empty() ? 0 : present.front();
    }
    Node view = node(NodeKind::tabView, path);
    for (int i : present) {
      std::string childPath = path + "/" + std::to_string(i);
      Node tab = node(NodeKind::tab, childPath + "!tab");
      {
        ScopeGuard guard(b);
        if (i != current) b.scope.hidden = true;
        tabs[static_cast<std::size_t>(i)].build(b, childPath, tab.children);
      }
      for (Node& child : tab.children) {
        auto item = child.slots.find("tabItem");
        if (item != child.slots.end()) {
          tab.slots["tabItem"] = std::move(item->second);
          child.slots.erase(item);
          break;
        }
      }
      tab.attrs["selected"] = (i == current);
      if (i != current) {
        for (Node& child : tab.children) child.attrs["hidden"] = true;
      }
      Handlers h;
      h.tap = [selected, i] {
        if (selected.get() != i) selected.set(i);
      };
      makeActionable(b, tab, std::move(h));
      view.children.push_back(std::move(tab));
    }
    out.push_back(std::move(view));
  });
}
}  // namespace

View TabView(std::vector<View> tabs) { return tabView(std::nullopt, std::move(tabs)); }
View TabView(Binding<int> selection, std::vector<View> tabs) { return tabView(selection, std::move(tabs)); }

View when(bool condition, const std::function<View()>& content) { return condition ? content() : View(); }

namespace detail {

View makePicker(View label, View content, std::function<bool(const AnyValue&)> isSelected,
                std::function<void(const AnyValue&)> select) {
  return make([=](Builder& b, const std::string& path, std::vector<Node>& out) {
    Node picker = node(NodeKind::picker, path);
    picker.attrs["style"] = std::string("automatic");
    label.build(b, path + "/label", picker.slots["label"]);
    std::vector<Node> options;
    content.build(b, path + "/options", options);
    for (Node& option : options) {
      auto tag = b.tags().find(option.identity);
      if (tag == b.tags().end()) continue;  // untagged content cannot be chosen
      Node wrapped = node(NodeKind::pickerOption, option.identity + "!option");
      wrapped.attrs["selected"] = isSelected(tag->second);
      AnyValue value = tag->second;
      Handlers h;
      h.tap = b.wrapAction([select, value] { select(value); });
      wrapped.children.push_back(std::move(option));
      makeActionable(b, wrapped, std::move(h));
      picker.children.push_back(std::move(wrapped));
    }
    if (b.scope.disabled) picker.attrs["disabled"] = true;
    out.push_back(std::move(picker));
  });
}

namespace {

// The elements of one ForEach: how many, the identity path of each, and how to build one.
struct Elements {
  std::size_t count = 0;
  std::function<std::string(std::size_t)> pathOf;
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
    for (std::size_t i = 0; i < elements.count; ++i) elements.build(i, elements.pathOf(i), out);
    return;
  }
  rows->any = true;
  // A covered list (a page under a pushed page, a hidden tab) shows no rows: it builds only
  // those that keep something on screen.
  const bool covered = b.scope.hidden;
  struct Pinned {
    std::set<std::string> paths;
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
    gap.attrs["placeholderRows"] = end - gapStart;
    gap.attrs["firstRow"] = gapStart;
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
  for (std::int64_t i = 0; i < count;) {
    const std::int64_t row = base + i;
    const bool inWindow = !covered && row >= rows->first && row < rows->end;
    if (!inWindow && pinned->paths.empty() && !seekPusher) {
      // Nothing to keep out here: skip to the window or to the end at once.
      const std::int64_t stop = row < rows->first ? std::min(base + count, rows->first) : base + count;
      if (gapStart < 0) gapStart = row;
      i = stop - base;
      continue;
    }
    std::string elementPath = elements.pathOf(static_cast<std::size_t>(i));
    if (!inWindow && !pinned->paths.count(elementPath) && !pushedFrom(elementPath)) {
      if (gapStart < 0) gapStart = row;
      ++i;
      continue;
    }
    closeGap(row);
    const std::size_t before = out.size();
    const std::size_t presentations = b.presentationCount();
    elements.build(static_cast<std::size_t>(i), elementPath, out);
    for (std::size_t k = before; k < out.size(); ++k) out[k].attrs["rowIndex"] = row;
    const bool presents = b.presentationCount() > presentations || pushedFrom(elementPath);
    if (presents) stillPinned.insert(std::move(elementPath));
    ++i;
  }
  closeGap(base + count);
  pinned->paths = std::move(stillPinned);
}

}  // namespace

View makeForEach(std::vector<std::pair<std::string, View>> items) {
  return make([items](Builder& b, const std::string& path, std::vector<Node>& out) {
    // Ids should be unique; a repeated one gets a suffix so that two elements never share
    // state or actions.
    std::vector<std::string> paths;
    paths.reserve(items.size());
    std::map<std::string, int> seen;
    for (const auto& [id, view] : items) {
      int n = seen[id]++;
      paths.push_back(path + "/[" + id + (n == 0 ? "" : "%" + std::to_string(n)) + "]");
    }
    Elements elements;
    elements.count = items.size();
    elements.pathOf = [&paths](std::size_t i) { return paths[i]; };
    elements.build = [&items, &b](std::size_t i, const std::string& elementPath, std::vector<Node>& into) {
      items[i].second.build(b, elementPath, into);
    };
    buildElements(b, path, out, elements, false);
  });
}

}  // namespace detail

View LazyForEach(std::size_t count, std::function<std::string(std::size_t)> id,
                 std::function<View(std::size_t)> content) {
  return make([count, id, content](Builder& b, const std::string& path, std::vector<Node>& out) {
    detail::Elements elements;
    elements.count = count;
    elements.pathOf = [&](std::size_t i) { return path + "/[" + detail::idText(id(i)) + "]"; };
    elements.build = [&](std::size_t i, const std::string& elementPath, std::vector<Node>& into) {
      content(i).build(b, elementPath, into);
    };
    detail::buildElements(b, path, out, elements, true);
  });
}

namespace detail {

}  // namespace detail

void Tip::invalidate(const std::string& reason) const { Tips::invalidate(id(), reason); }

}  // namespace platform::ui
