#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/services.h"
#include "platform/ui/testing/driver.h"
#include "platform/ui/view.h"

namespace platform::ui {
namespace {

using testing::byKind;
using testing::bySymbol;
using testing::byText;
using testing::ViewDriver;

// A pushed page with its own counter, so that we can see its state go with it.
struct DetailPage {
  View body(Context& ctx) const {
    auto count = ctx.state<int>("count", 0);
    auto dismiss = ctx.dismiss();
    return VStack({Button(verbatim("detail " + std::to_string(count.get())), [count] { count.set(count.get() + 1); }),
                   Button(verbatim("done"), [dismiss] { dismiss(); })})
        .navigationTitle(verbatim("Detail"));
  }
};

struct ListScreen {
  View body(Context&) const {
    return NavigationStack(List({NavigationLink(Verbatim("open detail"), [] { return View(DetailPage{}); })})
                               .navigationTitle(localized("localizable_collection"))
                               .toolbar({ToolbarItem(ToolbarPlacement::primaryAction,
                                                     Button(SystemImage("plus"), [] {}))}));
  }
};

TEST(Navigation, PushCoversTheRootAndBackOrDismissPopsAndDropsThePageState) {
  ViewDriver driver([] { return View(ListScreen{}); });
  const Node& root = driver.get(byKind(NodeKind::navigationPage));
  EXPECT_EQ(root.textContent(Attr::title)->key, "localizable_collection");
  ASSERT_EQ(root.slot("toolbar").size(), 1u);
  EXPECT_EQ(root.slot("toolbar")[0].string(Attr::placement), "primaryAction");
  EXPECT_TRUE(root.actionId.empty()) << "the root page cannot go back";

  driver.tap(byText("open detail"));
  EXPECT_FALSE(driver.exists(byText("open detail"))) << "the root is covered";
  driver.tap(byText("detail 0"));
  EXPECT_TRUE(driver.exists(byText("detail 1")));
  const Node& pushed = driver.get(byKind(NodeKind::navigationPage));
  EXPECT_EQ(pushed.textContent(Attr::title)->key, "Detail");

  // Back from the navigation bar.
  EXPECT_EQ(driver.dismiss(byKind(NodeKind::navigationPage)), DispatchStatus::handled);
  EXPECT_TRUE(driver.exists(byText("open detail")));

  // Pushed again: fresh state; the page's own dismiss pops it.
  driver.tap(byText("open detail"));
  EXPECT_TRUE(driver.exists(byText("detail 0")));
  driver.tap(byText("done"));
  EXPECT_TRUE(driver.exists(byText("open detail")));
  EXPECT_FALSE(driver.exists(byText("detail 0")));
}

TEST(Navigation, TheCoveredPageDisappearsWhileTheStackItselfStaysOnScreen) {
  auto log = std::make_shared<std::vector<std::string>>();
  ViewDriver driver([log] {
    return NavigationStack(NavigationLink(Verbatim("open"), [] { return Verbatim("pushed"); })
                               .onAppear([log] { log->push_back("root appear"); })
                               .onDisappear([log] { log->push_back("root disappear"); }))
        .onAppear([log] { log->push_back("stack appear"); })
        .onDisappear([log] { log->push_back("stack disappear"); });
  });
  driver.tap(byText("open"));
  driver.dismiss(byKind(NodeKind::navigationPage));
  EXPECT_EQ(*log, (std::vector<std::string>{"root appear", "stack appear", "root disappear", "root appear"}));
}

TEST(Navigation, APushedPageWhoseLinkIsGoneIsPopped) {
  auto rows = std::make_shared<std::vector<std::string>>(std::vector<std::string>{"gas", "rent"});
  ViewDriver driver([rows] {
    return NavigationStack(List({ForEach(*rows, [](const std::string& r) { return r; }, [](const std::string& r) {
      return NavigationLink(Verbatim(r), [r] { return Verbatim("page of " + r); });
    })}));
  });
  driver.tap(byText("rent"));
  EXPECT_TRUE(driver.exists(byText("page of rent")));
  *rows = {"gas"};  // the row was deleted elsewhere
  driver.runtime().invalidate();
  EXPECT_FALSE(driver.exists(byText("page of rent")));
  EXPECT_TRUE(driver.exists(byText("gas")));
  EXPECT_EQ(driver.findAll(byKind(NodeKind::navigationPage)).size(), 1u);
}

TEST(Navigation, APageThatHidesItsBackButtonLeavesOnlyThroughItsOwnDismiss) {
  ViewDriver driver([] {
    return NavigationStack(NavigationLink(Verbatim("open"), [] {
      return Closure("editor", [](Context& ctx) {
        auto dismiss = ctx.dismiss();
        return Button(verbatim("update"), [dismiss] { dismiss(); }).navigationBarBackButtonHidden();
      });
    }));
  });
  driver.tap(byText("open"));
  EXPECT_TRUE(driver.get(byKind(NodeKind::navigationPage)).flag(Attr::backButtonHidden));
  EXPECT_EQ(driver.dismiss(byKind(NodeKind::navigationPage)), DispatchStatus::refused);
  driver.tap(byText("update"));
  EXPECT_TRUE(driver.exists(byText("open")));
}

TEST(Navigation, DestinationBoundToAFlagPushesAndBackClearsTheFlag) {
  ViewDriver driver([] {
    return Closure("flagged", [](Context& ctx) {
      auto show = ctx.state<bool>("show", false);
      return NavigationStack(VStack({Verbatim(show.get() ? "flag on" : "flag off"),
                                     Button(verbatim("go"), [show] { show.set(true); })})
                                 .navigationDestination(show.binding(), [] { return Verbatim("destination"); }));
    });
  });
  driver.tap(byText("go"));
  EXPECT_TRUE(driver.exists(byText("destination")));
  driver.dismiss(byKind(NodeKind::navigationPage));
  EXPECT_TRUE(driver.exists(byText("flag off")));
  EXPECT_FALSE(driver.exists(byText("destination")));
}

// A sheet screen that can present a second sheet and push a page, each with its own
// close button calling the environment's dismiss.
struct InnerSheet {
  View body(Context& ctx) const {
    auto dismiss = ctx.dismiss();
    return Button(verbatim("close inner"), [dismiss] { dismiss(); });
  }
};
struct OuterSheet {
  View body(Context& ctx) const {
    auto dismiss = ctx.dismiss();
    auto showInner = ctx.state<bool>("showInner", false);
    return NavigationStack(
               VStack({Button(verbatim("close outer"), [dismiss] { dismiss(); }),
                       Button(verbatim("open inner"), [showInner] { showInner.set(true); }),
                       NavigationLink(Verbatim("push"), [] { return View(DetailPage{}); })}))
        .sheet(showInner.binding(), [] { return View(InnerSheet{}); })
        .interactiveDismissDisabled()
        .presentationSizing(PresentationSizing::page);
  }
};

TEST(Presentation, DismissActsOnTheInnermostPresentationOfItsOwnScreen) {
  auto dismissals = std::make_shared<int>(0);
  ViewDriver driver([dismissals] {
    return Closure("presenter", [dismissals](Context& ctx) {
      auto show = ctx.state<bool>("show", false);
      return VStack({Verbatim(show.get() ? "outer shown" : "outer hidden"),
                     Button(verbatim("open outer"), [show] { show.set(true); })})
          .sheet(show.binding(), [] { return View(OuterSheet{}); }, [dismissals] { ++*dismissals; });
    });
  });
  driver.tap(byText("open outer"));
  driver.tap(byText("open inner"));
  auto sheets = driver.tree().slot("presentations");
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_EQ(sheets[0].string(Attr::sizing), "page");

  // The inner screen's dismiss closes the inner sheet only.
  driver.tap(byText("close inner"));
  EXPECT_EQ(driver.tree().slot("presentations").size(), 1u);
  EXPECT_EQ(*dismissals, 0);

  // A page pushed inside the outer sheet pops; the sheet stays.
  driver.tap(byText("push"));
  driver.tap(byText("done"));
  EXPECT_TRUE(driver.exists(byText("close outer")));

  // The outer screen's dismiss closes its own sheet, once.
  driver.tap(byText("close outer"));
  EXPECT_TRUE(driver.tree().slot("presentations").empty());
  EXPECT_TRUE(driver.exists(byText("outer hidden")));
  EXPECT_EQ(*dismissals, 1);
}

TEST(Presentation, InteractiveDismissalIsRefusedWhenDisabled) {
  ViewDriver driver([] {
    return Closure("presenter", [](Context& ctx) {
      auto locked = ctx.state<bool>("locked", true);
      auto free = ctx.state<bool>("free", true);
      return VStack({Verbatim("base")})
          .sheet(locked.binding(), [] { return Verbatim("locked sheet").interactiveDismissDisabled(); })
          .sheet(free.binding(), [] { return Verbatim("free sheet"); });
    });
  });
  auto sheets = driver.tree().slot("presentations");
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_TRUE(sheets[0].flag(Attr::interactiveDismissDisabled));
  EXPECT_EQ(driver.runtime().dispatch({sheets[0].actionId, EventKind::dismiss, {}}), DispatchStatus::refused);
  EXPECT_EQ(driver.runtime().dispatch({sheets[1].actionId, EventKind::dismiss, {}}), DispatchStatus::handled);
  driver.tree();
  EXPECT_TRUE(driver.exists(byText("locked sheet")));
  EXPECT_FALSE(driver.exists(byText("free sheet")));
}

TEST(Presentation, ConfirmationDialogClosesAfterAnyButtonAndRunsOnlyThatAction) {
  auto deleted = std::make_shared<int>(0);
  ViewDriver driver([deleted] {
    return Closure("dialog", [deleted](Context& ctx) {
      auto ask = ctx.state<bool>("ask", false);
      return Button(verbatim("delete"), [ask] { ask.set(true); })
          .confirmationDialog(localized("localizable_deleteProfile"), ask.binding(), Visibility::visible,
                              {Button(localized("localizable_delete"), [deleted] { ++*deleted; },
                                      ButtonRole::destructive),
                               Button(localized("localizable_cancel"), [] {}, ButtonRole::cancel)},
                              Text("localizable_deleteProfileMessage"));
    });
  });
  driver.tap(byText("delete"));
  const Node& dialog = driver.get(byKind(NodeKind::confirmationDialog));
  EXPECT_EQ(dialog.string(Attr::titleVisibility), "visible");
  EXPECT_EQ(testing::textsIn(dialog.slot("message")[0]), std::vector<std::string>{"localizable_deleteProfileMessage"});
  EXPECT_EQ(dialog.children[0].string(Attr::role), "destructive");

  driver.tap(byText("localizable_cancel"));
  EXPECT_FALSE(driver.exists(byKind(NodeKind::confirmationDialog)));
  EXPECT_EQ(*deleted, 0);

  driver.tap(byText("delete"));
  driver.dismiss(byKind(NodeKind::confirmationDialog));
  EXPECT_EQ(*deleted, 0);

  driver.tap(byText("delete"));
  driver.tap(byText("localizable_delete"));
  EXPECT_FALSE(driver.exists(byKind(NodeKind::confirmationDialog)));
  EXPECT_EQ(*deleted, 1);
}

TEST(Presentation, RowActionsFromContextMenuAndSwipe) {
  auto log = std::make_shared<std::vector<std::string>>();
  ViewDriver driver([log] {
    return List({Verbatim("row")
                     .contextMenu({Button(localized("localizable_edit"), [log] { log->push_back("edit"); }), Divider(),
                                   Button(localized("localizable_delete"), [log] { log->push_back("menu delete"); },
                                          ButtonRole::destructive)})
                     .swipeActions(Edge::trailing, true,
                                   {Button(localized("localizable_delete"), [log] { log->push_back("swipe delete"); })
                                        .tint(Color::system("red"))})});
  });
  const Node& row = driver.get(byText("row"));
  EXPECT_EQ(row.slot("contextMenu").size(), 3u);
  EXPECT_TRUE(row.flag(Attr::swipeActionsAllowsFullSwipe));
  EXPECT_EQ(row.string(Attr::swipeActionsEdge), "trailing");
  driver.runtime().dispatch({row.slot("swipeActions")[0].actionId, EventKind::tap, {}});
  driver.tap(byText("localizable_edit"));
  EXPECT_EQ(*log, (std::vector<std::string>{"swipe delete", "edit"}));
}

TEST(Presentation, SearchFieldEditsItsBindingAndDismissSearchClearsIt) {
  ViewDriver driver([] {
    return Closure("searching", [](Context& ctx) {
      auto text = ctx.state<std::string>("text", "");
      auto presented = ctx.state<bool>("presented", false);
      auto results = Closure("results", [](Context& inner) {
        auto dismissSearch = inner.dismissSearch();
        return Button(verbatim("end search"), [dismissSearch] { dismissSearch(); });
      });
      return NavigationStack(VStack({Verbatim("query=" + text.get() + (presented.get() ? " presented" : "")),
                                     results})
                                 .searchable(text.binding(), presented.binding(), localized("localizable_search")));
    });
  });
  const Node& page = driver.get(byKind(NodeKind::navigationPage));
  ASSERT_EQ(page.slot("search").size(), 1u);
  driver.focus(byKind(NodeKind::searchField), true);
  driver.type(byKind(NodeKind::searchField), "gas");
  EXPECT_TRUE(driver.exists(byText("query=gas presented")));
  driver.tap(byText("end search"));
  EXPECT_TRUE(driver.exists(byText("query=")));
}

struct DemoTip final : Tip {
  std::string id() const override { return "DemoTip"; }
  TextContent title() const override { return localized("localizable_profiles"); }
  std::optional<std::string> imageAsset() const override { return "brivelTips"; }
};

TEST(Presentation, PopoverTipShowsUntilClosedAndStaysClosed) {
  Tips::resetDatastore();
  EventLog::shared().clear();
  auto tip = std::make_shared<DemoTip>();
  ViewDriver driver([tip] { return SystemImage("plus").popoverTip(tip, Edge::top); });
  const Node& popover = driver.get(byKind(NodeKind::popoverTip));
  EXPECT_EQ(popover.string(Attr::imageAsset), "brivelTips");
  driver.dismiss(byKind(NodeKind::popoverTip));
  EXPECT_FALSE(driver.exists(byKind(NodeKind::popoverTip)));
  EXPECT_EQ(EventLog::shared().entries(LoggedEventType::tipInvalidated).at(0).detail, "DemoTip:tipClosed");

  // Another view with the same tip does not show it either.
  ViewDriver other([tip] { return Verbatim("x").popoverTip(tip); });
  EXPECT_FALSE(other.exists(byKind(NodeKind::popoverTip)));
  Tips::resetDatastore();
}

}  // namespace
}  // namespace platform::ui
