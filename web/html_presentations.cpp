#include "web/internal/html_writer.h"

#include <string>

#include "web/html_classes.h"

namespace web::html {

using namespace platform::ui;

void Writer::window(const Node& n) {
  const auto& presentations = n.slot("presentations");
  Tag content("div", "window-content");
  decorate(n, content);
  if (!presentations.empty()) content.addFlag("inert");
  open(content);
  children(n);
  close(content);
  for (size_t i = 0; i < presentations.size(); ++i) {
    Tag layer("div", "layer");
    layer.addClass(presentations[i].kind == NodeKind::confirmationDialog ? "dialog-layer" : "sheet-layer");
    if (i + 1 < presentations.size()) layer.addFlag("inert");
    open(layer);
    node(presentations[i]);
    close(layer);
  }
}

void Writer::navigationStack(const Node& n) {
  Tag tag("div", "nav-stack");
  decorate(n, tag);
  open(tag);
  children(n);
  close(tag);
}

void Writer::navigationPage(const Node& n) {
  registerAction(n);
  Tag tag("div", "nav-page");
  decorate(n, tag);
  open(tag);
  const TextContent* title = n.textContent(Attr::title);
  std::string titleText = title ? strings_.text(*title) : std::string();
  if (!titleText.empty()) {
    page_.title = titleText;
    notCacheable();
  }
  bool large = n.choice<TitleDisplayMode>(Attr::titleDisplayMode) == TitleDisplayMode::large;

  std::vector<const Node*> leading, trailing;
  for (const auto& item : n.slot("toolbar")) {
    if (item.flag(Attr::hidden)) continue;
    if (item.choice<ToolbarPlacement>(Attr::placement) == ToolbarPlacement::topBarLeading) {
      leading.push_back(&item);
    } else {
      trailing.push_back(&item);
    }
  }
  out_ += "<header class=\"nav-bar\"><div class=\"nav-leading\">";
  if (!n.actionId.empty() && !n.flag(Attr::backButtonHidden)) {
    Tag back("button", "nav-back");
    back.addAttribute("type", "button");
    back.addAttribute("data-action", n.actionId);
    back.addAttribute("data-event", "dismiss");
    back.addAttribute("aria-label", "Back");
    open(back);
    out_ += "<span class=\"icon chevron-back\" aria-hidden=\"true\" style=\"--icon:url(";
    out_ += icons_.url("chevron.forward");
    out_ += ")\"></span>";
    close(back);
  }
  for (const Node* item : leading) node(*item, Context::bar);
  out_ += "</div><h1 class=\"nav-title";
  if (large) out_ += " hidden-title";
  out_ += "\">";
  appendEscapedHtml(out_, titleText);
  out_ += "</h1><div class=\"nav-trailing\">";
  for (const Node* item : trailing) node(*item, Context::bar);
  out_ += "</div></header>";
  if (large && !titleText.empty()) {
    out_ += "<h1 class=\"large-title\">";
    appendEscapedHtml(out_, titleText);
    out_ += "</h1>";
  }
  slot(n, "search");
  out_ += "<div class=\"nav-content\">";
  children(n);
  out_ += "</div>";
  close(tag);
}

void Writer::tabView(const Node& n) {
  Tag tag("div", "tab-view");
  decorate(n, tag);
  open(tag);
  out_ += "<div class=\"tab-content\">";
  for (const auto& tab : n.children) {
    if (!tab.flag(Attr::hidden)) node(tab);
  }
  out_ += "</div><nav class=\"tab-bar\" role=\"tablist\">";
  for (const auto& tab : n.children) {
    registerAction(tab);
    Tag item("button", "tab-item");
    item.addAttribute("type", "button");
    item.addAttribute("role", "tab");
    item.addAttribute("aria-selected", tab.flag(Attr::selected) ? "true" : "false");
    if (!tab.identity.empty()) item.addAttribute("data-key", uniqueKey(tab.identity + "#item"));
    if (!tab.actionId.empty()) item.addAttribute("data-action", tab.actionId);
    open(item);
    for (const auto& label : tab.slot("tabItem")) node(label);
    close(item);
  }
  out_ += "</nav>";
  close(tag);
}

void Writer::sheet(const Node& n) {
  registerAction(n);
  Tag tag("div", "sheet");
  tag.addClass(sheetSizingClass(n.choice<PresentationSizing>(Attr::sizing).value_or(PresentationSizing::automatic)));
  decorate(n, tag);
  tag.addAttribute("role", "dialog");
  tag.addAttribute("aria-modal", "true");
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  tag.addAttribute("data-dismissable", n.flag(Attr::interactiveDismissDisabled) ? "false" : "true");
  tag.addAttribute("tabindex", "-1");
  open(tag);
  children(n);
  close(tag);
}

void Writer::dialog(const Node& n) {
  registerAction(n);
  Tag tag("div", "dialog");
  decorate(n, tag);
  tag.addAttribute("role", "alertdialog");
  tag.addAttribute("aria-modal", "true");
  if (!n.actionId.empty()) tag.addAttribute("data-action", n.actionId);
  tag.addAttribute("data-dismissable", "true");
  tag.addAttribute("tabindex", "-1");
  open(tag);
  if (const auto* title = n.textContent(Attr::title);
      title && n.choice<Visibility>(Attr::titleVisibility) != Visibility::hidden) {
    out_ += "<h2 class=\"dialog-title\">";
    text(*title);
    out_ += "</h2>";
  }
  if (!n.slot("message").empty()) {
    out_ += "<div class=\"dialog-message\">";
    slot(n, "message");
    out_ += "</div>";
  }
  // Cancel comes last, set apart, as on the phone.
  out_ += "<div class=\"dialog-actions\">";
  for (const auto& b : n.children) {
    if (b.choice<ButtonRole>(Attr::role) != ButtonRole::cancel) node(b);
  }
  for (const auto& b : n.children) {
    if (b.choice<ButtonRole>(Attr::role) == ButtonRole::cancel) node(b);
  }
  out_ += "</div>";
  close(tag);
}

void Writer::popoverTip(const Node& n) {
  if (n.flag(Attr::hidden)) return;
  registerAction(n);
  Tag tag("div", "tip");
  decorate(n, tag);
  tag.addAttribute("role", "note");
  open(tag);
  std::string imageName = n.string(Attr::imageAsset);
  if (!imageName.empty()) {
    Node picture;
    picture.kind = NodeKind::image;
    picture.attrs[Attr::assetName] = imageName;
    image(picture, Tag("span", "icon tip-image"));
  }
  out_ += "<div class=\"tip-text\">";
  if (const auto* title = n.textContent(Attr::title)) {
    out_ += "<strong class=\"tip-title\">";
    text(*title);
    out_ += "</strong>";
  }
  if (const auto* message = n.textContent(Attr::message)) {
    out_ += "<p class=\"tip-message\">";
    text(*message);
    out_ += "</p>";
  }
  out_ += "</div>";
  if (!n.actionId.empty()) {
    Tag close("button", "tip-close");
    close.addAttribute("type", "button");
    close.addAttribute("data-action", n.actionId);
    close.addAttribute("data-event", "dismiss");
    close.addAttribute("aria-label", "Close");
    open(close);
    out_ += "<span class=\"icon\" aria-hidden=\"true\" style=\"--icon:url(";
    out_ += icons_.url("xmark");
    out_ += ")\"></span>";
    this->close(close);
  }
  children(n);
  close(tag);
}

}  // namespace web::html
