// A small app-shaped screen, written the way the README shows, driven end to end.
#include <gtest/gtest.h>

#include <memory>

#include "platform/ui/observable.h"
#include "platform/ui/testing/driver.h"
#include "platform/ui/view.h"

namespace platform::ui {
namespace {

using testing::byKind;
using testing::bySymbol;
using testing::byText;
using testing::ViewDriver;

class DemoSettings : public ObservableObject {
 public:
  Published<bool> closeAfterSave{*this, false};
};

struct DemoSettingsSheet {
  Binding<bool> dismiss;
  View body(Context& ctx) const {
    auto settings = ctx.environmentObject<DemoSettings>();
    auto close = dismiss;
    return NavigationStack(
        List({Section({Toggle(bind(settings, &DemoSettings::closeAfterSave), Text("localizable_dismissAutomatically"))},
                      Text("localizable_general"))})
            .navigationTitle(localized("localizable_settings"))
            .navigationBarTitleDisplayMode(TitleDisplayMode::inline_)
            .toolbar({ToolbarItem(ToolbarPlacement::topBarLeading,
                                  Button(SystemImage("xmark"), [close] { close.set(!close.get()); }))}));
  }
};

struct DemoRoot {
  View body(Context& ctx) const {
    auto showSettings = ctx.state<bool>("showSettings", false);
    return TabView({NavigationStack(List({Verbatim("bills")})
                                        .toolbar({ToolbarItem(ToolbarPlacement::topBarLeading,
                                                              Button(Label(localized("localizable_settings"), "gearshape"),
                                                                     [showSettings] { showSettings.toggle(); }))}))
                        .sheet(showSettings.binding(),
                               [showSettings] {
                                 return View(DemoSettingsSheet{showSettings.binding()})
                                     .presentationSizing(PresentationSizing::form);
                               })
                        .tabItem(Label(localized("localizable_collection"), "tray.full"))});
  }
};

TEST(DemoScreen, SettingsSheetOpensWritesTheSettingAndClosesFromItsToolbar) {
  auto settings = std::make_shared<DemoSettings>();
  ViewDriver driver([settings] { return View(DemoRoot{}).environmentObject(settings); });

  driver.tap(byText("localizable_settings").ofKind(NodeKind::button));
  const Node& sheet = driver.get(byKind(NodeKind::sheet));
  EXPECT_EQ(sheet.string(Attr::sizing), "form");
  const Node& page = driver.get(byKind(NodeKind::navigationPage));
  EXPECT_EQ(page.textContent(Attr::title)->key, "localizable_settings");
  EXPECT_EQ(page.string(Attr::titleDisplayMode), "inline");

  driver.tap(byKind(NodeKind::toggle));
  EXPECT_TRUE(settings->closeAfterSave.get());
  EXPECT_TRUE(driver.get(byKind(NodeKind::toggle)).flag(Attr::isOn));

  driver.tap(bySymbol("xmark").ofKind(NodeKind::button));
  EXPECT_FALSE(driver.exists(byKind(NodeKind::sheet)));
  EXPECT_TRUE(driver.exists(byText("bills")));
}

}  // namespace
}  // namespace platform::ui
