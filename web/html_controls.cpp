#include "web/internal/html_writer.h"

#include <string>

#include "web/html_classes.h"

namespace web::html {

using namespace platform::ui;

void Writer::image(const Node& n, Tag tag) {
  std::string name = n.string(Attr::systemName);
  if (name.empty()) name = n.string(Attr::assetName);
  decorate(n, tag);
  if (isArtwork(name)) {
    Tag img("img", "artwork");
    img.style = tag.style;
    img.addClass(tag.classes);
    img.addAttribute("src", icons_.url(name));
    img.addAttribute("alt", "");
    open(img);
    return;
  }
  tag.addStyle("--icon", "url(" + icons_.url(name) + ")");
  // The plain circle filled is a disc; the icon table has only its outline.
  if (name == "circle") tag.addClass("sym-circle");
  // A symbol in a fixed frame keeps its own size, centred in the frame.
  if (n.number(Attr::frameWidth) || n.number(Attr::frameHeight)) tag.addClass("framed");
  tag.addAttribute("aria-hidden", "true");
  open(tag);
  close(tag);
}

void Writer::button(const Node& n, Context context) {
  registerAction(n);
  bool disabled = n.flag(Attr::disabled);
  if (n.kind == NodeKind::link) {
    Tag tag("a", "link");
    decorate(n, tag);
    std::string url = n.string(Attr::url);
    if (isSafeLinkUrl(url)) {
      tag.addAttribute("href", url);
      tag.addAttribute("target", "_blank");
      tag.addAttribute("rel", "noopener noreferrer");
    }
    if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
    if (context == Context::menu) tag.addAttribute("role", "menuitem");
    if (disabled) tag.addAttribute("aria-disabled", "true");
    open(tag);
    children(n);
    close(tag);
    return;
  }
  // A row whose label holds controls of its own (a card with buttons and menus) cannot be a
  // <button>: the browser would move the inner controls out of it. It becomes a focusable
  // element with the button role instead, which the client activates with Enter and Space.
  const bool container = n.kind == NodeKind::navigationLink && context != Context::menu &&
                         (holdsControls(n.children) || holdsControls(n.slot("label")));
  Tag tag(container ? "div" : "button", n.kind == NodeKind::navigationLink ? "nav-link" : "button");
  if (context == Context::menu) {
    tag.addClass("menu-item");
    tag.addAttribute("role", n.kind == NodeKind::pickerOption ? "menuitemradio" : "menuitem");
    if (n.kind == NodeKind::pickerOption) tag.addAttribute("aria-checked", n.flag(Attr::selected) ? "true" : "false");
  } else if (context == Context::bar) {
    tag.addClass("bar-item");
  }
  decorate(n, tag);
  if (container) {
    tag.addAttribute("role", "button");
    tag.addAttribute("tabindex", disabled ? "-1" : "0");
    if (disabled) tag.addAttribute("aria-disabled", "true");
  } else {
    tag.addAttribute("type", "button");
  }
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  if (disabled && !container) tag.addFlag("disabled");
  if (std::string spoken = spokenName(n); !spoken.empty()) {
    tag.addAttribute("aria-label", spoken);
  } else if (!hasText(n)) {
    if (auto symbol = firstSymbol(n)) {
      tag.addAttribute("aria-label", iconName(*symbol));
    } else if (auto colour = firstFill(n)) {
      // A colour swatch: named by its colour.
      tag.addAttribute("aria-label", colour->spoken);
    }
  }
  open(tag);
  if (n.kind == NodeKind::pickerOption && context == Context::menu) {
    out_ += "<span class=\"check\" aria-hidden=\"true\"></span>";
  }
  children(n);
  if (n.kind == NodeKind::navigationLink) {
    out_ += "<span class=\"icon chevron\" aria-hidden=\"true\" style=\"--icon:url(";
    out_ += icons_.url("chevron.forward");
    out_ += ")\"></span>";
  }
  close(tag);
}

void Writer::textField(const Node& n) {
  registerAction(n);
  bool multiline = n.choice<Axis>(Attr::axis) == Axis::vertical;
  Tag tag(multiline ? "textarea" : "input", "field");
  decorate(n, tag);
  if (!multiline) tag.addAttribute("type", "text");
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  // Its own accessibility label first, then the label of the row it sits in, then its placeholder.
  std::string name = spokenName(n);
  if (name.empty()) name = fieldName_;
  if (const auto* placeholder = n.textContent(Attr::placeholder)) {
    std::string text = strings_.text(*placeholder);
    tag.addAttribute("placeholder", text);
    if (name.empty()) name = text;
  }
  if (!name.empty()) tag.addAttribute("aria-label", name);
  if (n.flag(Attr::focused)) tag.addAttribute("data-focused", "true");
  if (auto limit = n.number(Attr::maxLength)) tag.addAttribute("data-max-length", cssNumber(*limit));
  if (auto keyboard = n.choice<KeyboardType>(Attr::keyboardType)) {
    if (*keyboard == KeyboardType::decimalPad) tag.addAttribute("inputmode", "decimal");
    if (*keyboard == KeyboardType::numberPad) tag.addAttribute("inputmode", "numeric");
  }
  if (auto caps = n.choice<TextInputAutocapitalization>(Attr::autocapitalization)) {
    tag.addAttribute("autocapitalize", *caps == TextInputAutocapitalization::never ? "off" : platform::ui::name(*caps));
  }
  if (auto submit = n.choice<SubmitLabel>(Attr::submitLabel)) {
    tag.addAttribute("enterkeyhint", *submit == SubmitLabel::return_ ? "enter" : platform::ui::name(*submit));
  }
  tag.addAttribute("autocomplete", "off");
  if (n.flag(Attr::disabled)) tag.addFlag("disabled");
  std::string value = n.string(Attr::value);
  if (multiline) {
    tag.addAttribute("rows", "2");
    open(tag);
    appendEscapedHtml(out_, value);
    close(tag);
  } else {
    tag.addAttribute("value", value);
    open(tag);
  }
}

void Writer::toggle(const Node& n) {
  registerAction(n);
  Tag tag("label", "toggle");
  decorate(n, tag);
  open(tag);
  out_ += "<span class=\"toggle-label\">";
  children(n);
  out_ += "</span>";
  Tag input("input", "switch");
  input.addAttribute("type", "checkbox");
  input.addAttribute("role", "switch");
  if (!n.actionId.empty()) input.addAttribute("data-action", n.actionId);
  if (n.flag(Attr::isOn)) input.addFlag("checked");
  if (n.flag(Attr::disabled)) input.addFlag("disabled");
  open(input);
  close(tag);
}

void Writer::picker(const Node& n, Context context) {
  PickerStyle style = n.choice<PickerStyle>(Attr::pickerStyle).value_or(PickerStyle::automatic);
  bool labelsHidden = n.flag(Attr::labelsHidden);
  if (context == Context::menu) {
    // Inside a menu the options are checkable items under the picker's title.
    Tag group("div", "menu-group");
    decorate(n, group);
    group.addAttribute("role", "group");
    open(group);
    if (!labelsHidden && !n.slot("label").empty()) {
      out_ += "<div class=\"menu-title\">";
      slot(n, "label");
      out_ += "</div>";
    }
    for (const auto& option : n.children) node(option, Context::menu);
    close(group);
    return;
  }
  if (style == PickerStyle::segmented) {
    Tag tag("div", "segmented");
    decorate(n, tag);
    tag.addAttribute("role", "radiogroup");
    std::string label = plainText(group(n.slot("label")));
    if (!label.empty()) tag.addAttribute("aria-label", label);
    open(tag);
    for (const auto& option : n.children) {
      if (option.flag(Attr::hidden)) continue;
      registerAction(option);
      Tag segment("button", "segment");
      decorate(option, segment);
      segment.addAttribute("type", "button");
      segment.addAttribute("role", "radio");
      segment.addAttribute("aria-checked", option.flag(Attr::selected) ? "true" : "false");
      if (!option.actionId.empty()) segment.addAttribute("data-action", option.actionId);
      if (std::string spoken = spokenName(option); !spoken.empty()) {
        segment.addAttribute("aria-label", spoken);
      } else if (!hasText(option)) {
        if (auto symbol = firstSymbol(option)) segment.addAttribute("aria-label", iconName(*symbol));
      }
      if (option.flag(Attr::disabled) || n.flag(Attr::disabled)) segment.addFlag("disabled");
      open(segment);
      children(option);
      close(segment);
    }
    close(tag);
    return;
  }
  // A menu-style picker is a native select: one option per choice, valued by its action id;
  // choosing one posts a tap on that id.
  Tag tag("label", "picker");
  decorate(n, tag);
  open(tag);
  out_ += labelsHidden ? "<span class=\"picker-label visually-hidden\">" : "<span class=\"picker-label\">";
  slot(n, "label");
  out_ += "</span>";
  Tag select("select", "picker-select");
  select.addAttribute("data-picker", "true");
  if (!hasText(group(n.slot("label")))) {
    // A choice labelled by an icon alone: named by its own label, its row, or what the icon
    // stands for.
    std::string name = spokenName(n);
    if (name.empty()) name = fieldName_;
    if (auto symbol = firstSymbol(group(n.slot("label"))); name.empty() && symbol) name = iconName(*symbol);
    if (!name.empty()) select.addAttribute("aria-label", name);
  }
  if (n.flag(Attr::disabled)) select.addFlag("disabled");
  open(select);
  bool anySelected = false;
  for (const auto& option : n.children) anySelected = anySelected || option.flag(Attr::selected);
  if (!anySelected) out_ += "<option value=\"\" selected disabled hidden></option>";
  for (const auto& option : n.children) {
    if (option.flag(Attr::hidden)) continue;
    registerAction(option);
    Tag item("option", "");
    item.addAttribute("value", option.actionId);
    if (option.flag(Attr::selected)) item.addFlag("selected");
    if (option.flag(Attr::disabled)) item.addFlag("disabled");
    open(item);
    appendEscapedHtml(out_, plainText(option));
    close(item);
  }
  close(select);
  close(tag);
}

void Writer::menu(const Node& n, Context context) {
  registerAction(n);
  Tag tag("div", context == Context::menu ? "menu submenu" : "menu");
  decorate(n, tag);
  open(tag);
  Tag trigger("button", "menu-button");
  if (context == Context::menu) {
    trigger.addClass("menu-item");
    trigger.addAttribute("role", "menuitem");
  } else if (context == Context::bar) {
    trigger.addClass("bar-item");
  }
  trigger.addAttribute("type", "button");
  trigger.addAttribute("aria-haspopup", "menu");
  trigger.addAttribute("aria-expanded", "false");
  if (n.flag(Attr::disabled)) trigger.addFlag("disabled");
  Node labelNode = group(n.slot("label"));
  if (const auto* spoken = n.textContent(Attr::accessibilityLabel)) {
    trigger.addAttribute("aria-label", strings_.text(*spoken));
  } else if (!hasText(labelNode)) {
    if (auto symbol = firstSymbol(labelNode)) trigger.addAttribute("aria-label", iconName(*symbol));
  }
  open(trigger);
  slot(n, "label");
  close(trigger);
  out_ += "<div class=\"menu-popup\" role=\"menu\" hidden>";
  children(n, Context::menu);
  out_ += "</div>";
  close(tag);
}

void Writer::searchField(const Node& n) {
  registerAction(n);
  Tag tag("div", "search");
  decorate(n, tag);
  open(tag);
  Tag input("input", "search-input");
  input.addAttribute("type", "search");
  if (!n.actionId.empty()) input.addAttribute("data-action", n.actionId);
  if (const auto* prompt = n.textContent(Attr::prompt)) {
    std::string text = strings_.text(*prompt);
    input.addAttribute("placeholder", text);
    input.addAttribute("aria-label", text);
  }
  if (n.flag(Attr::focused)) input.addAttribute("data-focused", "true");
  if (auto limit = n.number(Attr::maxLength)) input.addAttribute("data-max-length", cssNumber(*limit));
  input.addAttribute("autocomplete", "off");
  input.addAttribute("value", n.string(Attr::value));
  open(input);
  if (n.flag(Attr::presented)) {
    Tag cancel("button", "search-cancel");
    cancel.addAttribute("type", "button");
    if (!n.actionId.empty()) cancel.addAttribute("data-action", n.actionId);
    cancel.addAttribute("data-event", "dismiss");
    open(cancel);
    appendEscapedHtml(out_, strings_.lookup("localizable_cancel"));
    close(cancel);
  }
  close(tag);
}

}  // namespace web::html
