#include "web/page_patch.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "web/json_text.h"

namespace web {

namespace {

// Both are asked of every start tag: they look at the name's length first.
bool isVoidElement(std::string_view name) {
  switch (name.size()) {
    case 2: return name == "br" || name == "hr";
    case 3: return name == "col" || name == "img" || name == "wbr";
    case 4: return name == "area" || name == "base" || name == "link" || name == "meta";
    case 5: return name == "embed" || name == "input" || name == "track";
    case 6: return name == "source";
    default: return false;
  }
}

bool isRawTextElement(std::string_view name) {
  switch (name.size()) {
    case 5: return name == "style" || name == "title";
    case 6: return name == "script";
    case 8: return name == "textarea";
    default: return false;
  }
}

// An attribute's value as written (between its quotes), or nothing.
std::optional<std::string_view> attributeText(std::string_view start, std::string_view name) {
  for (std::size_t at = start.find(name); at != std::string_view::npos; at = start.find(name, at + 1)) {
    if (at == 0 || start[at - 1] != ' ' || start.substr(at + name.size(), 2) != "=\"") continue;
    const std::size_t begin = at + name.size() + 2;
    const std::size_t end = start.find('"', begin);
    if (end == std::string_view::npos) return std::nullopt;
    return start.substr(begin, end - begin);
  }
  return std::nullopt;
}

}  // namespace

ParsedHtml::ParsedHtml(std::string html) : html_(std::move(html)) {
  wellFormed_ = parse();
  if (!wellFormed_) {
    nodes_.clear();
    nodes_.push_back(Node{false, html_, {}, {}, {}, 1});
  }
}

void ParsedHtml::children(uint32_t index, std::vector<uint32_t>& out) const {
  out.clear();
  for (uint32_t child = index + 1; child < nodes_[index].end; child = nodes_[child].end) out.push_back(child);
}

int ParsedHtml::keyCount(std::string_view key) const {
  // Counted when first asked: most renders are only ever the newer side of a patch.
  std::call_once(keysCounted_, [this] {
    for (const Node& node : nodes_) {
      if (!node.key.empty()) ++keyCounts_[node.key];
    }
  });
  auto found = keyCounts_.find(key);
  return found == keyCounts_.end() ? 0 : found->second;
}

bool ParsedHtml::parse() {
  const std::string_view html = html_;
  nodes_.reserve(html.size() / 24 + 1);
  nodes_.push_back(Node{false, html, {}, {}, {}, 0});
  std::vector<uint32_t> open{0};
  auto addText = [&](std::string_view text) {
    const auto index = static_cast<uint32_t>(nodes_.size());
    nodes_.push_back(Node{false, text, {}, {}, {}, index + 1});
  };
  std::size_t at = 0;
  while (at < html.size()) {
    if (html[at] != '<') {
      const std::size_t end = std::min(html.find('<', at), html.size());
      addText(html.substr(at, end - at));
      at = end;
      continue;
    }
    const char next = at + 1 < html.size() ? html[at + 1] : '\0';
    if (next == '!' && html.compare(at, 4, "<!--") == 0) {
      const std::size_t end = html.find("-->", at + 4);
      if (end == std::string_view::npos) return false;
      addText(html.substr(at, end + 3 - at));
      at = end + 3;
      continue;
    }
    if (next == '/') {
      const std::size_t end = html.find('>', at);
      if (end == std::string_view::npos || open.size() < 2) return false;
      Node& node = nodes_[open.back()];
      if (html.substr(at + 2, end - at - 2) != node.name) return false;
      node.outer = std::string_view(node.outer.data(), html.data() + end + 1 - node.outer.data());
      node.end = static_cast<uint32_t>(nodes_.size());
      open.pop_back();
      at = end + 1;
      continue;
    }
    // A start tag: its end is the first '>' outside quotes.
    std::size_t end = at + 1;
    for (;; ++end) {
      if (end >= html.size()) return false;
      const char c = html[end];
      if (c == '>') break;
      if (c == '"' || c == '\'') {
        end = html.find(c, end + 1);
        if (end == std::string_view::npos) return false;
      }
    }
    Node node;
    node.element = true;
    node.start = html.substr(at, end + 1 - at);
    std::size_t nameEnd = at + 1;
    while (nameEnd < end && html[nameEnd] != ' ' && html[nameEnd] != '/' && html[nameEnd] != '>') ++nameEnd;
    node.name = html.substr(at + 1, nameEnd - at - 1);
    if (node.name.empty()) return false;
    node.key = attributeText(node.start, "data-key").value_or(std::string_view());
    node.outer = node.start;
    const auto index = static_cast<uint32_t>(nodes_.size());
    node.end = index + 1;
    at = end + 1;
    if (isVoidElement(node.name) || html[end - 1] == '/') {
      nodes_.push_back(node);
      continue;
    }
    if (isRawTextElement(node.name)) {
      const std::string closing = "</" + std::string(node.name) + ">";
      const std::size_t close = html.find(closing, at);
      if (close == std::string_view::npos) return false;
      node.outer = html.substr(node.start.data() - html.data(), close + closing.size() - (node.start.data() - html.data()));
      nodes_.push_back(node);
      if (close > at) addText(html.substr(at, close - at));
      nodes_[index].end = static_cast<uint32_t>(nodes_.size());
      at = close + closing.size();
      continue;
    }
    nodes_.push_back(node);
    open.push_back(index);
  }
  nodes_[0].end = static_cast<uint32_t>(nodes_.size());
  return open.size() == 1;
}

namespace {

// Writes the ops of one patch as JSON text into `out`.
class PatchWriter {
 public:
  PatchWriter(const ParsedHtml& before, const ParsedHtml& after, std::string& out)
      : before_(before), after_(after), out_(out) {}

