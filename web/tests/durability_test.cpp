// The web front over a real store: an action is answered only once its change is on disk, and a
// save that fails is answered as failed, shown on the page, and written once the fault clears.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <nlohmann/json.hpp>

#include "platform/data/save_reporter.h"
#include "platform/data/tests/test_schema.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"
#include "platform/testing/temp_directory.h"
#include "web/server.h"

namespace web {
namespace {

using nlohmann::json;
using platform::MainLoop;
using platform::testing::Library;
using namespace std::chrono_literals;

// A page with one "add" button that adds a book to the one library of the store.
class LibrarySource : public PageSource {
 public:
  explicit LibrarySource(std::shared_ptr<platform::ModelContainer> container)
      : container_(std::move(container)), saver_(std::make_shared<platform::SaveReporter>(container_, 100ms)) {
    auto& context = container_->mainContext();
    auto libraries = context.fetch<Library>();
    if (libraries.empty()) {
      library_ = std::make_shared<Library>();
      context.insert(library_);
      (void)context.save();
    } else {
      library_ = libraries.front();
    }
  }

  Page render() override {
    Page page;
    page.html = "<p>books " + std::to_string(library_->books().value_or(std::vector<std::shared_ptr<platform::testing::Book>>{}).size()) + "</p>";
    for (const auto& notice : platform::DataNotices::shared().all()) page.html += "<p class=\"data-notice\">" + notice.text + "</p>";
    ActionSpec tap;
    tap.tap = true;
    page.actions["add"] = tap;
    return page;
  }
  platform::ui::DispatchStatus perform(const ActionEvent&) override {
    platform::testing::makeBook("B")->setLibrary(library_);
    return platform::ui::DispatchStatus::handled;
  }
  platform::Status commit() override { return saver_->saveNow(); }

 private:
  std::shared_ptr<platform::ModelContainer> container_;
  std::shared_ptr<platform::SaveReporter> saver_;
  std::shared_ptr<Library> library_;
};

std::shared_ptr<platform::ModelContainer> openStore(const std::filesystem::path& path, bool autosave) {
  platform::ModelConfiguration configuration;
  configuration.url = path;
  configuration.autosaveEnabled = autosave;
  auto opened = platform::ModelContainer::open(platform::testing::librarySchema(), configuration);
  EXPECT_TRUE(opened.ok()) << opened.error().localizedDescription();
  return opened.ok() ? *opened : nullptr;
}

size_t storedBooks(const std::filesystem::path& path) {
  auto container = openStore(path, false);
  if (!container) return 0;
  auto libraries = container->mainContext().fetch<Library>();
  return libraries.empty() ? 0 : libraries.front()->books().value_or(std::vector<std::shared_ptr<platform::testing::Book>>{}).size();
}

// The child: serves the store with automatic saving on, as the app does, and reports its port
// and token on `report`.
[[noreturn]] void serve(const std::filesystem::path& path, int report) {
  auto container = openStore(path, true);
  if (!container) _exit(2);
  WebServerOptions options;
  options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
  WebServer server(options, std::make_shared<LibrarySource>(container));
  if (!server.start().ok()) _exit(3);
  std::string line = std::to_string(server.port()) + " " + server.token() + "\n";
  if (write(report, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(4);
  close(report);
  MainLoop::run();
  _exit(0);
}

TEST(DurabilityTest, AnActionKilledTheMomentItIsAnsweredIsNeverLost) {
  platform::testing::TempDirectory dir;
  const auto path = dir.path() / "Library.store";
  constexpr int kRounds = 50;
  for (int round = 1; round <= kRounds; ++round) {
    SCOPED_TRACE(round);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      serve(path, fds[1]);
    }
    close(fds[1]);
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    close(fds[0]);
    const auto space = line.find(' ');
    ASSERT_NE(space, std::string::npos) << "the child reported no port";

    httplib::Client client("127.0.0.1", std::stoi(line.substr(0, space)));
    client.set_read_timeout(10, 0);
    auto res = client.Post("/action", {{"X-Brivel-Token", line.substr(space + 1)}}, R"({"id":"add"})", "application/json");
    // Killed the moment the answer is in: nothing after it may be needed for the change to last.
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    ASSERT_EQ(storedBooks(path), static_cast<size_t>(round));
  }
}

TEST(DurabilityTest, AFailedSaveIsAnsweredAsAFailureShownAndWrittenOnceTheFaultClears) {
  platform::testing::TempDirectory dir;
  const auto path = dir.path() / "Library.store";
  auto container = openStore(path, true);
  ASSERT_TRUE(container);
  WebServerOptions options;
  options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
  WebServer server(options, std::make_shared<LibrarySource>(container));
  ASSERT_TRUE(server.start().ok());
  MainLoop::drain();

  auto call = [&](auto&& f) {
    auto result = std::async(std::launch::async, f);
    MainLoop::runUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 20s);
    return result.get();
  };
  auto post = [&] {
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(10, 0);
    return client.Post("/action", {{"X-Brivel-Token", server.token()}}, R"({"id":"add"})", "application/json");
  };

  bool failing = true;
  container->mainContext().setSaveFaultInjection([&](platform::SaveStep step) {
    return failing && step == platform::SaveStep::Commit;
  });
  auto failed = call(post);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 500);
  json body = json::parse(failed->body);
  EXPECT_NE(body["error"].get<std::string>().find("not saved"), std::string::npos) << body;
  // The page keeps saying so, and the change is kept in memory but not on disk.
  EXPECT_NE(body["render"]["html"].get<std::string>().find("books 1"), std::string::npos);
  EXPECT_NE(body["render"]["html"].get<std::string>().find("data-notice"), std::string::npos);
  EXPECT_EQ(storedBooks(path), 0u);

  // Later retries keep failing while the fault lasts, and the notice stays.
  MainLoop::runUntil([] { return false; }, 300ms);
  EXPECT_TRUE(platform::DataNotices::shared().has(platform::kSaveFailureNoticeKey));

  // Once the fault clears, the background retry writes the change and the notice goes.
  failing = false;
  EXPECT_TRUE(MainLoop::runUntil([] { return !platform::DataNotices::shared().has(platform::kSaveFailureNoticeKey); }, 5s));
  EXPECT_EQ(storedBooks(path), 1u);
  auto saved = call(post);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->status, 200);
  EXPECT_EQ(json::parse(saved->body)["html"].get<std::string>().find("data-notice"), std::string::npos);
  EXPECT_EQ(storedBooks(path), 2u);
  server.stop();
}

}  // namespace
}  // namespace web
