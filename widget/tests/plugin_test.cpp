// The widget plug-in as a host meets it: the real BrivelWidgetsExtension.so, opened with
// dlopen, never linked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <variant>

#include "platform/testing/temp_directory.h"
#include "platform/ui/testing/driver.h"
#include "platform/ui/widget_kit.h"
#include "widget/host/widget_plugin.h"

namespace brivel::widgethost {
namespace {

using platform::ui::Node;
using platform::ui::WidgetConfiguration;
using platform::ui::WidgetFamily;

std::unique_ptr<WidgetPlugin> loadPlugin() {
  auto loaded = WidgetPlugin::load(BRIVEL_WIDGET_PLUGIN);
  if (!loaded.ok()) throw std::runtime_error(loaded.error().localizedDescription());
  return std::move(*loaded);
}

// A node tree as text, without identities and action ids: two renders of the same face
// give the same text.
void describe(const Node& node, std::ostringstream& out) {
  out << "(" << platform::ui::kindName(node.kind);
  for (const auto& [name, value] : node.attrs) {
    out << " " << platform::ui::name(name) << "=";
    std::visit(
        [&](const auto& v) {
          using V = std::decay_t<decltype(v)>;
          if constexpr (platform::ui::ClosedSetValue<V> || std::is_same_v<V, platform::ui::Edge>) {
            out << platform::ui::name(v);
          } else if constexpr (std::is_same_v<V, platform::ui::Color>) {
            out << "color:" << v.name << (v.gradient ? "+g" : "") << "@" << v.opacity;
          } else if constexpr (std::is_same_v<V, platform::ui::TextContent>) {
            out << (v.verbatim ? "verbatim:" : "key:") << v.key;
          } else {
            out << v;
          }
        },
        value);
  }
  for (const auto& child : node.children) describe(child, out);
  for (const auto& [name, nodes] : node.slots) {
    out << " [" << name;
    for (const auto& n : nodes) describe(n, out);
    out << "]";
  }
  out << ")";
}
std::string describe(const Node& node) {
  std::ostringstream out;
  describe(node, out);
  return out.str();
}

WidgetConfiguration::FaceTimeline timelineOf(const WidgetConfiguration& widget, WidgetFamily family) {
  std::optional<WidgetConfiguration::FaceTimeline> timeline;
  widget.timeline({family, false}, [&](WidgetConfiguration::FaceTimeline t) { timeline = std::move(t); });
  if (!timeline) throw std::runtime_error("the provider did not complete before returning");
  return *timeline;
}

TEST(WidgetPlugin, BundleOffersTheInlineThenTheCircularWidgetEachForOneFamily) {
  auto plugin = loadPlugin();
  const auto& widgets = plugin->widgets();
  ASSERT_EQ(widgets.size(), 2u);
  EXPECT_EQ(widgets[0].kind, "WidgetAccessoryInlineBrivelTitle");
  EXPECT_EQ(widgets[0].supportedFamilies, std::vector{WidgetFamily::accessoryInline});
  EXPECT_EQ(widgets[1].kind, "WidgetAccessoryCircularBrivelIcon");
  EXPECT_EQ(widgets[1].supportedFamilies, std::vector{WidgetFamily::accessoryCircular});
  for (const auto& widget : widgets) {
    EXPECT_EQ(widget.displayName, "Brivel");  // a plain string, the same in every language
    EXPECT_EQ(widget.description.key, "localizable_startBrivel");
    EXPECT_FALSE(widget.description.verbatim);
  }
}

TEST(WidgetPlugin, ProviderAnswersOneEntryDatedNowUnderNeverAndEveryRequestShowsTheSameFace) {
  auto plugin = loadPlugin();
  for (const auto& widget : plugin->widgets()) {
    const WidgetFamily family = widget.supportedFamilies.at(0);
    const auto before = std::chrono::system_clock::now();
    const auto timeline = timelineOf(widget, family);
    const auto after = std::chrono::system_clock::now();
    ASSERT_EQ(timeline.faces.size(), 1u) << widget.kind;
    EXPECT_EQ(timeline.policy.kind, platform::ui::TimelineReloadPolicy::Kind::never);
    EXPECT_GE(timeline.faces[0].date, before);
    EXPECT_LE(timeline.faces[0].date, after);

    std::optional<platform::ui::View> snapshot;
    widget.snapshot({family, true}, [&](platform::ui::View v) { snapshot = v; });
    ASSERT_TRUE(snapshot) << "the snapshot completes before returning";

    const std::string face = describe(platform::ui::renderWidgetFace(timeline.faces[0].view, family));
    EXPECT_EQ(describe(platform::ui::renderWidgetFace(widget.placeholder({family, false}), family)), face);
    EXPECT_EQ(describe(platform::ui::renderWidgetFace(*snapshot, family)), face);
    // A later timeline (another date) changes nothing on screen.
    EXPECT_EQ(describe(platform::ui::renderWidgetFace(timelineOf(widget, family).faces[0].view, family)), face);
  }
}

TEST(WidgetPlugin, InlineFaceIsTheSymbolThenTheNameInAStackOnAClearBackground) {
  auto plugin = loadPlugin();
  const auto& widget = *plugin->widget("WidgetAccessoryInlineBrivelTitle");
  Node tree = platform::ui::renderWidgetFace(timelineOf(widget, WidgetFamily::accessoryInline).faces[0].view,
                                             WidgetFamily::accessoryInline);
  const Node& stack = tree.children.at(0);
  EXPECT_EQ(stack.kind, platform::ui::NodeKind::hStack);
  EXPECT_EQ(stack.number(platform::ui::Attr::spacing), 5.0);
  EXPECT_EQ(stack.string(platform::ui::Attr::alignment), "center");
  ASSERT_EQ(stack.color(platform::ui::Attr::containerBackground)->name, "clear");
  ASSERT_EQ(stack.children.size(), 2u);
  EXPECT_EQ(stack.children[0].kind, platform::ui::NodeKind::image);
  EXPECT_EQ(stack.children[0].string(platform::ui::Attr::systemName), "circle");
  EXPECT_EQ(platform::ui::testing::textOf(stack.children[1]), "Brivel");
  EXPECT_TRUE(stack.children[1].textContent(platform::ui::Attr::text) == nullptr || stack.children[1].textContent(platform::ui::Attr::text)->verbatim);
}

TEST(WidgetPlugin, CircularFaceIsAClearCircleOnMaterialClippedRoundWithAnAccentableSymbol) {
  auto plugin = loadPlugin();
  const auto& widget = *plugin->widget("WidgetAccessoryCircularBrivelIcon");
  Node tree = platform::ui::renderWidgetFace(timelineOf(widget, WidgetFamily::accessoryCircular).faces[0].view,
                                             WidgetFamily::accessoryCircular);
  EXPECT_EQ(tree.string(platform::ui::Attr::widgetFamily), "accessoryCircular");
  const Node& circle = tree.children.at(0);
  EXPECT_EQ(circle.kind, platform::ui::NodeKind::shape);
  EXPECT_EQ(circle.string(platform::ui::Attr::shape), "circle");
  EXPECT_EQ(circle.color(platform::ui::Attr::foregroundStyle)->name, "clear");
  ASSERT_EQ(circle.slot("background").size(), 1u);
  EXPECT_EQ(circle.slot("background")[0].color(platform::ui::Attr::color)->name, "regularMaterial");
  EXPECT_EQ(circle.string(platform::ui::Attr::clipShape), "roundedRectangle");
  EXPECT_EQ(circle.number(platform::ui::Attr::clipShapeCornerRadius), 100.0);
  EXPECT_EQ(circle.string(platform::ui::Attr::clipShapeStyle), "continuous");
  EXPECT_EQ(circle.color(platform::ui::Attr::containerBackground)->name, "clear");
  EXPECT_EQ(circle.string(platform::ui::Attr::overlayAlignment), "center");
  const auto& overlay = circle.slot("overlay");
  ASSERT_EQ(overlay.size(), 1u);
  EXPECT_EQ(overlay[0].string(platform::ui::Attr::systemName), "circle");
  EXPECT_EQ(overlay[0].string(platform::ui::Attr::font), "largeTitle");
  EXPECT_TRUE(overlay[0].flag(platform::ui::Attr::widgetAccentable));
}

TEST(WidgetPlugin, ReadsAndWritesNothing) {
  platform::testing::TempDirectory directory("widget-home");
  const auto& home = directory.path();
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  {
    auto plugin = loadPlugin();
    for (const auto& widget : plugin->widgets()) {
      const WidgetFamily family = widget.supportedFamilies.at(0);
      platform::ui::renderWidgetFace(widget.placeholder({family, false}), family);
      widget.snapshot({family, true}, [&](platform::ui::View v) { platform::ui::renderWidgetFace(v, family); });
      platform::ui::renderWidgetFace(timelineOf(widget, family).faces[0].view, family);
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(home)) << "the plug-in wrote under " << home;
  setenv("HOME", savedHome.c_str(), 1);
  unsetenv("XDG_DATA_HOME");
}

TEST(WidgetPlugin, ExportsItsEntryPointAlone) {
  const std::string command = std::string("nm -D --defined-only '") + BRIVEL_WIDGET_PLUGIN + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> symbols;
  char line[1024];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    symbols.push_back(text.substr(text.rfind(' ') + 1));
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(symbols, std::vector<std::string>{"platform_widget_bundle"});
}

}  // namespace
}  // namespace brivel::widgethost
