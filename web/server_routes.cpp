#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "web/internal/server_shared.h"
#include "web/palette.h"

namespace web {

using nlohmann::json;
using namespace server_internal;

namespace {

void setCommonHeaders(httplib::Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("X-Frame-Options", "DENY");
  res.set_header("Cross-Origin-Resource-Policy", "same-origin");
}

// What "/" shows to a browser that did not come through the printed address.
const char* kHowToOpen =
    "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>Brivel</title></head>"
    "<body style=\"font-family: system-ui, sans-serif; max-width: 32em; margin: 3em auto; padding: 0 1em\">"
    "<h1>Open Brivel from its address</h1>"
    "<p>Brivel is running, but this page was opened without the address Brivel printed when it started. "
    "That address carries a secret that Brivel made for this launch, so that only you can use it; "
    "it works as long as this launch runs.</p>"
    "<p>Open the address the <code>brivel</code> program printed (it looks like "
    "<code>http://127.0.0.1:PORT/?secret=&hellip;</code>), or start Brivel again to get a new one.</p>"
    "</body></html>\n";
}  // namespace

bool WebServer::hasSecretCookie(const httplib::Request& req) const {
  const std::string header = req.get_header_value("Cookie");
  std::string_view cookies = header;
  const std::string prefix = secretCookieName() + "=";
  while (!cookies.empty()) {
    size_t end = cookies.find(';');
    std::string_view cookie = cookies.substr(0, end);
    while (!cookie.empty() && cookie.front() == ' ') cookie.remove_prefix(1);
    if (cookie.substr(0, prefix.size()) == prefix && secretMatches(std::string(cookie.substr(prefix.size())))) return true;
    if (end == std::string_view::npos) break;
    cookies.remove_prefix(end + 1);
  }
  return false;
}

bool WebServer::postAllowed(const httplib::Request& req, httplib::Response& res) const {
  if (!tokenMatches(req.get_header_value(kTokenHeader))) {
    refuse(res, 403, "missing or wrong token");
    return false;
  }
  // A browser names the page that posts; only our own page may.
  std::string origin = req.get_header_value("Origin");
  if (!origin.empty() && !hostAllowed(origin.rfind("http://", 0) == 0 ? origin.substr(7) : std::string())) {
    refuse(res, 403, "foreign origin");
    return false;
  }
  if (req.get_header_value("Content-Type").rfind(kJson, 0) != 0) {
    refuse(res, 415, "JSON expected");
    return false;
  }
  return true;
}

platform::Status WebServer::installRoutes() {
  httplib::Server& http = *http_;

  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    setCommonHeaders(res);
    // Nothing is compressed: the page is on this machine, where sending the bytes costs far
    // less than compressing them (brotli's best level took seconds on a large page). The
    // library compresses whatever the request accepts, so the request accepts nothing. The
    // request is the library's own mutable object, handed to us as const.
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
    if (!hostAllowed(req.get_header_value("Host"))) {
      refuse(res, 421, "unknown host");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });

  if (!http.set_mount_point("/assets", options_.assetDirectory.string())) {
    return platform::Error::described(kWebErrorDomain, 1, "cannot serve " + options_.assetDirectory.string());
  }
  http.set_file_extension_and_mimetype_mapping("svg", "image/svg+xml");
  http.set_file_extension_and_mimetype_mapping("json", "application/json");

