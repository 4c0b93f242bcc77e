// The web front's cost per render and per posted action, beside serialising the same view tree
// to JSON with nlohmann-json in the same run.
//
//   render_html     the view tree of a demo screen (a form and 50 rows with actions) to the
//                   page's HTML and action table
//   post_action     one tap posted over HTTP on 127.0.0.1, timed inside the server (its
//                   Server-Timing "total": checks, the hop to the main thread, the action, the
//                   new render and its JSON answer)
//   page_patch      the page's HTML with one row changed, as the patch the page gets
//   tree_to_json    the baseline: the same tree as a JSON document
// After the runs, each figure is printed as a ratio to the baseline.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdio>
#include <future>
#include <optional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "bench/common/loopback_client.h"
#include "bench/common/node_json.h"
#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/queue.h"
#include "web/front.h"
#include "web/testing/demo_screen.h"

namespace {

using nlohmann::json;
using platform::ui::Node;

constexpr int kBills = 50;

struct Fixture {
  Fixture()
      : runtime(std::make_shared<platform::ui::ViewRuntime>(
            [] { return platform::ui::View(web::testing::DemoScreen{kBills}); })) {
    if (auto loaded = web::StringTable::load(std::string(BRIVEL_WEB_SOURCE_ASSETS) + "/strings/en.json", strings); !loaded.ok()) {
      const std::string error = loaded.error().localizedDescription();
      std::fprintf(stderr, "%s\n", error.c_str());
    }
    icons = web::IconTable::load(BRIVEL_WEB_SOURCE_ASSETS);
    runtime->render();
  }
  std::shared_ptr<platform::ui::ViewRuntime> runtime;
  web::StringTable strings;
  web::IconTable icons;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void tree_to_json(benchmark::State& state) {
  const Node& tree = fixture().runtime->render();
  for (auto _ : state) {
    std::string text = brivel::bench::nodeToJson(tree).dump();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(tree_to_json);

void render_html(benchmark::State& state) {
  auto& f = fixture();
  web::HtmlRenderer renderer(f.strings, f.icons);
  const Node& tree = f.runtime->render();
  for (auto _ : state) {
    web::Page page = renderer.render(tree);
    benchmark::DoNotOptimize(page);
  }
}
BENCHMARK(render_html);

// The patch the page gets when one row of the 50 changed its text, as the server makes it: the
// new render parsed (the one before is kept parsed) and the ops written as JSON text.
void page_patch(benchmark::State& state) {
  auto& f = fixture();
  web::HtmlRenderer renderer(f.strings, f.icons);
  const std::string from = renderer.render(f.runtime->render()).html;
  std::string to = from;
  const std::size_t at = to.find(">Bill 7<");
  if (at == std::string::npos) {
    state.SkipWithError("no row \"Bill 7\" on the page");
    return;
  }
  to.replace(at, 8, ">Rent 7<");
  const web::ParsedHtml before(from);
  for (auto _ : state) {
    const web::ParsedHtml after(to);
    std::string patch;
    web::appendPagePatch(patch, before, after);
    benchmark::DoNotOptimize(patch);
  }
}
BENCHMARK(page_patch);

void post_action(benchmark::State& state) {
  auto& f = fixture();
  web::WebServerOptions options;
  options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
  web::WebFront front(f.runtime, options);
  if (auto started = front.start(); !started.ok()) {
    const std::string error = started.error().localizedDescription();
    state.SkipWithError(error.c_str());
    return;
  }
  platform::MainLoop::drain();
  brivel::bench::LoopbackClient poster(front.server()->port());
  httplib::Headers headers{{"X-Brivel-Token", front.server()->token()}};

  // The counter button's id, from the page as a browser would read it.
  auto fetch = std::async(std::launch::async, [&] {
    httplib::Client c("127.0.0.1", front.server()->port());
    return c.Get("/render", headers);
  });
  platform::MainLoop::runUntil([&] { return fetch.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                               std::chrono::seconds(10));
  auto page = fetch.get();
  std::smatch match;
  std::string html = page ? json::parse(page->body)["html"].get<std::string>() : std::string();
  if (!std::regex_search(html, match, std::regex("data-id=\"count\" type=\"button\" data-action=\"([^\"]+)\""))) {
    state.SkipWithError("no counter button on the page");
    return;
  }
  std::string body = json{{"id", match[1].str()}, {"event", "tap"}}.dump();

  for (auto _ : state) {
    poster.start([&](httplib::Client& c) { return c.Post("/action", headers, body, "application/json"); });
    platform::MainLoop::runUntil([&] { return poster.done(); }, std::chrono::seconds(10));
    const std::optional<double> seconds = brivel::bench::serverSeconds(poster.result());
    if (!seconds) {
      state.SkipWithError("the post failed");
      break;
    }
    state.SetIterationTime(*seconds);
  }
  front.stop();
}
BENCHMARK(post_action)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("The web front beside the same tree as JSON (ratio = ours / baseline):",
                       {{"render_html", "tree_to_json"}, {"page_patch", "tree_to_json"}, {"post_action/manual_time", "tree_to_json"}});
  benchmark::Shutdown();
  return 0;
}
