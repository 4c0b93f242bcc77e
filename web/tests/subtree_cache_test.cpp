// Memoised rows drawn from what the renderer wrote for them before: the page is the one a
// renderer drawing everything afresh writes, and a row moved by a search or a regrouping keeps
// its HTML.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/memo.h"
#include "platform/ui/runtime.h"
#include "web/html_renderer.h"

namespace web {
namespace {

using namespace platform::ui;

struct Model {
  std::vector<std::string> names{"rent", "power", "water", "phone"};
  bool flat = false;  // one run of rows, as search results show them
  std::string header = "Home";
};

View rowsOf(std::vector<std::string> names) {
  auto shown = std::make_shared<std::vector<std::string>>(std::move(names));
  return LazyForEach(
      shown->size(), [shown](std::size_t i) { return (*shown)[i]; },
      [shown](std::size_t i) {
        const std::string name = (*shown)[i];
        return Memo(name, [name] {
          return NavigationLink(HStack({Verbatim(name), Spacer(), Verbatim("$1.00")}), [] { return Verbatim("detail"); })
              .accessibilityIdentifier("row")
              .contextMenu({Button(verbatim("Copy " + name), [] {})})
              .swipeActions(Edge::trailing, true, {Button(SystemImage("trash"), [] {})});
        });
      },
      RowIdentity::list);
}

View screen(std::shared_ptr<Model> model) {
  return View(Closure("rows", [model](Context&) {
    const auto& names = model->names;
    View content = model->flat ? rowsOf(names)
                               : Group({Section({rowsOf({names.begin(), names.begin() + 2})}, HStack({Verbatim(model->header), Spacer()})),
                                        Section({rowsOf({names.begin() + 2, names.end()})}, Verbatim("Other"))});
    return NavigationStack(List({content}).navigationTitle(verbatim("Bills")));
  }));
}

Node withoutStamps(Node n) {
  n.memoStamp = 0;
  for (Node& child : n.children) child = withoutStamps(std::move(child));
  for (auto& [name, nodes] : n.slots) {
    for (Node& child : nodes) child = withoutStamps(std::move(child));
  }
  return n;
}

Node* find(Node& n, const std::function<bool(const Node&)>& match) {
  if (match(n)) return &n;
  for (Node& child : n.children) {
    if (Node* found = find(child, match)) return found;
  }
  for (auto& [name, nodes] : n.slots) {
    for (Node& child : nodes) {
      if (Node* found = find(child, match)) return found;
    }
  }
  return nullptr;
}

// The HTML of the list row element that shows `name`.
std::string rowHtml(const std::string& html, const std::string& name) {
  const std::size_t at = html.find(">" + name + "<");
  if (at == std::string::npos) return {};
  const std::size_t start = html.rfind("<div class=\"row", at);
  std::size_t end = start;
  for (int depth = 0;;) {
    const std::size_t open = html.find("<div", end + 1), close = html.find("</div>", end + 1);
    if (close == std::string::npos) return {};
    if (open < close) {
      ++depth;
      end = open;
    } else if (depth-- == 0) {
      return html.substr(start, close + 6 - start);
    } else {
      end = close;
    }
  }
}

class SubtreeCacheTest : public ::testing::Test {
 protected:
  SubtreeCacheTest()
      : icons_(IconTable::load(BRIVEL_WEB_SOURCE_ASSETS)), cached_(strings_, icons_), fresh_(strings_, icons_) {}

  // Renders the latest tree with both renderers; they must agree.
  Page renderBoth() {
    const Node& tree = runtime_.render();
    Page page = cached_.render(tree);
    Page expected = fresh_.render(withoutStamps(tree));
    EXPECT_EQ(page.html, expected.html);
    EXPECT_EQ(page.actions.size(), expected.actions.size());
    for (const auto& [id, spec] : expected.actions) EXPECT_TRUE(page.actions.count(id)) << id;
    return page;
  }

