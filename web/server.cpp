#include "web/server.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <utility>

#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "web/escape.h"
#include "web/internal/guarded_http.h"
#include "web/internal/server_shared.h"
#include "web/json_text.h"
#include "web/palette.h"

namespace web {

using nlohmann::json;
using namespace server_internal;

namespace {

// The start of a render as JSON, up to its content: {"version":V,"base":B,"title":"...", (a
// whole render has no base).
void appendRenderHead(std::string& text, uint64_t version, std::optional<uint64_t> base, const std::string& title) {
  text += "{\"version\":";
  appendJsonNumber(text, version);
  if (base) {
    text += ",\"base\":";
    appendJsonNumber(text, *base);
  }
  text += ",\"title\":";
  appendJsonString(text, title);
  text += ',';
}

// A render as JSON text. Text from the store that is not valid UTF-8 shows U+FFFD rather than
// failing the whole render.
std::string renderText(uint64_t version, const std::string& title, const std::string& html) {
  std::string text;
  text.reserve(html.size() + html.size() / 16 + title.size() + 64);
  appendRenderHead(text, version, std::nullopt, title);
  text += "\"html\":";
  appendJsonString(text, html);
  text += '}';
  return text;
}

// The page's only inline script: once the page was opened from the printed address, whose
// secret is now the cookie, the address bar shows "/" again. The policy allows it by its hash.
constexpr std::string_view kLeaveSecretAddress = "history.replaceState(null,\"\",\"/\")";

std::string sha256Base64(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  std::string encoded(4 * ((length + 2) / 3) + 1, '\0');
  encoded.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), digest, static_cast<int>(length))));
  return encoded;
}

}  // namespace

const std::string& server_internal::pageSecurityPolicy() {
  static const std::string policy =
      "default-src 'self'; script-src 'self' 'sha256-" + sha256Base64(kLeaveSecretAddress) +
      "'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
      "form-action 'none'; frame-ancestors 'none'";
  return policy;
}

void server_internal::refuse(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), kJson);
}

// The head of a patch, up to its ops.
void server_internal::appendPatchHead(std::string& text, uint64_t version, uint64_t base, const std::string& title) {
  appendRenderHead(text, version, base, title);
  text += "\"ops\":";
}

platform::Expected<int> parsePortArgument(std::string_view text) {
  int port = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535) {
    return platform::Error::described(kWebErrorDomain, 4, "--port needs a number from 0 to 65535, not '" + std::string(text) + "'");
  }
  return port;
}

platform::Expected<std::string> makeLaunchToken() {
  unsigned char bytes[32];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    return platform::Error::described(kWebErrorDomain, 3, "no random bytes for the launch token");
  }
  static const char* digits = "0123456789abcdef";
  std::string token;
  token.reserve(64);
  for (unsigned char b : bytes) {
    token += digits[b >> 4];
    token += digits[b & 15];
  }
  return token;
}

WebServer::WebServer(WebServerOptions options, std::shared_ptr<PageSource> source)
    : options_(std::move(options)), source_(std::move(source)), shared_(std::make_shared<Shared>()) {
  // A token that cannot be made stays empty, and start() refuses to serve without it.
  for (std::string* token : {&options_.token, &options_.secret}) {
    if (!token->empty()) continue;
    if (auto made = makeLaunchToken(); made.ok()) *token = std::move(*made);
  }
  if (options_.assetDirectory.empty()) options_.assetDirectory = platform::FileLocations::resourceDirectory() / "web";
}

WebServer::~WebServer() { stop(); }

std::string WebServer::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

std::string WebServer::secretCookieName() const { return "brivel_secret_" + std::to_string(port_); }

std::string WebServer::launchUrl() const { return url() + "?secret=" + options_.secret; }

uint64_t WebServer::version() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->version;
}

bool WebServer::hostAllowed(const std::string& host) const {
  std::string_view value = host;
  size_t colon = value.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = value.substr(0, colon);
  return (name == "127.0.0.1" || name == "localhost") && value.substr(colon + 1) == std::to_string(port_);
}

