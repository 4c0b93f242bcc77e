#include "widget/host/widget_plugin.h"

#include <dlfcn.h>

#include <system_error>
#include <utility>

#include "platform/foundation/paths.h"

namespace brivel::widgethost {
namespace {

constexpr const char* kEntryPoint = "platform_widget_bundle";
constexpr const char* kPluginFile = "BrivelWidgetsExtension.so";

}  // namespace

platform::Expected<std::unique_ptr<WidgetPlugin>> WidgetPlugin::load(const std::filesystem::path& path) {
  auto refused = [](std::string why) { return platform::Error::described(kWidgetHostErrorDomain, 1, std::move(why)); };
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return refused("no widget plug-in at " + path.string());
  }
  // RTLD_LOCAL keeps the plug-in's symbols out of the global scope; only the entry point
  // is exported anyway.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    return refused(path.string() + " cannot be loaded: " + (why ? why : "unknown error"));
  }
  dlerror();
  using Entry = const platform::ui::WidgetBundle* (*)();
  auto entry = reinterpret_cast<Entry>(dlsym(handle, kEntryPoint));
  if (!entry) {
    dlclose(handle);
    return refused(path.string() + " is not a widget plug-in: it has no entry point \"" + kEntryPoint + "\"");
  }
  const platform::ui::WidgetBundle* bundle = entry();
  std::vector<platform::ui::WidgetConfiguration> widgets;
  if (bundle) widgets = bundle->body();
  if (widgets.empty()) {
    dlclose(handle);
    return refused(path.string() + " offers no widgets");
  }
  return std::unique_ptr<WidgetPlugin>(new WidgetPlugin(path, handle, std::move(widgets)));
}

WidgetPlugin::WidgetPlugin(std::filesystem::path path, void* handle,
                           std::vector<platform::ui::WidgetConfiguration> widgets)
    : path_(std::move(path)), handle_(handle), widgets_(std::move(widgets)) {}

std::unique_ptr<WidgetPlugin> WidgetPlugin::inProcess(std::vector<platform::ui::WidgetConfiguration> widgets) {
  return std::unique_ptr<WidgetPlugin>(new WidgetPlugin("(in process)", nullptr, std::move(widgets)));
}

WidgetPlugin::~WidgetPlugin() {
  // The library itself stays loaded until the process ends: views of the plug-in may still
  // sit in a runtime's kept state, and its own long-lived objects stay reachable.
  widgets_.clear();
}

const platform::ui::WidgetConfiguration* WidgetPlugin::widget(const std::string& kind) const {
  for (const auto& w : widgets_) {
    if (w.kind == kind) return &w;
  }
  return nullptr;
}

std::filesystem::path defaultPluginPath() { return platform::FileLocations::resourceDirectory() / kPluginFile; }

}  // namespace brivel::widgethost
