#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "platform/ui/services.h"
#include "platform/ui/testing/driver.h"
#include "platform/ui/view.h"

namespace platform::ui {
namespace {

using testing::byKind;
using testing::byText;
using testing::ViewDriver;

using Log = std::shared_ptr<std::vector<std::string>>;
Log makeLog() { return std::make_shared<std::vector<std::string>>(); }

// A page that records when it comes on screen and goes.
View tracked(const std::string& name, Log log) {
  return Verbatim(name).onAppear([log, name] { log->push_back("appear " + name); }).onDisappear([log, name] {
    log->push_back("disappear " + name);
  });
}

TEST(ViewLifecycle, OnChangeRunsOncePerActionWithTheOldAndNewValue) {
  auto log = makeLog();
  ViewDriver driver([log] {
    return Closure("editor", [log](Context& ctx) {
      auto text = ctx.state<std::string>("text", "a");
      return VStack({
                 Button(verbatim("write three times"),
                        [text] {
                          text.set("b");
                          text.set("c");
                          text.set("d");
                        }),
                 Button(verbatim("write the same"), [text] { text.set(text.get()); }),
             })
          .onChange(text.get(), [log](const std::string& o, const std::string& n) {
            log->push_back(o + "->" + n);
          });
    });
  });
  driver.tree();
  EXPECT_TRUE(log->empty()) << "not on the first appearance";
  driver.tap(byText("write three times"));
  EXPECT_EQ(*log, (std::vector<std::string>{"a->d"}));
  driver.tap(byText("write the same"));
  EXPECT_EQ(log->size(), 1u) << "a write of the same value is no change";
}

TEST(ViewLifecycle, AWriteBackFromOnChangeIsItselfAChangeUntilTheValueSettles) {
  // The shape of the two-decimals rule: drop the last character while more than two digits
  // follow the point; a long paste is cut one character per pass, all within one action.
  auto seen = std::make_shared<int>(0);
  ViewDriver driver([seen] {
    return Closure("cost", [seen](Context& ctx) {
      auto text = ctx.state<std::string>("text", "");
      return TextField(localized("localizable_cost"), text.binding())
          .onChange(text.get(), [text, seen](const std::string&, const std::string& now) {
            ++*seen;
            auto point = now.find('.');
            if (point != std::string::npos && now.size() - point - 1 > 2) text.set(now.substr(0, now.size() - 1));
          });
    });
  });
  driver.type(testing::byKind(NodeKind::textField), "12." + std::string(40, '7'));
  EXPECT_EQ(driver.get(testing::byKind(NodeKind::textField)).string(Attr::value), "12.77");
  EXPECT_EQ(*seen, 39);
}

TEST(ViewLifecycle, OnChangeWithInitialAlsoRunsOnAppearance) {
  auto log = makeLog();
  ViewDriver driver([log] {
    return Verbatim("x").onChange(
        7, [log](const int& o, const int& n) { log->push_back(std::to_string(o) + "," + std::to_string(n)); },
        true);
  });
  driver.tree();
  EXPECT_EQ(*log, (std::vector<std::string>{"7,7"}));
}

TEST(ViewLifecycle, AScreenUnderASheetStaysOnScreen) {
  auto log = makeLog();
  ViewDriver driver([log] {
    return Closure("root", [log](Context& ctx) {
      auto showSheet = ctx.state<bool>("showSheet", false);
      return VStack({tracked("root", log), Button(verbatim("open"), [showSheet] { showSheet.set(true); })})
          .sheet(showSheet.binding(), [log] {
            return Closure("sheet", [log](Context& ctx) {
              auto dismiss = ctx.dismiss();
              return VStack({tracked("sheet", log), Button(verbatim("close"), [dismiss] { dismiss(); })});
            });
          });
    });
  });
  driver.tree();
  driver.tap(byText("open"));
  driver.tap(byText("close"));
  EXPECT_EQ(*log, (std::vector<std::string>{"appear root", "appear sheet", "disappear sheet"}));
}

TEST(ViewLifecycle, SwitchingTabsHidesTheOtherTabButKeepsItsState) {
  auto log = makeLog();
  ViewDriver driver([log] {
    auto counterTab = Closure("counter", [log](Context& ctx) {
      auto count = ctx.state<int>("count", 0);
      return VStack({tracked("first", log),
                     Button(verbatim("count " + std::to_string(count.get())), [count] { count.set(count.get() + 1); })});
    });
    return TabView({counterTab.tabItem(Label(localized("one"), "tray.full")),
                    tracked("second", log).tabItem(Label(localized("two"), "cloud.sun"))});
  });
  driver.tap(byText("count 0"));
  driver.tap(byText("two").ofKind(NodeKind::tab));
  EXPECT_FALSE(driver.exists(byText("count 1"))) << "a hidden tab is not shown";
  driver.tap(byText("one").ofKind(NodeKind::tab));
  EXPECT_TRUE(driver.exists(byText("count 1")));
  EXPECT_EQ(*log, (std::vector<std::string>{"appear first", "disappear first", "appear second", "disappear second",
                                            "appear first"}));
}

TEST(ViewLifecycle, ATabViewWithASelectionBindingFollowsItBothWays) {
  auto conditional = std::make_shared<bool>(true);
  ViewDriver driver([conditional] {
    return Closure("tabs", [conditional](Context& ctx) {
      auto selected = ctx.state<int>("selected", 1);
      return VStack({TabView(selected.binding(),
                             {Verbatim("bills").tabItem(Text("one")),
                              when(*conditional, [] { return Verbatim("forecast").tabItem(Text("two")); })}),
                     Verbatim("selected " + std::to_string(selected.get()))});
    });
  });
  EXPECT_TRUE(driver.exists(byText("forecast")));
  driver.tap(byText("one").ofKind(NodeKind::tab));
  EXPECT_TRUE(driver.exists(byText("selected 0")));
  driver.tap(byText("two").ofKind(NodeKind::tab));

  // The second tab goes away while selected: the first is shown, and there is one tab.
  *conditional = false;
  driver.runtime().invalidate();
  EXPECT_TRUE(driver.exists(byText("bills")));
  EXPECT_EQ(driver.findAll(byKind(NodeKind::tab)).size(), 1u);
}

TEST(ViewLifecycle, RemovedViewsDisappear) {
  auto log = makeLog();
  auto show = std::make_shared<bool>(true);
  ViewDriver driver([log, show] { return VStack({when(*show, [log] { return tracked("row", log); })}); });
  driver.tree();
  *show = false;
  driver.runtime().invalidate();
  driver.tree();
  EXPECT_EQ(*log, (std::vector<std::string>{"appear row", "disappear row"}));
}

TEST(ViewLifecycle, TaskStartsOnAppearAndRestartsWhenItsIdChanges) {
  auto log = makeLog();
  auto handles = std::make_shared<std::vector<TaskHandle>>();
  auto show = std::make_shared<bool>(true);
  ViewDriver driver([log, handles, show] {
    return Closure("tasks", [log, handles, show](Context& ctx) {
      auto phase = ctx.state<int>("phase", 1);
      return VStack({
          when(*show,
               [&] {
                 return Verbatim("worker").task(phase.get(), [log, handles, p = phase.get()](const TaskHandle& h) {
                   log->push_back("run " + std::to_string(p));
                   handles->push_back(h);
                 });
               }),
          Button(verbatim("next"), [phase] { phase.set(phase.get() + 1); }),
          Button(verbatim("same"), [phase] { phase.set(phase.get()); }),
      });
    });
  });
  driver.runtime().render();
  EXPECT_TRUE(log->empty()) << "tasks start from the main queue, after the render";
  driver.tree();
  EXPECT_EQ(*log, (std::vector<std::string>{"run 1"}));

  driver.tap(byText("same"));
  EXPECT_EQ(log->size(), 1u);
  driver.tap(byText("next"));
  EXPECT_EQ(*log, (std::vector<std::string>{"run 1", "run 2"}));
  EXPECT_TRUE(handles->at(0).isCancelled());
  EXPECT_FALSE(handles->at(1).isCancelled());

  *show = false;
  driver.runtime().invalidate();
  driver.tree();
  EXPECT_TRUE(handles->at(1).isCancelled());
}

TEST(ViewLifecycle, ATaskKeyedByTheScenePhaseRunsAgainOnEachChange) {
  auto runs = std::make_shared<std::vector<ScenePhase>>();
  ViewDriver driver([runs] {
    return Closure("root", [runs](Context& ctx) {
      ScenePhase phase = ctx.scenePhase();
      return Verbatim("root").task(phase, [runs, phase](const TaskHandle&) { runs->push_back(phase); });
    });
  });
  driver.tree();
  driver.runtime().setScenePhase(ScenePhase::background);
  driver.tree();
  driver.runtime().setScenePhase(ScenePhase::active);
  driver.tree();
  EXPECT_EQ(*runs, (std::vector<ScenePhase>{ScenePhase::active, ScenePhase::background, ScenePhase::active}));
}

TEST(ViewLifecycle, HapticsAndSymbolEffectsAreLoggedWhenTheirTriggerChanges) {
  EventLog::shared().clear();
  ViewDriver driver([] {
    return Closure("saver", [](Context& ctx) {
      auto saved = ctx.state<bool>("saved", false);
      auto disabled = ctx.state<bool>("disabled", false);
      return VStack({Button(verbatim("save"), [saved] { saved.toggle(); }),
                     SystemImage("plus").symbolEffect(SymbolEffect::bounce, disabled.get()),
                     Button(verbatim("disable"), [disabled] { disabled.toggle(); })})
          .sensoryFeedback(SensoryFeedback::success, saved.get());
    });
  });
  driver.tree();
  EXPECT_EQ(EventLog::shared().count(LoggedEventType::haptic), 0u);
  driver.tap(byText("save"));
  driver.tap(byText("save"));
  auto haptics = EventLog::shared().entries(LoggedEventType::haptic);
  ASSERT_EQ(haptics.size(), 2u);
  EXPECT_EQ(haptics[0].detail, "success");
  driver.tap(byText("disable"));
  EXPECT_EQ(EventLog::shared().count(LoggedEventType::symbolEffect), 1u);
}

TEST(ViewLifecycle, OnUpdateRunsOnEveryRenderAndMayCorrectState) {
  // The shape of a length limiter: after every update, cut the text to 3 characters.
  ViewDriver driver([] {
    return Closure("limited", [](Context& ctx) {
      auto text = ctx.state<std::string>("text", "abcdef");
      return TextField(localized("name"), text.binding()).onUpdate([text] {
        if (text.get().size() > 3) text.set(text.get().substr(0, 3));
      });
    });
  });
  EXPECT_EQ(driver.get(testing::byKind(NodeKind::textField)).string(Attr::value), "abc");
  driver.type(testing::byKind(NodeKind::textField), "wxyz");
  EXPECT_EQ(driver.get(testing::byKind(NodeKind::textField)).string(Attr::value), "wxy");
}

}  // namespace
}  // namespace platform::ui