  std::shared_ptr<Model> model_ = std::make_shared<Model>();
  StringTable strings_;
  IconTable icons_;
  HtmlRenderer cached_;  // draws memoised rows from its cache
  HtmlRenderer fresh_;   // is never given a memoised node
  // Renders only when asked (the test's thread is its main thread).
  ViewRuntime runtime_{[model = model_] { return screen(model); }, [](std::function<void()>) {}};
};

TEST_F(SubtreeCacheTest, RowsDrawnFromTheCacheAreWhatAFreshDrawingWrites) {
  const Page first = renderBoth();
  const std::string rent = rowHtml(first.html, "rent");
  ASSERT_FALSE(rent.empty());
  EXPECT_NE(rent.find("data-action"), std::string::npos);

  struct Step {
    const char* what;
    std::function<void(Model&)> change;
  };
  const std::vector<Step> steps{
      {"nothing", [](Model&) {}},
      {"a row's content", [](Model& m) { m.names[1] = "electricity"; }},
      {"search results", [](Model& m) { m.flat = true; }},
      {"sections again", [](Model& m) { m.flat = false; }},
      {"a section's header", [](Model& m) { m.header = "House"; }},
      {"rows reordered", [](Model& m) { std::swap(m.names[0], m.names[3]); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change(*model_);
    runtime_.invalidate();
    const Page page = renderBoth();
    EXPECT_EQ(rowHtml(page.html, "rent"), rent) << "a moved row keeps its element and key";
  }
}

TEST_F(SubtreeCacheTest, ACopyServesOnlyWhileItsNodesAndPlaceAreTheSame) {
  renderBoth();
  Node tree = runtime_.render();
  auto rentRow = [](const Node& n) { return n.kind == NodeKind::navigationLink && n.memoStamp != 0 && n.identity.find("[rent]") != std::string::npos; };
  auto rentText = [](const Node& n) {
    const TextContent* t = n.textContent(Attr::text);
    return t && t->key == "rent";
  };

  // Same stamps: the renderer trusts its copy (the runtime never hands it such a tree).
  Node stale = tree;
  find(stale, rentText)->attrs[Attr::text] = TextContent{"mortgage", {}, true};
  EXPECT_EQ(cached_.render(stale).html.find("mortgage"), std::string::npos);

  // The top node's attributes changed (a modifier around the memoised view): drawn afresh.
  Node styled = stale;
  find(styled, rentRow)->attrs[Attr::opacity] = 0.5;
  EXPECT_NE(cached_.render(styled).html.find("mortgage"), std::string::npos);

  // A node below edited after the memo (its stamp cleared): drawn afresh.
  Node edited = tree;
  Node* text = find(edited, rentText);
  text->attrs[Attr::text] = TextContent{"mortgage", {}, true};
  text->memoStamp = 0;
  EXPECT_NE(cached_.render(edited).html.find("mortgage"), std::string::npos);
}

// Section headers and rows that are not memoised are kept by their nodes: a copy serves only
// while every node below is equal to the one drawn.
TEST_F(SubtreeCacheTest, AKeptHeaderServesOnlyWhileItsNodesAreEqual) {
  renderBoth();
  const Node tree = runtime_.render();
  const std::string before = cached_.render(tree).html;
  EXPECT_EQ(cached_.render(tree).html, before);
  ASSERT_EQ(before.find("bold"), std::string::npos);

  auto header = [](const Node& n) {
    const TextContent* t = n.textContent(Attr::text);
    return t && t->key == "Home";
  };
  Node renamed = tree;
  find(renamed, header)->attrs[Attr::text] = TextContent{"House", {}, true};
  std::string html = cached_.render(renamed).html;
  EXPECT_NE(html.find(">House<"), std::string::npos);
  EXPECT_EQ(html.find(">Home<"), std::string::npos);

  Node restyled = tree;
  find(restyled, header)->attrs[Attr::bold] = true;
  html = cached_.render(restyled).html;
  EXPECT_NE(html.find("bold"), std::string::npos);
  EXPECT_NE(html.find(">Home<"), std::string::npos);
  EXPECT_EQ(cached_.render(tree).html, before);
}

TEST_F(SubtreeCacheTest, ARowDrawnTwiceGetsKeysOfItsOwnTheSecondTime) {
  renderBoth();
  Node tree = runtime_.render();
  fresh_.render(withoutStamps(tree));
  Node* section = find(tree, [](const Node& n) { return n.kind == NodeKind::section; });
  ASSERT_NE(section, nullptr);
  section->children.push_back(section->children.front());
  const Page page = cached_.render(tree);
  EXPECT_EQ(page.html, fresh_.render(withoutStamps(tree)).html);
  EXPECT_NE(page.html.find("data-key"), std::string::npos);
}

// A long session draws ever other rows: the keys no render drew for a while go once the
// table has grown, the keys still drawn (straight or repeated from a kept subtree) stay as they
// were, and a key that went is never given to another identity.
TEST(KeyTable, LetsGoOfKeysNoRecentRenderDrew) {
  KeyTable table;
  table.beginRender();
  const std::string kept = table.keyFor("kept");
  const std::string repeated = table.keyFor("repeated");
  table.endRender();
  std::string first;
  std::size_t largest = 0;
  for (int render = 0; render < 60; ++render) {
    table.beginRender();
    EXPECT_EQ(table.keyFor("kept"), kept);
    table.touch("repeated");
    for (int row = 0; row < 2000; ++row) {
      const std::string key = table.keyFor("row " + std::to_string(render) + "." + std::to_string(row));
      if (render == 0 && row == 0) first = key;
    }
    table.endRender();
    largest = std::max(largest, table.size());
  }
  EXPECT_LT(largest, 4 * KeyTable::kLetGoFrom) << "the table stays bounded";
  EXPECT_GT(table.generation(), 0u) << "kept subtrees drawn with older keys are drawn again";
  EXPECT_EQ(table.identityOf(first), nullptr) << "a row not drawn for long lost its key";
  ASSERT_NE(table.identityOf(repeated), nullptr);
  EXPECT_EQ(*table.identityOf(repeated), "repeated");
  EXPECT_EQ(*table.identityOf(kept), "kept");
  table.beginRender();
  EXPECT_NE(table.keyFor("row 0.0"), first) << "a key is never given again";
  table.endRender();
}

}  // namespace
}  // namespace web
