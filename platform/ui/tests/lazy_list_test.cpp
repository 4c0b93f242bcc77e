// Long lists: only the rows around what the page shows are built, the rest are placeholders
// of the right count, and rows that present something stay built.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/testing/driver.h"
#include "platform/ui/view.h"

namespace platform::ui {
namespace {

using testing::byKind;
using testing::byText;
using testing::ViewDriver;

// The rows (by their index) and the placeholders (first row, count) in a node list, in order.
struct Shape {
  std::vector<std::int64_t> rows;
  std::vector<std::pair<std::int64_t, std::int64_t>> gaps;
};
void collect(const std::vector<Node>& nodes, Shape& shape) {
  for (const Node& n : nodes) {
    if (n.kind == NodeKind::section) {
      collect(n.children, shape);
    } else if (auto count = n.number(Attr::placeholderRows)) {
      shape.gaps.emplace_back(static_cast<std::int64_t>(*n.number(Attr::firstRow)), static_cast<std::int64_t>(*count));
    } else if (auto index = n.number(Attr::rowIndex)) {
      shape.rows.push_back(static_cast<std::int64_t>(*index));
    }
  }
}
Shape shapeOf(const Node& list) {
  Shape shape;
  collect(list.children, shape);
  return shape;
}

std::vector<std::int64_t> range(std::int64_t from, std::int64_t to) {
  std::vector<std::int64_t> out;
  for (std::int64_t i = from; i < to; ++i) out.push_back(i);
  return out;
}

struct Row {
  int number;
  View body(Context& ctx) const {
    auto sheet = ctx.state<bool>("sheet", false);
    return NavigationLink(Verbatim("row " + std::to_string(number)),
                          [n = number] { return Verbatim("detail " + std::to_string(n)); })
        .contextMenu({Button(verbatim("edit " + std::to_string(number)), [sheet] { sheet.set(true); })})
        .sheet(sheet.binding(), [n = number] { return Verbatim("sheet " + std::to_string(n)); });
  }
};

// `rows` rows straight in the list, or in two sections (the first holds half of them) through
// a plain ForEach, beside a form whose picker options come from a ForEach.
struct LongList {
  std::shared_ptr<int> rows;
  bool sectioned = false;
  View body(Context&) const {
    const int count = *rows;
    View content;
    if (sectioned) {
      std::vector<int> first, second;
      for (int i = 0; i < count; ++i) (i < count / 2 ? first : second).push_back(i);
      auto section = [](const std::vector<int>& numbers) {
        return Section({ForEach(numbers, [](int n) { return n; }, [](int n) { return View(Row{n}); })},
                       Verbatim("header"));
      };
      content = ForEach(std::vector<int>{0, 1}, [](int s) { return s; },
                        [&](int s) { return section(s == 0 ? first : second); });
    } else {
      content = LazyForEach(
          static_cast<std::size_t>(count), [](std::size_t i) { return "bill-" + std::to_string(i); },
          [](std::size_t i) { return View(Row{static_cast<int>(i)}); });
    }
    return NavigationStack(List({content}));
  }
};

const Node& theList(ViewDriver& driver) { return driver.get(byKind(NodeKind::list)); }

TEST(LazyList, BuildsTheWindowAroundTheShownRowAndPlaceholdersForTheRest) {
  for (bool sectioned : {false, true}) {
    SCOPED_TRACE(sectioned ? "sections of rows" : "rows");
    auto rows = std::make_shared<int>(500);
    ViewDriver driver([rows, sectioned] { return View(LongList{rows, sectioned}); });
    const Node& first = theList(driver);
    EXPECT_EQ(first.number(Attr::rowCount), 500);
    ASSERT_FALSE(first.actionId.empty());
    // Until the page says how many rows its window holds, a phone screen's worth (10) and
    // half as many again below it.
    Shape top = shapeOf(first);
    EXPECT_EQ(top.rows, range(0, 15));
    if (sectioned) {
      EXPECT_EQ(top.gaps, (std::vector<std::pair<std::int64_t, std::int64_t>>{{15, 235}, {250, 250}}));
    } else {
      EXPECT_EQ(top.gaps, (std::vector<std::pair<std::int64_t, std::int64_t>>{{15, 485}}));
    }

    // The page shows row 300 first: its window and half a window on either side are built.
    EXPECT_EQ(driver.send(byKind(NodeKind::list), EventKind::scroll, std::int64_t{300}), DispatchStatus::handled);
    Shape middle = shapeOf(theList(driver));
    EXPECT_EQ(middle.rows, range(295, 315));
    EXPECT_TRUE(driver.exists(byText("row 300")));
    EXPECT_FALSE(driver.exists(byText("row 0")));
    EXPECT_EQ(driver.send(byKind(NodeKind::list), EventKind::scroll, std::string("300")), DispatchStatus::refused);

    // The window follows what the page says it holds; a scroll that does not say keeps it.
    const std::string list = theList(driver).actionId;
    struct Case {
      std::int64_t row, rowsShown, from, to;
    };
    for (const Case& c : {Case{300, 30, 285, 345}, Case{100, 0, 85, 145}, Case{0, 1, 0, 4}, Case{498, 4, 495, 500}}) {
      SCOPED_TRACE("row " + std::to_string(c.row) + ", " + std::to_string(c.rowsShown) + " shown");
      EXPECT_EQ(driver.runtime().dispatch({list, EventKind::scroll, c.row, c.rowsShown}), DispatchStatus::handled);
      EXPECT_EQ(shapeOf(theList(driver)).rows, range(c.from, c.to));
    }
    driver.runtime().dispatch({list, EventKind::scroll, std::int64_t{300}, 10});

    // The list shrinks under the window: its end is shown.
    *rows = 30;
    driver.runtime().invalidate();
    Shape shrunk = shapeOf(theList(driver));
    EXPECT_EQ(shrunk.rows, range(15, 30));
    EXPECT_EQ(shrunk.gaps, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 15}}));
  }
}

