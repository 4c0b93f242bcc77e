// Views: the building blocks a screen's body returns, and their modifiers.
//
// A View is an immutable description, cheap to copy. Nothing runs when one is made: the
// ViewRuntime evaluates it into Node values (node.h), calling component bodies and
// presentation contents as it goes. A component is any type with
//     View body(Context& ctx) const;
// and converts to View implicitly. Its state lives in the runtime under its identity
// (position in its parent plus ForEach ids); ctx.state<T>(name, initial) answers the handle.
//
// Keep child lists positional: write when(condition, [&] { return ...; }) rather than
// leaving a child out, so that later siblings keep their identity and state.
//
// Threads: main thread only.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/ui/environment.h"
#include "platform/ui/internal/builder.h"
#include "platform/ui/node.h"
#include "platform/ui/state.h"

namespace platform::ui {

class View;
class Context;

namespace detail {
class ViewImpl {
 public:
  virtual ~ViewImpl() = default;
  virtual void build(Builder& b, const std::string& path, std::vector<Node>& out) const = 0;
};
}  // namespace detail

template <class C>
concept Component = requires(const C& c, Context& ctx) {
  { c.body(ctx) } -> std::convertible_to<View>;
};

// ----- Small value types used by modifiers -----

enum class SensoryFeedback { success, warning, error, selection, impact };

// A shape to draw, clip to, or fill a background with.
struct Shape {
  ShapeKind kind = ShapeKind::rectangle;
  double cornerRadius = 0;
  bool continuous = false;

  static Shape capsule(bool continuous = false) { return {ShapeKind::capsule, 0, continuous}; }
  static Shape circle() { return {ShapeKind::circle, 0, false}; }
  static Shape rectangle() { return {ShapeKind::rectangle, 0, false}; }
  static Shape roundedRectangle(double radius, bool continuous = false) {
    return {ShapeKind::roundedRectangle, radius, continuous};
  }
};

// A frame; absent fields leave the size to the content.
struct Frame {
  std::optional<double> width, height, minWidth, maxWidth, minHeight, maxHeight;
  std::optional<Alignment> alignment;
};
inline constexpr double infinity = std::numeric_limits<double>::infinity();

// A tip shown in a popover. Subclasses name one tip; two tips with the same id share their
// shown/closed state.
class Tip {
 public:
  virtual ~Tip() = default;
  virtual std::string id() const = 0;
  virtual TextContent title() const = 0;
  virtual std::optional<TextContent> message() const { return std::nullopt; }
  virtual std::optional<std::string> imageAsset() const { return std::nullopt; }
  // Closes the tip everywhere and for later launches; logs the invalidation.
  void invalidate(const std::string& reason) const;
};

// Scrolls a ScrollView of a ScrollViewReader to the child whose .id(...) matches.
class ScrollProxy {
 public:
  explicit ScrollProxy(std::function<void(const std::string&)> scroll) : scroll_(std::move(scroll)) {}
  void scrollTo(const std::string& id) const { scroll_(id); }

 private:
  std::function<void(const std::string&)> scroll_;
};

// A task run by .task(id:); check isCancelled() after any wait.
class TaskHandle {
 public:
  TaskHandle() : cancelled_(std::make_shared<bool>(false)) {}
  bool isCancelled() const { return *cancelled_; }
  void cancel() const { *cancelled_ = true; }

 private:
  std::shared_ptr<bool> cancelled_;
};

// ----- View -----

class View {
 public:
  // The empty view: builds no node.
  View();
  explicit View(std::shared_ptr<const detail::ViewImpl> impl);
  template <Component C>
  View(C component);  // NOLINT: a component is a view

  bool isEmpty() const { return !impl_; }
  void build(detail::Builder& b, const std::string& path, std::vector<Node>& out) const;

  // A general modifier: `apply` builds `base` itself (or not) and edits what it produced.
  // Modifiers of the empty view answer the empty view.
  using Apply =
      std::function<void(detail::Builder& b, const std::string& path, const View& base, std::vector<Node>& out)>;
  View modified(Apply apply) const;
  // Sets an attribute on each node this view produces.
  View attr(Attr name, AttrValue value) const;

