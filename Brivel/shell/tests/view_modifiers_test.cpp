// The view modifiers as a screen sees them: the input rules acting on a real field, and the
// fixed chains a few screens rely on.
#include "Brivel/shell/view_modifiers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/ui/testing/driver.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;

// A single text field over view state that starts as `initial`, with one modifier applied;
// `text` mirrors the state after every render.
template <class MakeModifier>
std::unique_ptr<ViewDriver> fieldWith(std::shared_ptr<std::string> text, MakeModifier make) {
  const std::string initial = *text;
  return std::make_unique<ViewDriver>([text, make, initial] {
    return Closure("field", [text, make, initial](Context& ctx) {
      auto state = ctx.state<std::string>("text", initial);
      return (TextField(localized("localizable_cost"), state.binding()) | make(state.binding()))
          .onUpdate([text, state] { *text = state.get(); });
    });
  });
}

TEST(TextFieldLimiterTest, CutsOnFirstShowAndOnEveryUpdateByCharacters) {
  auto text = std::make_shared<std::string>("abcdefgh");
  auto driver = fieldWith(text, [](Binding<std::string> b) { return TextFieldLimiterModifier{b, 5}; });
  driver->tree();
  EXPECT_EQ(*text, "abcde") << "a text already too long is cut when the field is first shown";

  driver->type(byKind(NodeKind::textField), "👨‍👩‍👧‍👦🇩🇪👍🏽éé");
  EXPECT_EQ(*text, "👨‍👩‍👧‍👦🇩🇪👍🏽éé") << "five user-perceived characters fit";
  driver->type(byKind(NodeKind::textField), "abcdef");
  EXPECT_EQ(*text, "abcde");

  auto empty = std::make_shared<std::string>("abc");
  auto zero = fieldWith(empty, [](Binding<std::string> b) { return TextFieldLimiterModifier{b, 0}; });
  zero->tree();
  EXPECT_EQ(*empty, "");
}

// Each write-back is a change of its own, so a field settles where the rule rests: "1.2.3"
// drops to "1.2.", which still holds two separators, and rests at "1.2".
TEST(TextFieldLimitAfterDecimalTest, TypedAndPastedTextsSettleByTheRule) {
  struct Case {
    std::string separator, typed, expected;
  };
  for (const Case& c : {Case{".", "12.34", "12.34"}, Case{".", "12.345", "12.34"}, Case{".", "12.3456", "12.34"},
                        Case{".", "12.", "12."}, Case{".", "12.3a", "12.3a"}, Case{".", "1.2.3", "1.2"},
                        Case{".", "1234", "1234"}, Case{".", ".555", ".555"}, Case{",", "3,141", "3,14"},
                        Case{",", "3.141", "3.141"}, Case{"", "7.891", "7.89"}}) {
    auto text = std::make_shared<std::string>("");
    auto driver = fieldWith(
        text, [sep = c.separator](Binding<std::string> b) { return TextFieldLimitAfterDecimalModifier{b, sep}; });
    driver->tree();
    driver->type(byKind(NodeKind::textField), c.typed);
    EXPECT_EQ(*text, c.expected) << "separator '" << c.separator << "', typed " << c.typed;
  }
}

TEST(TextFieldLimitAfterDecimalTest, InitialValueIsLeftAsItIs) {
  auto text = std::make_shared<std::string>("9.999");
  auto driver = fieldWith(text, [](Binding<std::string> b) { return TextFieldLimitAfterDecimalModifier{b, "."}; });
  driver->tree();
  EXPECT_EQ(*text, "9.999");
}

TEST(ViewModifiersTest, RoundedIconIsA34PointSquareWithContinuous12PointCorners) {
  for (bool filled : {true, false}) {
    ViewDriver driver([filled] {
      return SystemImage("heart") | ListRoundedIconStyleModifier{Color::asset("sonicRed"), filled};
    });
    const Node& icon = driver.get(byKind(NodeKind::image));
    EXPECT_EQ(icon.number(Attr::frameWidth), 34.0);
    EXPECT_EQ(icon.number(Attr::frameHeight), 34.0);
    EXPECT_EQ(icon.string(Attr::clipShape), "roundedRectangle");
    EXPECT_EQ(icon.number(Attr::clipShapeCornerRadius), 12.0);
    EXPECT_EQ(icon.string(Attr::symbolVariant), filled ? "circle.fill" : "");
  }
}

TEST(ViewModifiersTest, AbsentTitleGivesAnEmptyTitleAndInactiveSearchAddsNoField) {
  auto searchText = std::make_shared<std::string>("kept");
  ViewDriver driver([searchText] {
    Binding<std::string> text([searchText] { return *searchText; }, [searchText](std::string v) { *searchText = v; });
    View page = List({Verbatim("row")}) |
                NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::nullopt} |
                SearchableTextFieldModifier{false, text, Binding<bool>::constant(false), SearchFieldPlacement::automatic,
                                            "localizable_search"};
    return NavigationStack(page);
  });
  const Node& pageNode = driver.get(byKind(NodeKind::navigationPage));
  ASSERT_NE(pageNode.textContent(Attr::title), nullptr);
  EXPECT_EQ(pageNode.textContent(Attr::title)->key, "");
  EXPECT_FALSE(driver.exists(byKind(NodeKind::searchField)));
  EXPECT_EQ(*searchText, "kept");
}

}  // namespace
}  // namespace brivel
