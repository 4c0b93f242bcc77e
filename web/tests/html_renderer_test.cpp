// The HTML of view trees built by hand: escaping, the controls of each node kind, and the table
// of actions the server checks posts against.
#include "web/html_renderer.h"

#include <gtest/gtest.h>

namespace web {
namespace {

using namespace platform::ui;

// What the runtime writes into a node of this kind that has an action (platform/ui's builder).
Accepts acceptsOf(NodeKind kind) {
  Accepts a;
  switch (kind) {
    case NodeKind::toggle:
      a.tap = true;
      a.value = Accepts::Value::flag;
      break;
    case NodeKind::textField:
    case NodeKind::searchField:
      a.value = Accepts::Value::text;
      a.focus = a.submit = true;
      a.dismiss = kind == NodeKind::searchField;
      break;
    case NodeKind::sheet:
    case NodeKind::confirmationDialog:
    case NodeKind::navigationPage:
      a.dismiss = true;
      break;
    case NodeKind::list:
      a.scroll = true;
      break;
    default:
      a.tap = true;
  }
  return a;
}

Node make(NodeKind kind, std::initializer_list<std::pair<Attr, AttrValue>> attrs = {}, std::vector<Node> children = {},
          std::string actionId = {}) {
  Node n;
  n.kind = kind;
  for (const auto& [name, value] : attrs) n.attrs[name] = value;
  n.children = std::move(children);
  if (!actionId.empty()) n.accepts = acceptsOf(kind);
  n.actionId = std::move(actionId);
  return n;
}

Node text(std::string key, std::vector<std::string> args = {}) {
  return make(NodeKind::text, {{Attr::text, TextContent{std::move(key), std::move(args), false}}});
}
Node verbatim(std::string s) { return make(NodeKind::text, {{Attr::text, TextContent{std::move(s), {}, true}}}); }
Node symbol(std::string name) { return make(NodeKind::image, {{Attr::systemName, std::move(name)}}); }

class HtmlRendererTest : public ::testing::Test {
 protected:
  HtmlRendererTest()
      : strings_(StringTable::Texts{{"localizable_saved", "Saved"}, {"localizable_cancel", "Cancel"}, {"%lld", "%lld"},
                  {"localizable_greeting", "Hello %@"}}),
        icons_(IconTable::load(BRIVEL_WEB_SOURCE_ASSETS)),
        renderer_(strings_, icons_) {}

  Page render(const Node& n) const { return renderer_.render(n); }