  // Text and symbol styling.
  View font(Font textStyle) const;
  View bold(bool on = true) const;
  View foregroundStyle(Color color) const;
  View tint(Color color) const;
  // Clears the tint this view inherits: it shows in the accent colour.
  View tintCleared() const;
  View accentColor(Color color) const;  // also sets the environment's accent colour
  View multilineTextAlignment(TextAlignment alignment) const;
  View lineLimit(int lines) const;
  View minimumScaleFactor(double factor) const;
  View symbolVariant(SymbolVariant variant) const;
  View symbolRenderingMode(SymbolRenderingMode mode) const;
  View shadow(Color color, double radius, double x = 0, double y = 0) const;

  // Layout and drawing.
  View padding(Edge edges, double length) const;
  View padding(double length = 16) const { return padding(Edge::all, length); }
  View frame(Frame frame) const;
  View opacity(double value) const;
  View blur(double radius) const;
  View scaleEffect(double scale) const;
  View background(Color color) const;
  View background(Color color, Shape in) const;
  View background(View content) const;
  View clipShape(Shape shape) const;
  View overlay(View content, Alignment alignment = Alignment::center) const;
  View safeAreaInset(Edge edge, View content, Alignment alignment = Alignment::center) const;

  // Controls.
  View disabled(bool isDisabled) const;
  View buttonStyle(ButtonStyle style) const;
  View controlSize(ControlSize size) const;
  View pickerStyle(PickerStyle style) const;
  View controlGroupStyle(ControlGroupStyle style) const;
  View labelsHidden() const;
  View tag(detail::AnyValue value) const;
  template <class T>
  View tag(T value) const {
    return tag(detail::AnyValue::of(std::move(value)));
  }
  View accessibilityIdentifier(std::string id) const;
  // What a screen reader calls the view, for a control whose label is an image alone.
  View accessibilityLabel(TextContent label) const;
  View id(std::string id) const;

  // Text input.
  View textInputAutocapitalization(TextInputAutocapitalization mode) const;
  View submitLabel(SubmitLabel label) const;
  View keyboardType(KeyboardType type) const;
  View scrollDismissesKeyboard(ScrollDismissesKeyboard mode) const;
  // The longest text (in user-perceived characters) a text field under this view takes;
  // the runtime cuts longer input before the binding sees it.
  View maxLength(std::size_t characters) const;
  View onSubmit(std::function<void()> action) const;
  View focused(Binding<bool> isFocused) const;
  template <class F>
  View focused(Binding<std::optional<F>> focus, F value) const {
    return focused(Binding<bool>([focus, value] { return focus.get() == std::optional<F>(value); },
                                 [focus, value](bool on) {
                                   if (on) {
                                     focus.set(value);
                                   } else if (focus.get() == std::optional<F>(value)) {
                                     focus.set(std::nullopt);
                                   }
                                 }));
  }

  // Lists and scrolling.
  View listStyle(ListStyle style) const;
  View listRowBackground(Color color) const;
  View listRowSeparator(Visibility visibility) const;
  View listRowInsets(double top, double leading, double bottom, double trailing) const;
  View listSectionSpacing(ListSectionSpacing spacing) const;
  View listSectionSpacing(double spacing) const;
  View scrollIndicators(Visibility visibility) const;
  View scrollBounceBehavior(ScrollBounceBehavior behavior) const;

  // Motion (recorded, not animated).
  View animation(Animation animation) const;
  template <class T>
  View animation(Animation animation, T value) const {
    return animationOn(animation, detail::AnyValue::of(std::move(value)));
  }
  View transition(Transition transition) const;
  View contentTransition(ContentTransition transition) const;
  View scrollTransition(ScrollTransition configuration) const;

  // Navigation bar.
  View navigationTitle(TextContent title) const;
  View navigationBarTitleDisplayMode(TitleDisplayMode mode) const;
  View navigationBarBackButtonHidden(bool hidden = true) const;
  View toolbar(std::vector<View> items) const;
  View searchable(Binding<std::string> text, Binding<bool> isPresented, TextContent prompt,
                  SearchFieldPlacement placement = SearchFieldPlacement::automatic) const;
  View navigationDestination(Binding<bool> isPresented, std::function<View()> destination) const;
  View tabItem(View label) const;

