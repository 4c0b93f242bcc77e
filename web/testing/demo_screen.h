// A demo screen for the web front's tests and benchmark: a settings-like form (switch, limited
// name field, counter, a save button that shows a toast for 1.66 s) above a list of bills with
// swipe and context actions, a toolbar button that opens a sheet, and a tab bar. It uses the
// constructs the app's screens use, so the page can be exercised before the real screens exist.
//
// Main thread only, like every view.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "platform/ui/view.h"

namespace web::testing {

struct DemoScreen {
  int bills = 20;

  platform::ui::View body(platform::ui::Context& ctx) const {
    using namespace platform::ui;
    auto count = ctx.state<int>("count", 0);
    auto name = ctx.state<std::string>("name", "");
    auto close = ctx.state<bool>("close", false);
    auto toast = ctx.state<bool>("toast", false);
    auto sheet = ctx.state<bool>("sheet", false);
    auto removed = ctx.state<int>("removed", 0);

    std::vector<int> ids;
    for (int i = removed.get(); i < bills; ++i) ids.push_back(i);
    auto billRow = [removed](int i) {
      return HStack({Label(Verbatim("Bill " + std::to_string(i)), SystemImage("creditcard")), Spacer(),
                     Verbatim(std::to_string(10 + i) + ".00 $").foregroundStyle(Color{Color::Kind::system, "secondary"})})
          .swipeActions(Edge::trailing, true,
                        {Button(Label(localized("localizable_delete"), "trash"),
                                [removed] { removed.set(removed.get() + 1); }, ButtonRole::destructive)})
          .contextMenu({Button(Label(localized("localizable_copyNote"), "doc.on.doc"), [] {})});
    };

    View form = List({
        Section({Toggle(close.binding(), Label(localized("localizable_dismissAutomatically"), "checkmark")),
                 LabeledContent(Text("localizable_name"),
                                TextField(localized("localizable_enter"), name.binding())
                                    .maxLength(30)
                                    .multilineTextAlignment(TextAlignment::trailing)
                                    .accessibilityIdentifier("name")),
                 Button(Text(localized("%lld", {std::to_string(count.get())})), [count] { count.set(count.get() + 1); })
                     .accessibilityIdentifier("count"),
                 Button(Text("localizable_update"),
                        [toast] {
                          if (toast.get()) return;
                          toast.set(true);
                          platform::DispatchQueue::main()->asyncAfter(std::chrono::milliseconds(1660),
                                                                      [toast] { toast.set(false); });
                        })
                     .accessibilityIdentifier("save")},
                Text("localizable_general")),
        Section({ForEach(ids, [](int i) { return i; }, billRow)}, Text("localizable_bills")),
    });

    View toastView = when(toast.get(), [] {
      return Label(Text("localizable_saved").font(Font::caption).bold().foregroundStyle(Color{Color::Kind::system, "white"}),
                   SystemImage("checkmark").symbolVariant(SymbolVariant::circleFill).foregroundStyle(Color{Color::Kind::system, "white"}))
          .padding(9)
          .background(Color{Color::Kind::asset, "sonicBlue", true, 0.8}, Shape::capsule(true))
          .padding(Edge::top, 3)
          .transition(Transition::pushFromTopRemovingByOpacity)
          .accessibilityIdentifier("toast");
    });

    View settings =
        NavigationStack(form.overlay(toastView, Alignment::top)
                            .navigationTitle(localized("localizable_settings"))
                            .toolbar({ToolbarItem(ToolbarPlacement::primaryAction,
                                                  Button(SystemImage("plus"), [sheet] { sheet.set(true); }))})
                            .sheet(sheet.binding(), [] {
                              return Closure("demoSheet", [](Context& inner) {
                                return NavigationStack(
                                    Form({Section({Verbatim("A sheet")})})
                                        .navigationTitle(localized("localizable_newBill"))
                                        .toolbar({ToolbarItem(ToolbarPlacement::topBarLeading,
                                                              Button(SystemImage("xmark"),
                                                                     [dismiss = inner.dismiss()] { dismiss(); }))}));
                              });
                            }));
    return TabView({settings.tabItem(Label(localized("localizable_collection"), "tray.full")),
                    NavigationStack(Verbatim("Forecast").navigationTitle(localized("localizable_forecast")))
                        .tabItem(Label(localized("localizable_forecast"), "cloud.sun"))})
        .accentColor(Color{Color::Kind::asset, "sonicBlue"});
  }
};

}  // namespace web::testing
