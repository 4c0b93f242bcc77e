// WidgetPlugin: a widget plug-in loaded into the host, and the widgets its bundle offers.
//
// The plug-in is a shared library that exports "platform_widget_bundle" (see
// platform/ui/widget_kit.h). Everything the bundle hands out (configurations, providers,
// views) is code of the plug-in, so a loaded plug-in is never unloaded: the library stays
// mapped until the process ends, whatever still refers to it.
//
// Threads: load and destroy on the main thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/expected.h"
#include "platform/ui/widget_kit.h"

namespace brivel::widgethost {

inline constexpr const char* kWidgetHostErrorDomain = "widget.host";

class WidgetPlugin {
 public:
  // The plug-in, or an error (kWidgetHostErrorDomain) whose description is one line saying why
  // it cannot be used: the file is missing, it is not a loadable library, it has no entry
  // point, or its bundle offers no widget.
  static platform::Expected<std::unique_ptr<WidgetPlugin>> load(const std::filesystem::path& path);

  // Widgets of this program itself, not loaded from a file (for tests and benchmarks).
  static std::unique_ptr<WidgetPlugin> inProcess(std::vector<platform::ui::WidgetConfiguration> widgets);

  ~WidgetPlugin();
  WidgetPlugin(const WidgetPlugin&) = delete;
  WidgetPlugin& operator=(const WidgetPlugin&) = delete;

  const std::filesystem::path& path() const { return path_; }
  const std::vector<platform::ui::WidgetConfiguration>& widgets() const { return widgets_; }
  // The widget of `kind`, or nullptr.
  const platform::ui::WidgetConfiguration* widget(const std::string& kind) const;

 private:
  WidgetPlugin(std::filesystem::path path, void* handle, std::vector<platform::ui::WidgetConfiguration> widgets);

  std::filesystem::path path_;
  void* handle_;  // never closed
  std::vector<platform::ui::WidgetConfiguration> widgets_;
};

// Where the host looks for the plug-in when it is given none: beside the host program.
std::filesystem::path defaultPluginPath();

}  // namespace brivel::widgethost
