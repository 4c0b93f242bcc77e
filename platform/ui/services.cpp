#include "platform/ui/services.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/process_state/process_state.h"
#include "platform/ui/observable.h"

namespace platform::ui {

EventLog& EventLog::shared() {
  static auto* log = [] {
    addProcessStateReset(+[] { EventLog::shared().clear(); });
    return new EventLog();
  }();
  return *log;
}

namespace {
// Animated changes leave a marker in the log, from the first change of the process on.
const bool kAnimationsRecorded = [] {
  platform::setAnimationObserver([] { EventLog::shared().record(LoggedEventType::animation, "default"); });
  return true;
}();
}  // namespace

void EventLog::record(LoggedEventType type, std::string detail, std::string identity) {
  std::lock_guard lock(mutex_);
  entries_.push_back({type, std::move(detail), std::move(identity)});
  if (entries_.size() > kLimit) {
    entries_.pop_front();
    ++dropped_;
  }
}

std::vector<LoggedEvent> EventLog::entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

std::vector<LoggedEvent> EventLog::entries(LoggedEventType type) const {
  std::lock_guard lock(mutex_);
  std::vector<LoggedEvent> result;
  for (const auto& e : entries_) {
    if (e.type == type) result.push_back(e);
  }
  return result;
}

std::size_t EventLog::count(LoggedEventType type) const { return entries(type).size(); }

void EventLog::clear() {
  std::lock_guard lock(mutex_);
  dropped_ += entries_.size();
  entries_.clear();
}

std::size_t EventLog::mark() const {
  std::lock_guard lock(mutex_);
  return dropped_ + entries_.size();
}

std::vector<LoggedEvent> EventLog::entriesSince(std::size_t mark) const {
  std::lock_guard lock(mutex_);
  std::size_t first = mark > dropped_ ? mark - dropped_ : 0;
  if (first >= entries_.size()) return {};
  return {entries_.begin() + static_cast<std::ptrdiff_t>(first), entries_.end()};
}

Pasteboard& Pasteboard::general() {
  static Pasteboard board;
  return board;
}

void Pasteboard::setString(std::string text) {
  {
    std::lock_guard lock(mutex_);
    text_ = text;
    ++changes_;
  }
  EventLog::shared().record(LoggedEventType::pasteboardWrite, std::move(text));
}

std::uint64_t Pasteboard::changeCount() const {
  std::lock_guard lock(mutex_);
  return changes_;
}

std::optional<std::string> Pasteboard::string() const {
  std::lock_guard lock(mutex_);
  return text_;
}

namespace {
std::mutex urlMutex;
std::function<void(const std::string&)>& urlHandler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}
}  // namespace

void requestReview() { EventLog::shared().record(LoggedEventType::reviewRequest, ""); }

void openURL(const std::string& url) {
  EventLog::shared().record(LoggedEventType::openURL, url);
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(urlMutex);
    handler = urlHandler();
  }
  if (handler) handler(url);
}

void setOpenURLHandler(std::function<void(const std::string&)> handler) {
  addProcessStateReset(+[] {
    std::lock_guard lock(urlMutex);
    urlHandler() = nullptr;
  });
  std::lock_guard lock(urlMutex);
  urlHandler() = std::move(handler);
}

void logToast(const std::string& detail) { EventLog::shared().record(LoggedEventType::toast, detail); }

void removeAllPendingNotificationRequests() {
  EventLog::shared().record(LoggedEventType::notificationRequestsRemoved, "");
}

void registerForRemoteNotifications() {
  EventLog::shared().record(LoggedEventType::remoteNotificationsRegistered, "");
}

namespace {
std::mutex appearanceMutex;
Appearance& sharedAppearance() {
  static auto* appearance = [] {
    addProcessStateReset(+[] {
      std::lock_guard lock(appearanceMutex);
      sharedAppearance() = Appearance();
    });
    return new Appearance();
  }();
  return *appearance;
}
}  // namespace

Appearance Appearance::current() {
  std::lock_guard lock(appearanceMutex);
  return sharedAppearance();
}

void Appearance::set(Appearance appearance) {
  {
    std::lock_guard lock(appearanceMutex);
    sharedAppearance() = std::move(appearance);
  }
  notifyAnyChange();
}

std::string Appearance::rgba(double red, double green, double blue, double alpha) {
  auto byte = [](double v) {
    if (!(v > 0)) return 0L;  // also NaN
    if (v >= 1) return 255L;
    return std::lround(v * 255.0);
  };
  char buffer[10];
  std::snprintf(buffer, sizeof buffer, "#%02lX%02lX%02lX%02lX", byte(red), byte(green), byte(blue), byte(alpha));
  return buffer;
}

// ----- Tips -----

namespace {
struct TipStore {
  std::mutex mutex;
  std::optional<std::filesystem::path> file;
  std::set<std::string> closed;

  void save() {
    if (!file) return;
    nlohmann::json json;
    json["invalidated"] = closed;
    std::error_code ec;
    std::filesystem::create_directories(file->parent_path(), ec);
    auto temp = *file;
    temp += ".tmp";
    {
      std::ofstream out(temp, std::ios::trunc);
      out << json.dump(2);
      if (!out) return;  // the state stays in memory; the next change tries again
    }
    std::filesystem::rename(temp, *file, ec);
  }
};
TipStore& tipStore() {
  static auto* store = [] {
    // Back to no file: nothing is read, so nothing can fail.
    addProcessStateReset(+[] { static_cast<void>(Tips::configure({})); });
    return new TipStore();
  }();
  return *store;
}
}  // namespace

Status Tips::configure(const std::filesystem::path& file) {
  auto& store = tipStore();
  std::lock_guard lock(store.mutex);
  std::set<std::string> closed;
  if (file.empty()) {
    store.file.reset();
    store.closed.clear();
    return {};
  }
  if (std::filesystem::exists(file)) {
    std::ifstream in(file);
    auto json = nlohmann::json::parse(in, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("invalidated") ||
        !json["invalidated"].is_array()) {
      return Error(kPlatformErrorDomain, 3,
                   {{kErrorLocalizedDescriptionKey, "The tips datastore " + file.string() + " cannot be read"},
                    {kErrorFilePathKey, file.string()}});
    }
    for (const auto& id : json["invalidated"]) {
      if (id.is_string()) closed.insert(id.get<std::string>());
    }
  }
  store.file = file;
  store.closed = std::move(closed);
  return {};
}

bool Tips::shouldDisplay(const std::string& tipId) {
  auto& store = tipStore();
  std::lock_guard lock(store.mutex);
  return !store.closed.count(tipId);
}

void Tips::invalidate(const std::string& tipId, const std::string& reason) {
  {
    auto& store = tipStore();
    std::lock_guard lock(store.mutex);
    store.closed.insert(tipId);
    store.save();
  }
  EventLog::shared().record(LoggedEventType::tipInvalidated, tipId + ":" + reason);
  notifyAnyChange();
}

void Tips::resetDatastore() {
  {
    auto& store = tipStore();
    std::lock_guard lock(store.mutex);
    store.closed.clear();
    store.save();
  }
  notifyAnyChange();
}

}  // namespace platform::ui
