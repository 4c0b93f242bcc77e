#include "platform/ui/internal/builder.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

namespace platform::ui::detail {

Builder::Builder(Store& store, std::shared_ptr<Invalidator> invalidator, std::uint64_t generation)
    : store_(store), invalidator_(std::move(invalidator)), generation_(generation) {}

std::string Builder::subKey(const std::string& path, const char* what) {
  std::string base = path + "#" + what;
  int n = counters_[base]++;
  return n == 0 ? base : base + std::to_string(n);
}

namespace {
// What the runtime's dispatch runs for these handlers (runtime.cpp): a text field takes its
// focus and return key with its text; a dismissal the node refuses for now is still one of
// its events (the runtime answers it as refused).
Accepts acceptsOf(const Handlers& h) {
  Accepts a;
  a.tap = static_cast<bool>(h.tap);
  a.dismiss = static_cast<bool>(h.dismiss);
  a.scroll = static_cast<bool>(h.scroll);
  if (h.setText) {
    a.value = Accepts::Value::text;
    a.submit = true;
    a.focus = true;
  } else if (h.setBool) {
    a.value = Accepts::Value::flag;
  }
  return a;
}
}  // namespace

void Builder::registerAction(Node& node, Handlers handlers) {
  char buffer[20];
  std::snprintf(buffer, sizeof buffer, "a%016zx", std::hash<std::string>{}(node.identity));
  std::string id = buffer;
  // A hash collision, or a node repeating another's identity, gets a suffix: one id never
  // reaches two nodes' handlers.
  while (handlers_.count(id)) id += "x";
  node.accepts = acceptsOf(handlers);
  handlers_[id] = std::move(handlers);
  if (recording) recording->actions.push_back(id);
  node.actionId = std::move(id);
}

Handlers* Builder::handlers(const std::string& actionId) {
  auto it = handlers_.find(actionId);
  return it == handlers_.end() ? nullptr : &it->second;
}

std::function<void()> Builder::wrapAction(std::function<void()> action) const {
  if (!scope.afterAction) return action;
  return [action = std::move(action), after = scope.afterAction] {
    action();
    after();
  };
}

std::size_t Builder::reservePresentation() {
  presentations_.emplace_back();
  return presentations_.size() - 1;
}

void Builder::setPresentation(std::size_t index, Node node) { presentations_.at(index) = std::move(node); }

std::vector<Node> Builder::takePresentations() {
  std::vector<Node> result;
  for (auto& p : presentations_) {
    if (p) result.push_back(std::move(*p));
  }
  presentations_.clear();
  return result;
}

namespace {

// Whether a node with identity `identity` can hold the node `target` below it. A node's
// identity is the path it was built at, sometimes with a suffix after '!' (a tab), and what
// is built below it continues that path.
bool mayLeadTo(const std::string& identity, const std::string& target) {
  const std::size_t mark = identity.find('!');
  const std::size_t length = mark == std::string::npos ? identity.size() : mark;
  return target.size() >= length && target.compare(0, length, identity, 0, length) == 0;
}

Node* findBelow(Node& node, NodeKind kind, const std::string& identity) {
  if (node.kind == kind && node.identity == identity) return &node;
  for (Node& child : node.children) {
    if (!mayLeadTo(child.identity, identity)) continue;
    if (Node* found = findBelow(child, kind, identity)) return found;
  }
  for (auto& [name, slot] : node.slots) {
    for (Node& child : slot) {
      if (!mayLeadTo(child.identity, identity)) continue;
      if (Node* found = findBelow(child, kind, identity)) return found;
    }
  }
  return nullptr;
}

template <class F>
void forEachNode(std::vector<Node>& nodes, const F& visit) {
  for (Node& n : nodes) {
    visit(n);
    forEachNode(n.children, visit);
    for (auto& [name, slot] : n.slots) forEachNode(slot, visit);
  }
}

// Whether `key` names storage of the view at `path` or below it: the path goes on with one
// of the marks that separate its parts, not with more of its last name.
bool isUnder(const std::string& key, const std::string& path) {
  if (key.size() < path.size() || key.compare(0, path.size(), path) != 0) return false;
  if (key.size() == path.size()) return true;
  const char next = key[path.size()];
  return next == '/' || next == '#' || next == '$' || next == '.' || next == '!' || next == '[';
}

}  // namespace

Node* Builder::findPrevious(NodeKind kind, const std::string& identity) const {
  if (!previous.tree) return nullptr;
  // The window's identity is its own; its content and presentations are searched.
  Node& window = *previous.tree;
  for (Node& child : window.children) {
    if (!mayLeadTo(child.identity, identity)) continue;
    if (Node* found = findBelow(child, kind, identity)) return found;
  }
  return nullptr;
}

void Builder::takePreviousActions(Node& node) {
  if (!previous.handlers) return;
  auto take = [this](Node& n) {
    if (n.actionId.empty()) return;
    auto handlers = previous.handlers->extract(n.actionId);
    // Ids are unique within a render; one taken since (which only a changed tree could do)
    // leaves this hidden node without its action.
    if (!handlers.empty()) handlers_.insert(std::move(handlers));
  };
  forEachNode(node.children, take);
  for (auto& [name, slot] : node.slots) forEachNode(slot, take);
}

void Builder::keepHidden(const std::string& path) {
  keptHidden = true;
  std::vector<StoreEntry*> kept;
  for (auto& [key, entry] : store_) {
    if (isUnder(key, path)) kept.push_back(&entry);
  }
  std::sort(kept.begin(), kept.end(), [](const StoreEntry* a, const StoreEntry* b) { return a->order < b->order; });
  for (StoreEntry* entry : kept) keep(*entry);
  for (StoreEntry* entry : kept) {
    if (entry->onHide) entry->onHide(*this);
  }
}

}  // namespace platform::ui::detail
