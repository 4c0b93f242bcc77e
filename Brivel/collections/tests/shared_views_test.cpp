#include <gtest/gtest.h>

#include <optional>

#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/shell/palette.h"
#include "platform/ui/services.h"
#include "platform/ui/testing/driver.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;

const Node* findFirst(const Node& node, NodeKind kind) {
  if (node.kind == kind) return &node;
  for (const auto& child : node.children) {
    if (auto found = findFirst(child, kind)) return found;
  }
  for (const auto& [name, slot] : node.slots) {
    for (const auto& child : slot) {
      if (auto found = findFirst(child, kind)) return found;
    }
  }
  return nullptr;
}

TEST(ToolbarButtons, ImageButtonIsBoldOnlyWhileEnabledAndBouncesOnEachDisabledChange) {
  EventLog::shared().clear();
  ViewDriver driver([] {
    return Closure("host", [](Context& ctx) {
      auto disabled = ctx.state<bool>("disabled", true);
      auto taps = ctx.state<int>("taps", 0);
      return VStack({toolbarTipImageButton([taps] { taps.set(taps.get() + 1); }, SystemImage("checkmark"),
                                           disabled.get(), true, nullptr)
                         .accessibilityIdentifier("save"),
                     Button(verbatim("flip"), [disabled] { disabled.toggle(); }),
                     Verbatim("taps " + std::to_string(taps.get()))});
    });
  });
  const Node& disabledButton = driver.get(byId("save"));
  EXPECT_TRUE(disabledButton.flag(Attr::disabled));
  EXPECT_FALSE(disabledButton.flag(Attr::bold));

  driver.tap(byText("flip"));
  const Node& enabled = driver.get(byId("save"));
  EXPECT_FALSE(enabled.flag(Attr::disabled));
  EXPECT_TRUE(enabled.flag(Attr::bold));
  driver.tap(byText("flip"));
  driver.tap(byText("flip"));
  EXPECT_EQ(EventLog::shared().count(LoggedEventType::symbolEffect), 3u);

  driver.tap(byId("save"));
  EXPECT_TRUE(driver.exists(byText("taps 1")));
}

TEST(ToolbarButtons, TextButtonStaysBoldWhenDisabledAndTakesItsTint) {
  ViewDriver driver([] {
    return VStack({toolbarTextButton("localizable_update", [] {}, std::nullopt, true, true).accessibilityIdentifier("a"),
                   toolbarTextButton("localizable_update", [] {}, assetColor("sonicRed"), false, false)
                       .accessibilityIdentifier("b")});
  });
  const Node& a = driver.get(byId("a"));
  EXPECT_TRUE(a.flag(Attr::disabled));
  ASSERT_NE(findFirst(a, NodeKind::text), nullptr);
  EXPECT_TRUE(findFirst(a, NodeKind::text)->flag(Attr::bold));
  EXPECT_EQ(a.color(Attr::tint), nullptr);
  const Node& b = driver.get(byId("b"));
  ASSERT_NE(b.color(Attr::tint), nullptr);
  EXPECT_EQ(*b.color(Attr::tint), assetColor("sonicRed"));
}

TEST(ToolbarButtons, TextButtonWithoutATintClearsTheSurroundingTint) {
  ViewDriver driver([] {
    return VStack({toolbarTextButton("localizable_update", [] {}, std::nullopt, false, true).accessibilityIdentifier("a"),
                   toolbarTextButton("localizable_update", [] {}, assetColor("sonicRed"), false, true)
                       .accessibilityIdentifier("b")})
        .tint(assetColor("sonicYellow"));
  });
  EXPECT_TRUE(driver.get(byId("a")).flag(Attr::tintCleared)) << "it shows the accent colour, not the yellow around it";
  EXPECT_FALSE(driver.get(byId("b")).flag(Attr::tintCleared));
  EXPECT_EQ(*driver.get(byId("b")).color(Attr::tint), assetColor("sonicRed"));
}

TEST(ToolbarButtons, CloseButtonsToggleTheFlagOrCallDismiss) {
  ViewDriver driver([] {
    return Closure("host", [](Context& ctx) {
      auto shown = ctx.state<bool>("shown", false);
      auto dismissed = ctx.state<int>("dismissed", 0);
      DismissAction dismiss([dismissed] { dismissed.set(dismissed.get() + 1); });
      return VStack({xmarkCloseButton(shown.binding()), xmarkDismissButton(dismiss),
                     Verbatim(std::string(shown.get() ? "shown" : "hidden") + " " + std::to_string(dismissed.get()))});
    });
  });
  // A flag that is already false is flipped to true: the button toggles, it does not clear.
  driver.tap(byId("close"));
  EXPECT_TRUE(driver.exists(byText("shown 0")));
  driver.tap(byId("close").nth(1));
  EXPECT_TRUE(driver.exists(byText("shown 1")));
}

TEST(ColouredCircleSymbolView, PlainDotOrSymbolInDiscWithCaptionUnlessOnAProfileCard) {
  ViewDriver driver([] {
    return VStack({View(ColouredCircleSymbolView{.color = assetColor("sonicBlue"), .symbol = std::nullopt,
                                                 .isProfileCard = false}),
                   View(ColouredCircleSymbolView{.color = assetColor("sonicRed"), .symbol = SFSymbols::star,
                                                 .isProfileCard = true})});
  });
  const Node& dot = driver.get(bySymbol("circle"));
  EXPECT_EQ(dot.string(Attr::symbolVariant), "fill");
  EXPECT_EQ(dot.string(Attr::font), "caption");
  ASSERT_NE(dot.color(Attr::foregroundStyle), nullptr);
  EXPECT_EQ(*dot.color(Attr::foregroundStyle), assetColor("sonicBlue").withGradient());
  EXPECT_NE(dot.color(Attr::shadowColor), nullptr);

  const Node& badge = driver.get(bySymbol("star"));
  EXPECT_EQ(badge.string(Attr::symbolVariant), "circle.fill");
  EXPECT_EQ(badge.string(Attr::font), "body") << "the card's own font does not reach the badge";
  EXPECT_EQ(*badge.color(Attr::foregroundStyle), assetColor("sonicRed").withGradient());
}

}  // namespace
}  // namespace brivel