  // The ops that turn the children of node `b` (of the render before) into those of node `a`
  // (of the new one); `target` is the path's JSON text without its brackets.
  void children(uint32_t b, uint32_t a, const std::string& target) {
    const auto& oldNodes = before_.nodes();
    const auto& newNodes = after_.nodes();
    std::vector<uint32_t> before, after;
    before_.children(b, before);
    after_.children(a, after);
    // Each new child keeps an old one when they are the same element (by key, else the next
    // unkeyed one of the same name) or the same text.
    std::unordered_map<std::string_view, std::size_t> byKey;
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (!oldNodes[before[i]].key.empty()) byKey.emplace(oldNodes[before[i]].key, i);
    }
    std::vector<bool> used(before.size(), false);
    std::vector<std::optional<std::size_t>> match(after.size());
    std::size_t nextUnkeyed = 0;
    for (std::size_t j = 0; j < after.size(); ++j) {
      const ParsedHtml::Node& node = newNodes[after[j]];
      if (node.element && !node.key.empty()) {
        auto found = byKey.find(node.key);
        if (found != byKey.end() && !used[found->second] && oldNodes[before[found->second]].name == node.name) {
          match[j] = found->second;
        }
      } else {
        for (std::size_t i = nextUnkeyed; i < before.size(); ++i) {
          const ParsedHtml::Node& old = oldNodes[before[i]];
          if (used[i] || !old.key.empty() || old.element != node.element) continue;
          if (node.element ? old.name == node.name : old.outer == node.outer) {
            match[j] = i;
            nextUnkeyed = i + 1;
            break;
          }
        }
      }
      if (match[j]) used[*match[j]] = true;
    }
    bool same = after.size() == before.size();
    for (std::size_t j = 0; same && j < after.size(); ++j) same = match[j] == j;
    if (!same) {
      beginOp(target);
      out_ += "\"c\",[";
      bool inText = false;
      for (std::size_t j = 0; j < after.size(); ++j) {
        if (match[j]) {
          if (inText) out_ += '"';
          inText = false;
          if (j > 0) out_ += ',';
          appendJsonNumber(out_, *match[j]);
        } else {
          if (!inText) {
            if (j > 0) out_ += ',';
            out_ += '"';
          }
          inText = true;
          appendJsonStringBody(out_, newNodes[after[j]].outer);
        }
      }
      if (inText) out_ += '"';
      out_ += "],";
      appendJsonNumber(out_, before.size());
      out_ += ']';
    }
    for (std::size_t j = 0; j < after.size(); ++j) {
      const ParsedHtml::Node& node = newNodes[after[j]];
      if (!match[j] || !node.element || oldNodes[before[*match[j]]].outer == node.outer) continue;
      std::string path;
      if (!node.key.empty() && before_.keyCount(node.key) == 1) {
        appendJsonString(path, node.key);
      } else {
        path = target;
        path += ',';
        appendJsonNumber(path, j);
      }
      element(before[*match[j]], after[j], path);
    }
  }

 private:
  // Starts an op: its separator, its opening and its target, up to the kind.
  void beginOp(const std::string& path) {
    if (ops_++ > 0) out_ += ',';
    out_ += "[[";
    out_ += path;
    out_ += "],";
  }

  // The ops for one element the page keeps, whose HTML changed; a whole new outer HTML when
  // the ops would be much longer (the page merges new outer HTML through every element under
  // it, where ops touch only what they name).
  void element(uint32_t b, uint32_t a, const std::string& path) {
    const ParsedHtml::Node& before = before_.nodes()[b];
    const ParsedHtml::Node& after = after_.nodes()[a];
    const std::size_t mark = out_.size();
    const std::size_t markOps = ops_;
    if (before.start != after.start) {
      beginOp(path);
      out_ += "\"a\",";
      appendJsonString(out_, after.start);
      out_ += ']';
    }
    // A form control's value and an element of text alone are merged as a whole by the page.
    bool leaf = before.name == "textarea" || before.name == "select" || before.name == "option";
    if (!leaf) {
      leaf = true;
      const auto& nodes = after_.nodes();
      for (uint32_t child = a + 1; leaf && child < after.end; child = nodes[child].end) leaf = !nodes[child].element;
    }
    const std::string_view innerBefore = before.outer.substr(before.start.size());
    const std::string_view innerAfter = after.outer.substr(after.start.size());
    bool whole = false;
    if (!leaf) {
      if (innerBefore != innerAfter) children(b, a, path);
    } else if (innerBefore == innerAfter) {
      return;
    } else {
      whole = true;
    }
    if (whole || out_.size() - mark > after.outer.size() + after.outer.size() / 2 + 256) {
      out_.resize(mark);
      ops_ = markOps;
      beginOp(path);
      out_ += "\"h\",";
      appendJsonString(out_, after.outer);
      out_ += ']';
    }
  }

