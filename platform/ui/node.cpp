#include "platform/ui/node.h"

#include <string>
#include <type_traits>
#include <variant>

namespace platform::ui {

std::string_view kindName(NodeKind kind) {
  switch (kind) {
    case NodeKind::window: return "window";
    case NodeKind::navigationStack: return "navigationStack";
    case NodeKind::navigationPage: return "navigationPage";
    case NodeKind::tabView: return "tabView";
    case NodeKind::tab: return "tab";
    case NodeKind::list: return "list";
    case NodeKind::form: return "form";
    case NodeKind::section: return "section";
    case NodeKind::scrollView: return "scrollView";
    case NodeKind::grid: return "grid";
    case NodeKind::gridRow: return "gridRow";
    case NodeKind::hStack: return "hStack";
    case NodeKind::vStack: return "vStack";
    case NodeKind::zStack: return "zStack";
    case NodeKind::spacer: return "spacer";
    case NodeKind::divider: return "divider";
    case NodeKind::text: return "text";
    case NodeKind::image: return "image";
    case NodeKind::label: return "label";
    case NodeKind::labeledContent: return "labeledContent";
    case NodeKind::contentUnavailable: return "contentUnavailable";
    case NodeKind::shape: return "shape";
    case NodeKind::color: return "color";
    case NodeKind::progressView: return "progressView";
    case NodeKind::button: return "button";
    case NodeKind::link: return "link";
    case NodeKind::navigationLink: return "navigationLink";
    case NodeKind::textField: return "textField";
    case NodeKind::toggle: return "toggle";
    case NodeKind::picker: return "picker";
    case NodeKind::pickerOption: return "pickerOption";
    case NodeKind::menu: return "menu";
    case NodeKind::controlGroup: return "controlGroup";
    case NodeKind::searchField: return "searchField";
    case NodeKind::sheet: return "sheet";
    case NodeKind::confirmationDialog: return "confirmationDialog";
    case NodeKind::popoverTip: return "popoverTip";
    case NodeKind::toolbarItem: return "toolbarItem";
  }
  return "unknown";
}

std::string_view statusName(DispatchStatus status) {
  switch (status) {
    case DispatchStatus::handled: return "handled";
    case DispatchStatus::unknownAction: return "unknownAction";
    case DispatchStatus::disabled: return "disabled";
    case DispatchStatus::refused: return "refused";
  }
  return "unknown";
}

std::string_view name(Edge edge) {
  switch (edge) {
    case Edge::top: return "top";
    case Edge::leading: return "leading";
    case Edge::bottom: return "bottom";
    case Edge::trailing: return "trailing";
    default: return "all";
  }
}

std::string describe(const AttrValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          return v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return v;
        } else if constexpr (std::is_same_v<T, Color>) {
          return v.name;
        } else if constexpr (std::is_same_v<T, TextContent>) {
          return v.key;
        } else {
          return std::string(name(v));
        }
      },
      value);
}

const AttrValue* AttrTable::find(Attr name) const {
  for (const Entry& e : entries_) {
    if (e.first == name) return &e.second;
  }
  return nullptr;
}

AttrValue& AttrTable::operator[](Attr name) {
  for (Entry& e : entries_) {
    if (e.first == name) return e.second;
  }
  return entries_.emplace_back(name, false).second;
}

void AttrTable::erase(Attr name) {
  std::erase_if(entries_, [name](const Entry& e) { return e.first == name; });
}

bool Node::flag(Attr name) const {
  const AttrValue* v = attr(name);
  const bool* b = v ? std::get_if<bool>(v) : nullptr;
  return b && *b;
}

std::string Node::string(Attr name) const {
  const AttrValue* v = attr(name);
  if (!v) return {};
  return std::visit(
      [](const auto& value) -> std::string {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return value;
        } else if constexpr (ClosedSetValue<T> || std::is_same_v<T, Edge>) {
          return std::string(platform::ui::name(value));
        } else {
          return {};
        }
      },
      *v);
}

std::optional<double> Node::number(Attr name) const {
  const AttrValue* v = attr(name);
  if (!v) return std::nullopt;
  if (const double* d = std::get_if<double>(v)) return *d;
  if (const std::int64_t* i = std::get_if<std::int64_t>(v)) return static_cast<double>(*i);
  return std::nullopt;
}

const Color* Node::color(Attr name) const {
  const AttrValue* v = attr(name);
  return v ? std::get_if<Color>(v) : nullptr;
}

const TextContent* Node::textContent(Attr name) const {
  const AttrValue* v = attr(name);
  return v ? std::get_if<TextContent>(v) : nullptr;
}

const std::vector<Node>& Node::slot(std::string_view name) const {
  static const std::vector<Node> empty;
  auto it = slots.find(name);
  return it == slots.end() ? empty : it->second;
}

}  // namespace platform::ui
