// The widget host's start, beside rendering the same two faces in-process in the same run.
//
//   host_start_to_first_page  the host program started with both widgets placed, until its
//                             page has answered "/" (process start, plug-in load, bundle,
//                             timelines, faces, render, HTML, bytes on 127.0.0.1)
//   lock_screen_in_process    the same inside this process: load (the library is mapped once
//                             and then found again), bundle, placements, timelines, render, HTML
//   faces_in_process          the baseline: both faces built from the widget sources compiled
//                             into this program, rendered and written as HTML, no loading
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <variant>

#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/ui/runtime.h"
#include "platform/ui/widget_kit.h"
#include "web/html_renderer.h"
#include "web/icons.h"
#include "web/strings.h"
#include "widget/accessory_widgets.h"
#include "widget/host/lock_screen.h"
#include "widget/host/lock_screen_model.h"
#include "widget/host/widget_plugin.h"

extern char** environ;

namespace {

using namespace brivel::widgethost;

struct Tables {
  Tables() {
    if (auto loaded = web::StringTable::load(std::string(BRIVEL_WEB_SOURCE_ASSETS) + "/strings/en.json", strings); !loaded.ok()) {
      const std::string error = loaded.error().localizedDescription();
      std::fprintf(stderr, "%s\n", error.c_str());
    }
    icons = web::IconTable::load(BRIVEL_WEB_SOURCE_ASSETS);
  }
  web::StringTable strings;
  web::IconTable icons;
};
Tables& tables() {
  static Tables t;
  return t;
}

// A data directory whose lock screen holds both widgets.
std::filesystem::path placedDataDirectory() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("widget-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    Placements placements;
    placements[kInlineSlot] = "WidgetAccessoryInlineBrivelTitle";
    placements[1] = "WidgetAccessoryCircularBrivelIcon";
    (void)PlacementFile(d / "lock-screen.json").save(placements);
    return d;
  }();
  return dir;
}

void host_start_to_first_page(benchmark::State& state) {
  const std::string dataDir = placedDataDirectory().string();
  std::regex address(R"(^http://127\.0\.0\.1:(\d+)(/\S*)$)");
  for (auto _ : state) {
    int out[2];
    if (pipe(out) != 0) {
      state.SkipWithError("pipe");
      break;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args{BRIVEL_WIDGET_HOST, "--data-dir", dataDir, "--port", "0"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
      close(out[0]);
      state.SkipWithError("the host did not start");
      break;
    }
    FILE* stream = fdopen(out[0], "r");
    char line[512] = {0};
    std::smatch match;
    std::string url;
    while (fgets(line, sizeof line, stream)) {
      url = line;
      while (!url.empty() && (url.back() == '\n' || url.back() == '\r')) url.pop_back();
      if (std::regex_match(url, match, address)) break;
    }
    bool ok = false;
    if (!match.empty()) {
      // The printed address hands the browser its cookie, then the page.
      httplib::Client client("127.0.0.1", std::stoi(match[1].str()));
      auto opened = client.Get(match[2].str());
      const std::string cookie = opened ? opened->get_header_value("Set-Cookie") : std::string();
      auto res = client.Get("/", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
      ok = res && res->status == 200 && res->body.find("Brivel") != std::string::npos;
    }
    const auto answered = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    fclose(stream);
    if (!ok) {
      state.SkipWithError("the host's page did not answer with the widgets");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(answered - started).count());
  }
}
BENCHMARK(host_start_to_first_page)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void lock_screen_in_process(benchmark::State& state) {
  web::HtmlRenderer renderer(tables().strings, tables().icons);
  for (auto _ : state) {
    auto loaded = WidgetPlugin::load(BRIVEL_WIDGET_PLUGIN);
    if (!loaded.ok()) {
      state.SkipWithError("the plug-in did not load");
      break;
    }
    std::shared_ptr<const WidgetPlugin> plugin = std::move(*loaded);
    auto model = std::make_shared<LockScreenModel>(plugin, PlacementFile(placedDataDirectory() / "lock-screen.json"));
    model->start();
    platform::MainLoop::drain();
    platform::ui::ViewRuntime runtime([model] { return platform::ui::View(LockScreen{model}); },
                                      [](std::function<void()> work) { work(); });
    web::Page page = renderer.render(runtime.render());
    benchmark::DoNotOptimize(page);
  }
}
BENCHMARK(lock_screen_in_process)->Unit(benchmark::kMicrosecond);

void faces_in_process(benchmark::State& state) {
  web::HtmlRenderer renderer(tables().strings, tables().icons);
  for (auto _ : state) {
    auto inlineWidget = brivel::widgets::WidgetAccessoryInlineBrivelTitle{}.body();
    auto circularWidget = brivel::widgets::WidgetAccessoryCircularBrivelIcon{}.body();
    for (const auto* widget : {&inlineWidget, &circularWidget}) {
      const auto family = widget->supportedFamilies.at(0);
      widget->timeline({family, false}, [&](platform::ui::WidgetConfiguration::FaceTimeline timeline) {
        web::Page page = renderer.render(platform::ui::renderWidgetFace(timeline.faces.at(0).view, family));
        benchmark::DoNotOptimize(page);
      });
    }
  }
}
BENCHMARK(faces_in_process)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("The widget host beside rendering the same two faces in-process (ratio = ours / baseline):",
                       {{"host_start_to_first_page/iterations:20/manual_time", "faces_in_process"},
                        {"lock_screen_in_process", "faces_in_process"}});
  std::filesystem::remove_all(placedDataDirectory());
  benchmark::Shutdown();
  return 0;
}