  http.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    const bool openedFromSecret = req.has_param("secret");
    if (openedFromSecret ? !secretMatches(req.get_param_value("secret")) : !hasSecretCookie(req)) {
      res.status = 403;
      res.set_content(kHowToOpen, "text/html; charset=utf-8");
      return;
    }
    // The secret becomes a cookie only this page's requests carry, and leaves the address. The
    // page comes at once rather than after a redirect to "/", a round trip before its first paint.
    if (openedFromSecret) {
      res.set_header("Set-Cookie", secretCookieName() + "=" + options_.secret + "; Path=/; HttpOnly; SameSite=Strict");
    }
    if (version() == 0 && !runOnMain([this] { refresh(); })) {
      refuse(res, 503, "the app is busy");
      return;
    }
    res.set_header("Content-Security-Policy", pageSecurityPolicy());
    res.set_content(pageDocument(openedFromSecret), "text/html; charset=utf-8");
  });

  http.Get("/palette.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(paletteCss(), "text/css; charset=utf-8");
  });

  http.Get("/render", [this](const httplib::Request& req, httplib::Response& res) {
    if (!tokenMatches(req.get_header_value(kTokenHeader))) return refuse(res, 403, "missing or wrong token");
    res.set_header("Cache-Control", "no-store");
    res.set_content(renderJson(), kJson);
  });

  http.Get("/events", [this](const httplib::Request& req, httplib::Response& res) {
    std::string presented = req.has_param("token") ? req.get_param_value("token") : req.get_header_value(kTokenHeader);
    if (!tokenMatches(presented)) return refuse(res, 403, "missing or wrong token");
    std::string pageId = req.has_param("page") ? req.get_param_value("page") : std::string();
    if (pageId.size() > kMaxPageId) return refuse(res, 400, "a page id of 1 to 64 characters expected");
    // The version the page holds already: the stream starts from there instead of sending it.
    uint64_t held = 0;
    if (req.has_param("version")) {
      const std::string text = req.get_param_value("version");
      if (std::from_chars(text.data(), text.data() + text.size(), held).ec != std::errc()) held = 0;
    }
    auto shared = shared_;
    uint64_t stream;
    {
      std::lock_guard lock(shared->mutex);
      if (shared->stopping) return refuse(res, 503, "stopping");
      if (held > shared->version) held = 0;
      stream = ++shared->lastStream;
      shared->streams.push_back(stream);
      while (shared->streams.size() > options_.maxEventStreams) {
        shared->evicted.insert(shared->streams.front());
        shared->streams.pop_front();
      }
    }
    shared->changed.notify_all();
    res.set_header("Cache-Control", "no-store");
    auto keepAlive = options_.eventKeepAlive;
    res.set_chunked_content_provider(
        "text/event-stream",
        [shared, stream, keepAlive, pageId = std::move(pageId), sent = held, opened = false](
            size_t, httplib::DataSink& sink) mutable {
          std::string chunk;
          {
            std::unique_lock lock(shared->mutex);
            auto over = [&] { return shared->stopping || shared->evicted.count(stream) > 0; };
            // A page that holds the latest version hears at once that its stream is open.
            if (!std::exchange(opened, true) && sent != 0 && shared->version == sent) {
              chunk = ": open\n\n";
              lock.unlock();
              return sink.write(chunk.data(), chunk.size());
            }
            // A version that answers this page's own post reached it in the answer: the stream
            // only notes that the page holds it, and the next version comes as a patch against it.
            auto ownAnswer = [&] { return !pageId.empty() && shared->owner == pageId; };
            while (shared->changed.wait_for(lock, keepAlive, [&] { return over() || shared->version != sent; }) &&
                   !over() && sent != 0 && ownAnswer()) {
              sent = shared->version;
            }
            if (over()) return false;
            if (shared->version != sent) {
              const bool follows = sent != 0 && sent + 1 == shared->version && !shared->patch.empty();
              sent = shared->version;
              chunk = "event: render\ndata: " + (follows ? shared->patch : shared->wholeText()) + "\n\n";
            } else {
              chunk = ": keep-alive\n\n";
            }
          }
          return sink.write(chunk.data(), chunk.size());
        },
        [shared, stream](bool) {
          std::lock_guard lock(shared->mutex);
          shared->evicted.erase(stream);
          auto at = std::find(shared->streams.begin(), shared->streams.end(), stream);
          if (at != shared->streams.end()) shared->streams.erase(at);
        });
  });

  http.Get("/menu", [this](const httplib::Request& req, httplib::Response& res) {
    if (!tokenMatches(req.get_header_value(kTokenHeader))) return refuse(res, 403, "missing or wrong token");
    const std::string key = req.has_param("key") ? req.get_param_value("key") : std::string();
    auto items = std::make_shared<std::optional<std::string>>();
    if (!runOnMain([this, key, items] { *items = source_->rowMenu(key); })) return refuse(res, 503, "the app is busy");
    if (!*items) return refuse(res, 404, "no such row");
    res.set_header("Cache-Control", "no-store");
    res.set_content(**items, "text/html; charset=utf-8");
  });

  http.Post("/action", [this](const httplib::Request& req, httplib::Response& res) {
    auto received = std::chrono::steady_clock::now();
    if (!postAllowed(req, res)) return;
    json request = json::parse(req.body, nullptr, false);
    if (request.is_discarded() || !request.is_object() || !request.contains("id") || !request["id"].is_string()) {
      return refuse(res, 400, "an action id is expected");
    }
    auto outcome = std::make_shared<Outcome>();
    auto appTime = std::make_shared<std::chrono::steady_clock::duration>();
    bool ran = runOnMain([this, outcome, appTime, request = std::move(request)] {
      auto start = std::chrono::steady_clock::now();
      *outcome = performOnMain(request);
      *appTime = std::chrono::steady_clock::now() - start;
    });
    if (!ran) return refuse(res, 503, "the app is busy");
    res.status = outcome->status;
    res.set_header("Cache-Control", "no-store");
    // How long the server took, for the browser's developer tools and for measurements.
    auto ms = [](auto d) { return std::to_string(std::chrono::duration<double, std::milli>(d).count()); };
    res.set_header("Server-Timing", "total;dur=" + ms(std::chrono::steady_clock::now() - received) +
                                        ", app;dur=" + ms(*appTime) + ", action;dur=" + ms(outcome->actionTime) +
                                        ", page;dur=" + ms(outcome->pageTime));
    res.set_content(outcome->body, kJson);
  });

  http.Post("/scene", [this](const httplib::Request& req, httplib::Response& res) {
    if (!postAllowed(req, res)) return;
    json request = json::parse(req.body, nullptr, false);
    std::string name = request.is_object() ? request.value("phase", std::string()) : std::string();
    platform::ui::ScenePhase phase;
    if (name == "active") {
      phase = platform::ui::ScenePhase::active;
    } else if (name == "inactive") {
      phase = platform::ui::ScenePhase::inactive;
    } else if (name == "background") {
      phase = platform::ui::ScenePhase::background;
    } else {
      return refuse(res, 400, "a scene phase is expected");
    }
    if (!runOnMain([this, phase] { source_->setScenePhase(phase); })) return refuse(res, 503, "the app is busy");
    res.status = 204;
  });
  return {};
}

}  // namespace web
