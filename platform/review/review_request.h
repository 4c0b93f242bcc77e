// The in-app review request and its limit, standing in for the platform's review prompt.
//
// An app may ask for the review prompt as often as it likes; the platform decides whether to
// show it. Here the rule is the platform's published one: the prompt is shown at most three
// times in any 365 days, whatever the app asks. The dates of the prompts shown are kept in a
// binary property list in the data directory, so the limit holds across launches. Time is the
// dispatch wall clock (platform::Clock::wallNow()), so tests drive it with a VirtualClock.
//
// A shown prompt is recorded in the view layer's event log (LoggedEventType::reviewRequest);
// an ignored request leaves no trace.
//
// Threads: any; calls are serialised by a lock. The app calls them on the main thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/expected.h"

namespace platform::review {

enum class ReviewRequestOutcome { shown, ignored };

// The store of shown prompts in one file. Dates older than the window are dropped when the
// file is written. A missing file is an empty store; a file that does not decode as a store
// is replaced at the next shown prompt.
class ReviewPromptStore {
 public:
  static constexpr std::size_t kMaxPromptsPerWindow = 3;
  static constexpr std::chrono::hours kWindow{24 * 365};

  explicit ReviewPromptStore(std::filesystem::path file);

  // The dates of the prompts shown within the window before now, oldest first. A date after
  // now (the clock was set back) still counts, so setting the clock back opens no room.
  std::vector<Date> recentPromptDates() const;

  // Shows the prompt when fewer than three were shown in the last 365 days and records it;
  // otherwise ignores the request. When the record cannot be written the prompt is not shown
  // either, so the limit can never be exceeded by a failing disk.
  ReviewRequestOutcome requestReview();

  const std::filesystem::path& file() const { return file_; }

 private:
  std::vector<Date> readDates() const;
  Status writeDates(const std::vector<Date>& dates) const;

  std::filesystem::path file_;
  mutable std::mutex mutex_;
};

// The store of the process: "<data directory>/ReviewPrompts.plist", where the data directory
// is the one in force at the call.
ReviewPromptStore& sharedReviewPromptStore();

// Asks for the review prompt through the process's store.
ReviewRequestOutcome requestReview();

}  // namespace platform::review
