#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/services.h"
#include "platform/ui/testing/driver.h"
#include "platform/ui/view.h"

namespace platform::ui {
namespace {

using testing::byKind;
using testing::byText;
using testing::ViewDriver;

TEST(Picker, ShowsTheSelectedTagAndATapSelectsAnother) {
  for (PickerStyle style : {PickerStyle::menu, PickerStyle::segmented}) {
    ViewDriver driver([style] {
      return Closure("months", [style](Context& ctx) {
        auto month = ctx.state<int>("month", 2);
        std::vector<int> months{1, 2, 3};
        return VStack({Picker<int>(Text("localizable_month"), month.binding(),
                                   Group({ForEach(months, [](int m) { return m; },
                                                  [](int m) { return Verbatim("m" + std::to_string(m)).tag(m); }),
                                          Verbatim("not an option")}))
                           .pickerStyle(style),
                       Verbatim("picked " + std::to_string(month.get()))});
      });
    });
    const Node& picker = driver.get(byKind(NodeKind::picker));
    EXPECT_EQ(picker.choice<PickerStyle>(Attr::pickerStyle), style);
    ASSERT_EQ(picker.children.size(), 3u) << "untagged content is no option";
    EXPECT_TRUE(picker.children[1].flag(Attr::selected));
    EXPECT_FALSE(picker.children[0].flag(Attr::selected));

    driver.tap(byText("m3"));
    EXPECT_TRUE(driver.exists(byText("picked 3")));
    EXPECT_TRUE(driver.get(byKind(NodeKind::picker)).children[2].flag(Attr::selected));
  }
}

TEST(Picker, OptionalSelectionWithANoneOption) {
  ViewDriver driver([] {
    return Closure("link", [](Context& ctx) {
      auto account = ctx.state<std::optional<std::string>>("account", std::nullopt);
      return VStack({Picker<std::optional<std::string>>(
                         Text("localizable_bankAccount"), account.binding(),
                         Group({Text("localizable_off").tag(std::optional<std::string>()),
                                Verbatim("Checking").tag(std::optional<std::string>("checking"))})),
                     Verbatim(account.get().value_or("none"))});
    });
  });
  EXPECT_TRUE(driver.get(byKind(NodeKind::picker)).children[0].flag(Attr::selected));
  driver.tap(byText("Checking"));
  EXPECT_TRUE(driver.exists(byText("checking")));
  driver.tap(byText("localizable_off"));
  EXPECT_TRUE(driver.exists(byText("none")));
}

struct NameForm {
  std::shared_ptr<std::vector<std::string>> submitted;
  View body(Context& ctx) const {
    auto name = ctx.state<std::string>("name", "");
    auto focused = ctx.focusState<bool>("nameFocused");
    auto log = submitted;
    return Form({TextField(localized("localizable_name"), name.binding())
                     .maxLength(5)
                     .focused(focused.binding())
                     .submitLabel(SubmitLabel::return_)
                     .onSubmit([log, name] { log->push_back(name.get()); }),
                 Verbatim(focused.get() ? "focused" : "not focused"),
                 Button(verbatim("focus"), [focused] { focused.set(true); })});
  }
};

TEST(TextInput, TheRuntimeCutsTextToTheLimitInUserPerceivedCharacters) {
  auto submitted = std::make_shared<std::vector<std::string>>();
  ViewDriver driver([submitted] { return View(NameForm{submitted}); });
  const Node& field = driver.get(byKind(NodeKind::textField));
  EXPECT_EQ(field.number(Attr::maxLength), 5.0);
  EXPECT_EQ(field.string(Attr::submitLabel), "return");

  struct Case {
    std::string typed, stored;
  };
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // one emoji
  for (const Case& c : std::vector<Case>{{"abcdef", "abcde"},
                                         {"abcde", "abcde"},
                                         {"", ""},
                                         {family + family + family + family + family + family, family + family + family + family + family},
                                         {"e\xCC\x81" "bcdef", "e\xCC\x81" "bcde"}}) {
    EXPECT_EQ(driver.type(byKind(NodeKind::textField), c.typed), DispatchStatus::handled);
    EXPECT_EQ(driver.get(byKind(NodeKind::textField)).string(Attr::value), c.stored) << c.typed;
  }
  driver.submit(byKind(NodeKind::textField));
  EXPECT_EQ(submitted->back(), "e\xCC\x81" "bcde");
}

TEST(TextInput, FocusFollowsTheFieldAndCode) {
  ViewDriver driver([] { return View(NameForm{std::make_shared<std::vector<std::string>>()}); });
  driver.focus(byKind(NodeKind::textField), true);
  EXPECT_TRUE(driver.exists(byText("focused")));
  EXPECT_TRUE(driver.get(byKind(NodeKind::textField)).flag(Attr::focused));
  driver.focus(byKind(NodeKind::textField), false);
  EXPECT_TRUE(driver.exists(byText("not focused")));
  driver.tap(byText("focus"));
  EXPECT_TRUE(driver.get(byKind(NodeKind::textField)).flag(Attr::focused));
  // The page telling the focus the app already set renders nothing; a change still renders.
  const std::uint64_t version = driver.runtime().version();
  EXPECT_EQ(driver.focus(byKind(NodeKind::textField), true), DispatchStatus::handled);
  EXPECT_EQ(driver.runtime().version(), version);
  driver.focus(byKind(NodeKind::textField), false);
  EXPECT_GT(driver.runtime().version(), version);
  EXPECT_TRUE(driver.exists(byText("not focused")));
}

TEST(Controls, EventsOfTheWrongKindOrValueAreRefused) {
  ViewDriver driver([] {
    return Closure("mixed", [](Context& ctx) {
      auto on = ctx.state<bool>("on", false);
      auto text = ctx.state<std::string>("text", "");
      return VStack({Toggle(on.binding(), Text("localizable_dismissAutomatically")),
                     TextField(localized("localizable_name"), text.binding()), Button(verbatim("b"), [] {})});
    });
  });
  std::string toggle = driver.get(byKind(NodeKind::toggle)).actionId;
  std::string field = driver.get(byKind(NodeKind::textField)).actionId;
  std::string button = driver.get(byKind(NodeKind::button)).actionId;
  auto& rt = driver.runtime();
  EXPECT_EQ(rt.dispatch({toggle, EventKind::setValue, std::string("yes")}), DispatchStatus::refused);
  EXPECT_EQ(rt.dispatch({field, EventKind::setValue, true}), DispatchStatus::refused);
  EXPECT_EQ(rt.dispatch({button, EventKind::dismiss, {}}), DispatchStatus::refused);
  EXPECT_EQ(rt.dispatch({button, EventKind::setValue, std::string("x")}), DispatchStatus::refused);
  EXPECT_EQ(rt.dispatch({field, EventKind::setValue, std::string("ab\xC3")}), DispatchStatus::refused)
      << "text that is not UTF-8 never reaches the binding";
  EXPECT_EQ(driver.get(byKind(NodeKind::textField)).string(Attr::value), "");

  EXPECT_EQ(rt.dispatch({toggle, EventKind::setValue, true}), DispatchStatus::handled);
  EXPECT_TRUE(driver.get(byKind(NodeKind::toggle)).flag(Attr::isOn));
  driver.tap(byKind(NodeKind::toggle));
  EXPECT_FALSE(driver.get(byKind(NodeKind::toggle)).flag(Attr::isOn));
}

// Every actionable node carries the events its handlers take, and the runtime refuses the
// events it does not list, so a renderer can build its table of controls from the tree alone.
TEST(Controls, EachActionableNodeCarriesTheEventsTheRuntimeTakes) {
  ViewDriver driver([] {
    return Closure("all", [](Context& ctx) {
      auto on = ctx.state<bool>("on", false);
      auto text = ctx.state<std::string>("text", "");
      auto search = ctx.state<bool>("search", false);
      auto sheet = ctx.state<bool>("sheet", true);
      std::vector<int> rows;
      for (int i = 0; i < 40; ++i) rows.push_back(i);
      return NavigationStack(List({Toggle(on.binding(), Verbatim("t")), TextField(verbatim("f"), text.binding()),
                                   TextField(verbatim("n"), text.binding(), Axis::vertical),
                                   Button(verbatim("b"), [] {}),
                                   Section({ForEach(rows, [](int r) { return r; }, [](int) { return Verbatim("row"); })})})
                                 .searchable(text.binding(), search.binding(), verbatim("s")))
          .sheet(sheet.binding(), [] { return Verbatim("sheet").interactiveDismissDisabled(); });
    });
  });
  using V = Accepts::Value;
  struct Expected {
    NodeKind kind;
    Accepts accepts;
  } expected[] = {
      {NodeKind::toggle, {.tap = true, .value = V::flag}},
      {NodeKind::textField, {.submit = true, .focus = true, .value = V::text}},
      {NodeKind::searchField, {.dismiss = true, .submit = true, .focus = true, .value = V::text}},
      {NodeKind::button, {.tap = true}},
      {NodeKind::sheet, {.dismiss = true}},
      {NodeKind::list, {.scroll = true}},
  };
  for (const auto& e : expected) {
    const Node& n = driver.get(byKind(e.kind));
    EXPECT_FALSE(n.actionId.empty()) << kindName(e.kind);
    EXPECT_EQ(n.accepts, e.accepts) << kindName(e.kind);
  }
  EXPECT_FALSE(driver.get(byText("row")).accepts.any()) << "a node without an action takes nothing";

  // What a node does not list, the runtime refuses.
  std::vector<std::pair<std::string, Accepts>> actionable;
  std::function<void(const Node&)> walk = [&](const Node& n) {
    if (!n.actionId.empty()) actionable.emplace_back(n.actionId, n.accepts);
    for (const Node& c : n.children) walk(c);
    for (const auto& [name, nodes] : n.slots) {
      for (const Node& c : nodes) walk(c);
    }
  };
  walk(driver.tree());
  ASSERT_GE(actionable.size(), 7u);
  for (const auto& [id, a] : actionable) {
    const std::pair<ActionEvent, bool> events[] = {
        {{id, EventKind::tap, {}}, a.tap},
        {{id, EventKind::setValue, true}, a.value == V::flag},
        {{id, EventKind::setValue, std::string("x")}, a.value == V::text},
        {{id, EventKind::submit, {}}, a.submit},
        {{id, EventKind::focus, true}, a.focus},
        {{id, EventKind::dismiss, {}}, a.dismiss},
        {{id, EventKind::scroll, std::int64_t{1}}, a.scroll},
    };
    for (const auto& [event, listed] : events) {
      if (!listed) {
        EXPECT_EQ(driver.runtime().dispatch(event), DispatchStatus::refused) << id;
      }
    }
  }
}

TEST(Controls, DisabledIsInheritedAndItsActionsAreRefused) {
  auto taps = std::make_shared<int>(0);
  ViewDriver driver([taps] {
    return VStack({Menu(Text("localizable_sort"), {Button(verbatim("inside"), [taps] { ++*taps; })}),
                   Button(verbatim("enabled"), [taps] { ++*taps; }).disabled(false)})
        .disabled(true);
  });
  EXPECT_TRUE(driver.get(byText("inside").ofKind(NodeKind::button)).flag(Attr::disabled));
  EXPECT_EQ(driver.tap(byText("inside")), DispatchStatus::disabled);
  EXPECT_EQ(driver.tap(byText("enabled")), DispatchStatus::disabled) << "an inner disabled(false) does not re-enable";
  EXPECT_EQ(*taps, 0);
}

TEST(Controls, NestedMenusKeepTheirItemsActionable) {
  auto picked = std::make_shared<std::string>();
  ViewDriver driver([picked] {
    return ControlGroup(SystemImage("person.crop.circle.fill"),
                        {Menu(Label(localized("localizable_sort"), "arrow.up.arrow.down"),
                              {Button("localizable_name", [picked] { *picked = "name"; }), Divider(),
                               Menu(Text("localizable_filterBy"),
                                    {Button("localizable_category", [picked] { *picked = "category"; })})})})
        .controlGroupStyle(ControlGroupStyle::menu);
  });
  const Node& group = driver.get(byKind(NodeKind::controlGroup));
  EXPECT_EQ(group.choice<ControlGroupStyle>(Attr::controlGroupStyle), ControlGroupStyle::menu);
  const Node& outer = group.children.at(0);
  ASSERT_EQ(outer.children.size(), 3u);
  EXPECT_EQ(outer.children[2].kind, NodeKind::menu);
  driver.tap(byText("localizable_category"));
  EXPECT_EQ(*picked, "category");
}

TEST(Controls, AViewThatThrowsLeavesTheRuntimeUsable) {
  auto fail = std::make_shared<bool>(true);
  ViewDriver driver([fail] {
    if (*fail) throw std::runtime_error("broken view");
    return Verbatim("recovered");
  });
  EXPECT_THROW(driver.runtime().render(), std::runtime_error);
  *fail = false;
  driver.runtime().invalidate();
  EXPECT_TRUE(driver.exists(byText("recovered")));
  EXPECT_FALSE(driver.runtime().needsRender());
}

TEST(Controls, LinksAndPasteboardWritesAreLogged) {
  EventLog::shared().clear();
  std::string opened;
  setOpenURLHandler([&](const std::string& url) { opened = url; });
  ViewDriver driver([] {
    return VStack({Link("mailto:support@example.com", Text("localizable_feedback")),
                   Button(localized("localizable_copyNote"), [] { Pasteboard::general().setString("note text"); })});
  });
  driver.tap(byText("localizable_feedback"));
  driver.tap(byText("localizable_copyNote"));
  setOpenURLHandler({});
  EXPECT_EQ(opened, "mailto:support@example.com");
  EXPECT_EQ(Pasteboard::general().string(), "note text");
  auto entries = EventLog::shared().entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].type, LoggedEventType::openURL);
  EXPECT_EQ(entries[1].type, LoggedEventType::pasteboardWrite);
  EXPECT_EQ(entries[1].detail, "note text");
}

TEST(Controls, ScrollReaderDeliversAScrollRequestWithOneRender) {
  ViewDriver driver([] {
    return ScrollViewReader([](const ScrollProxy& proxy) {
      return ScrollView(Axis::horizontal, {Grid({GridRow({Verbatim("a").id("appleRed"), Verbatim("b").id("appleGray")})})})
          .onAppear([proxy] { proxy.scrollTo("appleGray"); });
    });
  });
  EXPECT_EQ(driver.get(byKind(NodeKind::scrollView)).string(Attr::scrollTarget), "appleGray");
  driver.runtime().invalidate();
  EXPECT_EQ(driver.get(byKind(NodeKind::scrollView)).string(Attr::scrollTarget), "");
}

}  // namespace
}  // namespace platform::ui
