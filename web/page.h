// What the web server shows and what it lets the browser do.
//
// A Page is one render of the screens: the HTML of the app's content and the table of every
// control in it that the browser may act on. The server accepts a posted action only when its
// id is in the table of the latest Page, only with the kind of value that control takes, and
// cuts text to the control's limit before anything else sees it. The browser is not trusted.
//
// A PageSource produces Pages and carries out checked actions (platform::ui::ActionEvent).
// The server calls it on the main queue only, so a source may touch model and view state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/expected.h"
#include "platform/ui/environment.h"
#include "platform/ui/node.h"

namespace web {

// The domain of the errors the web front makes itself (the page cannot be served).
inline constexpr const char* kWebErrorDomain = "web";

using platform::ui::ActionEvent;
using platform::ui::EventKind;

// One control of a Page as the server sees it: the events it takes (as the runtime wrote them
// into its node) and, for a text value, its limits.
struct ActionSpec : platform::ui::Accepts {
  // Text only: the most user-perceived characters the field keeps; absent means the server's
  // general limit (WebServerOptions::maxTextLength) applies.
  std::optional<size_t> maxLength;
  // Text only: whether line breaks are allowed (a multi-line field).
  bool multiline = false;

  bool accepts(EventKind kind) const;
};

struct Page {
  std::string title;  // the document title (plain text)
  std::string html;   // the app's content, already escaped
  std::map<std::string, ActionSpec, std::less<>> actions;  // by action id
};

// Produces the Pages the server shows. Called on the main queue only.
class PageSource {
 public:
  virtual ~PageSource() = default;
  // Builds the current Page.
  virtual Page render() = 0;
  // Carries out one checked action (its id is in the latest Page, its value is cut to the
  // control's limits); the server renders again afterwards.
  virtual platform::ui::DispatchStatus perform(const ActionEvent& action) = 0;
  // The page was shown or hidden in the browser.
  virtual void setScenePhase(platform::ui::ScenePhase phase) {}
  // Makes what the last action changed durable before the server answers it. On failure the
  // server answers the action as failed, with the error's description.
  virtual platform::Status commit() { return {}; }
  // The items of a row's actions menu, which the page fetches when the menu opens (`key` is
  // the menu's "data-menu-of"); null when the latest Page has no such row.
  virtual std::optional<std::string> rowMenu(const std::string& key) { return std::nullopt; }
};

}  // namespace web