  // Presentations.
  View sheet(Binding<bool> isPresented, std::function<View()> content,
             std::function<void()> onDismiss = {}) const;
  View presentationSizing(PresentationSizing sizing) const;
  View interactiveDismissDisabled(bool disabled = true) const;
  View confirmationDialog(TextContent title, Binding<bool> isPresented, Visibility titleVisibility,
                          std::vector<View> actions, View message = View()) const;
  View contextMenu(std::vector<View> items) const;
  View swipeActions(Edge edge, bool allowsFullSwipe, std::vector<View> actions) const;
  View popoverTip(std::shared_ptr<const Tip> tip, Edge arrowEdge = Edge::top,
                  std::function<void()> action = {}) const;

  // Environment.
  template <class Key>
  View environment(typename Key::Value value) const {
    return withScope([value](detail::Scope& s) { s.env = s.env.with<Key>(value); });
  }
  template <class T>
  View environmentObject(std::shared_ptr<T> object) const {
    return withScope([object](detail::Scope& s) { s.env = s.env.withObject<T>(object); });
  }

  // Lifecycle.
  View onAppear(std::function<void()> action) const;
  View onDisappear(std::function<void()> action) const;
  // Runs after every render that built this view (a "run on every update" hook).
  View onUpdate(std::function<void()> action) const;
  // Runs with the old and new value after a render in which `value` differs from the one of
  // the previous render (so once per action, however many writes it made); with `initial`
  // also when the view first appears, with the value twice.
  template <class T>
  View onChange(const T& value,
                std::type_identity_t<std::function<void(const T& oldValue, const T& newValue)>> action,
                bool initial = false) const;
  template <class T>
  View onChange(const T& value, std::type_identity_t<std::function<void()>> action, bool initial = false) const {
    return onChange<T>(value, std::function<void(const T&, const T&)>([action](const T&, const T&) { action(); }),
                       initial);
  }
  // Starts `action` (posted to the main queue) when the view appears and again, after
  // cancelling the running one, whenever `id` changes; cancels it when the view goes.
  template <class T>
  View task(T id, std::function<void(const TaskHandle&)> action) const {
    return taskOn(detail::AnyValue::of(std::move(id)), std::move(action));
  }
  template <class T>
  View task(T id, std::function<void()> action) const {
    return taskOn(detail::AnyValue::of(std::move(id)), [action](const TaskHandle&) { action(); });
  }
  View task(std::function<void(const TaskHandle&)> action) const {
    return taskOn(detail::AnyValue::of(0), std::move(action));
  }
  // Logs a haptic each time `trigger` changes between renders; with `play` false the change
  // is taken in silently (the haptic would confirm something that did not happen).
  template <class T>
  View sensoryFeedback(SensoryFeedback feedback, T trigger, bool play = true) const {
    return feedbackOn(feedback, detail::AnyValue::of(std::move(trigger)), play);
  }
  // Logs a symbol effect (a bounce) each time `value` changes between renders.
  template <class T>
  View symbolEffect(SymbolEffect effect, T value) const {
    return symbolEffectOn(effect, detail::AnyValue::of(std::move(value)));
  }

  // Edits the builder scope for the subtree.
  View withScope(std::function<void(detail::Scope&)> edit) const;

 private:
  View animationOn(Animation animation, detail::AnyValue value) const;
  View taskOn(detail::AnyValue id, std::function<void(const TaskHandle&)> action) const;
  View feedbackOn(SensoryFeedback feedback, detail::AnyValue trigger, bool play) const;
  View symbolEffectOn(SymbolEffect effect, detail::AnyValue value) const;

  std::shared_ptr<const detail::ViewImpl> impl_;
};

// ----- Context: what a component's body sees -----
// Valid only while the body runs: copy what a closure needs (a State, a DismissAction, an
// object) out of it instead of keeping the Context.

class Context {
 public:
  Context(detail::Builder& builder, std::string identity) : b_(builder), identity_(std::move(identity)) {}

