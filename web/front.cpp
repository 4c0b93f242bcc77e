#include "web/front.h"

#include "platform/foundation/paths.h"

namespace web {

std::filesystem::path defaultAssetDirectory() { return platform::FileLocations::resourceDirectory() / "web"; }

RuntimePageSource::RuntimePageSource(std::shared_ptr<platform::ui::ViewRuntime> runtime, StringTable strings,
                                     IconTable icons)
    : runtime_(std::move(runtime)), strings_(std::move(strings)), icons_(std::move(icons)), renderer_(strings_, icons_) {}

Page RuntimePageSource::render() {
  const platform::ui::Node& tree = runtime_->render();
  if (renderedVersion_ != runtime_->version()) {
    page_ = renderer_.render(tree);
    renderedVersion_ = runtime_->version();
  }
  return page_;
}

platform::ui::DispatchStatus RuntimePageSource::perform(const ActionEvent& action) {
  return runtime_->dispatch(action);
}

std::optional<std::string> RuntimePageSource::rowMenu(const std::string& key) {
  return renderer_.renderRowMenu(runtime_->tree(), key);
}

void RuntimePageSource::setScenePhase(platform::ui::ScenePhase phase) { runtime_->setScenePhase(phase); }

WebFront::WebFront(std::shared_ptr<platform::ui::ViewRuntime> runtime, WebServerOptions options)
    : runtime_(std::move(runtime)), options_(std::move(options)) {
  if (options_.assetDirectory.empty()) options_.assetDirectory = defaultAssetDirectory();
}

WebFront::~WebFront() { stop(); }

std::optional<std::string> WebFront::start() {
  if (server_) return std::nullopt;
  StringTable strings;
  if (auto error = StringTable::load(options_.assetDirectory / "strings" / "en.json", strings)) return error;
  IconTable icons = IconTable::load(options_.assetDirectory);
  if (!icons.contains("unknown.symbol")) return "the icons are missing from " + options_.assetDirectory.string();
  auto source = std::make_shared<RuntimePageSource>(runtime_, std::move(strings), std::move(icons));
  auto server = std::make_unique<WebServer>(options_, source);
  if (auto error = server->start()) return error;
  server_ = std::move(server);
  return std::nullopt;
}

void WebFront::stop() {
  if (server_) server_->stop();
  server_.reset();
}

}  // namespace web
