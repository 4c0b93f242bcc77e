#include "platform/ui/testing/driver.h"

#include <stdexcept>

#include "platform/dispatch/queue.h"

namespace platform::ui::testing {

namespace {

void collectTexts(const Node& node, std::vector<std::string>& out, bool skipHidden) {
  if (skipHidden && node.flag(Attr::hidden)) return;
  if (node.kind == NodeKind::text) out.push_back(textOf(node));
  for (const Node& child : node.children) collectTexts(child, out, skipHidden);
  for (const auto& [name, slot] : node.slots) {
    for (const Node& child : slot) collectTexts(child, out, skipHidden);
  }
}

bool containsText(const Node& node, const std::string& text) {
  if (node.flag(Attr::hidden)) return false;
  if (node.kind == NodeKind::text && textOf(node) == text) return true;
  for (Attr attr : {Attr::title, Attr::placeholder, Attr::prompt}) {
    if (const TextContent* t = node.textContent(attr); t && t->key == text) return true;
  }
  for (const Node& child : node.children) {
    if (containsText(child, text)) return true;
  }
  for (const auto& [name, slot] : node.slots) {
    for (const Node& child : slot) {
      if (containsText(child, text)) return true;
    }
  }
  return false;
}

bool containsSymbol(const Node& node, const std::string& symbol) {
  if (node.kind == NodeKind::image && (node.string(Attr::systemName) == symbol || node.string(Attr::assetName) == symbol)) {
    return true;
  }
  for (const Node& child : node.children) {
    if (containsSymbol(child, symbol)) return true;
  }
  for (const auto& [name, slot] : node.slots) {
    for (const Node& child : slot) {
      if (containsSymbol(child, symbol)) return true;
    }
  }
  return false;
}

bool matches(const Node& node, const Query& q) {
  if (q.kind && node.kind != *q.kind) return false;
  if (q.accessibilityId && node.string(Attr::accessibilityIdentifier) != *q.accessibilityId) return false;
  if (q.text) {
    if (q.kind) {
      if (!containsText(node, *q.text)) return false;
    } else {
      bool own = (node.kind == NodeKind::text && textOf(node) == *q.text);
      bool titled = false;
      for (Attr attr : {Attr::title, Attr::placeholder, Attr::prompt}) {
        if (const TextContent* t = node.textContent(attr); t && t->key == *q.text) titled = true;
      }
      if (!own && !titled) return false;
    }
  }
  if (q.symbol) {
    if (q.kind || q.text || q.accessibilityId) {
      if (!containsSymbol(node, *q.symbol)) return false;
    } else if (!(node.kind == NodeKind::image &&
                 (node.string(Attr::systemName) == *q.symbol || node.string(Attr::assetName) == *q.symbol))) {
      return false;
    }
  }
  return true;
}

// Pre-order search with the chain of ancestors, skipping hidden subtrees.
void search(const Node& node, const Query& q, std::vector<const Node*>& ancestors,
            std::vector<std::pair<const Node*, std::vector<const Node*>>>& found) {
  if (node.flag(Attr::hidden)) return;
  if (matches(node, q)) found.emplace_back(&node, ancestors);
  ancestors.push_back(&node);
  for (const Node& child : node.children) search(child, q, ancestors, found);
  for (const auto& [name, slot] : node.slots) {
    if (name == "presentations") continue;
    for (const Node& child : slot) search(child, q, ancestors, found);
  }
  ancestors.pop_back();
}

std::vector<std::pair<const Node*, std::vector<const Node*>>> searchTree(const Node& window, const Query& q) {
  std::vector<std::pair<const Node*, std::vector<const Node*>>> found;
  std::vector<const Node*> ancestors{&window};
  const auto& presentations = window.slot("presentations");
  for (auto it = presentations.rbegin(); it != presentations.rend(); ++it) search(*it, q, ancestors, found);
  for (const Node& child : window.children) search(child, q, ancestors, found);
  return found;
}

std::string describe(const Query& q) {
  std::string s = "query{";
  if (q.kind) s += " kind=" + std::string(kindName(*q.kind));
  if (q.text) s += " text=" + *q.text;
  if (q.accessibilityId) s += " id=" + *q.accessibilityId;
  if (q.symbol) s += " symbol=" + *q.symbol;
  return s + " }";
}

}  // namespace

std::string textOf(const Node& node) {
  const TextContent* t = node.textContent(Attr::text);
  return t ? t->key : std::string();
}

std::vector<std::string> textsIn(const Node& node) {
  std::vector<std::string> out;
  collectTexts(node, out, true);
  return out;
}

ViewDriver::ViewDriver(std::function<View()> root) : runtime_(std::move(root)) {}

void ViewDriver::pump() {
  platform::MainLoop::drain();
  runtime_.render();
  platform::MainLoop::drain();
  runtime_.render();
}

const Node& ViewDriver::tree() {
  pump();
  return runtime_.tree();
}

std::vector<const Node*> ViewDriver::findAll(const Query& query) {
  std::vector<const Node*> result;
  for (auto& [node, ancestors] : searchTree(tree(), query)) result.push_back(node);
  return result;
}

const Node* ViewDriver::find(const Query& query) {
  auto all = findAll(query);
  return query.index < all.size() ? all[query.index] : nullptr;
}

const Node& ViewDriver::get(const Query& query) {
  const Node* n = find(query);
  if (!n) throw std::runtime_error("No node matches " + describe(query));
  return *n;
}

DispatchStatus ViewDriver::send(const Query& query, EventKind kind, EventValue value) {
  auto found = searchTree(tree(), query);
  if (query.index >= found.size()) throw std::runtime_error("No node matches " + describe(query));
  auto& [node, ancestors] = found[query.index];
  const Node* target = node;
  for (auto it = ancestors.rbegin(); target->actionId.empty() && it != ancestors.rend(); ++it) target = *it;
  if (target->actionId.empty()) throw std::runtime_error("Nothing actionable at " + describe(query));
  DispatchStatus status = runtime_.dispatch({target->actionId, kind, std::move(value)});
  pump();
  return status;
}

DispatchStatus ViewDriver::tap(const Query& query) { return send(query, EventKind::tap, {}); }
DispatchStatus ViewDriver::type(const Query& query, std::string text) {
  return send(query, EventKind::setValue, std::move(text));
}
DispatchStatus ViewDriver::setOn(const Query& query, bool on) { return send(query, EventKind::setValue, on); }
DispatchStatus ViewDriver::submit(const Query& query) { return send(query, EventKind::submit, {}); }
DispatchStatus ViewDriver::focus(const Query& query, bool focused) {
  return send(query, EventKind::focus, focused);
}
DispatchStatus ViewDriver::dismiss(const Query& query) { return send(query, EventKind::dismiss, {}); }

std::vector<std::string> ViewDriver::visibleTexts() { return textsIn(tree()); }

}  // namespace platform::ui::testing
