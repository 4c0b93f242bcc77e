#include "web/html_renderer.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "web/internal/html_writer.h"
#include "web/palette.h"

namespace web {

using platform::ui::Attr;
using platform::ui::Color;
using platform::ui::Node;
using html::Writer;
using html::cssNumber;

std::string cssColor(const Color& color) {
  std::string base;
  if (color.kind == Color::Kind::asset) {
    if (!paletteColor(color.name)) return {};
    base = "var(--c-" + color.name + ")";
  } else {
    static const std::pair<std::string_view, std::string_view> system[] = {
        {"primary", "var(--label)"},     {"secondary", "var(--label-secondary)"},
        {"tertiary", "var(--label-tertiary)"}, {"white", "#fff"},
        {"black", "#000"},               {"clear", "transparent"},
        {"red", "var(--system-red)"},    {"accent", "var(--accent)"},
        {"gray", "var(--system-gray)"},
        {"regularMaterial", "var(--material-regular)"},
    };
    for (const auto& [name, value] : system) {
      if (name == color.name) base = value;
    }
    if (base.empty()) return {};
  }
  if (color.opacity < 1.0) {
    double percent = std::max(0.0, color.opacity) * 100.0;
    base = "color-mix(in srgb," + base + " " + cssNumber(percent) + "%,transparent)";
  }
  if (color.gradient) {
    return "linear-gradient(180deg,color-mix(in srgb," + base + ",#fff 16%)," + base + " 55%,color-mix(in srgb," +
           base + ",#000 10%))";
  }
  return base;
}

bool isSafeLinkUrl(const std::string& url) {
  for (std::string_view scheme : {"https://", "http://", "mailto:"}) {
    if (url.size() > scheme.size() && url.compare(0, scheme.size(), scheme) == 0) return true;
  }
  return false;
}

const std::string* KeyTable::identityOf(const std::string& key) const {
  auto found = identities_.find(key);
  return found == identities_.end() ? nullptr : &found->second.identity;
}

KeyTable::Entry KeyTable::entryFor(const std::string& identity) {
  auto [at, added] = keys_.try_emplace(identity);
  if (added) {
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string key;
    for (std::uint64_t n = next_++;; n /= 36) {
      key.insert(key.begin(), digits[n % 36]);
      if (n < 36) break;
    }
    at->second.key = "k" + key;
    at->second.given = &identities_.emplace(at->second.key, Given{identity, render_}).first->second;
  } else {
    at->second.given->drawnInRender = render_;
  }
  return {at->first, at->second.key};
}

const std::string* KeyTable::touch(const std::string& identity) {
  auto at = keys_.find(identity);
  if (at == keys_.end()) return nullptr;
  at->second.given->drawnInRender = render_;
  return &at->first;
}

void KeyTable::endRender() {
  if (keys_.size() < std::max(kLetGoFrom, 2 * keptAfterLettingGo_)) return;
  for (auto given = identities_.begin(); given != identities_.end();) {
    if (given->second.drawnInRender + kKeptRenders <= render_) {
      keys_.erase(given->second.identity);
      given = identities_.erase(given);
    } else {
      ++given;
    }
  }
  keptAfterLettingGo_ = keys_.size();
  ++generation_;
}

namespace {
const Node* findRowWithActions(const Node& n, const std::string& identity) {
  if (n.identity == identity && (!n.slot("swipeActions").empty() || !n.slot("contextMenu").empty())) return &n;
  for (const auto& child : n.children) {
    if (const Node* found = findRowWithActions(child, identity)) return found;
  }
  for (const auto& [name, nodes] : n.slots) {
    for (const auto& child : nodes) {
      if (const Node* found = findRowWithActions(child, identity)) return found;
    }
  }
  return nullptr;
}
}  // namespace

std::optional<std::string> HtmlRenderer::renderRowMenu(const Node& root, const std::string& key) const {
  const std::string* identity = keys_->identityOf(key);
  const Node* row = identity ? findRowWithActions(root, *identity) : nullptr;
  if (!row) return std::nullopt;
  Page page;
  Writer writer(strings_, icons_, *keys_, page);
  writer.omitKeys();
  writer.rowMenuItems(*row);
  return std::move(page.html);
}

HtmlRenderer::HtmlRenderer(const StringTable& strings, const IconTable& icons)
    : strings_(strings), icons_(icons), subtrees_(std::make_shared<html::SubtreeCache>()) {}

Page HtmlRenderer::render(const Node& root) const {
  Page page;
  page.html.reserve(16 * 1024);
  ++subtrees_->render;
  keys_->beginRender();
  Writer writer(strings_, icons_, *keys_, page, subtrees_.get());
  writer.node(root);
  subtrees_->dropUnused();
  keys_->endRender();
  if (page.title.empty()) page.title = "Brivel";
  return page;
}

}  // namespace web
