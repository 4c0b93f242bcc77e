// Every class the renderer writes has a rule in the page's stylesheet: a typo in a class, or a
// value of a closed set the stylesheet forgot, fails here instead of rendering unstyled.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ui/runtime.h"
#include "web/html_classes.h"
#include "web/html_renderer.h"
#include "web/testing/demo_screen.h"

namespace web {
namespace {

using namespace platform::ui;

std::set<std::string> stylesheetClasses() {
  std::ifstream in(std::string(BRIVEL_WEB_SOURCE_ASSETS) + "/app.css");
  std::stringstream css;
  css << in.rdbuf();
  std::string text = css.str();
  // Drop comments and url(...) values, so that neither adds a class.
  text = std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/)"), " ");
  text = std::regex_replace(text, std::regex(R"(url\([^)]*\))"), " ");
  std::set<std::string> out;
  std::regex selector(R"(\.([A-Za-z_][A-Za-z0-9_-]*))");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), selector); it != std::sregex_iterator(); ++it) {
    out.insert((*it)[1]);
  }
  return out;
}

// The classes of every element of `html`.
std::set<std::string> classesIn(const std::string& html) {
  std::set<std::string> out;
  std::regex attribute(R"re(class="([^"]*)")re");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), attribute); it != std::sregex_iterator(); ++it) {
    std::istringstream words((*it)[1]);
    for (std::string word; words >> word;) out.insert(word);
  }
  return out;
}

Node make(NodeKind kind, std::initializer_list<std::pair<Attr, AttrValue>> attrs = {}, std::vector<Node> children = {},
          std::string actionId = {}) {
  Node n;
  n.kind = kind;
  n.identity = std::string(kindName(kind));
  for (const auto& [name, value] : attrs) n.attrs[name] = value;
  n.children = std::move(children);
  n.actionId = std::move(actionId);
  if (!n.actionId.empty()) n.accepts.tap = true;
  return n;
}

Node words(const std::string& s) { return make(NodeKind::text, {{Attr::text, verbatim(s)}}); }

// One node of every kind, each with the modifiers a node can carry.
std::vector<Node> everyKind() {
  std::vector<Node> out;
  for (int k = 0; k <= static_cast<int>(NodeKind::toolbarItem); ++k) {
    auto kind = static_cast<NodeKind>(k);
    if (kind == NodeKind::window) continue;
    Node n = make(kind, {}, {words("x")}, "a" + std::to_string(k));
    n.slots["label"] = {words("label")};
    n.slots["title"] = {words("title")};
    n.slots["icon"] = {make(NodeKind::image, {{Attr::systemName, std::string("circle")}})};
    n.slots["header"] = {words("header")};
    n.slots["footer"] = {words("footer")};
    n.slots["description"] = {words("description")};
    n.slots["actions"] = {words("actions")};
    n.slots["message"] = {words("message")};
    n.slots["tabItem"] = {words("tab")};
    out.push_back(std::move(n));
  }
  return out;
}

Node modified(Node n) {
  const std::pair<Attr, AttrValue> attrs[] = {
      {Attr::bold, true},
      {Attr::foregroundStyle, Color::system("red")},
      {Attr::lineLimit, std::int64_t{2}},
      {Attr::frameMaxWidth, 1.0 / 0.0},
      {Attr::frameMaxHeight, 1.0 / 0.0},
      {Attr::frameWidth, 20.0},
      {Attr::transition, Transition::opacity},
      {Attr::scrollIndicators, Visibility::hidden},
      {Attr::listRowSeparator, Visibility::hidden},
      {Attr::listRowInsetsTop, 4.0},
      {Attr::swipeActionsAllowsFullSwipe, true},
      {Attr::titleDisplayMode, TitleDisplayMode::large},
      {Attr::presented, true},
      {Attr::imageAsset, std::string("brivelTips")},
      {Attr::title, verbatim("title")},
      {Attr::message, verbatim("message")},
  };
  for (const auto& [name, value] : attrs) n.attrs[name] = value;
  n.slots["overlay"] = {words("overlay")};
  n.slots["background"] = {make(NodeKind::color, {{Attr::color, Color::system("red")}})};
  n.slots["safeAreaInset"] = {words("inset")};
  n.slots["swipeActions"] = {make(NodeKind::button, {}, {words("swipe")}, "swipe")};
  n.slots["contextMenu"] = {make(NodeKind::button, {}, {words("context")}, "context")};
  n.slots["toolbar"] = {make(NodeKind::toolbarItem, {}, {make(NodeKind::button, {}, {words("bar")}, "bar")})};
  Node tip = make(NodeKind::popoverTip, {{Attr::title, verbatim("tip")}, {Attr::imageAsset, std::string("brivelTips")}},
                  {}, "tip");
  n.slots["popoverTip"] = {tip};
  return n;
}

// A window holding every kind of node in every place the renderer draws nodes: in the content,
// as rows of a lazy list, in a menu, in a navigation bar, in a tab and in each presentation.
Node everywhere() {
  std::vector<Node> plain;
  for (Node& n : everyKind()) plain.push_back(modified(std::move(n)));
  Node section = make(NodeKind::section, {}, plain);
  section.slots["header"] = {words("header")};
  Node placeholder = make(NodeKind::spacer, {{Attr::placeholderRows, std::int64_t{5}}, {Attr::firstRow, std::int64_t{0}}});
  Node row = words("row");
  row.attrs[Attr::rowIndex] = std::int64_t{5};
  Node list = make(NodeKind::list, {{Attr::rowCount, std::int64_t{6}}}, {placeholder, row, section}, "list");
  list.accepts = {.scroll = true};
  Node menu = make(NodeKind::menu, {}, everyKind());
  menu.slots["label"] = {words("menu")};
  Node page = make(NodeKind::navigationPage, {{Attr::title, verbatim("Page")}}, {list, menu}, "page");
  page.slots["toolbar"] = {make(NodeKind::toolbarItem, {}, everyKind())};
  page.slots["search"] = {make(NodeKind::searchField, {{Attr::presented, true}}, {}, "search")};
  Node tab = make(NodeKind::tab, {{Attr::selected, true}}, {make(NodeKind::navigationStack, {}, {page})}, "tab");
  tab.slots["tabItem"] = {words("tab")};
  Node window = make(NodeKind::window, {}, {make(NodeKind::tabView, {}, {tab})});
  window.slots["presentations"] = {make(NodeKind::sheet, {}, everyKind(), "sheet"),
                                   make(NodeKind::confirmationDialog, {{Attr::title, verbatim("Sure?")}}, everyKind(),
                                        "dialog")};
  window.slots["presentations"][1].slots["message"] = {words("message")};
  return window;
}

class CssClassesTest : public ::testing::Test {
 protected:
  CssClassesTest()
      : icons_(IconTable::load(BRIVEL_WEB_SOURCE_ASSETS)), renderer_(strings_, icons_), css_(stylesheetClasses()) {}

  // The classes of `html` (or of the list) that the stylesheet lacks.
  std::vector<std::string> missing(const std::set<std::string>& classes) const {
    std::vector<std::string> out;
    for (const auto& c : classes) {
      if (!css_.count(c)) out.push_back(c);
    }
    return out;
  }

  StringTable strings_{StringTable::Texts{}};
  IconTable icons_;
  HtmlRenderer renderer_;
  std::set<std::string> css_;
};

TEST_F(CssClassesTest, EveryValueOfAClosedSetHasItsClass) {
  ASSERT_GT(css_.size(), 50u) << "the stylesheet was not read";
  const auto classes = closedSetClasses();
  EXPECT_EQ(missing({classes.begin(), classes.end()}), std::vector<std::string>{});
  // The check itself: a class with a typo is caught.
  EXPECT_EQ(missing({"font-headlin"}), std::vector<std::string>{"font-headlin"});
}

TEST_F(CssClassesTest, EveryClassOfEveryKindInEveryPlaceHasARule) {
  Node window = everywhere();
  Page page = renderer_.render(window);
  std::set<std::string> classes = classesIn(page.html);
  ASSERT_GT(classes.size(), 60u);
  // The items of a row's menu, drawn when it opens.
  const std::string of = "data-menu-of=\"";
  for (std::size_t at = page.html.find(of); at != std::string::npos; at = page.html.find(of, at + 1)) {
    const std::size_t start = at + of.size();
    auto items = renderer_.renderRowMenu(window, page.html.substr(start, page.html.find('"', start) - start));
    ASSERT_TRUE(items);
    for (const auto& c : classesIn(*items)) classes.insert(c);
  }
  EXPECT_EQ(missing(classes), std::vector<std::string>{});
}

TEST_F(CssClassesTest, TheDemoScreenUsesOnlyStyledClasses) {
  ViewRuntime runtime([] { return View(testing::DemoScreen{}); }, [](std::function<void()> work) { work(); });
  EXPECT_EQ(missing(classesIn(renderer_.render(runtime.render()).html)), std::vector<std::string>{});
}

}  // namespace
}  // namespace web
