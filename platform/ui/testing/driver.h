// A test driver for view trees: renders a root view, finds nodes the way a user sees
// them, acts on them and pumps the main queue, with no browser.
//
//   ViewDriver driver([] { return View(SettingsScreen{flag}); });
//   driver.tap(byText("localizable_rateInTheAppStore"));
//   EXPECT_TRUE(driver.exists(byKind(NodeKind::sheet)));
//
// Searches skip hidden nodes (covered pages, unselected tabs) and look at the top-most
// presentation first, then down to the window's content. Nodes found point into the latest
// tree: use them before the next action, which renders a new one. Runs on the test thread,
// which is the main thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/node.h"
#include "platform/ui/runtime.h"
#include "platform/ui/view.h"

namespace platform::ui::testing {

// What to look for. Every given field must match. With `kind` and `text`, a node of that
// kind whose own text or any text inside it (children and slots) equals `text`.
struct Query {
  std::optional<NodeKind> kind;
  std::optional<std::string> text;  // a text's key or verbatim string
  std::optional<std::string> accessibilityId;
  std::optional<std::string> symbol;  // an image's system or asset name inside the node
  std::size_t index = 0;              // the n-th match, in search order

  Query ofKind(NodeKind k) const {
    Query q = *this;
    q.kind = k;
    return q;
  }
  Query nth(std::size_t n) const {
    Query q = *this;
    q.index = n;
    return q;
  }
};
inline Query byText(std::string text) {
  Query q;
  q.text = std::move(text);
  return q;
}
inline Query byKind(NodeKind kind) {
  Query q;
  q.kind = kind;
  return q;
}
inline Query byId(std::string accessibilityId) {
  Query q;
  q.accessibilityId = std::move(accessibilityId);
  return q;
}
inline Query bySymbol(std::string name) {
  Query q;
  q.symbol = std::move(name);
  return q;
}

// Every text shown in `node` and below (keys or verbatim strings), in tree order.
std::vector<std::string> textsIn(const Node& node);
// The key or verbatim string of a text node, or of its "text" attribute.
std::string textOf(const Node& node);

class ViewDriver {
 public:
  explicit ViewDriver(std::function<View()> root);

  ViewRuntime& runtime() { return runtime_; }
  // Pumps the main queue, then answers the latest tree.
  const Node& tree();
  void pump();

  const Node* find(const Query& query);
  std::vector<const Node*> findAll(const Query& query);
  // Like find, but fails the test (throws std::runtime_error) when nothing matches.
  const Node& get(const Query& query);
  bool exists(const Query& query) { return find(query) != nullptr; }

  // Acts on the first match, or on its nearest actionable ancestor, then pumps.
  DispatchStatus tap(const Query& query);
  DispatchStatus type(const Query& query, std::string text);
  DispatchStatus setOn(const Query& query, bool on);
  DispatchStatus submit(const Query& query);
  DispatchStatus focus(const Query& query, bool focused);
  DispatchStatus dismiss(const Query& query);
  DispatchStatus send(const Query& query, EventKind kind, EventValue value);

  // Texts of the whole visible tree.
  std::vector<std::string> visibleTexts();

 private:
  ViewRuntime runtime_;
};

}  // namespace platform::ui::testing