  // State of this component, created with `initial` the first time the identity is seen.
  template <class T>
  State<T> state(const std::string& name, T initial) {
    return State<T>(b_.stateBox<T>(identity_ + "." + name, [&] { return std::move(initial); }));
  }
  // State created by `make` the first time only (for objects that are costly or must be
  // created once, such as a view model).
  template <class T>
  State<T> stateWith(const std::string& name, const std::function<T()>& make) {
    return State<T>(b_.stateBox<T>(identity_ + "." + name, make));
  }
  // Focus state: a Bool or an optional field enum; bind with .focused(...).
  template <class T>
  State<T> focusState(const std::string& name) {
    return state<T>(name, T{});
  }

  template <class Key>
  typename Key::Value environment() const {
    auto value = b_.scope.env.get<Key>();
    b_.environmentRead<Key>(value);
    return value;
  }
  template <class T>
  std::shared_ptr<T> environmentObject() const {
    auto object = b_.scope.env.object<T>();
    b_.environmentObjectRead(object);
    return object;
  }
  template <class T>
  std::shared_ptr<T> environmentObjectIfPresent() const {
    auto object = b_.scope.env.objectIfPresent<T>();
    b_.environmentObjectRead(object);
    return object;
  }
  DismissAction dismiss() const { return environment<DismissKey>(); }
  DismissSearchAction dismissSearch() const { return environment<DismissSearchKey>(); }
  ScenePhase scenePhase() const { return environment<ScenePhaseKey>(); }
  Color accentColor() const { return environment<AccentColorKey>(); }
  const std::string& identity() const { return identity_; }
  detail::Builder& builder() const { return b_; }

 private:
  detail::Builder& b_;
  std::string identity_;
};

namespace detail {
template <class C>
class ComponentImpl final : public ViewImpl {
 public:
  explicit ComponentImpl(C component) : component_(std::move(component)) {}
  void build(Builder& b, const std::string& path, std::vector<Node>& out) const override {
    std::string key = path + "$" + typeid(C).name();
    Context ctx(b, key);
    View body = component_.body(ctx);
    body.build(b, key, out);
  }

 private:
  C component_;
};

class ClosureComponent final : public ViewImpl {
 public:
  ClosureComponent(std::string name, std::function<View(Context&)> body)
      : name_(std::move(name)), body_(std::move(body)) {}
  void build(Builder& b, const std::string& path, std::vector<Node>& out) const override;

