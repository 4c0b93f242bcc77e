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
// Thread: one at a time per renderer (its key table); a renderer only reads the tree.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/ui/node.h"
#include "web/icons.h"
#include "web/page.h"
#include "web/strings.h"

namespace web {

// Short element keys for the page: a view's identity is a long path, so each one gets a short
// key ("k1z") the first time it is drawn and keeps it while it is drawn, which lets the page
// match its elements across renders with a few bytes each. Keys no render drew for a while
// (kKeptRenders renders) are let go once the table has doubled since it last let keys go, so
// that a long session of searches and scrolls, each drawing other rows, does not keep a key
// for every row it ever drew; a key is never given to another identity.
class KeyTable {
 public:
  static constexpr std::size_t kLetGoFrom = 20000;  // keys kept at least
  static constexpr std::uint64_t kKeptRenders = 16;

  const std::string& keyFor(const std::string& identity) { return entryFor(identity).key; }
  // The key of `identity` with the table's own copy of the identity, which stays put until
  // the end of the render.
  struct Entry {
    const std::string& identity;
    const std::string& key;
  };
  Entry entryFor(const std::string& identity);
  // Marks the key of `identity` as drawn by this render (a copy of a kept subtree repeats it);
  // answers the table's own copy of the identity, null when it has no key.
  const std::string* touch(const std::string& identity);
  // The identity a key was given to, or null.
  const std::string* identityOf(const std::string& key) const;
  std::size_t size() const { return keys_.size(); }
  // Grows each time keys were let go: what was drawn with the keys of an earlier generation
  // (kept subtrees) is drawn again.
  std::uint64_t generation() const { return generation_; }

  // Around each render of the page: the end lets go of keys unused for kKeptRenders renders
  // when the table has grown enough.
  void beginRender() { ++render_; }
  void endRender();

 private:
  struct Given {
    std::string identity;
    std::uint64_t drawnInRender = 0;
  };
  struct Key {
    std::string key;
    Given* given = nullptr;  // its entry in identities_ (entries stay put until let go)
  };
  std::unordered_map<std::string, Key> keys_;          // identity -> key
  std::unordered_map<std::string, Given> identities_;  // key -> identity
  std::uint64_t next_ = 0;
  std::uint64_t generation_ = 0;
  std::uint64_t render_ = 0;
  std::size_t keptAfterLettingGo_ = 0;
};

namespace html {
struct SubtreeCache;
}

class HtmlRenderer {
 public:
  HtmlRenderer(const StringTable& strings, const IconTable& icons);

  // Renders a `window` node (or any subtree) into a Page. Renders of one renderer share its
  // key table, so call it from one thread at a time. A memoised subtree (platform/ui/memo.h)
  // drawn by the previous render and repeated unchanged is copied from what that render wrote;
  // so is a section's header or a list row whose nodes equal those the previous render drew.
  // The key table and the subtrees last drawn are kept by the renderer.
  Page render(const platform::ui::Node& root) const;
  // The items of the actions menu of the row whose element key (in the latest render of this
  // renderer) is `key`: a row's swipe and context actions are drawn only when its menu opens.
  // The items carry no element keys. Null when no such row is in `root`.
  std::optional<std::string> renderRowMenu(const platform::ui::Node& root, const std::string& key) const;

 private:
  const StringTable& strings_;
  const IconTable& icons_;
  std::shared_ptr<KeyTable> keys_ = std::make_shared<KeyTable>();
  std::shared_ptr<html::SubtreeCache> subtrees_;
};

// The CSS value of a colour: a custom property of the palette ("var(--c-sonicBlue)"), a system
// colour, a gradient for `gradient` colours, mixed with transparency below opacity 1. Unknown
// asset names give an empty text (the element keeps its inherited colour).
std::string cssColor(const platform::ui::Color& color);

// Whether a link may carry its URL into the page: http, https and mailto only.
bool isSafeLinkUrl(const std::string& url);

}  // namespace web
