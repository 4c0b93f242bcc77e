// ReviewHandler: decides when to ask for the in-app store review, and opens the app's
// write-review page.
//
// The review rule counts its runs under "appStartUpsCountKey" in the standard defaults. The
// first three runs only count; from the fourth on, unless "lastVersionPromptedForReviewKey"
// holds the current build version ("CFBundleVersion"), each run schedules a review request
// 2.0 seconds later on the main queue. The request goes to the first foreground-active window
// scene, if there is one; whether the prompt then shows is the review stand-in's decision (at
// most three prompts in 365 days).
//
// Threads: main thread; the request runs as a block on the main queue.
#pragma once

#include <memory>
#include <string>

#include "platform/application/application.h"

namespace brivel {

class ReviewHandler {
 public:
  static constexpr const char* kAppStartUpsCountKey = "appStartUpsCountKey";
  static constexpr const char* kLastVersionPromptedForReviewKey = "lastVersionPromptedForReviewKey";
  static constexpr double kRequestDelaySeconds = 2.0;

  // The review rule. Stops the program when the main bundle has no build version.
  static void requestReviewIfAppropriate();
  // The first connected scene that is foreground-active, or nullptr.
  static std::shared_ptr<platform::WindowScene> foregroundActiveWindowScene();
  // Opens the store's write-review page of the app.
  static void openWriteReviewLink();
  // "https://<store host>/app/id6180473925?action=write-review"
  static std::string writeReviewURL();
};

}  // namespace brivel
