// The shared views of the kit, driven through the view runtime: toast, colour picker,
// empty state and tips.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "Brivel/shell/color_picker_view.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"
#include "platform/ui/testing/driver.h"
#include "shell_test_support.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;
using namespace std::chrono_literals;

// ----- Toast -----

// A screen that saves and confirms with a toast, like the editors.
View toastScreen(ToastMessageType type, SFSymbols symbol) {
  return Closure("editor", [type, symbol](Context& ctx) {
    auto saved = ctx.state<bool>("savedToastMessage", false);
    return VStack({Button(verbatim("save"), [saved] { showToast(saved.binding()); })}) |
           ToastMessageModifier{saved.get(), type, symbol};
  });
}

class ToastTest : public ::testing::Test {
 protected:
  platform::VirtualClock clock_;
  ViewDriver driver_{[] { return toastScreen(ToastMessageType::added, SFSymbols::plus); }};

  bool toastShown() { return driver_.exists(byId("toast")); }
  void advance(platform::Duration by) {
    clock_.advance(by);
    driver_.pump();
  }
};

TEST_F(ToastTest, ClearsItselfAfterItsDurationAndIsNotExtendedBySecondSave) {
  EXPECT_FALSE(toastShown());
  driver_.tap(byText("save"));
  ASSERT_TRUE(toastShown());
  EXPECT_EQ(textsIn(driver_.get(byId("toast"))), (std::vector<std::string>{"localizable_added"}));

  advance(1s);
  driver_.tap(byText("save"));  // within 1.66 s: one toast, not restarted
  advance(659ms);
  EXPECT_TRUE(toastShown());
  advance(1ms);
  EXPECT_FALSE(toastShown()) << "gone 1.66 s after the first save";

  // A later save shows it again for the full time.
  driver_.tap(byText("save"));
  advance(1659ms);
  EXPECT_TRUE(toastShown());
  advance(1ms);
  EXPECT_FALSE(toastShown());
}

TEST_F(ToastTest, NoSuccessToastWhileSavesFail) {
  platform::DataNotices::shared().set(platform::kSaveFailureNoticeKey, "Your latest changes are not saved yet.", false);
  driver_.tap(byText("save"));
  EXPECT_FALSE(toastShown());
  platform::DataNotices::shared().reset();
}

TEST(ToastViewTest, TextFollowsTheTypeAndTheSymbolTheCaller) {
  struct Case {
    ToastMessageType type;
    SFSymbols symbol;
    std::string key;
  };
  for (const Case& c : {Case{ToastMessageType::added, SFSymbols::plus, "localizable_added"},
                        Case{ToastMessageType::imported, SFSymbols::arrowCirclepath, "localizable_imported"},
                        Case{ToastMessageType::updated, SFSymbols::pencil, "localizable_saved"},
                        Case{ToastMessageType::setQuickAction, SFSymbols::star, "localizable_saved"}}) {
    ViewDriver driver([c] { return View(ToastMessageView{c.type, c.symbol}); });
    const Node& icon = driver.get(bySymbol(std::string(rawValue(c.symbol))).ofKind(NodeKind::image));
    EXPECT_EQ(icon.string(Attr::symbolVariant), "circle.fill");
    EXPECT_EQ(driver.visibleTexts(), (std::vector<std::string>{c.key}));
  }
}

// ----- Colour picker -----

struct PickerFixture {
  std::shared_ptr<ColorValue> selected;
  std::unique_ptr<ViewDriver> driver;

  explicit PickerFixture(const std::string& initial)
      : selected(std::make_shared<ColorValue>(assetColor(initial))) {
    auto shared = selected;
    driver = std::make_unique<ViewDriver>([shared] {
      return View(ColorPickerView{Binding<ColorValue>([shared] { return *shared; },
                                                       [shared](ColorValue c) { *shared = c; })});
    });
    driver->tree();
  }

  // The names of the swatches that carry the white dot.
  std::vector<std::string> dotted() {
    std::vector<std::string> names;
    for (const auto& color : assetColorPalette()) {
      const Node& swatch = driver->get(byId("swatch." + color.name));
      if (hasWhiteDot(swatch)) names.push_back(color.name);
    }
    return names;
  }

  static bool hasWhiteDot(const Node& node) {
    if (node.kind == NodeKind::shape) {
      const Color* fill = node.color(Attr::fill);
      if (fill && *fill == Color::system("white")) return true;
    }
    for (const auto& child : node.children) {
      if (hasWhiteDot(child)) return true;
    }
    for (const auto& [name, nodes] : node.slots) {
      for (const auto& child : nodes) {
        if (hasWhiteDot(child)) return true;
      }
    }
    return false;
  }

