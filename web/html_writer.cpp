#include "web/internal/html_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>

#include "web/html_classes.h"

namespace web::html {

using namespace platform::ui;


// A plain container for a slot's nodes, so that the walkers can treat them as one node.
Node group(const std::vector<Node>& nodes) {
  Node n;
  n.kind = NodeKind::vStack;
  n.children = nodes;
  return n;
}

// Asset images that are pictures rather than one-colour symbols.
bool isArtwork(std::string_view name) { return name == "brivelTips"; }

void appendCssNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += '0';
    return;
  }
  // Four significant digits, as printf's "%.4g" writes them.
  char buffer[32];
  auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 4);
  out.append(buffer, written.ptr);
}

std::string cssNumber(double value) {
  std::string out;
  appendCssNumber(out, value);
  return out;
}

std::string px(double value) {
  std::string out;
  appendCssNumber(out, value);
  out += "px";
  return out;
}

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
    if (m.flag(Attr::hidden)) continue;
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

// The named colour that fills the first shape under `n`.
std::optional<PaletteColor> firstFill(const Node& n) {
  if (n.flag(Attr::hidden)) return std::nullopt;
  if (n.kind == NodeKind::shape) {
    if (const Color* c = n.color(Attr::fill); c && c->kind == Color::Kind::asset) return paletteColor(c->name);
  }
  for (const auto& child : n.children) {
    if (auto found = firstFill(child)) return found;
  }
  return std::nullopt;
}

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
    if (m.flag(Attr::hidden)) return;
    if (m.kind == NodeKind::text) {
      if (const auto* t = m.textContent(Attr::text)) {
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


std::string Writer::spokenName(const Node& n) const {
  if (const auto* label = n.textContent(Attr::accessibilityLabel)) return strings_.text(*label);
  if (n.children.size() == 1) {
    if (const auto* label = n.children.front().textContent(Attr::accessibilityLabel)) return strings_.text(*label);
  }
  return {};
}

std::optional<std::string> Writer::firstSymbol(const Node& n) const {
  if (n.kind == NodeKind::image) {
    std::string name = n.string(Attr::systemName);
    if (name.empty()) name = n.string(Attr::assetName);
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
  // The events come from the node, as the runtime wrote them from its handlers.
  ActionSpec spec;
  static_cast<platform::ui::Accepts&>(spec) = n.accepts;
  if (spec.value == ActionSpec::Value::text) {
    spec.multiline = n.choice<Axis>(Attr::axis) == Axis::vertical;
    if (auto limit = n.number(Attr::maxLength); limit && *limit >= 0) spec.maxLength = static_cast<size_t>(*limit);
  }
  if (recording_) recording_->actions.emplace_back(n.actionId, spec);
  page_.actions[n.actionId] = spec;
}

void Writer::decorate(const Node& n, Tag& tag) {
  if (!n.identity.empty() && !omitKeys_) tag.addAttribute("data-key", uniqueKey(n.identity));
  std::string testId = n.string(Attr::accessibilityIdentifier);
  if (!testId.empty()) tag.addAttribute("data-id", testId);
  // A passing message (a toast): the page reads its words out through its announcer.
  if (n.flag(Attr::accessibilityAnnouncement)) {
    tag.addAttribute("role", "status");
    tag.addAttribute("data-announce", "true");
  }

  if (auto font = n.choice<Font>(Attr::font)) tag.addClass(fontClass(*font));
  if (n.flag(Attr::bold)) tag.addClass("bold");
  if (const Color* c = n.color(Attr::foregroundStyle)) {
    std::string value = cssColor(*c);
    if (c->gradient) {
      tag.addClass("fg-gradient");
      tag.addStyle("--fg", value);
    } else {
      tag.addClass("fg");
      tag.addStyle("color", value);
    }
  }
  if (const Color* c = n.color(Attr::accentColor)) {
    std::string value = cssColor(*c);
    tag.addStyle("--accent", value);
    tag.addStyle("--tint", value);
  }
  // A cleared tint shows the accent colour, whatever tint surrounds the view.
  if (n.flag(Attr::tintCleared)) tag.addStyle("--tint", "var(--accent)");
  if (const Color* c = n.color(Attr::tint)) tag.addStyle("--tint", cssColor(*c));
  if (auto align = n.choice<TextAlignment>(Attr::multilineTextAlignment)) tag.addClass(textAlignmentClass(*align));
  if (auto lines = n.number(Attr::lineLimit); lines && *lines > 0) {
    tag.addClass("line-limit");
    tag.addStyle("--lines", cssNumber(*lines));
  }
  if (auto v = n.number(Attr::opacity)) tag.addStyle("opacity", cssNumber(*v));
  std::string filter;
  if (auto v = n.number(Attr::blur); v && *v > 0) filter += "blur(" + px(*v) + ") ";
  if (const Color* c = n.color(Attr::shadowColor)) {
    double radius = n.number(Attr::shadowRadius).value_or(0);
    filter += "drop-shadow(" + px(n.number(Attr::shadowX).value_or(0)) + " " + px(n.number(Attr::shadowY).value_or(0)) +
              " " + px(radius) + " " + cssColor(*c) + ")";
  }
  if (!filter.empty()) tag.addStyle("filter", filter);
  if (auto v = n.number(Attr::scaleEffect)) tag.addStyle("transform", "scale(" + cssNumber(*v) + ")");

  auto dimension = [&](Attr attr, const char* property) {
    if (auto v = n.number(attr)) {
      if (std::isinf(*v)) return true;
      tag.addStylePx(property, *v);
    }
    return false;
  };
  dimension(Attr::frameWidth, "width");
  dimension(Attr::frameHeight, "height");
  dimension(Attr::frameMinWidth, "min-width");
  dimension(Attr::frameMinHeight, "min-height");
  if (dimension(Attr::frameMaxWidth, "max-width")) tag.addClass("fill-w");
  if (dimension(Attr::frameMaxHeight, "max-height")) tag.addClass("fill-h");
  if (auto frameAlign = n.choice<Alignment>(Attr::frameAlignment)) tag.addClass(frameAlignmentClass(*frameAlign));
  for (const auto& [edge, property] : {std::pair{Attr::paddingTop, "padding-top"}, std::pair{Attr::paddingBottom, "padding-bottom"},
                                       std::pair{Attr::paddingLeading, "padding-inline-start"},
                                       std::pair{Attr::paddingTrailing, "padding-inline-end"}}) {
    if (auto v = n.number(edge)) tag.addStylePx(property, *v);
  }
  if (auto clip = n.choice<ShapeKind>(Attr::clipShape)) {
    tag.addClass(clipShapeClass(*clip));
    if (auto r = n.number(Attr::clipShapeCornerRadius)) tag.addStylePx("--radius", *r);
  }
  if (auto variant = n.choice<SymbolVariant>(Attr::symbolVariant)) tag.addClass(symbolVariantClass(*variant));
  if (auto role = n.choice<ButtonRole>(Attr::role)) tag.addClass(buttonRoleClass(*role));
  if (auto style = n.choice<ButtonStyle>(Attr::buttonStyle)) tag.addClass(buttonStyleClass(*style));
  if (auto size = n.choice<ControlSize>(Attr::controlSize)) tag.addClass(controlSizeClass(*size));
  if (auto v = n.number(Attr::spacing)) tag.addStylePx("gap", *v);
  if (auto alignment = n.choice<Alignment>(Attr::alignment)) tag.addClass(stackAlignmentClass(*alignment));
  if (n.attr(Attr::transition)) tag.addClass("transition");
  if (const Color* c = n.color(Attr::listRowBackground)) tag.addStyle("--row-bg", cssColor(*c));
}

namespace {

// Appends the stamps of `n` and all below it, in the order the walk below visits them; false
// as soon as one node carries none.
bool collectStamps(const Node& n, StampRuns& runs) {
  if (n.memoStamp == 0) return false;
  if (!runs.empty() && runs.back().first == n.memoStamp) {
    ++runs.back().second;
  } else {
    runs.emplace_back(n.memoStamp, 1);
  }
  for (const auto& child : n.children) {
    if (!collectStamps(child, runs)) return false;
  }
  for (const auto& [name, nodes] : n.slots) {
    for (const auto& child : nodes) {
      if (!collectStamps(child, runs)) return false;
    }
  }
  return true;
}

// The attributes of a subtree's top node, but its place in a lazy list (which the row around
// it draws, not the node).
bool sameAttrs(const AttrTable& now, const AttrTable& cached) {
  auto a = now.begin(), b = cached.begin();
  for (;; ++a, ++b) {
    while (a != now.end() && a->first == Attr::rowIndex) ++a;
    while (b != cached.end() && b->first == Attr::rowIndex) ++b;
    if (a == now.end() || b == cached.end()) return a == now.end() && b == cached.end();
    if (!(*a == *b)) return false;
  }
}

AttrTable withoutRowIndex(const AttrTable& attrs) {
  AttrTable copy = attrs;
  copy.erase(Attr::rowIndex);
  return copy;
}

// Whether two subtrees are the same but for the attributes of their top nodes (which
// sameAttrs compares).
bool sameBelow(const Node& a, const Node& b) {
  return a.kind == b.kind && a.identity == b.identity && a.actionId == b.actionId && a.accepts == b.accepts &&
         a.memoStamp == b.memoStamp && a.children == b.children && a.slots == b.slots;
}

}  // namespace

void SubtreeCache::dropUnused() {
  for (auto it = byStamp.begin(); it != byStamp.end();) {
    std::erase_if(it->second, [this](const CachedSubtree& c) { return c.usedInRender != render; });
    it = it->second.empty() ? byStamp.erase(it) : std::next(it);
  }
  std::erase_if(byIdentity, [this](const auto& entry) { return entry.second.drawn.usedInRender != render; });
}

void Writer::node(const Node& n, Context context) {
  if (n.flag(Attr::hidden)) return;
  // A memoised subtree is kept whole from its top node: nodes below it carrying its stamp are
  // drawn with it.
  if (cache_ && n.memoStamp != 0 && n.memoStamp != recordingStamp_ && !omitKeys_ && drawMemoised(n, context)) return;
  draw(n, context);
}

bool Writer::serves(const CachedSubtree& cached, const Node& n, Context context) const {
  return cached.context == context && cached.inLazyList == (rowCount_ >= 0) &&
         cached.keyGeneration == keyTable_.generation() && cached.fieldName == fieldName_ &&
         sameAttrs(n.attrs, cached.attrs) &&
         std::none_of(cached.keys.begin(), cached.keys.end(), [this](const std::string& k) { return keys_.count(k) > 0; });
}

void Writer::repeat(CachedSubtree& cached) {
  for (const std::string& k : cached.keys) {
    // Every key a kept copy drew is in the table: it was drawn in this key generation.
    if (const std::string* identity = keyTable_.touch(k)) keys_.emplace(*identity, 1);
  }
  for (const auto& [id, spec] : cached.actions) page_.actions[id] = spec;
  out_ += cached.html;
  if (recording_) {
    recording_->keys.insert(recording_->keys.end(), cached.keys.begin(), cached.keys.end());
    recording_->actions.insert(recording_->actions.end(), cached.actions.begin(), cached.actions.end());
  }
  cached.usedInRender = cache_->render;
}

bool Writer::drawRecorded(const Node& n, Context context, std::uint64_t stamp, CachedSubtree& into) {
  Recording recording;
  Recording* outer = std::exchange(recording_, &recording);
  const std::uint64_t outerStamp = std::exchange(recordingStamp_, stamp);
  const std::size_t start = out_.size();
  draw(n, context);
  recording_ = outer;
  recordingStamp_ = outerStamp;
  if (outer) {
    outer->keys.insert(outer->keys.end(), recording.keys.begin(), recording.keys.end());
    outer->actions.insert(outer->actions.end(), recording.actions.begin(), recording.actions.end());
    outer->cacheable = outer->cacheable && recording.cacheable;
  }
  if (!recording.cacheable) return false;
  into.identity = n.identity;
  into.attrs = withoutRowIndex(n.attrs);
  into.context = context;
  into.inLazyList = rowCount_ >= 0;
  into.fieldName = fieldName_;
  into.keyGeneration = keyTable_.generation();
  into.html.assign(out_, start, std::string::npos);
  into.keys = std::move(recording.keys);
  into.actions = std::move(recording.actions);
  into.usedInRender = cache_->render;
  return true;
}

bool Writer::drawMemoised(const Node& n, Context context) {
  stampScratch_.clear();
  if (!collectStamps(n, stampScratch_)) return false;
  auto lookup = [&]() -> CachedSubtree* {
    for (CachedSubtree& c : cache_->byStamp[n.memoStamp]) {
      if (c.identity == n.identity) return &c;
    }
    return nullptr;
  };
  CachedSubtree* found = lookup();
  if (found && found->stamps == stampScratch_ && serves(*found, n, context)) {
    repeat(*found);
    return true;
  }

  StampRuns stamps = stampScratch_;
  CachedSubtree drawn;
  if (!drawRecorded(n, context, n.memoStamp, drawn)) return true;
  drawn.stamps = std::move(stamps);
  // Subtrees drawn meanwhile may have moved the entries.
  found = lookup();
  if (!found) found = &cache_->byStamp[n.memoStamp].emplace_back();
  *found = std::move(drawn);
  return true;
}

void Writer::drawKept(const Node& n, Context context) {
  if (n.flag(Attr::hidden)) return;
  if (!cache_ || omitKeys_ || n.memoStamp != 0 || n.identity.empty()) return node(n, context);
  auto found = cache_->byIdentity.find(n.identity);
  if (found != cache_->byIdentity.end() && found->second.drawn.usedInRender != cache_->render &&
      serves(found->second.drawn, n, context) && sameBelow(n, found->second.tree)) {
    repeat(found->second.drawn);
    return;
  }
  CachedSubtree drawn;
  if (!drawRecorded(n, context, recordingStamp_, drawn)) {
    cache_->byIdentity.erase(n.identity);
    return;
  }
  // Subtrees drawn meanwhile may have added entries (and moved this one): look again.
  KeptSubtree& kept = cache_->byIdentity[n.identity];
  kept.drawn = std::move(drawn);
  kept.tree = n;
}

void Writer::draw(const Node& n, Context context) {

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
    if (n.flag(Attr::swipeActionsAllowsFullSwipe)) {
      host.addAttribute("data-full-swipe", "true");
    }
    open(host);
  }
  if (layered) {
    // A clip shape cuts the background and overlay too, as they are drawn within the view.
    Tag wrapper("div", "layered");
    if (auto clip = n.choice<ShapeKind>(Attr::clipShape)) {
      wrapper.addClass(clipShapeClass(*clip));
      if (auto r = n.number(Attr::clipShapeCornerRadius)) wrapper.addStylePx("--radius", *r);
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
      overlay.addClass(overlayAlignmentClass(n.choice<Alignment>(Attr::overlayAlignment).value_or(Alignment::center)));
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
    tag.addClass(insetEdgeClass(n.choice<Edge>(Attr::safeAreaInsetEdge).value_or(Edge::bottom)));
    tag.addClass(insetAlignmentClass(n.choice<Alignment>(Attr::safeAreaInsetAlignment).value_or(Alignment::center)));
    open(tag);
    slot(n, "safeAreaInset");
    close(tag);
    out_ += "</div>";
  }
}

void Writer::element(const Node& n, Context context) {
  switch (n.kind) {
    case NodeKind::window: return window(n);
    case NodeKind::navigationStack: return navigationStack(n);
    case NodeKind::navigationPage: return navigationPage(n);
    case NodeKind::tabView: return tabView(n);
    case NodeKind::tab: return children(n);
    case NodeKind::list: return list(n, "list");
    case NodeKind::form: return list(n, "list");  // a form looks like a grouped list
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
      tag.addClass(scrollAxisClass(n.choice<Axis>(Attr::axis).value_or(Axis::vertical)));
      if (n.choice<Visibility>(Attr::scrollIndicators) == Visibility::hidden) tag.addClass("no-indicators");
      std::string target = n.string(Attr::scrollTarget);
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
      if (n.choice<ControlGroupStyle>(Attr::controlGroupStyle) == ControlGroupStyle::menu) return menu(n, context);
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
      tag.addClass(shapeClass(n.choice<ShapeKind>(Attr::shape).value_or(ShapeKind::rectangle)));
      if (auto r = n.number(Attr::cornerRadius)) tag.addStylePx("--radius", *r);
      if (const Color* c = n.color(Attr::fill)) tag.addStyle("background", cssColor(*c));
      tag.addAttribute("aria-hidden", "true");
      break;
    }
    case NodeKind::color:
      tag = Tag("span", "color-fill");
      if (const Color* c = n.color(Attr::color)) tag.addStyle("background", cssColor(*c));
      tag.addAttribute("aria-hidden", "true");
      break;
    case NodeKind::progressView: {
      tag = Tag("progress", "progress");
      if (auto value = n.number(Attr::value)) {
        tag.addAttribute("value", cssNumber(*value));
        tag.addAttribute("max", cssNumber(n.number(Attr::total).value_or(1.0)));
      }
      break;
    }
    default:
      tag.addClass(platform::ui::kindName(n.kind));
  }
  decorate(n, tag);
  open(tag);
  switch (n.kind) {
    case NodeKind::text:
      if (const auto* t = n.textContent(Attr::text)) text(*t);
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

}  // namespace web::html