bool WebServer::tokenMatches(const std::string& presented) const {
  const std::string& token = options_.token;
  return presented.size() == token.size() && CRYPTO_memcmp(presented.data(), token.data(), token.size()) == 0;
}

bool WebServer::secretMatches(const std::string& presented) const {
  const std::string& secret = options_.secret;
  return presented.size() == secret.size() && CRYPTO_memcmp(presented.data(), secret.data(), secret.size()) == 0;
}

platform::Status WebServer::start() {
  if (http_) return {};
  if (options_.token.empty() || options_.secret.empty()) {
    return platform::Error::described(kWebErrorDomain, 3, "no random bytes for the launch token");
  }
  std::error_code ec;
  std::ifstream styles(options_.assetDirectory / "app.css", std::ios::binary);
  if (!std::filesystem::is_directory(options_.assetDirectory, ec) || !styles) {
    return platform::Error::described(kWebErrorDomain, 1, "the page's files are missing: " + options_.assetDirectory.string());
  }
  // The styles come with the page: a stylesheet fetched on its own would hold back its first
  // paint by a round trip. The colour table follows them, as its own sheet did.
  std::ostringstream sheet;
  sheet << styles.rdbuf();
  pageStyles_ = "<style>" + sheet.str() + "</style><style>" + paletteCss() + "</style>";
  // Host and token are checked from the request's head, before any body is waited for or read.
  auto vet = [this](std::string_view method, std::string_view host, std::string_view token) -> const char* {
    if (!hostAllowed(std::string(host))) return "421 Misdirected Request";
    if (method != "GET" && method != "HEAD" && !tokenMatches(std::string(token))) return "403 Forbidden";
    return nullptr;
  };
  internal::GuardLimits limits;
  limits.headerDeadline = std::min(options_.headerDeadline, options_.requestDeadline);
  limits.requestDeadline = options_.requestDeadline;
  limits.maxHeaderBytes = options_.maxHeaderBytes;
  limits.maxHeaderCount = options_.maxHeaderCount;
  limits.maxBodyBytes = options_.maxBodyBytes;
  limits.maxWaitingPerClient = std::max<size_t>(options_.maxWaitingPerClient, 1);
  // Event streams each hold a worker while open; leave room for the page's own requests.
  limits.workers = options_.maxEventStreams + 28;
  http_ = std::make_unique<internal::GuardedHttpServer>(limits, vet);
  http_->set_payload_max_length(options_.maxBodyBytes);
  if (auto routed = installRoutes(); !routed.ok()) {
    http_.reset();
    return routed;
  }
  // Answers go out at once: waiting to fill a packet would wait for the browser's delayed
  // acknowledgement, tens of milliseconds on every answer.
  http_->set_tcp_nodelay(true);
  if (options_.port == 0) {
    port_ = http_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = http_->bind_to_port("127.0.0.1", options_.port) ? options_.port : -1;
  }
  if (port_ <= 0) {
    http_.reset();
    port_ = 0;
    return platform::Error::described(kWebErrorDomain, 2, "cannot listen on 127.0.0.1:" + std::to_string(options_.port));
  }
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = false;
  }
  shared_->alive = true;
  observer_ = platform::MainLoop::addTurnEndObserver([this, shared = shared_] {
    if (shared->alive) refresh();
  });
  listener_ = std::thread([http = http_.get()] { http->listen_after_bind(); });
  // The first render, so that the page has something to show at once.
  platform::DispatchQueue::main()->async([this, shared = shared_] {
    if (shared->alive && version() == 0) refresh();
  });
  return {};
}

void WebServer::stop() {
  if (!http_) return;
  shared_->alive = false;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->changed.notify_all();
  if (observer_) platform::MainLoop::removeTurnEndObserver(*observer_);
  observer_.reset();
  http_->stop();
  if (listener_.joinable()) listener_.join();
  http_.reset();
}

