#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/ui/testing/driver.h"
#include "platform/ui/widget_kit.h"

namespace platform::ui {
namespace {

struct DemoEntry {
  std::chrono::system_clock::time_point date;
};

class DemoProvider final : public TimelineProvider<DemoEntry> {
 public:
  DemoEntry placeholder(const TimelineProviderContext&) const override { return {std::chrono::system_clock::now()}; }
  void getSnapshot(const TimelineProviderContext&, std::function<void(DemoEntry)> done) const override {
    done({std::chrono::system_clock::now()});
  }
  void getTimeline(const TimelineProviderContext&, std::function<void(Timeline<DemoEntry>)> done) const override {
    done({{{std::chrono::system_clock::now()}}, TimelineReloadPolicy::never()});
  }
};

class DemoBundle final : public WidgetBundle {
 public:
  std::vector<WidgetConfiguration> body() const override {
    auto face = [](const DemoEntry&) {
      return containerBackground(HStack({SystemImage("circle"), widgetAccentable(Verbatim("Brivel"))}, 5),
                                 Color::system("clear"));
    };
    return {StaticConfiguration<DemoEntry>("DemoInline", std::make_shared<DemoProvider>(), face)
                .configurationDisplayName("Brivel")
                .withDescription(localized("localizable_startBrivel"))
                .withSupportedFamilies({WidgetFamily::accessoryInline})};
  }
};

}  // namespace
}  // namespace platform::ui

BRIVEL_WIDGET_BUNDLE_MAIN(platform::ui::DemoBundle)

namespace platform::ui {
namespace {

TEST(WidgetKit, ABundleServesItsTimelineAsRenderedFaces) {
  const WidgetBundle* bundle = platform_widget_bundle();
  auto widgets = bundle->body();
  ASSERT_EQ(widgets.size(), 1u);
  const WidgetConfiguration& widget = widgets[0];
  EXPECT_TRUE(widget.supports(WidgetFamily::accessoryInline));
  EXPECT_FALSE(widget.supports(WidgetFamily::accessoryCircular));
  EXPECT_EQ(widget.description.key, "localizable_startBrivel");

  std::optional<WidgetConfiguration::FaceTimeline> timeline;
  widget.timeline({WidgetFamily::accessoryInline, false}, [&](WidgetConfiguration::FaceTimeline t) { timeline = t; });
  ASSERT_TRUE(timeline);
  ASSERT_EQ(timeline->faces.size(), 1u);
  EXPECT_EQ(timeline->policy.kind, TimelineReloadPolicy::Kind::never);

  Node face = renderWidgetFace(timeline->faces[0].view, WidgetFamily::accessoryInline);
  EXPECT_EQ(face.string(Attr::widgetFamily), "accessoryInline");
  const Node& stack = face.children.at(0);
  EXPECT_EQ(stack.color(Attr::containerBackground)->name, "clear");
  EXPECT_EQ(testing::textsIn(stack), std::vector<std::string>{"Brivel"});
  EXPECT_TRUE(stack.children.at(1).flag(Attr::widgetAccentable));

  // Faces may be rendered on the host's own thread.
  std::thread([&] {
    View face = Closure("face", [](Context& ctx) {
      auto shown = ctx.state<bool>("shown", false);
      return Verbatim(shown.get() ? "shown" : "new").onAppear([shown] { shown.set(true); });
    });
    Node offMain = renderWidgetFace(face, WidgetFamily::accessoryCircular);
    EXPECT_EQ(testing::textsIn(offMain), std::vector<std::string>{"shown"});
  }).join();

  std::optional<Node> placeholder;
  placeholder = renderWidgetFace(widget.placeholder({WidgetFamily::accessoryInline, true}), WidgetFamily::accessoryInline);
  EXPECT_EQ(testing::textsIn(placeholder->children.at(0)), std::vector<std::string>{"Brivel"});
}

}  // namespace
}  // namespace platform::ui