  const ParsedHtml& before_;
  const ParsedHtml& after_;
  std::string& out_;
  std::size_t ops_ = 0;
};

// A node tree that patches are applied to, as the page applies them.
struct LiveNode {
  std::string start;  // empty for text
  std::string name;
  std::string text;  // a text node's HTML, or an element's end tag
  std::vector<std::shared_ptr<LiveNode>> children;

  std::string html() const {
    if (start.empty()) return text;
    std::string out = start;
    for (const auto& child : children) out += child->html();
    return out + text;
  }
};

std::vector<std::shared_ptr<LiveNode>> liveNodes(const ParsedHtml& page, uint32_t parent) {
  std::vector<uint32_t> indices;
  page.children(parent, indices);
  std::vector<std::shared_ptr<LiveNode>> live;
  for (uint32_t index : indices) {
    const ParsedHtml::Node& node = page.nodes()[index];
    auto copy = std::make_shared<LiveNode>();
    if (!node.element) {
      copy->text = std::string(node.outer);
    } else {
      copy->start = std::string(node.start);
      copy->name = std::string(node.name);
      copy->children = liveNodes(page, index);
      std::size_t inner = node.start.size();
      for (uint32_t child = index + 1; child < node.end; child = page.nodes()[child].end) {
        inner += page.nodes()[child].outer.size();
      }
      copy->text = std::string(node.outer.substr(std::min(inner, node.outer.size())));
    }
    live.push_back(std::move(copy));
  }
  return live;
}

std::shared_ptr<LiveNode> liveTree(std::string_view html) {
  ParsedHtml page{std::string(html)};
  if (!page.wellFormed()) throw std::invalid_argument("not well-formed HTML");
  auto root = std::make_shared<LiveNode>();
  root->start = "<div id=\"app\">";
  root->text = "</div>";
  root->children = liveNodes(page, 0);
  return root;
}

std::shared_ptr<LiveNode> findKey(const std::shared_ptr<LiveNode>& node, std::string_view key) {
  for (const auto& child : node->children) {
    if (!child->start.empty() && attributeText(child->start, "data-key") == key) return child;
    if (auto found = findKey(child, key)) return found;
  }
  return nullptr;
}

}  // namespace

void appendPagePatch(std::string& out, const ParsedHtml& from, const ParsedHtml& to) {
  out += '[';
  if (!from.wellFormed() || !to.wellFormed()) {
    out += "[[\"\"],\"c\",[";
    appendJsonString(out, to.html());
    out += "]]";
  } else {
    PatchWriter writer(from, to, out);
    writer.children(0, 0, "\"\"");
  }
  out += ']';
}

nlohmann::json pagePatch(std::string_view from, std::string_view to) {
  std::string text;
  appendPagePatch(text, ParsedHtml(std::string(from)), ParsedHtml(std::string(to)));
  return nlohmann::json::parse(text);
}

std::string applyPagePatch(std::string_view from, const nlohmann::json& ops) {
  using nlohmann::json;
  auto root = liveTree(from);
  for (const json& op : ops) {
    const json& path = op.at(0);
    const std::string& key = path.at(0).get_ref<const std::string&>();
    std::shared_ptr<LiveNode> target = key.empty() ? root : findKey(root, key);
    for (std::size_t i = 1; target && i < path.size(); ++i) {
      const auto index = path.at(i).get<std::size_t>();
      target = index < target->children.size() ? target->children[index] : nullptr;
    }
    if (!target) throw std::out_of_range("a patch names a node the page does not have");
    const std::string& kind = op.at(1).get_ref<const std::string&>();
    const json& payload = op.at(2);
    if (kind == "h") {
      auto replacement = liveTree(payload.get<std::string>());
      if (replacement->children.size() != 1) throw std::invalid_argument("one element expected");
      *target = *replacement->children.front();
    } else if (kind == "a") {
      target->start = payload.get<std::string>();
    } else if (kind == "c") {
      if (op.size() > 3 && op.at(3).get<std::size_t>() != target->children.size()) {
        throw std::out_of_range("a patch expects other children than the page has");
      }
      std::vector<std::shared_ptr<LiveNode>> children;
      for (const json& item : payload) {
        if (item.is_string()) {
          auto made = liveTree(item.get<std::string>());
          children.insert(children.end(), made->children.begin(), made->children.end());
        } else {
          children.push_back(target->children.at(item.get<std::size_t>()));
        }
      }
      target->children = std::move(children);
    } else {
      throw std::invalid_argument("unknown op " + kind);
    }
  }
  std::string html;
  for (const auto& child : root->children) html += child->html();
  return html;
}

}  // namespace web
