#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/observation/observation.h"
#include "platform/ui/observable.h"
#include "platform/ui/testing/driver.h"
#include "platform/ui/view.h"

namespace platform::ui {
namespace {

using testing::byKind;
using testing::byText;
using testing::ViewDriver;

// A counter whose value lives in view state; its button adds one.
struct Counter {
  std::string name;
  View body(Context& ctx) const {
    auto count = ctx.state<int>("count", 0);
    return Button(Verbatim(name + "=" + std::to_string(count.get())), [count] { count.set(count.get() + 1); });
  }
};

struct OtherCounter {
  View body(Context& ctx) const {
    auto count = ctx.state<int>("count", 100);
    return Verbatim("other=" + std::to_string(count.get()));
  }
};

TEST(ViewState, KeptByPositionAndDroppedWhenTheIdentityLeavesTheTree) {
  auto showFirst = std::make_shared<bool>(true);
  ViewDriver driver([showFirst] {
    return View(VStack({when(*showFirst, [] { return View(Counter{"a"}); }), Counter{"b"}}));
  });
  driver.tap(byText("a=0"));
  driver.tap(byText("a=1"));
  driver.tap(byText("b=0"));
  EXPECT_TRUE(driver.exists(byText("a=2")));

  // Hiding the first child keeps the second one's state: positions are fixed.
  *showFirst = false;
  driver.runtime().invalidate();
  EXPECT_FALSE(driver.exists(byText("a=2")));
  EXPECT_TRUE(driver.exists(byText("b=1")));

  // Coming back starts from the initial value: the old state was dropped.
  *showFirst = true;
  driver.runtime().invalidate();
  EXPECT_TRUE(driver.exists(byText("a=0")));
  EXPECT_TRUE(driver.exists(byText("b=1")));
}

TEST(ViewState, ForEachStateFollowsTheIdNotThePosition) {
  auto ids = std::make_shared<std::vector<std::string>>(std::vector<std::string>{"x", "y", "z"});
  ViewDriver driver([ids] {
    return View(List({ForEach(*ids, [](const std::string& id) { return id; },
                              [](const std::string& id) { return Counter{id}; })}));
  });
  driver.tap(byText("y=0"));
  driver.tap(byText("z=0"));
  driver.tap(byText("z=1"));

  *ids = {"z", "x"};  // y removed, z moved first
  driver.runtime().invalidate();
  EXPECT_EQ(driver.visibleTexts(), (std::vector<std::string>{"z=2", "x=0"}));

  *ids = {"z", "x", "y"};  // y is back, fresh
  driver.runtime().invalidate();
  EXPECT_EQ(driver.visibleTexts(), (std::vector<std::string>{"z=2", "x=0", "y=0"}));
}

TEST(ViewState, ClosuresOfTheSameNameWithOtherStateTypesDoNotShareStorage) {
  auto asText = std::make_shared<bool>(false);
  ViewDriver driver([asText] {
    if (*asText) {
      return Closure("row", [](Context& ctx) { return Verbatim("text " + ctx.state<std::string>("v", "s").get()); });
    }
    return Closure("row", [](Context& ctx) { return Verbatim("int " + std::to_string(ctx.state<int>("v", 4).get())); });
  });
  EXPECT_TRUE(driver.exists(byText("int 4")));
  *asText = true;
  driver.runtime().invalidate();
  EXPECT_TRUE(driver.exists(byText("text s")));
}

TEST(ViewState, RepeatedForEachIdsNeverShareStateOrActions) {
  std::vector<std::string> ids{"dup", "dup"};
  ViewDriver driver([ids] {
    return View(VStack({ForEach(ids, [](const std::string& id) { return id; },
                                [](const std::string& id) { return Counter{id}; })}));
  });
  auto buttons = driver.findAll(byKind(NodeKind::button));
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_NE(buttons[0]->actionId, buttons[1]->actionId);
  driver.tap(byText("dup=0").nth(1));
  EXPECT_EQ(driver.visibleTexts(), (std::vector<std::string>{"dup=0", "dup=1"}));
}

TEST(ViewState, IdsThatLookLikePathsOrTheirEscapesKeepStateApart) {
  // Each pair would meet in one path if an id's structure characters, or the escape
  // character itself, anywhere in the id went through unescaped.
  const std::vector<std::string> ids{"a/b", "a%2Fb", "x]", "x%5D", "plain", "[r]$!#"};
  ViewDriver driver([ids] {
    return View(VStack({ForEach(ids, [](const std::string& id) { return id; },
                                [](const std::string& id) { return Counter{id}; })}));
  });
  driver.tap(byText("a/b=0"));
  driver.tap(byText("x%5D=0"));
  driver.tap(byText("[r]$!#=0"));
  EXPECT_EQ(driver.visibleTexts(),
            (std::vector<std::string>{"a/b=1", "a%2Fb=0", "x]=0", "x%5D=1", "plain=0", "[r]$!#=1"}));
}

TEST(ViewState, AnotherComponentTypeAtTheSamePositionGetsItsOwnState) {
  auto useOther = std::make_shared<bool>(false);
  ViewDriver driver([useOther] {
    return *useOther ? View(OtherCounter{}) : View(Counter{"c"});
  });
  driver.tap(byText("c=0"));
  *useOther = true;
  driver.runtime().invalidate();
  EXPECT_TRUE(driver.exists(byText("other=100")));
  *useOther = false;
  driver.runtime().invalidate();
  EXPECT_TRUE(driver.exists(byText("c=0")));
}

class Settings : public ObservableObject {
 public:
  Published<bool> flag{*this, false};
};

struct ReadsSettings {
  View body(Context& ctx) const {
    auto settings = ctx.environmentObject<Settings>();
    return Verbatim(settings->flag.get() ? "on" : "off");
  }
};

TEST(ViewEnvironment, ObjectsReachDescendantsAndTheirChangesRerender) {
  auto settings = std::make_shared<Settings>();
  ViewDriver driver([settings] { return View(VStack({ReadsSettings{}})).environmentObject(settings); });
  EXPECT_TRUE(driver.exists(byText("off")));
  auto before = driver.runtime().version();

  settings->flag = true;  // outside any action: the runtime posts a render
  EXPECT_TRUE(driver.exists(byText("on")));
  EXPECT_GT(driver.runtime().version(), before);
}

TEST(ViewEnvironment, AChangeMadeOnAnotherThreadIsRenderedOnTheMainThread) {
  auto settings = std::make_shared<Settings>();
  ViewDriver driver([settings] { return View(ReadsSettings{}).environmentObject(settings); });
  EXPECT_TRUE(driver.exists(byText("off")));
  std::thread([settings] { settings->flag = true; }).join();
  EXPECT_TRUE(driver.exists(byText("on")));
}

TEST(ViewEnvironmentDeathTest, AMissingObjectIsFatal) {
  EXPECT_DEATH(
      {
        ViewDriver driver([] { return View(ReadsSettings{}); });
        driver.tree();
      },
      "No observable object of type platform::ui::.*Settings");
}

struct ToneKey {
  using Value = std::string;
  static Value defaultValue() { return "plain"; }
};

TEST(ViewEnvironment, ValuesAreInheritedAndOverriddenBelow) {
  ViewDriver driver([] {
    auto reader = [](std::string name) {
      return Closure(name, [](Context& ctx) { return Verbatim(ctx.environment<ToneKey>()); });
    };
    return View(VStack({reader("a"), VStack({reader("b")}).environment<ToneKey>("loud")}));
  });
  EXPECT_EQ(driver.visibleTexts(), (std::vector<std::string>{"plain", "loud"}));
}

// A store-like object observed through its registrar, as entities are.
class Record {
 public:
  std::string name() const {
    registrar_.access(0);
    return name_;
  }
  void setName(std::string v) {
    registrar_.withMutation(0, [&] { name_ = std::move(v); });
  }

