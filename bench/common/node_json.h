// A rendered view tree as a JSON document with nlohmann-json: the baseline that the web front
// and the profiles list are measured against. Every node keeps its kind, identity, action id
// (when it has one), attributes, children and named slots.
//
// Header-only: a benchmark that includes it links nlohmann_json and the platform UI library
// (through its own deps). Threads: any; it only reads the tree.
#pragma once

#include <nlohmann/json.hpp>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/ui/node.h"

namespace brivel::bench {

inline nlohmann::json nodeToJson(const platform::ui::Node& n) {
  using nlohmann::json;
  json out{{"kind", platform::ui::kindName(n.kind)}, {"identity", n.identity}};
  if (!n.actionId.empty()) out["actionId"] = n.actionId;
  json attrs = json::object();
  for (const auto& [attr, value] : n.attrs) {
    const std::string name(platform::ui::name(attr));
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (platform::ui::ClosedSetValue<T> || std::is_same_v<T, platform::ui::Edge>) {
            attrs[name] = std::string(platform::ui::name(v));
          } else if constexpr (std::is_same_v<T, platform::ui::Color>) {
            attrs[name] = {{"kind", v.kind == platform::ui::Color::Kind::asset ? "asset" : "system"},
                           {"name", v.name},
                           {"gradient", v.gradient},
                           {"opacity", v.opacity}};
          } else if constexpr (std::is_same_v<T, platform::ui::TextContent>) {
            attrs[name] = {{"key", v.key}, {"args", v.args}, {"verbatim", v.verbatim}};
          } else {
            attrs[name] = v;
          }
        },
        value);
  }
  out["attrs"] = std::move(attrs);
  json children = json::array();
  for (const auto& child : n.children) children.push_back(nodeToJson(child));
  out["children"] = std::move(children);
  json slots = json::object();
  for (const auto& [name, nodes] : n.slots) {
    json list = json::array();
    for (const auto& child : nodes) list.push_back(nodeToJson(child));
    slots[name] = std::move(list);
  }
  out["slots"] = std::move(slots);
  return out;
}

}  // namespace brivel::bench