TEST(LazyList, RowsThatPresentOrPushStayBuiltOutsideTheWindow) {
  auto rows = std::make_shared<int>(300);
  ViewDriver driver([rows] { return View(LongList{rows, false}); });
  driver.tap(byText("edit 5"));
  ASSERT_TRUE(driver.exists(byText("sheet 5")));
  driver.send(byKind(NodeKind::list), EventKind::scroll, std::int64_t{200});
  EXPECT_TRUE(driver.exists(byText("sheet 5"))) << "the sheet of a row scrolled away stays open";
  EXPECT_EQ(shapeOf(theList(driver)).rows.front(), 5);
  driver.dismiss(byKind(NodeKind::sheet));

  driver.send(byKind(NodeKind::list), EventKind::scroll, std::int64_t{0});
  const std::string list = theList(driver).actionId;
  driver.tap(byText("row 7"));
  EXPECT_TRUE(driver.exists(byText("detail 7")));
  // The covered list keeps only the row that pushed.
  std::function<const Node*(const Node&)> findList = [&](const Node& n) -> const Node* {
    if (n.kind == NodeKind::list) return &n;
    for (const Node& child : n.children) {
      if (const Node* found = findList(child)) return found;
    }
    return nullptr;
  };
  const Node* covered = findList(driver.tree());
  ASSERT_NE(covered, nullptr);
  EXPECT_EQ(shapeOf(*covered).rows, std::vector<std::int64_t>{7});
  // The covered list still takes the page's scrolling.
  EXPECT_EQ(driver.runtime().dispatch({list, EventKind::scroll, std::int64_t{250}}), DispatchStatus::handled);
  EXPECT_TRUE(driver.exists(byText("detail 7"))) << "the pushed page of a row scrolled away stays";
}

TEST(LazyList, ShortListsAndListsInsideRowsOrPickersAreBuiltWhole) {
  ViewDriver driver([] {
    auto choice = std::make_shared<int>(0);
    std::vector<int> options;
    for (int i = 0; i < 120; ++i) options.push_back(i);
    // Sections in a ForEach straight in the list are not rows; a picker's options never are.
    return View(List({Section({Picker<int>(Verbatim("pick"), Binding<int>([choice] { return *choice; }, [choice](int v) { *choice = v; }),
                                           ForEach(options, [](int n) { return n; },
                                                   [](int n) { return Verbatim("option " + std::to_string(n)).tag(n); }))}),
                      ForEach(std::vector<int>{1, 2, 3}, [](int n) { return n; },
                              [](int n) { return Section({Verbatim("static " + std::to_string(n))}); })}));
  });
  EXPECT_EQ(driver.get(byKind(NodeKind::picker)).children.size(), 120u);
  EXPECT_TRUE(driver.exists(byText("static 3")));
  EXPECT_FALSE(theList(driver).attr(Attr::rowCount)) << "no ForEach of rows: nothing to window";
  EXPECT_TRUE(theList(driver).actionId.empty());
}

}  // namespace
}  // namespace platform::ui