 private:
  platform::ObservationRegistrar registrar_;
  std::string name_ = "first";
};

TEST(ViewState, ObservedPropertiesReadByARenderTriggerTheNext) {
  auto record = std::make_shared<Record>();
  ViewDriver driver([record] { return Verbatim(record->name()); });
  EXPECT_TRUE(driver.exists(byText("first")));
  record->setName("second");
  EXPECT_TRUE(driver.runtime().needsRender());
  EXPECT_TRUE(driver.exists(byText("second")));
}

TEST(ViewActions, IdsAreStableAcrossRendersAndOnlyTheLatestRenderIsAccepted) {
  auto show = std::make_shared<bool>(true);
  ViewDriver driver([show] {
    return View(VStack({when(*show, [] { return Button(verbatim("gone"), [] {}); }), Counter{"k"}}));
  });
  std::string counterId = driver.get(byKind(NodeKind::button).nth(1)).actionId;
  std::string goneId = driver.get(byText("gone").ofKind(NodeKind::button)).actionId;
  EXPECT_NE(counterId, goneId);

  driver.tap(byText("k=0"));
  EXPECT_EQ(driver.get(byText("k=1").ofKind(NodeKind::button)).actionId, counterId);

  *show = false;
  driver.runtime().invalidate();
  driver.tree();
  EXPECT_EQ(driver.runtime().dispatch({goneId, EventKind::tap, {}}), DispatchStatus::unknownAction);
  EXPECT_EQ(driver.runtime().dispatch({"", EventKind::tap, {}}), DispatchStatus::unknownAction);
  EXPECT_EQ(driver.runtime().dispatch({counterId, EventKind::tap, {}}), DispatchStatus::handled);
  EXPECT_TRUE(driver.exists(byText("k=2")));
}

}  // namespace
}  // namespace platform::ui
