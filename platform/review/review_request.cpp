#include "platform/review/review_request.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/dispatch/clock.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/ui/services.h"

namespace platform::review {

namespace {

constexpr const char* kPromptDatesKey = "promptDates";

double windowSeconds() {
  return std::chrono::duration<double>(ReviewPromptStore::kWindow).count();
}

}  // namespace

ReviewPromptStore::ReviewPromptStore(std::filesystem::path file) : file_(std::move(file)) {}

std::vector<Date> ReviewPromptStore::readDates() const {
  std::vector<Date> dates;
  auto bytes = readFileContents(file_);
  if (!bytes) return dates;
  auto root = decodePlist(*bytes);
  const PlistValue* list = root ? root->find(kPromptDatesKey) : nullptr;
  if (!list || !list->asArray()) return dates;
  for (const auto& item : *list->asArray()) {
    if (const Date* date = item.asDate()) dates.push_back(*date);
  }
  std::sort(dates.begin(), dates.end(), [](const Date& a, const Date& b) {
    return a.timeIntervalSinceReferenceDate < b.timeIntervalSinceReferenceDate;
  });
  return dates;
}

Status ReviewPromptStore::writeDates(const std::vector<Date>& dates) const {
  PlistValue::Array items;
  for (const Date& date : dates) items.emplace_back(date);
  PlistValue::Dictionary root;
  root[kPromptDatesKey] = PlistValue(std::move(items));
  auto bytes = encodePlist(PlistValue(std::move(root)), PlistFormat::Binary);
  if (!bytes) return Error{"ReviewPromptStore", 1, {}};
  return writeFileAtomically(file_, *bytes);
}

std::vector<Date> ReviewPromptStore::recentPromptDates() const {
  std::lock_guard lock(mutex_);
  const double now = Date::now().timeIntervalSinceReferenceDate;
  std::vector<Date> recent;
  for (const Date& date : readDates()) {
    if (now - date.timeIntervalSinceReferenceDate < windowSeconds()) recent.push_back(date);
  }
  return recent;
}

ReviewRequestOutcome ReviewPromptStore::requestReview() {
  std::vector<Date> recent;
  {
    std::lock_guard lock(mutex_);
    const Date now = Date::now();
    for (const Date& date : readDates()) {
      if (now.timeIntervalSinceReferenceDate - date.timeIntervalSinceReferenceDate < windowSeconds()) {
        recent.push_back(date);
      }
    }
    if (recent.size() >= kMaxPromptsPerWindow) return ReviewRequestOutcome::ignored;
    recent.push_back(now);
    if (Status written = writeDates(recent); !written.ok()) {
      std::cerr << "review prompt not shown: its record could not be written: "
                << written.error().localizedDescription() << "\n";
      return ReviewRequestOutcome::ignored;
    }
  }
  platform::ui::requestReview();
  return ReviewRequestOutcome::shown;
}

ReviewPromptStore& sharedReviewPromptStore() {
  // One store per data directory, so that a test or the app pointing the data directory
  // elsewhere gets the file there.
  static std::mutex mutex;
  static std::map<std::filesystem::path, std::unique_ptr<ReviewPromptStore>> stores;
  std::lock_guard lock(mutex);
  auto file = FileLocations::dataDirectory() / "ReviewPrompts.plist";
  auto& store = stores[file];
  if (!store) store = std::make_unique<ReviewPromptStore>(file);
  return *store;
}

ReviewRequestOutcome requestReview() { return sharedReviewPromptStore().requestReview(); }

}  // namespace platform::review
