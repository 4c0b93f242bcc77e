#include "web/front.h"

#include "platform/foundation/data_notices.h"
#include "platform/foundation/paths.h"
#include "platform/ui/services.h"
#include "web/escape.h"

namespace web {

std::filesystem::path defaultAssetDirectory() { return platform::FileLocations::resourceDirectory() / "web"; }

RuntimePageSource::RuntimePageSource(std::shared_ptr<platform::ui::ViewRuntime> runtime, StringTable strings,
                                     IconTable icons)
    : runtime_(std::move(runtime)), strings_(std::move(strings)), icons_(std::move(icons)), renderer_(strings_, icons_) {}

namespace {

constexpr std::string_view kDismissNotice = "dataNotice.dismiss.";

// The notices as a block above the screens, with a dismiss control for each one that may go.
void addNotices(Page& page) {
  auto notices = platform::DataNotices::shared().all();
  if (notices.empty()) return;
  std::string html = "<div class=\"data-notices\" role=\"alert\" data-key=\"data-notices\">";
  for (size_t i = 0; i < notices.size(); ++i) {
    const auto& notice = notices[i];
    html += "<div class=\"data-notice\" data-key=\"data-notice-" + escapeHtml(notice.key) + "\"><p>" +
            escapeHtml(notice.text) + "</p>";
    if (notice.dismissable) {
      std::string id = std::string(kDismissNotice) + std::to_string(i);
      html += "<button type=\"button\" class=\"data-notice-dismiss\" data-action=\"" + id + "\">OK</button>";
      ActionSpec tap;
      tap.tap = true;
      page.actions[id] = tap;
    }
    html += "</div>";
  }
  html += "</div>";
  page.html = html + page.html;
}

// What was last copied, for the page to put on the system clipboard when the count grows.
void addClipboard(Page& page, std::uint64_t count) {
  if (count == 0) return;
  page.html = "<div class=\"clipboard\" hidden data-key=\"clipboard\" data-copy=\"" + std::to_string(count) + "\">" +
              escapeHtml(platform::ui::Pasteboard::general().string().value_or("")) + "</div>" + page.html;
}

}  // namespace

Page RuntimePageSource::render() {
  const std::uint64_t generation = platform::DataNotices::shared().generation();
  // Screens read the notices too (no success toast while saves fail): build them again.
  if (generation != noticesGeneration_) runtime_->invalidate();
  const platform::ui::Node& tree = runtime_->render();
  const std::uint64_t copies = platform::ui::Pasteboard::general().changeCount();
  if (renderedVersion_ != runtime_->version() || generation != noticesGeneration_ || copies != copies_) {
    page_ = renderer_.render(tree);
    addNotices(page_);
    addClipboard(page_, copies);
    renderedVersion_ = runtime_->version();
    noticesGeneration_ = generation;
    copies_ = copies;
  }
  return page_;
}

platform::ui::DispatchStatus RuntimePageSource::perform(const ActionEvent& action) {
  if (std::string_view(action.actionId).substr(0, kDismissNotice.size()) == kDismissNotice) {
    // The index is of the notices as the page showed them.
    auto notices = platform::DataNotices::shared().all();
    size_t index = std::strtoul(action.actionId.c_str() + kDismissNotice.size(), nullptr, 10);
    if (index >= notices.size() || !notices[index].dismissable) return platform::ui::DispatchStatus::unknownAction;
    platform::DataNotices::shared().clear(notices[index].key);
    return platform::ui::DispatchStatus::handled;
  }
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

platform::Status WebFront::start() {
  if (server_) return {};
  StringTable strings;
  if (auto loaded = StringTable::load(options_.assetDirectory / "strings" / "en.json", strings); !loaded.ok()) {
    return loaded;
  }
  IconTable icons = IconTable::load(options_.assetDirectory);
  if (!icons.contains("unknown.symbol")) {
    return platform::Error::described(kWebErrorDomain, 1, "the icons are missing from " + options_.assetDirectory.string());
  }
  auto source = std::make_shared<RuntimePageSource>(runtime_, std::move(strings), std::move(icons));
  source->setCommit(commit_);
  auto server = std::make_unique<WebServer>(options_, source);
  if (auto started = server->start(); !started.ok()) return started;
  server_ = std::move(server);
  return {};
}

void WebFront::stop() {
  if (server_) server_->stop();
  server_.reset();
}

}  // namespace web
