// SettingsScreen: the app's settings sheet. One setting (close editors automatically after a
// save), an explanation of the cloud synchronisation, a row that opens the store's
// write-review page, a row that writes to support, and the app's version in the toolbar.
// It keeps nothing of its own: the setting lives in the standard defaults through the
// environment's UserDefaultsManager, and `dismiss` is the presenter's sheet flag.
//
//   content.sheet(showSettings.binding(), [=] { return View(SettingsScreen{showSettings.binding()}); })
//
// Threads: main thread.
#pragma once

#include <string>

#include "platform/ui/view.h"

namespace brivel {

struct SettingsScreen {
  platform::ui::Binding<bool> dismiss;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The main bundle's "CFBundleShortVersionString", or "unknown version" when it is missing or
// not a string.
std::string appVersionText();

}  // namespace brivel
