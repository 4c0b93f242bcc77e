// Memoised subtrees: repeated from a copy while nothing they show changed, built again as
// soon as something did, and as usable when repeated as when built.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/observation/observation.h"
#include "platform/foundation/text.h"
#include "platform/ui/memo.h"
#include "platform/ui/observable.h"
#include "platform/ui/testing/driver.h"
#include "platform/ui/view.h"

namespace platform::ui {
namespace {

using testing::byId;
using testing::byKind;
using testing::byText;
using testing::ViewDriver;

// A stored object as the store's entities are: reads are tracked, writes tell the observers.
struct Item {
  explicit Item(std::string name) : nameValue(std::move(name)) {}
  platform::ObservationRegistrar registrar;
  std::string nameValue;
  std::string name() const {
    registrar.access(0);
    return nameValue;
  }
  void setName(std::string value) {
    registrar.withMutation(0, [&] { nameValue = std::move(value); });
  }
};

struct LabelKey {
  using Value = std::string;
  static Value defaultValue() { return "plain"; }
};

// A row with state of its own (a sheet opened from its context menu), a link, and the label
// of the environment.
struct ItemRow {
  std::shared_ptr<Item> item;
  View body(Context& ctx) const {
    auto sheet = ctx.state<bool>("sheet", false);
    const std::string label = ctx.environment<LabelKey>();
    auto shown = item;
    return NavigationLink(Verbatim(item->name() + " (" + label + ")"),
                          [shown] { return Verbatim("detail of " + shown->nameValue); })
        .accessibilityIdentifier("row")
        .contextMenu({Button(verbatim("open " + item->nameValue), [sheet] { sheet.set(true); })})
        .sheet(sheet.binding(), [shown] { return Verbatim("sheet of " + shown->nameValue); });
  }
};

// Rows of items, each memoised by its item and a version the test hands in; a counter of
// the screen's own state re-renders everything around the rows.
struct Screen {
  std::vector<std::shared_ptr<Item>> items;
  std::shared_ptr<int> builds;
  std::shared_ptr<int> key;
  std::shared_ptr<std::string> label;
  View body(Context& ctx) const {
    auto counter = ctx.state<int>("counter", 0);
    std::vector<View> rows;
    for (const auto& item : items) {
      rows.push_back(Memo(std::pair(item, *key), [item, builds = builds] {
        ++*builds;
        return View(ItemRow{item});
      }));
    }
    return NavigationStack(List({Section(rows),
                                 Button(verbatim("count " + std::to_string(counter.get())),
                                        [counter] { counter.set(counter.get() + 1); })
                                     .accessibilityIdentifier("counter")})
                               .environment<LabelKey>(*label));
  }
};

struct MemoTest : ::testing::Test {
  std::vector<std::shared_ptr<Item>> items{std::make_shared<Item>("rent"),
                                           std::make_shared<Item>("power")};
  std::shared_ptr<int> builds = std::make_shared<int>(0);
  std::shared_ptr<int> key = std::make_shared<int>(0);
  std::shared_ptr<std::string> label = std::make_shared<std::string>("plain");
  ViewDriver driver{[this] { return View(Screen{items, builds, key, label}); }};

