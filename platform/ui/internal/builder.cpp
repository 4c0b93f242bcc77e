#include "platform/ui/internal/builder.h"

#include <cstdio>
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

}  // namespace platform::ui::detail
