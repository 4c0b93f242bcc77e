// Widgets: small views a widget host shows outside the app, fed by a timeline provider.
//
// A widget plug-in declares a WidgetBundle whose body lists WidgetConfigurations. Each
// configuration has a kind, a display name, a description, the families it supports and a
// provider that answers placeholders, snapshots and timelines of entries; the configuration
// turns each entry into a view. A host loads the bundle (BRIVEL_WIDGET_BUNDLE_MAIN below gives
// the plug-in's one exported entry point), asks for a timeline and renders each face with
// renderWidgetFace() into a Node tree like any screen.
//
// Threads: a provider may be called on any thread and calls its completion before it
// returns or later on any thread; faces are rendered on the calling thread with a runtime of
// their own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/node.h"
#include "platform/ui/view.h"

namespace platform::ui {

enum class WidgetFamily { accessoryInline, accessoryCircular, accessoryRectangular, systemSmall };
std::string_view familyName(WidgetFamily family);

// When the host should ask for the next timeline.
struct TimelineReloadPolicy {
  enum class Kind { never, atEnd, after };
  Kind kind = Kind::never;
  std::optional<std::chrono::system_clock::time_point> date;  // for `after`

  static TimelineReloadPolicy never() { return {Kind::never, std::nullopt}; }
  static TimelineReloadPolicy atEnd() { return {Kind::atEnd, std::nullopt}; }
  static TimelineReloadPolicy after(std::chrono::system_clock::time_point when) { return {Kind::after, when}; }
};

template <class Entry>
struct Timeline {
  std::vector<Entry> entries;
  TimelineReloadPolicy policy;
};

// What the host tells a provider about the place it fills.
struct TimelineProviderContext {
  WidgetFamily family = WidgetFamily::accessoryInline;
  bool isPreview = false;
};

template <class Entry>
class TimelineProvider {
 public:
  virtual ~TimelineProvider() = default;
  virtual Entry placeholder(const TimelineProviderContext& context) const = 0;
  virtual void getSnapshot(const TimelineProviderContext& context, std::function<void(Entry)> completion) const = 0;
  virtual void getTimeline(const TimelineProviderContext& context,
                           std::function<void(Timeline<Entry>)> completion) const = 0;
};

// One widget: its description and, type-erased, its provider with the view of each entry.
struct WidgetConfiguration {
  // A face of the widget: when it applies and what it shows.
  struct Face {
    std::chrono::system_clock::time_point date;
    View view;
  };
  struct FaceTimeline {
    std::vector<Face> faces;
    TimelineReloadPolicy policy;
  };

  std::string kind;
  std::string displayName;
  TextContent description;
  std::vector<WidgetFamily> supportedFamilies;

  std::function<View(const TimelineProviderContext&)> placeholder;
  std::function<void(const TimelineProviderContext&, std::function<void(View)>)> snapshot;
  std::function<void(const TimelineProviderContext&, std::function<void(FaceTimeline)>)> timeline;

  WidgetConfiguration configurationDisplayName(std::string name) const {
    WidgetConfiguration c = *this;
    c.displayName = std::move(name);
    return c;
  }
  WidgetConfiguration withDescription(TextContent text) const {
    WidgetConfiguration c = *this;
    c.description = std::move(text);
    return c;
  }
  WidgetConfiguration withSupportedFamilies(std::vector<WidgetFamily> families) const {
    WidgetConfiguration c = *this;
    c.supportedFamilies = std::move(families);
    return c;
  }
  bool supports(WidgetFamily family) const;
};

// A configuration whose entries have a `date` member (a time_point) and come from `provider`.
template <class Entry>
WidgetConfiguration StaticConfiguration(std::string kind, std::shared_ptr<const TimelineProvider<Entry>> provider,
                                        std::function<View(const Entry&)> content) {
  WidgetConfiguration c;
  c.kind = std::move(kind);
  c.placeholder = [provider, content](const TimelineProviderContext& context) {
    return content(provider->placeholder(context));
  };
  c.snapshot = [provider, content](const TimelineProviderContext& context, std::function<void(View)> done) {
    provider->getSnapshot(context, [content, done](Entry entry) { done(content(entry)); });
  };
  c.timeline = [provider, content](const TimelineProviderContext& context,
                                   std::function<void(WidgetConfiguration::FaceTimeline)> done) {
    provider->getTimeline(context, [content, done](Timeline<Entry> t) {
      WidgetConfiguration::FaceTimeline faces;
      faces.policy = t.policy;
      for (const Entry& e : t.entries) faces.faces.push_back({e.date, content(e)});
      done(std::move(faces));
    });
  };
  return c;
}

// The widgets of one plug-in, in the order the host offers them.
class WidgetBundle {
 public:
  virtual ~WidgetBundle() = default;
  virtual std::vector<WidgetConfiguration> body() const = 0;
};

// Renders one face (a placeholder, snapshot or timeline view) into a node tree: the window's
// first child is the face. Attributes "containerBackground" and "widgetAccentable" come from
// the modifiers below.
Node renderWidgetFace(const View& face, WidgetFamily family);

// The background a widget's container draws behind the face.
View containerBackground(const View& face, Color color);
// Marks a part of the face that the host tints with its accent colour.
View widgetAccentable(const View& content, bool accentable = true);

}  // namespace platform::ui

// The entry point a widget plug-in exports; the host finds it by the name
// "platform_widget_bundle" (dlsym) and owns nothing it returns (a static bundle).
#define BRIVEL_WIDGET_BUNDLE_MAIN(BundleType)                                          \
  extern "C" const ::platform::ui::WidgetBundle* platform_widget_bundle() {           \
    static const BundleType bundle;                                                    \
    return &bundle;                                                                    \
  }
