#include "platform/ui/view.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "platform/ui/internal/view_parts.h"
#include "platform/ui/services.h"

namespace platform::ui {

namespace detail {
namespace {

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
  // Keep ids from looking like path structure. Most ids (uuids, numbers) have nothing to
  // escape and are answered as they are: a long list asks for many rows' ids.
  constexpr std::string_view kStructure = "/[]%#$!";
  std::size_t at = id.find_first_of(kStructure);
  if (at == std::string::npos) return id;
  std::string escaped(id, 0, at);
  escaped.reserve(id.size() + 8);
  for (; at < id.size(); ++at) {
    const char c = id[at];
    if (kStructure.find(c) != std::string_view::npos) {
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

using namespace detail;

namespace detail {

View make(BuildFn fn) { return View(std::make_shared<FnImpl>(std::move(fn))); }

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
  if (h.disabled) n.attrs[Attr::disabled] = true;
  b.registerAction(n, std::move(h));
}

void forEachField(std::vector<Node>& nodes, const std::function<void(Node&)>& edit) {
  for (Node& n : nodes) {
    if (n.kind == NodeKind::textField || n.kind == NodeKind::searchField) {
      n.memoStamp = 0;  // edited after the view that built it
      edit(n);
    }
    forEachField(n.children, edit);
    for (auto& [name, slot] : n.slots) forEachField(slot, edit);
  }
}

std::string shortKey(const std::string& key) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016zx", std::hash<std::string>{}(key));
  return buffer;
}

Node* firstOfKind(std::vector<Node>& nodes, NodeKind kind) {
  for (Node& n : nodes) {
    if (n.kind == kind) {
      n.memoStamp = 0;  // found to be edited after the view that built it
      return &n;
    }
    if (Node* found = firstOfKind(n.children, kind)) return found;
  }
  return nullptr;
}

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

}  // namespace detail

namespace {

std::string feedbackName(SensoryFeedback f) {
  switch (f) {
    case SensoryFeedback::success: return "success";
    case SensoryFeedback::warning: return "warning";
    case SensoryFeedback::error: return "error";
    case SensoryFeedback::selection: return "selection";
    default: return "impact";
  }
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

View View::attr(Attr name, AttrValue value) const {
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

View View::font(Font textStyle) const { return attr(Attr::font, textStyle); }
View View::bold(bool on) const { return attr(Attr::bold, on); }
View View::foregroundStyle(Color color) const { return attr(Attr::foregroundStyle, std::move(color)); }
View View::tint(Color color) const { return attr(Attr::tint, std::move(color)); }
View View::tintCleared() const { return attr(Attr::tintCleared, true); }
View View::accentColor(Color color) const {
  return attr(Attr::accentColor, color).withScope([color](detail::Scope& s) { s.env = s.env.with<AccentColorKey>(color); });
}
View View::multilineTextAlignment(TextAlignment alignment) const { return attr(Attr::multilineTextAlignment, alignment); }
View View::lineLimit(int lines) const { return attr(Attr::lineLimit, static_cast<std::int64_t>(lines)); }
View View::minimumScaleFactor(double factor) const { return attr(Attr::minimumScaleFactor, factor); }
View View::symbolVariant(SymbolVariant variant) const { return attr(Attr::symbolVariant, variant); }
View View::symbolRenderingMode(SymbolRenderingMode mode) const { return attr(Attr::symbolRenderingMode, mode); }
View View::shadow(Color color, double radius, double x, double y) const {
  return attr(Attr::shadowColor, std::move(color))
      .attr(Attr::shadowRadius, radius)
      .attr(Attr::shadowX, x)
      .attr(Attr::shadowY, y);
}

View View::padding(Edge edges, double length) const {
  View v = *this;
  constexpr std::pair<Edge, Attr> kEdges[] = {{Edge::top, Attr::paddingTop},
                                               {Edge::leading, Attr::paddingLeading},
                                               {Edge::bottom, Attr::paddingBottom},
                                               {Edge::trailing, Attr::paddingTrailing}};
  for (const auto& [e, name] : kEdges) {
    if (contains(edges, e)) v = v.attr(name, length);
  }
  return v;
}

View View::frame(Frame f) const {
  View v = *this;
  auto set = [&](Attr name, const std::optional<double>& value) {
    if (value) v = v.attr(name, *value);
  };
  set(Attr::frameWidth, f.width);
  set(Attr::frameHeight, f.height);
  set(Attr::frameMinWidth, f.minWidth);
  set(Attr::frameMaxWidth, f.maxWidth);
  set(Attr::frameMinHeight, f.minHeight);
  set(Attr::frameMaxHeight, f.maxHeight);
  if (f.alignment) v = v.attr(Attr::frameAlignment, *f.alignment);
  return v;
}

View View::opacity(double value) const { return attr(Attr::opacity, value); }
View View::blur(double radius) const { return attr(Attr::blur, radius); }
View View::scaleEffect(double scale) const { return attr(Attr::scaleEffect, scale); }

View View::background(Color color) const { return background(ColorView(std::move(color))); }
View View::background(Color color, Shape in) const { return background(ShapeView(std::move(in), std::move(color))); }
View View::background(View content) const {
  return slotModifier(*this, "background", [content](Builder& b, const std::string& key, Node& target) {
    content.build(b, key, target.slots["background"]);
  });
}

View View::clipShape(Shape shape) const {
  View v = attr(Attr::clipShape, shape.kind);
  if (shape.kind == ShapeKind::roundedRectangle) v = v.attr(Attr::clipShapeCornerRadius, shape.cornerRadius);
  if (shape.continuous) v = v.attr(Attr::clipShapeStyle, CornerStyle::continuous);
  return v;
}

View View::overlay(View content, Alignment alignment) const {
  return slotModifier(*this, "overlay", [content, alignment](Builder& b, const std::string& key, Node& target) {
    target.attrs[Attr::overlayAlignment] = alignment;
    content.build(b, key, target.slots["overlay"]);
  });
}

View View::safeAreaInset(Edge edge, View content, Alignment alignment) const {
  return slotModifier(*this, "safeAreaInset",
                      [content, alignment, edge](Builder& b, const std::string& key, Node& target) {
                        target.attrs[Attr::safeAreaInsetEdge] = edge;
                        target.attrs[Attr::safeAreaInsetAlignment] = alignment;
                        content.build(b, key, target.slots["safeAreaInset"]);
                      });
}

// ----- Controls -----

View View::disabled(bool isDisabled) const {
  return withScope([isDisabled](detail::Scope& s) { s.disabled = s.disabled || isDisabled; });
}
View View::buttonStyle(ButtonStyle style) const { return attr(Attr::buttonStyle, style); }
View View::controlSize(ControlSize size) const { return attr(Attr::controlSize, size); }
View View::pickerStyle(PickerStyle style) const {
  return modified([style](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    for (std::size_t i = first; i < out.size(); ++i) {
      if (out[i].kind == NodeKind::picker) {
        out[i].attrs[Attr::pickerStyle] = style;
      } else if (Node* p = firstOfKind(out[i].children, NodeKind::picker)) {
        p->attrs[Attr::pickerStyle] = style;
      }
    }
  });
}
View View::controlGroupStyle(ControlGroupStyle style) const { return attr(Attr::controlGroupStyle, style); }
View View::labelsHidden() const { return attr(Attr::labelsHidden, true); }

View View::tag(detail::AnyValue value) const {
  return modified([value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    for (std::size_t i = first; i < out.size(); ++i) b.tags()[out[i].identity] = value;
  });
}

View View::accessibilityIdentifier(std::string id) const { return attr(Attr::accessibilityIdentifier, std::move(id)); }
View View::accessibilityLabel(TextContent label) const { return attr(Attr::accessibilityLabel, std::move(label)); }
View View::id(std::string id) const { return attr(Attr::id, std::move(id)); }

// ----- Text input -----

namespace {
View fieldAttr(const View& self, Attr name, AttrValue value) {
  return self.modified([name, value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    std::vector<Node> mine(std::make_move_iterator(out.begin() + static_cast<std::ptrdiff_t>(first)),
                           std::make_move_iterator(out.end()));
    out.resize(first);
    forEachField(mine, [&](Node& n) {
      if (!n.attrs.contains(name)) n.attrs[name] = value;
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

View View::textInputAutocapitalization(TextInputAutocapitalization mode) const {
  return fieldAttr(*this, Attr::autocapitalization, mode);
}
View View::submitLabel(SubmitLabel label) const { return fieldAttr(*this, Attr::submitLabel, label); }
View View::keyboardType(KeyboardType type) const { return fieldAttr(*this, Attr::keyboardType, type); }
View View::scrollDismissesKeyboard(ScrollDismissesKeyboard mode) const {
  return attr(Attr::scrollDismissesKeyboard, mode);
}

View View::maxLength(std::size_t characters) const {
  return fieldEdit(*this, [characters](Builder& b, Node& n) {
    Handlers* h = b.handlers(n.actionId);
    if (!h) return;
    if (!h->maxLength || *h->maxLength > characters) {
      h->maxLength = characters;
      n.attrs[Attr::maxLength] = static_cast<std::int64_t>(characters);
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
        n.attrs[Attr::focused] = isFocused.get();
        if (Handlers* h = b.handlers(n.actionId)) h->focus = [isFocused](bool on) {
          if (isFocused.get() != on) isFocused.set(on);
        };
      });
      out[i] = std::move(one.front());
    }
  });
}

// ----- Lists and scrolling -----

View View::listStyle(ListStyle style) const { return attr(Attr::listStyle, style); }
View View::listRowBackground(Color color) const { return attr(Attr::listRowBackground, std::move(color)); }
View View::listRowSeparator(Visibility visibility) const { return attr(Attr::listRowSeparator, visibility); }
View View::listRowInsets(double top, double leading, double bottom, double trailing) const {
  return attr(Attr::listRowInsetsTop, top)
      .attr(Attr::listRowInsetsLeading, leading)
      .attr(Attr::listRowInsetsBottom, bottom)
      .attr(Attr::listRowInsetsTrailing, trailing);
}
View View::listSectionSpacing(ListSectionSpacing spacing) const { return attr(Attr::listSectionSpacing, spacing); }
View View::listSectionSpacing(double spacing) const { return attr(Attr::listSectionSpacing, spacing); }
View View::scrollIndicators(Visibility visibility) const { return attr(Attr::scrollIndicators, visibility); }
View View::scrollBounceBehavior(ScrollBounceBehavior behavior) const {
  return attr(Attr::scrollBounceBehavior, behavior);
}

// ----- Motion -----

View View::animation(Animation animation) const { return attr(Attr::animation, animation); }
View View::animationOn(Animation animation, detail::AnyValue value) const {
  return attr(Attr::animation, animation)
      .modified([animation, value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
        base.build(b, path, out);
        if (changedSinceLastRender(b, b.subKey(path, "animation"), value)) {
          b.afterRender([animation, path] {
            EventLog::shared().record(LoggedEventType::animation, std::string(name(animation)), path);
          });
        }
      });
}
View View::transition(Transition transition) const { return attr(Attr::transition, transition); }
View View::contentTransition(ContentTransition transition) const { return attr(Attr::contentTransition, transition); }
View View::scrollTransition(ScrollTransition configuration) const { return attr(Attr::scrollTransition, configuration); }

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

View View::feedbackOn(SensoryFeedback feedback, detail::AnyValue trigger, bool play) const {
  return modified([feedback, trigger, play](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (changedSinceLastRender(b, b.subKey(path, "feedback"), trigger) && play) {
      std::string name = feedbackName(feedback);
      b.afterRender([name, path] { EventLog::shared().record(LoggedEventType::haptic, name, path); });
    }
  });
}

View View::symbolEffectOn(SymbolEffect effect, detail::AnyValue value) const {
  return attr(Attr::symbolEffect, effect)
      .modified([effect, value](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
        base.build(b, path, out);
        if (changedSinceLastRender(b, b.subKey(path, "symbolEffect"), value)) {
          b.afterRender([effect, path] {
            EventLog::shared().record(LoggedEventType::symbolEffect, std::string(name(effect)), path);
          });
        }
      });
}

void Tip::invalidate(const std::string& reason) const { Tips::invalidate(id(), reason); }

}  // namespace platform::ui