  std::vector<std::string> scrolledTo() {
    std::vector<std::string> ids;
    for (const auto& entry : EventLog::shared().entries(LoggedEventType::scrollTo)) ids.push_back(entry.detail);
    return ids;
  }
};

TEST(ColorPickerTest, SelectedPaletteColourHasTheDotAndIsScrolledTo) {
  EventLog::shared().clear();
  PickerFixture picker("appleGray");
  EXPECT_EQ(picker.dotted(), (std::vector<std::string>{"appleGray"}));
  EXPECT_EQ(picker.scrolledTo(), (std::vector<std::string>{"appleGray"}));
  EXPECT_EQ(picker.driver->findAll(byKind(NodeKind::button)).size(), 14u);
}

TEST(ColorPickerTest, ColourOutsideThePaletteSelectsNothingUntilASwatchIsTapped) {
  EventLog::shared().clear();
  PickerFixture picker("tailsOrange");
  EXPECT_TRUE(picker.dotted().empty());
  EXPECT_TRUE(picker.scrolledTo().empty());

  picker.driver->tap(byId("swatch.appleBlue"));
  EXPECT_EQ(*picker.selected, assetColor("appleBlue"));
  EXPECT_EQ(picker.dotted(), (std::vector<std::string>{"appleBlue"}));

  // Tapping the selected swatch writes the same colour again; the dot stays.
  picker.driver->tap(byId("swatch.appleBlue"));
  EXPECT_EQ(*picker.selected, assetColor("appleBlue"));
  EXPECT_EQ(picker.dotted(), (std::vector<std::string>{"appleBlue"}));
}

// ----- Empty state -----

TEST(EntityUnavailableViewTest, ButtonOnlyWithBothActionAndTitle) {
  struct Case {
    bool description, actionTitle, action;
    bool expectButton;
  };
  for (const Case& c : {Case{false, false, false, false}, Case{true, false, true, false},
                        Case{true, true, false, false}, Case{true, true, true, true}}) {
    auto taps = std::make_shared<int>(0);
    EntityUnavailableView view{
        localized("localizable_noBillsFound"), SystemImage("tray.full"),
        c.description ? std::optional(localized("localizable_changeYourSearchDescription")) : std::nullopt,
        c.actionTitle ? std::optional(localized("localizable_add")) : std::nullopt,
        c.action ? std::function<void()>([taps] { ++*taps; }) : std::function<void()>()};
    ViewDriver driver([view] { return View(view); });
    const Node& unavailable = driver.get(byKind(NodeKind::contentUnavailable));
    EXPECT_EQ(textsIn(unavailable.slot("label").front()), (std::vector<std::string>{"localizable_noBillsFound"}));
    EXPECT_EQ(!unavailable.slot("description").empty(), c.description);
    EXPECT_EQ(driver.exists(byKind(NodeKind::button)), c.expectButton);
    if (c.expectButton) {
      EXPECT_EQ(driver.get(byKind(NodeKind::button)).string(Attr::buttonStyle), "borderedProminent");
      driver.tap(byText("localizable_add"));
      driver.tap(byText("localizable_add"));
      EXPECT_EQ(*taps, 2);
    }
  }
}

// ----- Tips -----

class TipsTest : public brivel::testing::ShellTest {};

TEST_F(TipsTest, ClosingATipClosesEveryInstanceAndStaysClosedAfterRelaunch) {
  ASSERT_TRUE(platform::configureTips({platform::TipsConfigurationOption{}}).ok());
  ProfileActionsTip onProfilesList;
  ProfileActionsTip onProfileCard;
  EXPECT_EQ(onProfilesList.id(), onProfileCard.id());
  onProfileCard.invalidate("tipClosed");
  EXPECT_FALSE(Tips::shouldDisplay(onProfilesList.id()));

  (void)Tips::configure({});  // the process ends
  ASSERT_TRUE(platform::configureTips({platform::TipsConfigurationOption{}}).ok());
  EXPECT_FALSE(Tips::shouldDisplay(ProfileActionsTip().id()));
  for (const auto& other : std::vector<std::shared_ptr<Tip>>{
           std::make_shared<QuickActionsTip>(), std::make_shared<CategoryActionsTip>(),
           std::make_shared<BankAccountActionsTip>(), std::make_shared<NotesActionsTip>(),
           std::make_shared<LeftToPayTip>()}) {
    EXPECT_TRUE(Tips::shouldDisplay(other->id())) << other->id();
    EXPECT_EQ(other->imageAsset(), std::optional<std::string>("brivelTips"));
  }
  EXPECT_EQ(LeftToPayTip().title(), localized("localizable_forecast"));
}

}  // namespace
}  // namespace brivel
