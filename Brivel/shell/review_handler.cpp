#include "Brivel/shell/review_handler.h"

#include <cstdint>

#include "Brivel/shell/support_links.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/defaults.h"
#include "platform/review/review_request.h"
#include "platform/ui/environment.h"

namespace brivel {

void ReviewHandler::requestReviewIfAppropriate() {
  auto defaults = platform::UserDefaults::standard();
  const std::int64_t count = defaults->integer(kAppStartUpsCountKey).value_or(0) + 1;
  // A failed write keeps the value readable in memory; the suite's next write retries the file.
  (void)defaults->set(kAppStartUpsCountKey, platform::PlistValue(count));

  auto version = platform::Bundle::main()->objectForInfoDictionaryKey("CFBundleVersion");
  if (!version || !version->asString()) {
    platform::ui::fatalError("Expected to find a bundle version in the info dictionary");
  }
  const std::string currentVersion = *version->asString();
  const auto lastVersionPrompted = defaults->string(kLastVersionPromptedForReviewKey);

  if (count < 4) return;
  if (lastVersionPrompted && *lastVersionPrompted == currentVersion) return;

  platform::DispatchQueue::main()->asyncAfter(platform::secondsToDuration(kRequestDelaySeconds), [] {
    if (foregroundActiveWindowScene()) platform::review::requestReview();
  });
}

std::shared_ptr<platform::WindowScene> ReviewHandler::foregroundActiveWindowScene() {
  for (const auto& scene : platform::Application::shared().connectedScenes()) {
    if (scene->activationState() == platform::SceneActivationState::foregroundActive) return scene;
  }
  return nullptr;
}

std::string ReviewHandler::writeReviewURL() {
  return std::string("https://") + kStoreHost + kStoreAppPath + "?action=write-review";
}

void ReviewHandler::openWriteReviewLink() { platform::Application::shared().open(writeReviewURL()); }

}  // namespace brivel
