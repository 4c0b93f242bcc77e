// Platform services the screens call that have no window of their own: haptics, symbol
// effects, review requests, tips, toasts, the pasteboard and opening links. Each leaves an
// entry in the process-wide EventLog, which tests read and the web front may replay (a
// renderer can show a toast, play nothing for a haptic, open a link).
//
// Threads: EventLog, Pasteboard and Tips are safe from any thread; the app calls them on
// the main thread.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/expected.h"

namespace platform::ui {

enum class LoggedEventType {
  haptic,           // detail: "success", "warning", "error", "selection", "impact"
  symbolEffect,     // detail: the effect ("bounce")
  reviewRequest,    // detail: empty
  tipInvalidated,   // detail: "<tip id>:<reason>"
  toast,            // detail: what the caller passes (for example the toast's text key)
  pasteboardWrite,  // detail: the text written
  animation,        // detail: the animation ("default"); a marker only
  openURL,          // detail: the URL
  scrollTo,         // detail: the id scrolled to
  notificationRequestsRemoved,    // every pending local notification request was removed
  remoteNotificationsRegistered,  // the app asked to register for remote notifications
};

struct LoggedEvent {
  LoggedEventType type;
  std::string detail;
  std::string identity;  // the view that caused it, when a view did
};

// Keeps the most recent kLimit entries, so that a long-running app does not grow without
// bound; marks keep counting across dropped entries.
class EventLog {
 public:
  static constexpr std::size_t kLimit = 4096;
  static EventLog& shared();

  void record(LoggedEventType type, std::string detail, std::string identity = {});
  std::vector<LoggedEvent> entries() const;
  // Entries of one type, in order.
  std::vector<LoggedEvent> entries(LoggedEventType type) const;
  std::size_t count(LoggedEventType type) const;
  void clear();
  // Entries so far; entriesSince(mark) answers those recorded after it.
  std::size_t mark() const;
  std::vector<LoggedEvent> entriesSince(std::size_t mark) const;

 private:
  mutable std::mutex mutex_;
  std::deque<LoggedEvent> entries_;
  std::size_t dropped_ = 0;  // entries recorded before the oldest one kept
};

// The general pasteboard of the process.
class Pasteboard {
 public:
  static Pasteboard& general();
  void setString(std::string text);  // logged as pasteboardWrite
  std::optional<std::string> string() const;
  // How many times text was set; a front that hands copies on to the system watches it.
  std::uint64_t changeCount() const;

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> text_;
  std::uint64_t changes_ = 0;
};

// Asks for the in-app review prompt (logged as reviewRequest).
void requestReview();
// Opens a link: logged as openURL, then handed to the handler if one is set (the web front
// forwards it to the page).
void openURL(const std::string& url);
void setOpenURLHandler(std::function<void(const std::string&)> handler);
// Records a shown toast.
void logToast(const std::string& detail);

// Local and remote notifications. Nothing is ever delivered on this platform; the calls are
// logged so that start-up steps can be checked.
void removeAllPendingNotificationRequests();
void registerForRemoteNotifications();

// Process-wide look of some controls, set once at start-up. The runtime copies it onto every
// window node as attributes ("appearance.tableShowsVerticalScrollIndicator" (bool),
// "appearance.segmentedSelectedTint", "appearance.segmentedSelectedTitleColor",
// "appearance.segmentedNormalTitleColor" (strings "#RRGGBBAA")), so a renderer can style
// every table and segmented picker it draws.
struct Appearance {
  bool tableShowsVerticalScrollIndicator = true;
  std::optional<std::string> segmentedSelectedTint;
  std::optional<std::string> segmentedSelectedTitleColor;
  std::optional<std::string> segmentedNormalTitleColor;

  static Appearance current();
  static void set(Appearance appearance);
  // "#RRGGBBAA" from components in 0...1 (clamped).
  static std::string rgba(double red, double green, double blue, double alpha = 1.0);
};

// Shown/closed state of tips by id, kept in a JSON file so that a closed tip stays closed
// across launches.
class Tips {
 public:
  // Keeps the datastore in `file` (created when first written) and loads what it holds.
  // Before configure(), or with an empty path, state lives in memory only. Fails, leaving the
  // file and the current state alone, when the existing file cannot be read as a datastore.
  static Status configure(const std::filesystem::path& file);
  static bool shouldDisplay(const std::string& tipId);
  static void invalidate(const std::string& tipId, const std::string& reason);
  // Forgets every closed tip (memory and file).
  static void resetDatastore();
};

}  // namespace platform::ui
