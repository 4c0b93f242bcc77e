// WebServer: the local HTTP server that shows the app in a browser on this machine.
//
// It listens on 127.0.0.1 only and answers only requests whose Host header names that address
// (or localhost) with its own port, which shuts out pages of other sites that resolve a name of
// theirs to this machine. Every request that reads the app's state or acts on it carries the
// per-launch token that only the page served at "/" knows; a posted action must also name a
// control of the latest render and is cut to that control's limits here, whatever the page did.
//
// The address the program prints carries a secret of this launch ("/?secret=..."); it can be
// opened again and again while the program runs. Opening it sets an HttpOnly, SameSite=Strict
// cookie named after the port ("brivel_secret_PORT", so that two launches on other ports keep
// theirs) and shows the page, which puts "/" in the address bar; "/" without that cookie shows
// how to open Brivel instead of the app, so another local user who finds the port cannot drive
// it. The page carries its styles; its scripts are deferred, so the first paint waits for
// nothing but the page itself.
// A client's request head must arrive within about a second and the whole request within a
// few, with caps on both; the Host and token checks run before any body is read. Requests are
// read by one gate thread and reach the threads that run routes only when whole, and a client
// keeps only a few connections waiting, so slow or greedy clients cannot hold the server
// (web/internal/guarded_http.h). A body over the cap is refused with a reason the page shows.
//
// Routes:
//   GET  /              the page, with the current render, its styles and the token (cookie,
//                       or the secret)
//   GET  /assets/...    the page's files (styles, script, icons, strings), read-only
//   GET  /palette.css   the colour table as CSS custom properties and classes
//   GET  /render        the current render as JSON {version, title, html}      (token)
//   GET  /events        server-sent events: one "render" event per new render  (token);
//                       with "?page=" (the page's own id, as it posts it) a version that
//                       answers that page's own post is not sent again on its stream; with
//                       "?version=" (the version the page holds) the stream starts after it
//   GET  /menu?key=K    the items of a row's actions menu, drawn when it opens  (token)
//   POST /action        {"id", "event", "value", "base", "page", "seq"}: carries out one action, has the source
//                       commit it (PageSource::commit) and only then answers the new render;
//                       a commit that failed answers 500 {"error", "render"} (token). "scroll"
//                       with a row number moves a long list's window; its optional "rows" (1 to
//                       500, how many rows the page's window holds) sizes it. With "base", the version
//                       the page holds, the answer may be a patch {version, base, title, ops}
//                       instead, whose ops name the elements of the page that change
//                       (page_patch.h).
//                       Event streams send patches too, against the render they sent before.
//                       "page" (the page's own id) and "seq" (its action number) make a retry
//                       safe: an action the server has seen from that page does not run again,
//                       its retry gets the current render.
//   POST /scene         {"phase": "active" | "inactive" | "background"}: the page was shown or
//                       hidden (token)
// Answers to POST /action carry a Server-Timing header: "total" (the whole request in the server)
// and "app" (the part on the main thread). Nothing is compressed: the answer's bytes are sent as
// they were when the timing ended.
// The token travels in the "X-Brivel-Token" header, or as "?token=" for /events (an event
// stream cannot set headers).
//
// Threads: the server's own threads never touch model or view state. They hand every render
// and every action to the main queue and wait for the result there. After every main-loop turn
// that ran a block the server renders again on the main thread and pushes the render to the open
// event streams when it changed, so timed changes (a toast that clears itself) reach the page
// without a reload. start(), stop() and refresh() are called on the main thread.
//
// Example:
//   web::WebServer server(options, source);
//   if (auto started = server.start(); !started.ok()) { ... }
//   std::cout << server.url() << "\n";
//   platform::MainLoop::run();
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <functional>
#include <map>

#include <nlohmann/json_fwd.hpp>

#include "platform/dispatch/clock.h"
#include "web/page.h"
#include "web/page_patch.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace web {

