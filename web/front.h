// The web front of the app: the screens of a ViewRuntime served to a browser on this machine.
//
// RuntimePageSource renders the runtime's tree to HTML (keeping the last Page while the tree has
// not changed) and hands checked actions to the runtime. Above the screens it shows what the
// user must know about their data (platform::DataNotices: a save that failed, a damaged file
// set aside), each until it no longer holds or, when it may be, until the user dismisses it. WebFront puts it together with the
// string table, the icon table and the server; the app creates one at start-up, prints url() and
// runs the main loop.
//
// Threads: construct, start and stop on the main thread; the server's threads only post to the
// main queue.
//
// Example:
//   auto runtime = std::make_shared<platform::ui::ViewRuntime>([] { return View(RootScreen{}); });
//   web::WebFront front(runtime, {.port = 8080});
//   if (auto started = front.start(); !started.ok()) { std::cerr << started.error().localizedDescription() << "\n"; return 1; }
//   std::cout << front.url() << "\n";
//   platform::MainLoop::run();
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/runtime.h"
#include "web/html_renderer.h"
#include "web/icons.h"
#include "web/page.h"
#include "web/server.h"
#include "web/strings.h"

namespace web {

class RuntimePageSource : public PageSource {
 public:
  RuntimePageSource(std::shared_ptr<platform::ui::ViewRuntime> runtime, StringTable strings, IconTable icons);

  Page render() override;
  platform::ui::DispatchStatus perform(const ActionEvent& action) override;
  void setScenePhase(platform::ui::ScenePhase phase) override;
  platform::Status commit() override { return commit_ ? commit_() : platform::Status(); }

  // What commits the changes of an action (the app saves its store).
  void setCommit(std::function<platform::Status()> commit) { commit_ = std::move(commit); }
  std::optional<std::string> rowMenu(const std::string& key) override;

 private:
  std::shared_ptr<platform::ui::ViewRuntime> runtime_;
  StringTable strings_;
  IconTable icons_;
  HtmlRenderer renderer_;
  std::function<platform::Status()> commit_;
  std::optional<std::uint64_t> renderedVersion_;
  std::uint64_t noticesGeneration_ = 0;
  std::uint64_t copies_ = 0;
  Page page_;
};

class WebFront {
 public:
  WebFront(std::shared_ptr<platform::ui::ViewRuntime> runtime, WebServerOptions options = {});
  ~WebFront();

  // Every posted action is committed through `commit` before it is answered (see
  // PageSource::commit). Call before start().
  void setCommit(std::function<platform::Status()> commit) { commit_ = std::move(commit); }

  // Reads the string table and the icons from the asset folder and starts the server. Fails
  // (kWebErrorDomain) when the assets are missing or the port cannot be bound.
  platform::Status start();
  void stop();

  std::string url() const { return server_ ? server_->url() : std::string(); }
  // The address to print: url() with the launch's secret.
  std::string launchUrl() const { return server_ ? server_->launchUrl() : std::string(); }
  WebServer* server() { return server_.get(); }

 private:
  std::shared_ptr<platform::ui::ViewRuntime> runtime_;
  WebServerOptions options_;
  std::function<platform::Status()> commit_;
  std::unique_ptr<WebServer> server_;
};

// The asset folder the server uses when its options name none: "web" in the resource directory.
std::filesystem::path defaultAssetDirectory();

}  // namespace web