  // Re-renders through the screen's own state; answers how many rows were built for it.
  int rebuiltByCounter() {
    driver.tree();
    const int before = *builds;
    driver.tap(byId("counter"));
    driver.tree();
    return *builds - before;
  }
};

TEST_F(MemoTest, UnchangedRowsAreRepeatedAndStayUsable) {
  const std::vector<std::string> first = driver.visibleTexts();
  EXPECT_EQ(*builds, 2);
  EXPECT_EQ(rebuiltByCounter(), 0);
  EXPECT_EQ(rebuiltByCounter(), 0);
  std::vector<std::string> now = driver.visibleTexts();
  now.erase(std::remove_if(now.begin(), now.end(), [](const std::string& t) { return t.rfind("count", 0) == 0; }),
            now.end());
  std::vector<std::string> was = first;
  was.erase(std::remove_if(was.begin(), was.end(), [](const std::string& t) { return t.rfind("count", 0) == 0; }),
            was.end());
  EXPECT_EQ(now, was);

  // The repeated row's actions and link still work: its context menu opens its sheet, and the
  // link pushes its page.
  ASSERT_EQ(driver.tap(byText("open power")), DispatchStatus::handled);
  EXPECT_TRUE(driver.exists(byText("sheet of power")));
  driver.dismiss(byKind(NodeKind::sheet));
  EXPECT_FALSE(driver.exists(byText("sheet of power")));
  EXPECT_EQ(rebuiltByCounter(), 0);
  ASSERT_EQ(driver.tap(byText("rent (plain)")), DispatchStatus::handled);
  EXPECT_TRUE(driver.exists(byText("detail of rent")));
}

TEST_F(MemoTest, RowsAreBuiltAgainWhenWhatTheyShowChanges) {
  struct Case {
    const char* what;
    std::function<void(MemoTest&)> change;
    int rebuilt;
    const char* shown;  // a text the changed page shows, or null
  };
  const std::vector<Case> cases{
      {"a property the row read", [](MemoTest& t) { t.items[1]->setName("water"); }, 1, "water (plain)"},
      {"the key", [](MemoTest& t) { ++*t.key; }, 2, nullptr},
      {"an environment value the row read", [](MemoTest& t) { *t.label = "bold"; }, 2, "rent (bold)"},
      {"data read without tracking", [](MemoTest&) { notifyAnyChange(); }, 2, nullptr},
      {"the locale", [](MemoTest&) { platform::Locale::setCurrent("de_DE"); }, 2, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    driver.tree();
    const int before = *builds;
    c.change(*this);
    // The change itself renders again when the row tracked it; otherwise the counter does.
    driver.tap(byId("counter"));
    driver.tree();
    EXPECT_EQ(*builds - before, c.rebuilt);
    if (c.shown) {
      EXPECT_TRUE(driver.exists(byText(c.shown)));
    }
    EXPECT_EQ(rebuiltByCounter(), 0);
  }
  platform::Locale::setCurrent("");
}

TEST_F(MemoTest, AChangedPropertyRendersAgainByItself) {
  driver.tree();
  items[0]->setName("mortgage");
  driver.pump();
  EXPECT_TRUE(driver.exists(byText("mortgage (plain)")));
}

TEST_F(MemoTest, ARowThatPresentsIsBuiltEveryTimeUntilItStops) {
  driver.tap(byText("open rent"));
  EXPECT_EQ(rebuiltByCounter(), 1);  // its state changed, and it presents: built every time
  EXPECT_EQ(rebuiltByCounter(), 1);
  EXPECT_TRUE(driver.exists(byText("sheet of rent")));
  driver.dismiss(byKind(NodeKind::sheet));
  driver.tree();
  EXPECT_EQ(rebuiltByCounter(), 0);
}

// Lifecycle work queued while building can not be repeated by a copy: such a subtree runs
// its work every render, as without the memo.
TEST(Memo, SubtreesWithWorkEveryRenderAreNotCopied) {
  auto updates = std::make_shared<int>(0);
  auto builds = std::make_shared<int>(0);
  ViewDriver driver([updates, builds] {
    return View(Closure("screen", [updates, builds](Context& ctx) {
      auto counter = ctx.state<int>("counter", 0);
      return VStack({Memo(0,
                          [updates, builds] {
                            ++*builds;
                            return Verbatim("updating").onUpdate([updates] { ++*updates; });
                          }),
                     Button(verbatim("count"), [counter] { counter.set(counter.get() + 1); })});
    }));
  });
  driver.tree();
  driver.tap(byText("count"));
  driver.tree();
  EXPECT_EQ(*builds, 2);
  EXPECT_EQ(*updates, 2);
}

// A picker with tagged options inside a memo is repeated from a copy, and the copy's options
// still choose (the choice is in the key, so choosing builds it again).
TEST(Memo, APickerInsideIsRepeatedAndStillChooses) {
  auto builds = std::make_shared<int>(0);
  ViewDriver driver([builds] {
    return View(Closure("screen", [builds](Context& ctx) {
      auto counter = ctx.state<int>("counter", 0);
      auto choice = ctx.state<int>("choice", 1);
      return VStack({Memo(choice.get(),
                          [builds, choice] {
                            ++*builds;
                            return VStack({Picker<int>(Verbatim("kind"), choice.binding(),
                                                       Group({Verbatim("one").tag(1), Verbatim("two").tag(2)})),
                                           Verbatim("chose " + std::to_string(choice.get()))});
                          }),
                     Button(verbatim("count"), [counter] { counter.set(counter.get() + 1); })});
    }));
  });
  driver.tree();
  driver.tap(byText("count"));
  driver.tap(byText("count"));
  EXPECT_EQ(*builds, 1);
  ASSERT_EQ(driver.tap(byText("two").ofKind(NodeKind::pickerOption)), DispatchStatus::handled);
  EXPECT_TRUE(driver.exists(byText("chose 2")));
  EXPECT_EQ(*builds, 2);
  driver.tap(byText("count"));
  ASSERT_EQ(driver.tap(byText("one").ofKind(NodeKind::pickerOption)), DispatchStatus::handled);
  EXPECT_TRUE(driver.exists(byText("chose 1")));
}

// An observable object's change rebuilds the subtrees that read one of its published fields
// or took it from the environment, and no other.
TEST(Memo, ObservableObjectsRebuildTheirReaders) {
  struct Settings : ObservableObject {
    Published<std::string> title{*this, "bills"};
    Published<int> other{*this, 0};
  };
  auto read = std::make_shared<Settings>();
  auto fromEnvironment = std::make_shared<Settings>();
  auto unrelated = std::make_shared<Settings>();
  auto builds = std::make_shared<std::vector<int>>(2, 0);
  ViewDriver driver([=] {
    return View(Closure("screen", [=](Context&) {
             return VStack({Memo(1,
                                 [=] {
                                   ++(*builds)[0];
                                   return Verbatim(read->title.get());
                                 }),
                            Memo(2, [=] {
                              return View(Closure("reader", [=](Context& ctx) {
                                ++(*builds)[1];
                                ctx.environmentObject<Settings>();
                                return Verbatim("reader");
                              }));
                            })});
           }))
        .environmentObject(fromEnvironment);
  });
  driver.tree();
  unrelated->title = "other";
  driver.tree();
  EXPECT_EQ(*builds, (std::vector<int>{1, 1}));
  read->title = "plans";
  driver.tree();
  EXPECT_EQ(*builds, (std::vector<int>{2, 1}));
  EXPECT_TRUE(driver.exists(byText("plans")));
  fromEnvironment->other = 1;
  driver.tree();
  EXPECT_EQ(*builds, (std::vector<int>{2, 2}));
}

// An inner memo that goes stale takes the outer one with it; a hidden tab's content is kept
// while hidden and built every render once selected.
TEST(Memo, NestedAndWhileHidden) {
  auto item = std::make_shared<Item>("rent");
  auto outerBuilds = std::make_shared<int>(0);
  auto hiddenBuilds = std::make_shared<int>(0);
  ViewDriver driver([=] {
    return View(Closure("tabs", [=](Context& ctx) {
      auto counter = ctx.state<int>("counter", 0);
      View first = VStack({Memo(1,
                                [=] {
                                  ++*outerBuilds;
                                  return VStack({Verbatim("outer"), Memo(2, [=] { return Verbatim(item->name()); })});
                                }),
                           Button(verbatim("count"), [counter] { counter.set(counter.get() + 1); })})
                       .tabItem(Verbatim("first"));
      View second = MemoWhileHidden(3, [=] {
                      ++*hiddenBuilds;
                      return Verbatim("second content");
                    }).tabItem(Verbatim("second"));
      return TabView({first, second});
    }));
  });
  driver.tree();
  driver.tap(byText("count"));
  driver.tree();
  EXPECT_EQ(*outerBuilds, 1);
  EXPECT_EQ(*hiddenBuilds, 1);
  item->setName("power");
  driver.pump();
  EXPECT_EQ(*outerBuilds, 2);
  EXPECT_TRUE(driver.exists(byText("power")));

  driver.tap(byText("second").ofKind(NodeKind::tab));
  driver.tree();
  const int shownBuilds = *hiddenBuilds;
  EXPECT_TRUE(driver.exists(byText("second content")));
  driver.runtime().invalidate();
  driver.tree();
  EXPECT_EQ(*hiddenBuilds, shownBuilds + 1);
}

// A hidden tab is not built for a change of stored data it read while it stays hidden; it
// shows the change as soon as it is selected. Its own state still rebuilds it.
TEST(Memo, AHiddenTabCatchesUpWithStoredChangesWhenShown) {
  auto item = std::make_shared<Item>("rent");
  auto builds = std::make_shared<int>(0);
  auto flag = std::make_shared<std::function<void()>>();
  ViewDriver driver([=] {
    View first = Verbatim("first content").tabItem(Verbatim("first"));
    View second = MemoWhileHidden(0, [=] {
                    return View(Closure("second", [=](Context& ctx) {
                      ++*builds;
                      auto marked = ctx.state<bool>("marked", false);
                      *flag = [marked] { marked.toggle(); };
                      return Verbatim("second: " + item->name() + (marked.get() ? " (marked)" : ""));
                    }));
                  }).tabItem(Verbatim("second"));
    return TabView({first, second});
  });
  driver.tree();
  ASSERT_EQ(*builds, 1);
  item->setName("power");
  driver.pump();
  driver.tree();
  EXPECT_EQ(*builds, 1);
  (*flag)();
  driver.tree();
  EXPECT_EQ(*builds, 2);
  item->setName("water");
  driver.tree();
  driver.tap(byText("second").ofKind(NodeKind::tab));
  EXPECT_TRUE(driver.exists(byText("second: water (marked)")));
}

// A row known by the list and its id (RowIdentity::list), whichever section holds it: a
// search (the rows in one flat run) or a regrouping (other sections) keeps its identity, its
// action ids, its state and its memoised copy, and the copy keeps its stamp.
TEST(Memo, ListRowsKeepIdentityStateAndCopyWhenTheyMoveBetweenSections) {
  auto items = std::make_shared<std::vector<std::shared_ptr<Item>>>(
      std::vector<std::shared_ptr<Item>>{std::make_shared<Item>("rent"), std::make_shared<Item>("power"),
                                         std::make_shared<Item>("water")});
  auto builds = std::make_shared<int>(0);
  // Taps on a row count in the row's own state.
  struct Tapped {
    std::shared_ptr<Item> item;
    View body(Context& ctx) const {
      auto taps = ctx.state<int>("taps", 0);
      return Button(Verbatim(item->name() + " " + std::to_string(taps.get())), [taps] { taps.set(taps.get() + 1); })
          .accessibilityIdentifier("row");
    }
  };
  ViewDriver driver([=] {
    return View(Closure("screen", [=](Context& ctx) {
      auto layout = ctx.state<int>("layout", 0);  // 0: two sections, 1: flat, 2: one item in both sections
      auto rows = [=](std::vector<std::shared_ptr<Item>> shown) {
        auto list = std::make_shared<std::vector<std::shared_ptr<Item>>>(std::move(shown));
        return LazyForEach(
            list->size(), [list](std::size_t i) { return std::to_string(reinterpret_cast<std::uintptr_t>((*list)[i].get())); },
            [list, builds](std::size_t i) {
              auto item = (*list)[i];
              return Memo(item, [item, builds] {
                ++*builds;
                return View(Tapped{item});
              });
            },
            RowIdentity::list);
      };
      const auto& all = *items;
      View content;
      if (layout.get() == 1) {
        content = rows(all);
      } else {
        std::vector<std::vector<std::shared_ptr<Item>>> sections{{all[0], all[1]}, {all[2]}};
        if (layout.get() == 2) sections[1].push_back(all[0]);
        content = ForEach(std::vector<int>{0, 1}, [](int s) { return s; },
                          [=](int s) { return Section({rows(sections[static_cast<std::size_t>(s)])}, Verbatim("header")); });
      }
      return VStack({List({content}),
                     Button(verbatim("layout"), [layout] { layout.set((layout.get() + 1) % 3); })});
    }));
  });
  struct Seen {
    std::string identity, actionId;
    std::uint64_t stamp;
    bool operator==(const Seen&) const = default;
  };
  auto rent = [&] {
    const Node& n = driver.get(byText("rent 1").ofKind(NodeKind::button));
    return Seen{n.identity, n.actionId, n.memoStamp};
  };
  driver.tap(byText("rent 0"));
  const Seen inSections = rent();
  EXPECT_NE(inSections.stamp, 0u);
  const int before = *builds;
  driver.tap(byText("layout"));
  EXPECT_EQ(rent(), inSections) << "flat, as search results";
  EXPECT_EQ(*builds, before) << "no row was built again";
  driver.tap(byText("layout"));

  // The same id twice in one list: two rows, each with an identity and state of its own.
  auto twice = driver.findAll(byId("row"));
  ASSERT_EQ(twice.size(), 4u);
  EXPECT_NE(twice[0]->identity, twice[3]->identity);
  EXPECT_NE(twice[0]->actionId, twice[3]->actionId);
  const std::string second = twice[3]->actionId;
  driver.runtime().dispatch(ActionEvent{second, EventKind::tap, {}});
  driver.runtime().dispatch(ActionEvent{second, EventKind::tap, {}});
  driver.tree();
  EXPECT_TRUE(driver.exists(byText("rent 1")));
  EXPECT_TRUE(driver.exists(byText("rent 2")));

  // What the row shows changed: built again, with a new stamp.
  driver.tap(byText("layout"));
  items->at(0)->setName("mortgage");
  driver.pump();
  const Node& renamed = driver.get(byText("mortgage 1").ofKind(NodeKind::button));
  EXPECT_EQ(renamed.identity, inSections.identity);
  EXPECT_NE(renamed.memoStamp, inSections.stamp);
}

}  // namespace
}  // namespace platform::ui