 private:
  std::string name_;
  std::function<View(Context&)> body_;
};
}  // namespace detail

template <Component C>
View::View(C component) : impl_(std::make_shared<detail::ComponentImpl<C>>(std::move(component))) {}

template <class T>
View View::onChange(const T& value, std::type_identity_t<std::function<void(const T&, const T&)>> action,
                    bool initial) const {
  T current = value;
  return modified([current, action, initial](detail::Builder& b, const std::string& path, const View& base,
                                             std::vector<Node>& out) {
    base.build(b, path, out);
    struct Last {
      std::optional<T> value;
    };
    auto last = b.persistent<Last>(b.subKey(path, "change"), [] { return std::make_shared<Last>(); });
    if (!last->value) {
      if (initial) b.afterRender([action, current] { action(current, current); });
    } else if (!(*last->value == current)) {
      T old = *last->value;
      b.afterRender([action, old, current] { action(old, current); });
    }
    last->value = current;
  });
}

// ----- Views -----

// A component made of a closure, with a name that is part of its identity.
View Closure(std::string name, std::function<View(Context&)> body);

TextContent localized(std::string key, std::vector<std::string> args = {});
TextContent verbatim(std::string text);

View Text(TextContent text);
inline View Text(std::string key) { return Text(localized(std::move(key))); }
inline View Text(const char* key) { return Text(localized(key)); }
View Verbatim(std::string text);
View SystemImage(std::string name);
View AssetImage(std::string name);
View ShapeView(Shape shape, std::optional<Color> fill = std::nullopt);
View ColorView(Color color);
View Spacer();
View Divider();
View ProgressView(double value, double total = 1.0);

View VStack(std::vector<View> children, std::optional<double> spacing = std::nullopt,
            Alignment alignment = Alignment::center);
View HStack(std::vector<View> children, std::optional<double> spacing = std::nullopt,
            Alignment alignment = Alignment::center);
View ZStack(std::vector<View> children, Alignment alignment = Alignment::center);
// Contributes its children to its parent, like a ForEach.
View Group(std::vector<View> children);
View List(std::vector<View> children);
View Form(std::vector<View> children);
View Section(std::vector<View> rows, View header = View(), View footer = View());
View ScrollView(Axis axis, std::vector<View> children);
View ScrollViewReader(std::function<View(const ScrollProxy&)> content);
View Grid(std::vector<View> rows);
View GridRow(std::vector<View> cells);

View Label(View title, View icon);
View Label(TextContent title, std::string systemImage);
View LabeledContent(View label, View content);
View ContentUnavailableView(View label, View description = View(), View actions = View());

View Button(View label, std::function<void()> action, ButtonRole role = ButtonRole::none);
View Button(TextContent title, std::function<void()> action, ButtonRole role = ButtonRole::none);
// A button titled with a localization key.
inline View Button(const char* key, std::function<void()> action, ButtonRole role = ButtonRole::none) {
  return Button(localized(key), std::move(action), role);
}
View Link(std::string url, View label);
View NavigationLink(View label, std::function<View()> destination);
View Toggle(Binding<bool> isOn, View label);
View TextField(TextContent placeholder, Binding<std::string> text, Axis axis = Axis::horizontal);
View Menu(View label, std::vector<View> items);
View ControlGroup(View label, std::vector<View> items);
View ToolbarItem(ToolbarPlacement placement, View content);
View ToolbarItemGroup(ToolbarPlacement placement, std::vector<View> items);

View NavigationStack(View root);
View TabView(std::vector<View> tabs);
View TabView(Binding<int> selection, std::vector<View> tabs);

// An empty view when `condition` is false; `content` runs only when it is true.
View when(bool condition, const std::function<View()>& content);

namespace detail {
View makePicker(View label, View content, std::function<bool(const AnyValue&)> isSelected,
                std::function<void(const AnyValue&)> select);
View makeForEach(std::vector<std::pair<std::string, View>> items);
std::string idText(const std::string& id);
template <class I>
std::string idText(const I& id)
  requires std::is_arithmetic_v<I>
{
  return std::to_string(id);
}
}  // namespace detail

// ForEach for long lists: `count` elements, of which a lazy List (node.h) builds only those in
// its window, calling `id(i)` and `content(i)` for them while it renders. The functions run
// after the body returned, so they must own what they use (capture by value). Ids must be
// unique.
//
// Where the rows of a ForEach in a List take their identity (and so their state, memoised
// copy and action ids) from:
enum class RowIdentity {
  // The ForEach's own place and the row's id: a row that a change moves into another section
  // is another row (a bill moved from "to pay" to "paid" does something else when tapped).
  forEach,
  // The list and the row's id alone, whichever section holds it: a row stays the same row
  // when a search or a regrouping moves it. Ids should be unique across the list; a repeated
  // one gets a suffix.
  list,
};
View LazyForEach(std::size_t count, std::function<std::string(std::size_t)> id,
                 std::function<View(std::size_t)> content, RowIdentity identity = RowIdentity::forEach);

// A picker whose options are the nodes of `content` that carry a .tag of type T.
template <class T>
View Picker(View label, Binding<T> selection, View content) {
  return detail::makePicker(
      std::move(label), std::move(content),
      [selection](const detail::AnyValue& tag) {
        const T* t = tag.as<T>();
        return t && *t == selection.get();
      },
      [selection](const detail::AnyValue& tag) {
        if (const T* t = tag.as<T>()) selection.set(*t);
      });
}

// One view per element of `data`, identified by `id(element)` (a string or a number).
template <class Range, class IdFn, class ContentFn>
View ForEach(const Range& data, IdFn id, ContentFn content) {
  std::vector<std::pair<std::string, View>> items;
  for (const auto& element : data) {
    items.emplace_back(detail::idText(id(element)), View(content(element)));
  }
  return detail::makeForEach(std::move(items));
}

}  // namespace platform::ui