  StringTable strings_;
  IconTable icons_;
  HtmlRenderer renderer_;
};

TEST_F(HtmlRendererTest, HostileTextsRenderInert) {
  const std::string hostile = "\"><script>alert('x')</script><img src=x onerror=alert(1)>";
  Node field = make(NodeKind::textField, {{Attr::value, hostile}, {Attr::placeholder, TextContent{hostile, {}, true}}}, {}, "f1");
  field.identity = hostile;
  field.attrs[Attr::accessibilityIdentifier] = hostile;
  Node page = make(NodeKind::navigationPage, {{Attr::title, TextContent{hostile, {}, true}}},
                   {verbatim(hostile), text("localizable_greeting", {hostile}), field,
                    make(NodeKind::textField, {{Attr::value, hostile}, {Attr::axis, Axis::vertical}}, {}, "f2"),
                    make(NodeKind::link, {{Attr::url, std::string("javascript:alert(1)")}}, {verbatim("x")}, "l1")});
  Page out = render(make(NodeKind::window, {}, {page}));
  EXPECT_EQ(out.html.find("<script"), std::string::npos);
  EXPECT_EQ(out.html.find("<img src=x"), std::string::npos);
  EXPECT_EQ(out.html.find(hostile), std::string::npos);
  EXPECT_EQ(out.html.find("'x'"), std::string::npos);
  EXPECT_EQ(out.html.find("javascript:"), std::string::npos);
  EXPECT_NE(out.html.find("Hello &quot;&gt;&lt;script&gt;alert(&#39;x&#39;)"), std::string::npos);
  // The document title is plain text; the server escapes it when it writes the page.
  EXPECT_EQ(out.title, hostile);
}

TEST_F(HtmlRendererTest, DrawsEachKindAsARealControl) {
  Node toggle = make(NodeKind::toggle, {{Attr::isOn, true}}, {text("localizable_saved")}, "t1");
  Node picker = make(NodeKind::picker, {{Attr::pickerStyle, PickerStyle::menu}},
                     {make(NodeKind::pickerOption, {}, {verbatim("Monthly")}, "o1"),
                      make(NodeKind::pickerOption, {{Attr::selected, true}}, {verbatim("Yearly")}, "o2")});
  picker.slots["label"] = {text("localizable_saved")};
  Node segmented = make(NodeKind::picker, {{Attr::pickerStyle, PickerStyle::segmented}},
                        {make(NodeKind::pickerOption, {{Attr::selected, true}}, {symbol("sun.max")}, "s1"),
                         make(NodeKind::pickerOption, {}, {verbatim("Month")}, "s2")});
  Node menu = make(NodeKind::menu, {}, {make(NodeKind::button, {{Attr::role, ButtonRole::destructive}}, {verbatim("Delete")}, "m1")});
  menu.slots["label"] = {symbol("ellipsis")};
  // Controls that name themselves: the name wins over the icon's.
  const TextContent saved{"localizable_saved", {}, false};
  Node namedMenu = make(NodeKind::menu, {{Attr::accessibilityLabel, saved}},
                        {make(NodeKind::button, {}, {verbatim("Show")}, "m2")});
  namedMenu.slots["label"] = {symbol("eyeglasses")};
  Node namedSymbol = symbol("sun.max");
  namedSymbol.attrs[Attr::accessibilityLabel] = saved;
  Node namedSegments = make(NodeKind::picker, {{Attr::pickerStyle, PickerStyle::segmented}},
                            {make(NodeKind::pickerOption, {{Attr::selected, true}}, {namedSymbol}, "s3")});
  Node clippedCard = make(NodeKind::vStack, {{Attr::clipShape, ShapeKind::roundedRectangle}, {Attr::clipShapeCornerRadius, 25.0}},
                          {verbatim("Rent")});
  clippedCard.slots["background"] = {make(NodeKind::shape, {{Attr::fill, Color{Color::Kind::system, "regularMaterial"}}})};
  Node unavailable = make(NodeKind::contentUnavailable);
  unavailable.slots["label"] = {verbatim("Nothing here")};

  struct Case {
    const char* name;
    Node node;
    std::vector<std::string> expected;
  } cases[] = {
      {"button", make(NodeKind::button, {{Attr::disabled, true}}, {text("localizable_saved")}, "b1"),
       {"<button", "data-action=\"b1\"", " disabled", ">Saved</span></button>"}},
      {"icon-only button has a name", make(NodeKind::button, {}, {symbol("xmark")}, "b2"),
       {"aria-label=\"Close\"", "--icon:url(/assets/icons/xmark.svg)"}},
      {"count text", text("%lld", {"12"}), {">12</span>"}},
      {"toggle", toggle, {"role=\"switch\"", "data-action=\"t1\"", " checked"}},
      {"text field", make(NodeKind::textField, {{Attr::value, std::string("Ann")}, {Attr::maxLength, std::int64_t{30}}}, {}, "f1"),
       {"<input", "type=\"text\"", "value=\"Ann\"", "data-max-length=\"30\""}},
      {"menu picker", picker, {"<select", "<option value=\"o1\">Monthly</option>", "<option value=\"o2\" selected>Yearly"}},
      {"segmented picker", segmented, {"role=\"radiogroup\"", "aria-checked=\"true\" data-action=\"s1\"", "aria-label=\"sun max\""}},
      {"menu", menu, {"aria-haspopup=\"menu\"", "role=\"menu\" hidden", "role=\"menuitem\"", "role-destructive", "aria-label=\"More\""}},
      {"named button", make(NodeKind::button, {{Attr::accessibilityLabel, saved}}, {symbol("arrow.circlepath")}, "b3"),
       {"aria-label=\"Saved\""}},
      {"named text field",
       make(NodeKind::textField, {{Attr::accessibilityLabel, saved}, {Attr::placeholder, TextContent{"Enter", {}, true}}}, {}, "f2"),
       {"aria-label=\"Saved\"", "placeholder=\"Enter\""}},
      {"named menu", namedMenu, {"aria-haspopup=\"menu\" aria-expanded=\"false\" aria-label=\"Saved\""}},
      {"named segment", namedSegments, {"aria-label=\"Saved\""}},
      {"safe link", make(NodeKind::link, {{Attr::url, std::string("mailto:help@example.org")}}, {verbatim("Mail")}, "l1"),
       {"href=\"mailto:help@example.org\"", "rel=\"noopener noreferrer\""}},
      {"artwork", make(NodeKind::image, {{Attr::assetName, std::string("brivelTips")}}), {"<img", "brivelTips.svg"}},
      {"unknown symbol", symbol("no.such.symbol"), {"unknown.symbol.svg"}},
      {"clip cuts the background too", clippedCard,
       {"<div class=\"layered clip-roundedRectangle\" style=\"--radius:25px;\"><div class=\"layer-background\"",
        "background:var(--material-regular)"}},
      {"filled circle", make(NodeKind::image, {{Attr::systemName, std::string("circle")}, {Attr::symbolVariant, SymbolVariant::fill}}),
       {"class=\"icon variant-fill sym-circle\""}},
      {"progress", make(NodeKind::progressView, {{Attr::value, 0.5}, {Attr::total, 1.0}}), {"<progress", "value=\"0.5\""}},
      {"empty state", unavailable, {"unavailable-label", "Nothing here"}},
      {"asset colour", make(NodeKind::text, {{Attr::text, TextContent{"x", {}, true}}, {Attr::foregroundStyle, Color{Color::Kind::asset, "sonicRed"}}}),
       {"color:var(--c-sonicRed)"}},
  };
  for (const auto& c : cases) {
    std::string html = render(c.node).html;
    for (const auto& fragment : c.expected) {
      EXPECT_NE(html.find(fragment), std::string::npos) << c.name << ": " << fragment << "\n" << html;
    }
  }
}

TEST_F(HtmlRendererTest, ListsTheActionsOfTheRenderWithWhatEachTakes) {
  Node sheet = make(NodeKind::sheet, {{Attr::interactiveDismissDisabled, true}},
                    {make(NodeKind::textField, {{Attr::maxLength, std::int64_t{30}}}, {}, "name"),
                     make(NodeKind::textField, {{Attr::axis, Axis::vertical}}, {}, "note"),
                     make(NodeKind::toggle, {}, {}, "flag")},
                    "sheet");
  Node dialog = make(NodeKind::confirmationDialog, {{Attr::title, TextContent{"localizable_saved", {}, false}}},
                     {make(NodeKind::button, {{Attr::role, ButtonRole::cancel}}, {text("localizable_cancel")}, "cancel"),
                      make(NodeKind::button, {{Attr::role, ButtonRole::destructive}}, {verbatim("Delete")}, "delete")},
                     "dialog");
  Node search = make(NodeKind::searchField, {{Attr::presented, true}}, {}, "search");
  Node pushed = make(NodeKind::navigationPage, {}, {search}, "back");
  Node window = make(NodeKind::window, {}, {make(NodeKind::navigationStack, {}, {pushed})});
  window.slots["presentations"] = {sheet, dialog};
  Page page = render(window);

  const auto& a = page.actions;
  ASSERT_EQ(a.size(), 9u);
  EXPECT_TRUE(a.at("name").value == ActionSpec::Value::text && a.at("name").maxLength == 30u && !a.at("name").multiline);
  EXPECT_TRUE(a.at("note").multiline && !a.at("note").maxLength);
  EXPECT_TRUE(a.at("flag").value == ActionSpec::Value::flag && a.at("flag").tap);
  EXPECT_TRUE(a.at("sheet").dismiss && !a.at("sheet").tap);
  EXPECT_TRUE(a.at("dialog").dismiss && a.at("delete").tap && a.at("cancel").tap);
  EXPECT_TRUE(a.at("back").dismiss && a.at("search").dismiss && a.at("search").submit);

  // The content under the layers and every layer but the top one are inert; a sheet that may not
  // be closed interactively says so; the dialog's cancel button comes last.
  EXPECT_NE(page.html.find("<div class=\"window-content\" inert>"), std::string::npos);
  EXPECT_NE(page.html.find("<div class=\"layer sheet-layer\" inert>"), std::string::npos);
  EXPECT_NE(page.html.find("<div class=\"layer dialog-layer\">"), std::string::npos);
  EXPECT_NE(page.html.find("data-dismissable=\"false\""), std::string::npos);
  EXPECT_LT(page.html.find("data-action=\"delete\""), page.html.find("data-action=\"cancel\""));
  EXPECT_NE(page.html.find("data-action=\"back\" data-event=\"dismiss\""), std::string::npos);
}

TEST_F(HtmlRendererTest, DrawsOnlyTheSelectedTabButEveryTabItem) {
  Node first = make(NodeKind::tab, {{Attr::selected, true}}, {verbatim("Bills content")}, "tab1");
  first.slots["tabItem"] = {make(NodeKind::label)};
  first.slots["tabItem"][0].slots["title"] = {verbatim("Bills")};
  Node second = make(NodeKind::tab, {{Attr::hidden, true}}, {verbatim("Forecast content")}, "tab2");
  second.slots["tabItem"] = {verbatim("Forecast")};
  Page page = render(make(NodeKind::tabView, {}, {first, second}));
  EXPECT_NE(page.html.find("Bills content"), std::string::npos);
  EXPECT_EQ(page.html.find("Forecast content"), std::string::npos);
  EXPECT_NE(page.html.find("aria-selected=\"false\" data-action=\"tab2\">"), std::string::npos);
  EXPECT_TRUE(page.actions.count("tab2"));
}

TEST_F(HtmlRendererTest, RowActionsAreReachableFromAMenuAsWellAsBySwiping) {
  Node row = verbatim("Rent");
  row.attrs[Attr::swipeActionsAllowsFullSwipe] = true;
  row.slots["swipeActions"] = {make(NodeKind::button, {{Attr::role, ButtonRole::destructive}}, {verbatim("Delete")}, "del")};
  row.slots["contextMenu"] = {make(NodeKind::button, {}, {verbatim("Copy")}, "copy")};
  Node tree = make(NodeKind::list, {}, {make(NodeKind::section, {}, {row})});
  Page page = render(tree);
  const std::string& html = page.html;
  EXPECT_NE(html.find("class=\"actions-host\" data-full-swipe=\"true\""), std::string::npos);
  EXPECT_NE(html.find("swipe-tray"), std::string::npos);
  EXPECT_NE(html.find("aria-label=\"Actions\""), std::string::npos);
  // The menu's items are drawn when it opens: the delete action, then the copy item; both are
  // in the render's table already.
  size_t inMenu = html.find("role=\"menu\" data-menu-of=\"");
  ASSERT_NE(inMenu, std::string::npos);
  EXPECT_EQ(html.find("data-action=\"copy\""), std::string::npos);
  EXPECT_TRUE(page.actions.count("del") && page.actions.count("copy"));
  inMenu += std::string_view("role=\"menu\" data-menu-of=\"").size();
  std::string key = html.substr(inMenu, html.find('"', inMenu) - inMenu);
  auto items = renderer_.renderRowMenu(tree, key);
  ASSERT_TRUE(items);
  EXPECT_LT(items->find("data-action=\"del\""), items->find("data-action=\"copy\""));
  EXPECT_EQ(items->find("data-key"), std::string::npos);
  EXPECT_FALSE(renderer_.renderRowMenu(tree, "k-none"));
}

TEST_F(HtmlRendererTest, ARowMenuListsEachActionOnce) {
  // The swipe actions repeat the context menu's items with icons alone (a filled icon for the
  // plain one); only a swipe action the context menu lacks joins it.
  auto label = [](const char* words, const char* icon) {
    Node n = make(NodeKind::label);
    n.slots["title"] = {verbatim(words)};
    n.slots["icon"] = {symbol(icon)};
    return n;
  };
  Node row = verbatim("Rent");
  row.identity = "row";
  row.slots["swipeActions"] = {make(NodeKind::button, {}, {symbol("pencil")}, "swipeEdit"),
                               make(NodeKind::button, {}, {symbol("trash.fill")}, "swipeDelete"),
                               make(NodeKind::button, {}, {verbatim("Pin")}, "pin")};
  row.slots["contextMenu"] = {make(NodeKind::button, {}, {label("Edit", "pencil")}, "edit"),
                              make(NodeKind::button, {}, {label("Delete", "trash")}, "delete")};
  Node tree = make(NodeKind::list, {}, {make(NodeKind::section, {}, {row})});
  Page page = render(tree);
  const size_t at = page.html.find("data-menu-of=\"") + std::string_view("data-menu-of=\"").size();
  auto items = renderer_.renderRowMenu(tree, page.html.substr(at, page.html.find('"', at) - at));
  ASSERT_TRUE(items);
  for (const char* id : {"edit", "delete", "pin"}) {
    const std::string action = std::string("data-action=\"") + id + "\"";
    EXPECT_NE(items->find(action), std::string::npos) << id;
    EXPECT_EQ(items->find(action), items->rfind(action)) << id;
  }
  for (const char* id : {"swipeEdit", "swipeDelete"}) {
    EXPECT_EQ(items->find(std::string("data-action=\"") + id + "\""), std::string::npos) << *items;
  }
}

TEST_F(HtmlRendererTest, ARowLinkHoldingControlsStaysOneKeyboardReachableElement) {
  // A card row: its label holds a button and a menu, and the card carries its own swipe actions.
  Node menu = make(NodeKind::menu, {}, {make(NodeKind::button, {}, {verbatim("Copy")}, "copy")});
  menu.slots["label"] = {symbol("ellipsis")};
  Node card = make(NodeKind::vStack, {}, {verbatim("Rent"), make(NodeKind::button, {}, {verbatim("Pay")}, "pay"), menu});
  card.slots["swipeActions"] = {make(NodeKind::button, {}, {verbatim("Delete")}, "del")};
  Node cardRow = make(NodeKind::navigationLink, {}, {card}, "open");
  Node disabledRow = make(NodeKind::navigationLink, {{Attr::disabled, true}}, {card}, "open2");
  // Rows whose controls are only their own modifiers (drawn beside the row) or are hidden stay buttons.
  Node swipedRow = make(NodeKind::navigationLink, {}, {verbatim("Fuel")}, "plain");
  swipedRow.slots["swipeActions"] = {make(NodeKind::button, {}, {verbatim("Delete")}, "del2")};
  Node hiddenControl = make(NodeKind::button, {{Attr::hidden, true}}, {verbatim("x")}, "gone");
  Node quietRow = make(NodeKind::navigationLink, {}, {make(NodeKind::hStack, {}, {verbatim("Gym"), hiddenControl})}, "quiet");

  struct Case {
    const char* name;
    Node row;
    std::vector<std::string> expected;
    std::vector<std::string> absent;
  } cases[] = {
      {"card row",
       cardRow,
       {"<div class=\"nav-link\"", "role=\"button\" tabindex=\"0\" data-action=\"open\"", "data-action=\"pay\"",
        "aria-haspopup=\"menu\"", "swipe-tray"},
       {"<button class=\"nav-link\"", "aria-disabled"}},
      {"disabled card row", disabledRow, {"role=\"button\" tabindex=\"-1\" aria-disabled=\"true\" data-action=\"open2\""}, {}},
      {"row with its own swipe actions", swipedRow, {"<button class=\"nav-link\"", "type=\"button\" data-action=\"plain\""},
       {"<div class=\"nav-link\""}},
      {"row with a hidden control", quietRow, {"<button class=\"nav-link\""}, {"<div class=\"nav-link\""}},
  };
  for (const auto& c : cases) {
    Page page = render(make(NodeKind::list, {}, {make(NodeKind::section, {}, {c.row})}));
    for (const auto& fragment : c.expected) {
      EXPECT_NE(page.html.find(fragment), std::string::npos) << c.name << ": " << fragment << "\n" << page.html;
    }
    for (const auto& fragment : c.absent) {
      EXPECT_EQ(page.html.find(fragment), std::string::npos) << c.name << ": " << fragment << "\n" << page.html;
    }
    EXPECT_TRUE(page.actions.count(c.row.actionId)) << c.name;
  }
  // No <button> of the card row's label is left inside another <button>.
  std::string html = render(cardRow).html;
  size_t opened = html.find("<button");
  ASSERT_NE(opened, std::string::npos);
  EXPECT_LT(html.find("</button>", opened), html.find("<button", opened + 1));
}

TEST_F(HtmlRendererTest, AMenuStyleControlGroupIsOneMenuButton) {
  Node group = make(NodeKind::controlGroup, {{Attr::controlGroupStyle, ControlGroupStyle::menu}, {Attr::accessibilityIdentifier, std::string("profileMenu")}},
                    {make(NodeKind::button, {}, {verbatim("Profiles")}, "profiles"), make(NodeKind::divider),
                     make(NodeKind::button, {}, {verbatim("Settings")}, "settings")});
  group.slots["label"] = {symbol("person.crop.circle.fill")};
  Node item = make(NodeKind::toolbarItem, {{Attr::placement, ToolbarPlacement::topBarLeading}}, {group});
  Node page = make(NodeKind::navigationPage, {}, {verbatim("Bills")});
  page.slots["toolbar"] = {item};
  std::string html = render(make(NodeKind::window, {}, {page})).html;

  const size_t trigger = html.find("<button class=\"menu-button bar-item\"");
  ASSERT_NE(trigger, std::string::npos) << html;
  EXPECT_NE(html.find("data-id=\"profileMenu\""), std::string::npos);
  EXPECT_NE(html.find("aria-label=\"Profiles\"", trigger), std::string::npos);
  // Both items sit in the popup, hidden until the button opens it, as menu items.
  const size_t popup = html.find("<div class=\"menu-popup\" role=\"menu\" hidden>", trigger);
  ASSERT_NE(popup, std::string::npos) << html;
  for (const char* id : {"profiles", "settings"}) {
    const size_t at = html.find(std::string("data-action=\"") + id + "\"");
    EXPECT_GT(at, popup) << id;
    const std::string tag = html.substr(html.rfind('<', at), at - html.rfind('<', at));
    EXPECT_NE(tag.find("role=\"menuitem\""), std::string::npos) << id << ": " << tag;
  }
  EXPECT_NE(html.find("menu-divider", popup), std::string::npos);
  EXPECT_EQ(html.find("control-group"), std::string::npos);

  // Without the menu style the group's buttons stay inline.
  group.attrs.erase(Attr::controlGroupStyle);
  std::string inlineHtml = render(group).html;
  EXPECT_NE(inlineHtml.find("class=\"control-group\""), std::string::npos);
  EXPECT_EQ(inlineHtml.find("menu-popup"), std::string::npos);
}

TEST_F(HtmlRendererTest, ControlsWithoutWordsAreNamedByTheirRowTheirIconOrTheirColour) {
  auto labeled = make(NodeKind::labeledContent, {}, {make(NodeKind::textField, {{Attr::placeholder, TextContent{"Enter", {}, true}}}, {}, "name")});
  labeled.slots["label"] = {verbatim("Name")};
  Node noteSwitch = make(NodeKind::toggle, {{Attr::isOn, true}}, {verbatim("Note")}, "noteOn");
  Node note = make(NodeKind::textField, {{Attr::placeholder, TextContent{"Enter", {}, true}}, {Attr::axis, Axis::vertical}}, {}, "note");
  Node bare = make(NodeKind::textField, {{Attr::placeholder, TextContent{"Enter", {}, true}}}, {}, "bare");
  Node picker = make(NodeKind::picker, {{Attr::pickerStyle, PickerStyle::menu}}, {make(NodeKind::pickerOption, {}, {verbatim("Home")}, "home")}, "category");
  picker.slots["label"] = {symbol("personalhotspot")};
  Node categories = make(NodeKind::section, {}, {picker});
  categories.slots["header"] = {verbatim("Category")};
  Node swatch = make(NodeKind::button, {}, {make(NodeKind::shape, {{Attr::shape, ShapeKind::circle}, {Attr::fill, Color{Color::Kind::asset, "sonicBlue"}}})}, "swatch");
  Node save = make(NodeKind::button, {}, {symbol("checkmark")}, "save");
  Node toast = make(NodeKind::label, {{Attr::accessibilityAnnouncement, true}});
  toast.slots["title"] = {text("localizable_saved")};
  Node tree = make(NodeKind::list, {}, {make(NodeKind::section, {}, {labeled, noteSwitch, note}), categories,
                                        make(NodeKind::section, {}, {bare, swatch, save, toast})});
  const std::string html = render(tree).html;
  auto tagOf = [&](const std::string& action) {
    const size_t at = html.find("data-action=\"" + action + "\"");
    if (at == std::string::npos) return std::string();
    const size_t start = html.rfind('<', at);
    return html.substr(start, html.find('>', at) - start);
  };
  const std::pair<const char*, const char*> cases[] = {
      {"name", "aria-label=\"Name\""}, {"note", "aria-label=\"Note\""}, {"bare", "aria-label=\"Enter\""},
      {"swatch", "aria-label=\"Deep blue\""}, {"save", "aria-label=\"Save\""},
  };
  for (const auto& [action, name] : cases) EXPECT_NE(tagOf(action).find(name), std::string::npos) << action << ": " << tagOf(action);
  EXPECT_NE(html.find("<select class=\"picker-select\" data-picker=\"true\" aria-label=\"Category\""), std::string::npos) << html;
  EXPECT_NE(html.find("role=\"status\" data-announce=\"true\""), std::string::npos);
}

TEST_F(HtmlRendererTest, AClearedTintShowsTheAccentColourWhateverTintSurroundsIt) {
  Node plain = make(NodeKind::button, {{Attr::tintCleared, true}}, {verbatim("Update")}, "plain");
  Node tinted = make(NodeKind::button, {{Attr::tint, Color{Color::Kind::asset, "sonicRed"}}}, {verbatim("Delete")}, "red");
  Node bar = make(NodeKind::hStack, {{Attr::tint, Color{Color::Kind::asset, "sonicYellow"}}}, {plain, tinted});
  Node screen = make(NodeKind::vStack, {{Attr::accentColor, Color{Color::Kind::asset, "sonicBlue"}}}, {bar});
  const std::string html = render(screen).html;
  EXPECT_NE(html.find("style=\"--accent:var(--c-sonicBlue);--tint:var(--c-sonicBlue);\""), std::string::npos) << html;
  EXPECT_NE(html.find("style=\"--tint:var(--c-sonicYellow);\""), std::string::npos) << html;
  EXPECT_NE(html.find("style=\"--tint:var(--accent);\" type=\"button\" data-action=\"plain\""), std::string::npos) << html;
  EXPECT_NE(html.find("style=\"--tint:var(--c-sonicRed);\" type=\"button\" data-action=\"red\""), std::string::npos) << html;
  // The accent colour as a colour of its own is the accent, not the tint around it.
  EXPECT_EQ(cssColor(Color{Color::Kind::system, "accent"}), "var(--accent)");
}

TEST_F(HtmlRendererTest, WritesNumbersWithFourSignificantDigits) {
  Node stack = make(NodeKind::vStack, {{Attr::frameWidth, 12345.678},
                                       {Attr::frameHeight, -2.5},
                                       {Attr::paddingTop, 1.0 / 3.0},
                                       {Attr::paddingBottom, 0.00001234},
                                       {Attr::spacing, std::int64_t{8}},
                                       {Attr::opacity, 0.5},
                                       {Attr::lineLimit, std::int64_t{2}}});
  const std::string html = render(stack).html;
  for (const char* expected : {"width:1.235e+04px;", "height:-2.5px;", "padding-top:0.3333px;",
                               "padding-bottom:1.234e-05px;", "gap:8px;", "opacity:0.5;", "--lines:2;"}) {
    EXPECT_NE(html.find(expected), std::string::npos) << expected << " in " << html;
  }
}

TEST(CssColorTest, NamesPaletteAndSystemColoursAndNothingElse) {
  using K = Color::Kind;
  EXPECT_EQ(cssColor({K::asset, "sonicBlue"}), "var(--c-sonicBlue)");
  EXPECT_EQ(cssColor({K::asset, "SonicBlue"}), "");
  EXPECT_EQ(cssColor({K::asset, "red;background:url(x)"}), "");
  EXPECT_EQ(cssColor({K::system, "secondary"}), "var(--label-secondary)");
  EXPECT_EQ(cssColor({K::system, "regularMaterial"}), "var(--material-regular)");
  EXPECT_EQ(cssColor({K::asset, "sonicBlue", false, 0.8}), "color-mix(in srgb,var(--c-sonicBlue) 80%,transparent)");
  EXPECT_EQ(cssColor({K::asset, "appleRed", true}).rfind("linear-gradient(", 0), 0u);
  EXPECT_FALSE(isSafeLinkUrl("javascript:alert(1)"));
  EXPECT_FALSE(isSafeLinkUrl("data:text/html,x"));
  EXPECT_TRUE(isSafeLinkUrl("https://example.org/app"));
}

}  // namespace
}  // namespace web