struct WebServerOptions {
  // 0 picks a free port.
  int port = 0;
  // The folder holding app.css, app.js, icons/, strings/ ...; empty means "web" in the
  // program's resource directory.
  std::filesystem::path assetDirectory;
  // The per-launch token; empty means a fresh random one.
  std::string token;
  // The secret of the printed address (launchUrl()), good for the whole launch; empty means a
  // fresh random one. Opening that address turns it into a cookie that the page needs.
  std::string secret;
  // How long a client may take to send a request's head before it is cut off.
  platform::Duration headerDeadline = std::chrono::seconds(1);
  // How long a client may take to send a whole request (head and body) before it is cut off.
  platform::Duration requestDeadline = std::chrono::seconds(5);
  // Connections one client (a peer address) may keep waiting for their request to arrive; a
  // new one beyond this cuts off its oldest.
  size_t maxWaitingPerClient = 16;
  // Caps on a request's head: its bytes and its header lines.
  size_t maxHeaderBytes = 16 * 1024;
  size_t maxHeaderCount = 64;
  // Longest text, in user-perceived characters, any text field keeps when its control states
  // no limit of its own.
  size_t maxTextLength = 10000;
  // Largest request body accepted (the whole body is waited for within the deadline).
  size_t maxBodyBytes = 64 * 1024;
  // How long a request waits for the main thread before it is answered 503.
  platform::Duration mainThreadTimeout = std::chrono::seconds(10);
  // How often an idle event stream sends a keep-alive comment.
  platform::Duration eventKeepAlive = std::chrono::seconds(15);
  // Open event streams; a new one beyond this closes the oldest.
  size_t maxEventStreams = 4;
};

class WebServer {
 public:
  WebServer(WebServerOptions options, std::shared_ptr<PageSource> source);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds 127.0.0.1 and starts serving on background threads. Fails (kWebErrorDomain) when
  // the port cannot be bound or the asset folder cannot be served. Main thread.
  platform::Status start();
  // Closes every connection and waits for the server's threads. Main thread; safe to repeat.
  void stop();

  int port() const { return port_; }
  // "http://127.0.0.1:PORT/"
  std::string url() const;
  // The address to print for the user: url() with the launch's secret, "...?secret=...".
  std::string launchUrl() const;
  const std::string& secret() const { return options_.secret; }
  // The name of the cookie the secret becomes: "brivel_secret_PORT".
  std::string secretCookieName() const;
  const std::string& token() const { return options_.token; }
  // The number of the latest render (0 before the first).
  uint64_t version() const;

  // Renders now on the main thread and pushes the render when it changed. The server does this
  // by itself at the end of every main-loop turn; call it to render outside of a turn.
  void refresh();

 private:
  struct Shared;
  struct Outcome;

  platform::Status installRoutes();
  bool hostAllowed(const std::string& host) const;
  bool tokenMatches(const std::string& presented) const;
  bool secretMatches(const std::string& presented) const;
  // Whether the request carries the secret's cookie.
  bool hasSecretCookie(const httplib::Request& req) const;
  // Token, origin and content type of a POST; answers the refusal itself.
  bool postAllowed(const httplib::Request& req, httplib::Response& res) const;
  // Runs `work` on the main queue and waits for it; false on timeout or stop.
  bool runOnMain(std::function<void()> work);
  // The page: the latest render with the token, its styles and scripts. Opened from the
  // printed address, it puts "/" back in the address bar.
  std::string pageDocument(bool openedFromSecret);
  std::string renderJson();
  // The latest render as JSON for a page that holds version `base`: the changes since then
  // when it holds the version before (or the latest), else the whole render.
  std::string renderFor(std::optional<uint64_t> base);
  // Main thread: checks, cuts and performs one posted action, then renders.
  Outcome performOnMain(const nlohmann::json& request);

  WebServerOptions options_;
  std::shared_ptr<PageSource> source_;
  std::unique_ptr<httplib::Server> http_;
  std::thread listener_;
  int port_ = 0;
  std::optional<uint64_t> observer_;
  std::shared_ptr<Shared> shared_;
  // The page's styles as its <style> elements, read once at start().
  std::string pageStyles_;
  // Main thread: whether the action numbered `seq` of page `page` is new (and remembers it).
  bool isNewAction(const std::string& page, uint64_t seq);

  // Main thread only: the page whose post the next refresh answers (empty for none).
  std::string answering_;
  // Main thread only: the controls of the latest render.
  std::map<std::string, ActionSpec, std::less<>> actions_;
  // Main thread only: the number of the latest action of each recent page, oldest page first.
  std::map<std::string, uint64_t, std::less<>> lastActions_;
  std::deque<std::string> pageOrder_;
};

// The event of a post by its name in the request: "tap", "set", "submit", "focus", "dismiss",
// "scroll".
std::optional<EventKind> eventKindFromName(std::string_view name);


// The port a program's "--port" argument names: a whole number from 0 (any free port) to 65535.
// Otherwise an error (kWebErrorDomain) that says why.
platform::Expected<int> parsePortArgument(std::string_view text);

// A random token of 32 bytes, as 64 lower-case hex digits; fails when the system has no random
// bytes to give.
platform::Expected<std::string> makeLaunchToken();

}  // namespace web
