// The widget host: loading plug-ins that are not fit to use, the lock screen's placements and
// how often it asks for timelines.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <variant>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"
#include "platform/testing/temp_directory.h"
#include "platform/ui/testing/driver.h"
#include "widget/host/lock_screen.h"
#include "widget/host/lock_screen_model.h"
#include "widget/host/widget_plugin.h"

extern char** environ;

namespace brivel::widgethost {
namespace {

using namespace platform::ui;
using platform::ui::testing::byId;
using platform::ui::testing::byText;

using platform::testing::TempDirectory;

std::string loadError(const std::filesystem::path& path) {
  auto loaded = WidgetPlugin::load(path);
  return loaded.ok() ? std::string("(loaded)") : loaded.error().localizedDescription();
}

TEST(WidgetHostPlugin, UnusablePluginsAreToldApart) {
  TempDirectory dir;
  std::ofstream(dir.path() / "garbage.so") << "not a library";
  struct Case {
    std::filesystem::path path;
    std::string says;
  };
  for (const Case& c : {Case{dir.path() / "missing.so", "no widget plug-in at "},
                        Case{dir.path(), "no widget plug-in at "},
                        Case{dir.path() / "garbage.so", "cannot be loaded"},
                        Case{BRIVEL_TEST_PLUGIN_WITHOUT_ENTRY, "no entry point \"platform_widget_bundle\""},
                        Case{BRIVEL_TEST_PLUGIN_EMPTY, "offers no widgets"}}) {
    EXPECT_NE(loadError(c.path).find(c.says), std::string::npos) << c.path << ": " << loadError(c.path);
  }
}

// Runs the host program and answers its exit code and what it wrote to stderr.
std::pair<int, std::string> runHost(const std::vector<std::string>& arguments) {
  TempDirectory out;
  const auto errPath = out.path() / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args{BRIVEL_WIDGET_HOST};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(errPath);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text};
}

TEST(WidgetHostProgram, AnUnusablePluginEndsTheHostWithOneLine) {
  TempDirectory dir;
  for (const std::string& plugin : {(dir.path() / "missing.so").string(), std::string(BRIVEL_TEST_PLUGIN_WITHOUT_ENTRY)}) {
    auto [code, err] = runHost({"--plugin", plugin, "--data-dir", dir.path().string()});
    EXPECT_EQ(code, 1) << err;
    EXPECT_EQ(err.rfind("brivel-widget-host: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_EQ(runHost({"--port", "x"}).first, 2);
}

// A widget of one family whose provider counts its timelines and answers with `policy`.
struct CountingWidget {
  std::shared_ptr<int> timelines = std::make_shared<int>(0);

  WidgetConfiguration make(std::string kind, WidgetFamily family, TimelineReloadPolicy policy,
                           std::string text) const {
    WidgetConfiguration w;
    w.kind = std::move(kind);
    w.displayName = "Demo";
    w.description = localized("localizable_startBrivel");
    w.supportedFamilies = {family};
    w.placeholder = [text](const TimelineProviderContext&) { return Verbatim(text + " placeholder"); };
    w.snapshot = [text](const TimelineProviderContext&, std::function<void(View)> done) {
      done(Verbatim(text + " snapshot"));
    };
    w.timeline = [count = timelines, policy, text](const TimelineProviderContext&,
                                                   std::function<void(WidgetConfiguration::FaceTimeline)> done) {
      ++*count;
      done({{{platform::Clock::wallNow(), Verbatim(text + " " + std::to_string(*count))}}, policy});
    };
    return w;
  }
};

TEST(WidgetHostLockScreen, PlacesOnlyFittingWidgetsAndKeepsThemAcrossARestart) {
  TempDirectory dir;
  platform::VirtualClock clock;
  CountingWidget inlineCount, circularCount;
  std::shared_ptr<const WidgetPlugin> plugin = WidgetPlugin::inProcess(
      {inlineCount.make("inline", WidgetFamily::accessoryInline, TimelineReloadPolicy::never(), "line"),
       circularCount.make("round", WidgetFamily::accessoryCircular, TimelineReloadPolicy::never(), "mark")});
  const PlacementFile file(dir.path() / "lock-screen.json");
  {
    auto model = std::make_shared<LockScreenModel>(plugin, file);
    model->start();
    ASSERT_EQ(model->widgetsFor(kInlineSlot).size(), 1u);
    EXPECT_EQ(model->widgetsFor(kInlineSlot)[0]->kind, "inline");
    EXPECT_EQ(model->widgetsFor(2)[0]->kind, "round");
    EXPECT_FALSE(model->place(kInlineSlot, "round"));
    EXPECT_FALSE(model->place(1, "inline"));
    EXPECT_FALSE(model->place(1, "unknown"));
    EXPECT_TRUE(model->place(kInlineSlot, "inline"));
    EXPECT_TRUE(model->place(3, "round"));
    platform::MainLoop::drain();
    EXPECT_EQ(*inlineCount.timelines, 1);
    EXPECT_EQ(*circularCount.timelines, 1);
    // Under `never` nothing asks again, however long the lock screen shows.
    clock.advance(std::chrono::hours(48));
    platform::MainLoop::drain();
    EXPECT_EQ(*inlineCount.timelines, 1);
    EXPECT_EQ(*circularCount.timelines, 1);
  }
  auto model = std::make_shared<LockScreenModel>(plugin, file);
  model->start();
  platform::MainLoop::drain();
  EXPECT_EQ(model->placed(kInlineSlot), "inline");
  EXPECT_EQ(model->placed(3), "round");
  EXPECT_FALSE(model->placed(1));
  EXPECT_EQ(*inlineCount.timelines, 2) << "asked again at start";

  platform::ui::testing::ViewDriver driver([model] { return View(LockScreen{model}); });
  EXPECT_TRUE(driver.exists(byText("line 2")));
  EXPECT_TRUE(driver.exists(byText("mark 2")));
  // The gallery of an empty circular slot offers the circular widget alone, with its snapshot.
  driver.tap(byId("slot-circular-1-empty"));
  EXPECT_TRUE(driver.exists(byId("gallery-round")));
  EXPECT_FALSE(driver.exists(byId("gallery-inline")));
  EXPECT_TRUE(driver.exists(byText("mark snapshot")));
  driver.tap(byId("gallery-round"));
  EXPECT_TRUE(driver.exists(byId("slot-circular-1-round")));
  // Removing empties the slot and the file.
  driver.tap(byId("slot-inline-inline"));
  driver.tap(byText("Remove Widget"));
  EXPECT_TRUE(driver.exists(byId("slot-inline-empty")));
  EXPECT_FALSE(file.load()[kInlineSlot]);
  EXPECT_EQ(file.load()[1], "round");
}

TEST(WidgetHostLockScreen, TimelinesAreAskedForAgainOnlyAsTheirPolicySays) {
  TempDirectory dir;
  platform::VirtualClock clock;
  CountingWidget atEnd, after;
  const auto in90s = platform::Clock::wallNow() + std::chrono::seconds(90);
  std::shared_ptr<const WidgetPlugin> plugin = WidgetPlugin::inProcess(
      {atEnd.make("ends", WidgetFamily::accessoryInline, TimelineReloadPolicy::atEnd(), "a"),
       after.make("after", WidgetFamily::accessoryCircular, TimelineReloadPolicy::after(in90s), "b")});
  auto model = std::make_shared<LockScreenModel>(plugin, PlacementFile(dir.path() / "p.json"));
  model->start();
  model->place(kInlineSlot, "ends");
  model->place(1, "after");
  platform::MainLoop::drain();
  EXPECT_EQ(*atEnd.timelines, 1);
  EXPECT_EQ(*after.timelines, 1);
  clock.advance(std::chrono::seconds(2));  // the single entry's date has passed: at its end
  platform::MainLoop::drain();
  EXPECT_EQ(*atEnd.timelines, 2);
  EXPECT_EQ(*after.timelines, 1);
  clock.advance(std::chrono::seconds(90));
  platform::MainLoop::drain();
  EXPECT_EQ(*after.timelines, 2);
}

TEST(WidgetHostLockScreen, ADamagedPlacementFileStartsEmptyAndIsReplacedByTheNextSave) {
  TempDirectory dir;
  const PlacementFile file(dir.path() / "lock-screen.json");
  std::ofstream(file.path()) << "{\"inline\": [1, 2";
  std::string problem;
  EXPECT_FALSE(file.load(&problem)[kInlineSlot]);
  EXPECT_NE(problem.find("not readable"), std::string::npos);
  Placements placements;
  placements[2] = "round";
  ASSERT_TRUE(file.save(placements).ok());
  EXPECT_EQ(file.load()[2], "round");
}

}  // namespace
}  // namespace brivel::widgethost