void WebServer::refresh() {
  if (!shared_->alive) return;
  Page page = source_->render();
  actions_ = std::move(page.actions);
  // Only this thread writes the render, so it may read it without the lock.
  std::string owner = std::exchange(answering_, std::string());
  if (shared_->version != 0 && page.html == shared_->html() && page.title == shared_->title) return;
  const uint64_t version = shared_->version + 1;
  auto parsed = std::make_shared<const ParsedHtml>(std::move(page.html));
  std::string patch;
  if (shared_->page) {
    patch.reserve(4096);
    appendPatchHead(patch, version, shared_->version, page.title);
    appendPagePatch(patch, *shared_->page, *parsed);
    patch += '}';
    // A patch touches only what changed on the page, where a whole render is merged through
    // every element: it is kept unless it is much larger.
    if (patch.size() > parsed->html().size() + parsed->html().size() / 2) patch.clear();
  }
  {
    std::lock_guard lock(shared_->mutex);
    shared_->version = version;
    shared_->page = std::move(parsed);
    shared_->title = std::move(page.title);
    shared_->owner = std::move(owner);
    shared_->whole.clear();
    shared_->patch = std::move(patch);
  }
  shared_->changed.notify_all();
}

std::string WebServer::renderFor(std::optional<uint64_t> base) {
  std::lock_guard lock(shared_->mutex);
  if (base && *base + 1 == shared_->version && !shared_->patch.empty()) return shared_->patch;
  if (base && *base == shared_->version && shared_->version != 0) {
    std::string text;
    appendPatchHead(text, shared_->version, *base, shared_->title);
    text += "[]}";
    return text;
  }
  return shared_->wholeText();
}

bool WebServer::runOnMain(std::function<void()> work) {
  struct Box {
    bool done = false;
  };
  auto box = std::make_shared<Box>();
  auto shared = shared_;
  platform::DispatchQueue::main()->async([box, shared, work = std::move(work)] {
    if (shared->alive) work();
    {
      std::lock_guard lock(shared->mutex);
      box->done = true;
    }
    shared->changed.notify_all();
  });
  std::unique_lock lock(shared->mutex);
  return shared->changed.wait_for(lock, options_.mainThreadTimeout,
                                  [&] { return box->done || shared->stopping; }) &&
         box->done;
}

std::string WebServer::pageDocument(bool openedFromSecret) {
  std::string version, title;
  std::shared_ptr<const ParsedHtml> page;
  {
    std::lock_guard lock(shared_->mutex);
    version = std::to_string(shared_->version);
    title = shared_->title.empty() ? "Brivel" : shared_->title;
    page = shared_->page;
  }
  const std::string& html = htmlOf(page);

  std::string doc;
  doc.reserve(html.size() + pageStyles_.size() + 1024);
  doc += "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1, viewport-fit=cover\">"
         "<meta name=\"color-scheme\" content=\"light dark\">";
  doc += "<meta name=\"brivel-token\" content=\"" + options_.token + "\">";
  doc += "<meta name=\"brivel-version\" content=\"" + version + "\">";
  // What the page cuts text to before it posts it (the server cuts it again).
  doc += "<meta name=\"brivel-text-limit\" content=\"" + std::to_string(options_.maxTextLength) + "\">";
  doc += "<meta name=\"brivel-body-limit\" content=\"" + std::to_string(options_.maxBodyBytes) + "\">";
  doc += "<title>" + escapeHtml(title) + "</title>";
  if (openedFromSecret) {
    doc += "<script>";
    doc += kLeaveSecretAddress;
    doc += "</script>";
  }
  doc += "<link rel=\"icon\" href=\"/assets/icons/brivelTips.svg\">";
  doc += pageStyles_;
  doc += "<script src=\"/assets/vendor/morphdom.min.js\" defer></script>"
         "<script src=\"/assets/app.js\" defer></script></head><body>"
         "<div id=\"app\">";
  doc += html;
  doc += "</div><div id=\"status\" class=\"status\" role=\"status\" aria-live=\"polite\"></div>"
         "<div id=\"announcer\" class=\"visually-hidden\" role=\"status\" aria-live=\"polite\"></div></body></html>\n";
  return doc;
}

std::string WebServer::renderJson() { return renderFor(std::nullopt); }

const std::string& WebServer::Shared::wholeText() {
  if (whole.empty()) whole = renderText(version, title, html());
  return whole;
}

}  // namespace web
