// The HTML writer behind HtmlRenderer (web/html_renderer.h): one walk over a view tree that
// appends the page's elements and fills its table of controls. Its parts live by family:
// html_writer.cpp (the walk, the modifiers every node takes, layout and text), html_lists.cpp
// (lists, sections, rows and their actions), html_controls.cpp (buttons, fields, switches,
// pickers, menus), html_presentations.cpp (window, navigation, tabs, sheets, dialogs, tips).
//
// Every class written from a closed-set value comes from web/html_classes.h.
//
// Thread: one writer per render, on the renderer's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ui/node.h"
#include "web/escape.h"
#include "web/html_renderer.h"
#include "web/icons.h"
#include "web/page.h"
#include "web/palette.h"
#include "web/strings.h"

namespace web::html {

using platform::ui::Attr;
using platform::ui::Color;
using platform::ui::Node;
using platform::ui::NodeKind;
using platform::ui::TextContent;

// A plain container for a slot's nodes, so that the walkers can treat them as one node.
Node group(const std::vector<Node>& nodes);
// Asset images that are pictures rather than one-colour symbols.
bool isArtwork(std::string_view name);
// A number as CSS writes it ("0" for a value that is not finite), and in pixels.
void appendCssNumber(std::string& out, double value);
std::string cssNumber(double value);
std::string px(double value);
// What a few common icon-only buttons are called for screen readers.
std::string iconName(std::string_view symbol);
// True when a visible node of `nodes` or below them (their modifier slots included) is drawn as
// a control of its own: a button, link, menu, field, switch or picker, or a row's actions button.
bool holdsControls(const std::vector<Node>& nodes);
// The named colour that fills the first shape under `n`.
std::optional<PaletteColor> firstFill(const Node& n);

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
  // A length in pixels, written straight into the style.
  void addStylePx(std::string_view property, double value) {
    style += property;
    style += ':';
    appendCssNumber(style, value);
    style += "px;";
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

// The memo stamps (platform/ui/node.h) of a subtree's nodes in the writer's walk order, as runs
// of one stamp.
using StampRuns = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

// What the writer made of one memoised subtree, and what it was drawn from: the subtree is
// drawn from here again while its nodes carry the same stamps, its top node the same
// attributes, and the writer is where it was (same kind of container, same field name, same
// element keys).
struct CachedSubtree {
  std::string identity;  // of the top node
  StampRuns stamps;
  platform::ui::AttrTable attrs;  // of the top node, but its place in a lazy list
  Context context;
  bool inLazyList = false;
  std::string fieldName;
  std::uint64_t keyGeneration = 0;
  // What drawing it did: the bytes, the identities it drew keys for (each drawn for the first
  // time in its page), the controls it registered.
  std::string html;
  std::vector<std::string> keys;
  std::vector<std::pair<std::string, ActionSpec>> actions;
  std::uint64_t usedInRender = 0;
};

// A subtree that is not memoised (a section's header, a row) kept with a copy of its nodes: it
// is drawn from here again while its nodes are equal to the copy (top node but its place in a
// lazy list) and the writer is where it was.
struct KeptSubtree {
  CachedSubtree drawn;
  Node tree;
};

// The subtrees a renderer drew, kept from one render to the next; those a render did not draw
// are dropped after it.
struct SubtreeCache {
  std::unordered_map<std::uint64_t, std::vector<CachedSubtree>> byStamp;  // of the top node
  std::unordered_map<std::string, KeptSubtree> byIdentity;                // of the top node
  std::uint64_t render = 0;

  void dropUnused();
};

class Writer {
 public:
  Writer(const StringTable& strings, const IconTable& icons, KeyTable& keyTable, Page& page,
         SubtreeCache* cache = nullptr)
      : strings_(strings), icons_(icons), keyTable_(keyTable), page_(page), out_(page.html), cache_(cache) {}

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
  // The name a control gives itself for a screen reader (accessibilityLabel), on its node or
  // on the one view its node wraps; empty when it gives none.
  std::string spokenName(const Node& n) const;
  void children(const Node& n, Context context = Context::normal) {
    for (const auto& child : n.children) node(child, context);
  }
  void slot(const Node& n, std::string_view name, Context context = Context::normal) {
    for (const auto& child : n.slot(name)) node(child, context);
  }

  // The common attributes of every node as classes and style.
  void decorate(const Node& n, Tag& tag);
  void registerAction(const Node& n);

  // One node with its wrapping modifiers, as node() draws it when no cached copy serves.
  void draw(const Node& n, Context context);
  // Draws a memoised subtree from the cache, or draws it and keeps it there; false when the
  // subtree is not entirely memoised (node() then just draws it).
  bool drawMemoised(const Node& n, Context context);
  // Draws a subtree from the cache while its nodes equal the ones drawn last time, or draws it
  // and keeps it there with a copy of its nodes (for subtrees that are seldom memoised but
  // mostly the same from one render to the next).
  void drawKept(const Node& n, Context context = Context::normal);
  // Whether a cached drawing serves `n` here: drawn in this key generation, in the same place,
  // and none of its keys drawn already in this render.
  bool serves(const CachedSubtree& cached, const Node& n, Context context) const;
  // Repeats a cached drawing: its HTML, keys and controls.
  void repeat(CachedSubtree& cached);
  // Draws `n` recording what drawing it does into `into`; false when a copy could not repeat it.
  bool drawRecorded(const Node& n, Context context, std::uint64_t stamp, CachedSubtree& into);
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
    if (recording_) recording_->keys.push_back(identity);
    auto seen = keys_.find(identity);
    if (seen == keys_.end()) {
      const KeyTable::Entry entry = keyTable_.entryFor(identity);
      keys_.emplace(entry.identity, 1);
      return entry.key;
    }
    if (recording_) recording_->cacheable = false;
    return keyTable_.keyFor(identity + "#" + std::to_string(++seen->second));
  }
  // Drawing that a cached copy could not repeat (the page's title).
  void notCacheable() {
    if (recording_) recording_->cacheable = false;
  }

  // What drawing a memoised subtree does, recorded for its cached copy; nested subtrees add
  // theirs to the one around them.
  struct Recording {
    std::vector<std::string> keys;
    std::vector<std::pair<std::string, ActionSpec>> actions;
    bool cacheable = true;
  };

  const StringTable& strings_;
  const IconTable& icons_;
  KeyTable& keyTable_;
  Page& page_;
  std::string& out_;
  // How often each identity was drawn in this render, by the key table's copy of it.
  std::unordered_map<std::string_view, int> keys_;
  // The row count of the lazy list being written, -1 outside one.
  std::int64_t rowCount_ = -1;
  bool omitKeys_ = false;
  SubtreeCache* cache_;
  Recording* recording_ = nullptr;
  std::uint64_t recordingStamp_ = 0;  // of the memoised subtree being recorded
  StampRuns stampScratch_;
  // What the row being written calls its value (its label, a switch above it, its section's
  // header): the accessible name of a field or choice that has no words of its own.
  std::string fieldName_;
};

}  // namespace web::html
