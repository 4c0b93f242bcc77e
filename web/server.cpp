#include "web/server.h"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cstring>
#include <deque>
#include <memory>
#include <string_view>
#include <utility>
#include <unordered_map>
#include <vector>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "platform/dispatch/queue.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/text.h"
#include "web/escape.h"
#include "web/json_text.h"
#include "web/palette.h"

namespace web {

using nlohmann::json;

namespace {
// A render's HTML; empty before the first render.
const std::string& htmlOf(const std::shared_ptr<const ParsedHtml>& page) {
  static const std::string kNone;
  return page ? page->html() : kNone;
}
}  // namespace

// State that the server's threads and the main thread share. Everything but `alive` is
// guarded by `mutex`; `alive` is read and written on the main thread only.
struct WebServer::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t version = 0;
  std::string title;
  // The latest render's HTML, parsed: the next patch is made against it. Written on the main
  // thread only (under `mutex`), so the main thread may read it without the lock.
  std::shared_ptr<const ParsedHtml> page;
  // The page whose own post is answered with this version; its event stream skips it.
  std::string owner;
  // The render serialised once per version: whole (when first asked for), and as a patch
  // against the version before (empty when there is none), for the answers and the event
  // streams alike.
  std::string whole;
  std::string patch;
  bool stopping = false;
  uint64_t lastStream = 0;
  std::deque<uint64_t> streams;
  std::set<uint64_t> evicted;
  bool alive = true;

  // The whole render as JSON. Call with `mutex` held.
  const std::string& wholeText();
  const std::string& html() const { return htmlOf(page); }
};

struct WebServer::Outcome {
  int status = 200;
  std::string body;
  // The action itself, and the new page (its HTML, patch and JSON).
  std::chrono::steady_clock::duration actionTime{}, pageTime{};
};

namespace {

constexpr const char* kTokenHeader = "X-Brivel-Token";
constexpr const char* kJson = "application/json";

void setCommonHeaders(httplib::Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("X-Frame-Options", "DENY");
  res.set_header("Cross-Origin-Resource-Policy", "same-origin");
}

void refuse(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), kJson);
}

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

// The head of a patch, up to its ops.
void appendPatchHead(std::string& text, uint64_t version, uint64_t base, const std::string& title) {
  appendRenderHead(text, version, base, title);
  text += "\"ops\":";
}

bool isControl(char32_t c) { return c < 0x20 || c == 0x7f; }

constexpr const char* kSecretCookie = "brivel_secret";

// One connection's socket for httplib: reads end at the request's deadline, each write may
// wait a few seconds for the client.
class DeadlineStream : public httplib::Stream {
 public:
  // `received`: what was read from the socket already, served before anything else.
  DeadlineStream(int sock, std::chrono::steady_clock::time_point deadline, std::string received)
      : sock_(sock), deadline_(deadline), received_(std::move(received)) {}

  bool is_readable() const override {
    return taken_ < received_.size() || next_ < filled_ || wait(POLLIN, untilDeadline());
  }
  bool is_writable() const override { return wait(POLLOUT, kWriteWaitMs); }

  ssize_t read(char* ptr, size_t size) override {
    if (taken_ < received_.size()) {
      size_t count = std::min(size, received_.size() - taken_);
      std::memcpy(ptr, received_.data() + taken_, count);
      taken_ += count;
      return static_cast<ssize_t>(count);
    }
    if (next_ == filled_) {
      if (!wait(POLLIN, untilDeadline())) return -1;
      ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, 0);
      if (n <= 0) return n;
      next_ = 0;
      filled_ = static_cast<size_t>(n);
    }
    size_t count = std::min(size, filled_ - next_);
    std::memcpy(ptr, buffer_ + next_, count);
    next_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!wait(POLLOUT, kWriteWaitMs)) return -1;
    return ::send(sock_, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { address(::getpeername, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { address(::getsockname, ip, port); }
  socket_t socket() const override { return sock_; }

 private:
  static constexpr int kWriteWaitMs = 5000;

  int untilDeadline() const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
  }
  bool wait(short events, int milliseconds) const {
    pollfd descriptor{sock_, events, 0};
    int ready;
    do {
      ready = ::poll(&descriptor, 1, milliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (descriptor.revents & events) != 0;
  }
  void address(int (*query)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (query(sock_, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET) {
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
      ip = text;
      port = ntohs(peer.sin_port);
    }
  }

  int sock_;
  std::chrono::steady_clock::time_point deadline_;
  std::string received_;
  size_t taken_ = 0;
  char buffer_[4096];
  size_t next_ = 0;
  size_t filled_ = 0;
};

// A server that waits for each request to arrive whole before handing it to httplib: the
// head within its caps, then the body its Content-Length announces, all before the deadline.
// Each connection carries one request, so every request passes through here.
class GuardedHttpServer : public httplib::Server {
 public:
  // Answers the status line refusing a request from its method, Host and token headers, or
  // nullptr to let it through; it runs before any body is waited for.
  using Vet = std::function<const char*(std::string_view method, std::string_view host, std::string_view token)>;

  GuardedHttpServer(platform::Duration deadline, size_t maxHeaderBytes, size_t maxHeaderCount, size_t maxBodyBytes, Vet vet)
      : deadline_(deadline), maxHeaderBytes_(maxHeaderBytes), maxHeaderCount_(maxHeaderCount), maxBodyBytes_(maxBodyBytes),
        vet_(std::move(vet)) {}

 protected:
  bool process_and_close_socket(socket_t sock) override {
    const auto deadline = std::chrono::steady_clock::now() + deadline_;
    std::string received;
    const char* refusal = awaitRequest(sock, deadline, received);
    bool served = false;
    if (refusal == nullptr) {
      DeadlineStream stream(sock, deadline, std::move(received));
      bool closed = false;
      served = process_request(stream, /*close_connection=*/true, closed, {});
    } else if (*refusal != '\0') {
      std::string answer = std::string("HTTP/1.1 ") + refusal + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
      [[maybe_unused]] ssize_t sent = ::send(sock, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      // Closing with what the client is still sending unread would reset the connection
      // before it reads the refusal: let the rest drain away, briefly and within the caps.
      ::shutdown(sock, SHUT_WR);
      discardBriefly(sock);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
  }

 private:
  void discardBriefly(socket_t sock) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    size_t discarded = 0;
    char scratch[4096];
    while (discarded < maxHeaderBytes_ + maxBodyBytes_) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      pollfd descriptor{sock, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) return;
      ssize_t n = ::recv(sock, scratch, sizeof scratch, 0);
      if (n <= 0) return;
      discarded += static_cast<size_t>(n);
    }
  }

  // Reads the whole request into `received`: nothing when it is all there; else the status
  // line to answer ("" when the client went away).
  const char* awaitRequest(socket_t sock, std::chrono::steady_clock::time_point deadline, std::string& received) const {
    const size_t most = maxHeaderBytes_ + maxBodyBytes_ + 1;
    size_t needed = 0;  // the whole request's length, once the head is in
    char chunk[8192];
    while (true) {
      ssize_t n = ::recv(sock, chunk, std::min(sizeof chunk, most - received.size()), MSG_DONTWAIT);
      if (n == 0) return "";
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return "";
      if (n > 0) {
        received.append(chunk, static_cast<size_t>(n));
        if (needed == 0) {
          std::string_view head(received.data(), std::min(received.size(), maxHeaderBytes_));
          size_t end = head.find("\r\n\r\n");
          size_t lines = static_cast<size_t>(std::count(head.begin(), head.begin() + std::min(head.size(), end), '\n'));
          if (lines > maxHeaderCount_) return "431 Request Header Fields Too Large";
          if (end == std::string_view::npos) {
            if (received.size() > maxHeaderBytes_) return "431 Request Header Fields Too Large";
          } else {
            std::string_view method = head.substr(0, head.find(' '));
            if (const char* refusal = vet_(method, headerValue(head.substr(0, end + 2), "host").value_or(""),
                                           headerValue(head.substr(0, end + 2), "x-brivel-token").value_or(""))) {
              return refusal;
            }
            std::optional<size_t> length = bodyLength(head.substr(0, end + 2));
            if (!length) return "411 Length Required";
            if (*length > maxBodyBytes_) return "413 Payload Too Large";
            needed = end + 4 + *length;
          }
        }
        if (needed != 0 && received.size() >= needed) return nullptr;
        if (received.size() >= most) return "413 Payload Too Large";
        continue;
      }
      auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) return "408 Request Timeout";
      pollfd descriptor{sock, POLLIN, 0};
      ::poll(&descriptor, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1));
    }
  }

  // The value of the first header `name` (lower case) in a request head.
  static std::optional<std::string_view> headerValue(std::string_view head, std::string_view name) {
    size_t at = head.find("\r\n");
    while (at != std::string_view::npos && at + 2 < head.size()) {
      size_t next = head.find("\r\n", at + 2);
      std::string_view line = head.substr(at + 2, next == std::string_view::npos ? std::string_view::npos : next - at - 2);
      at = next;
      size_t colon = line.find(':');
      if (colon != name.size()) continue;
      bool same = std::equal(name.begin(), name.end(), line.begin(),
                             [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
      if (!same) continue;
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
      return value;
    }
    return std::nullopt;
  }

  // The body length a head announces: its Content-Length, 0 without one; nothing for a
  // chunked body or a malformed length.
  static std::optional<size_t> bodyLength(std::string_view head) {
    if (headerValue(head, "transfer-encoding")) return std::nullopt;
    auto value = headerValue(head, "content-length");
    if (!value) return 0;
    if (value->empty() || value->size() > 12 ||
        !std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    return static_cast<size_t>(std::stoull(std::string(*value)));
  }

  platform::Duration deadline_;
  size_t maxHeaderBytes_;
  size_t maxHeaderCount_;
  size_t maxBodyBytes_;
  Vet vet_;
};

// What "/" shows to a browser that did not come through the printed address.
const char* kHowToOpen =
    "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>Brivel</title></head>"
    "<body style=\"font-family: system-ui, sans-serif; max-width: 32em; margin: 3em auto; padding: 0 1em\">"
    "<h1>Open Brivel from its address</h1>"
    "<p>Brivel is running, but this page was opened without the address Brivel printed when it started. "
    "That address carries a one-time secret, so that only you can use Brivel.</p>"
    "<p>Open the address the <code>brivel</code> program printed (it looks like "
    "<code>http://127.0.0.1:PORT/?secret=&hellip;</code>), or start Brivel again to get a new one.</p>"
    "</body></html>\n";
// The longest page id a page may name itself by.
constexpr std::size_t kMaxPageId = 64;
// The largest row number a page may name when it scrolls a lazy list.
constexpr int64_t kMaxRowIndex = int64_t{1} << 40;
// The most rows a page may say its window holds.
constexpr int64_t kMaxRowsShown = 500;

}  // namespace

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

std::string cutPostedText(const std::string& text, size_t maxLength, bool multiline) {
  std::string clean;
  clean.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    auto u = static_cast<unsigned char>(c);
    if (!isControl(u)) {
      clean += c;
    } else if (c == '\t') {
      clean += c;
    } else if (c == '\r' || c == '\n') {
      bool pair = c == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
      if (pair) ++i;
      if (multiline) clean += '\n';
    }
  }
  // graphemePrefix also replaces malformed UTF-8 with U+FFFD.
  return platform::graphemePrefix(clean, maxLength);
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

bool WebServer::hasSecretCookie(const httplib::Request& req) const {
  const std::string header = req.get_header_value("Cookie");
  std::string_view cookies = header;
  const std::string prefix = std::string(kSecretCookie) + "=";
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

platform::Status WebServer::start() {
  if (http_) return {};
  if (options_.token.empty() || options_.secret.empty()) {
    return platform::Error::described(kWebErrorDomain, 3, "no random bytes for the launch token");
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(options_.assetDirectory, ec)) {
    return platform::Error::described(kWebErrorDomain, 1, "the page's files are missing: " + options_.assetDirectory.string());
  }
  // Host and token are checked from the request's head, before any body is waited for or read.
  auto vet = [this](std::string_view method, std::string_view host, std::string_view token) -> const char* {
    if (!hostAllowed(std::string(host))) return "421 Misdirected Request";
    if (method != "GET" && method != "HEAD" && !tokenMatches(std::string(token))) return "403 Forbidden";
    return nullptr;
  };
  http_ = std::make_unique<GuardedHttpServer>(options_.requestDeadline, options_.maxHeaderBytes, options_.maxHeaderCount,
                                              options_.maxBodyBytes, vet);
  // Event streams each hold a thread while open, and a slow client one until its deadline;
  // leave room for the page's own requests.
  size_t threads = options_.maxEventStreams + 28;
  http_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
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

std::string WebServer::pageDocument() {
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
  doc.reserve(html.size() + 1024);
  doc += "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1, viewport-fit=cover\">"
         "<meta name=\"color-scheme\" content=\"light dark\">";
  doc += "<meta name=\"brivel-token\" content=\"" + options_.token + "\">";
  doc += "<meta name=\"brivel-version\" content=\"" + version + "\">";
  doc += "<title>" + escapeHtml(title) + "</title>";
  doc += "<link rel=\"icon\" href=\"/assets/icons/brivelTips.svg\">"
         "<link rel=\"stylesheet\" href=\"/assets/app.css\"><link rel=\"stylesheet\" href=\"/palette.css\">"
         "<script src=\"/assets/vendor/morphdom.min.js\" defer></script>"
         "<script src=\"/assets/app.js\" defer></script></head><body>"
         "<div id=\"app\">";
  doc += html;
  doc += "</div><div id=\"status\" class=\"status\" role=\"status\" aria-live=\"polite\"></div>"
         "<div id=\"announcer\" class=\"visually-hidden\" role=\"status\" aria-live=\"polite\"></div></body></html>\n";
  return doc;
}

std::string WebServer::renderJson() { return renderFor(std::nullopt); }

bool ActionSpec::accepts(EventKind kind) const {
  switch (kind) {
    case EventKind::tap: return tap;
    case EventKind::setValue: return value != Value::none;
    case EventKind::submit: return submit;
    case EventKind::focus: return focus;
    case EventKind::dismiss: return dismiss;
    case EventKind::scroll: return scroll;
  }
  return false;
}

std::optional<EventKind> eventKindFromName(std::string_view name) {
  if (name == "tap") return EventKind::tap;
  if (name == "set") return EventKind::setValue;
  if (name == "submit") return EventKind::submit;
  if (name == "focus") return EventKind::focus;
  if (name == "dismiss") return EventKind::dismiss;
  if (name == "scroll") return EventKind::scroll;
  return std::nullopt;
}

WebServer::Outcome WebServer::performOnMain(const json& request) {
  const std::string id = request["id"].get<std::string>();
  auto stale = [this](const char* why) {
    // Not a control of the latest render, or not one that can act now: a stale page or a
    // forged post. Answer the current render so that an honest page catches up.
    return Outcome{409, json{{"error", why}, {"render", json::parse(renderJson())}}.dump()};
  };
  auto found = actions_.find(id);
  if (found == actions_.end()) return stale("unknown action");
  const ActionSpec& spec = found->second;
  std::optional<EventKind> kind = EventKind::tap;
  if (request.contains("event")) {
    const json& name = request.at("event");
    kind = name.is_string() ? eventKindFromName(name.get<std::string>()) : std::nullopt;
  }
  if (!kind || !spec.accepts(*kind)) return {400, json{{"error", "this control does not take that event"}}.dump()};
  const json* value = request.contains("value") ? &request.at("value") : nullptr;

  ActionEvent event;
  event.actionId = id;
  event.kind = *kind;
  if (*kind == EventKind::setValue && spec.value == ActionSpec::Value::text) {
    if (!value || !value->is_string()) return {400, json{{"error", "text expected"}}.dump()};
    size_t limit = std::min(spec.maxLength.value_or(options_.maxTextLength), options_.maxTextLength);
    event.value = cutPostedText(value->get<std::string>(), limit, spec.multiline);
  } else if ((*kind == EventKind::setValue && spec.value == ActionSpec::Value::flag) || *kind == EventKind::focus) {
    if (!value || !value->is_boolean()) return {400, json{{"error", "true or false expected"}}.dump()};
    event.value = value->get<bool>();
  } else if (*kind == EventKind::scroll) {
    if (!value || !value->is_number_integer() || value->get<int64_t>() < 0 || value->get<int64_t>() > kMaxRowIndex) {
      return {400, json{{"error", "a row number expected"}}.dump()};
    }
    event.value = value->get<int64_t>();
    // How many rows the page's window holds sizes the list's window; it is optional.
    if (request.contains("rows")) {
      const json& rows = request.at("rows");
      if (!rows.is_number_integer() || rows.get<int64_t>() < 1 || rows.get<int64_t>() > kMaxRowsShown) {
        return {400, json{{"error", "a number of rows from 1 to 500 expected"}}.dump()};
      }
      event.rowsShown = rows.get<int64_t>();
    }
  }

  // The page numbers its actions; an attempt the server has seen (a retry after a 503 whose
  // first attempt ran after all) gets the current render and does not act again.
  std::optional<uint64_t> base;
  if (request.contains("base") && request.at("base").is_number_unsigned()) base = request.at("base").get<uint64_t>();
  const std::string* pageId =
      request.contains("page") && request.at("page").is_string() ? &request.at("page").get_ref<const std::string&>() : nullptr;
  const bool pageNamed = pageId && !pageId->empty() && pageId->size() <= kMaxPageId;
  if (pageId && request.contains("seq") && request.at("seq").is_number_unsigned()) {
    if (!pageNamed) return {400, json{{"error", "a page id of 1 to 64 characters expected"}}.dump()};
    if (!isNewAction(*pageId, request.at("seq").get<uint64_t>())) return {200, renderFor(base)};
  }

  auto began = std::chrono::steady_clock::now();
  auto status = source_->perform(event);
  auto performed = std::chrono::steady_clock::now();
  // Answered means saved: what the action changed is committed before any answer is written.
  platform::Status committed = source_->commit();
  // The new render reaches the posting page in this answer; its event stream need not carry
  // it too.
  if (status == platform::ui::DispatchStatus::handled && committed.ok() && pageNamed) answering_ = *pageId;
  refresh();
  auto refreshed = std::chrono::steady_clock::now();
  if (!committed.ok()) {
    return {500, json{{"error", committed.error().localizedDescription()}, {"render", json::parse(renderJson())}}.dump()};
  }
  // The page names the version it holds; it gets the changes from there when it can.
  switch (status) {
    case platform::ui::DispatchStatus::handled: return {200, renderFor(base), performed - began, refreshed - performed};
    case platform::ui::DispatchStatus::unknownAction: return stale("unknown action");
    case platform::ui::DispatchStatus::disabled: return stale("disabled");
    case platform::ui::DispatchStatus::refused: break;
  }
  return {400, json{{"error", "refused"}}.dump()};
}

const std::string& WebServer::Shared::wholeText() {
  if (whole.empty()) whole = renderText(version, title, html());
  return whole;
}

bool WebServer::isNewAction(const std::string& page, uint64_t seq) {
  auto found = lastActions_.find(page);
  if (found != lastActions_.end()) {
    if (seq <= found->second) return false;
    found->second = seq;
    return true;
  }
  // Pages come and go with reloads: remember the latest few.
  static constexpr size_t kPagesRemembered = 64;
  if (pageOrder_.size() >= kPagesRemembered) {
    lastActions_.erase(pageOrder_.front());
    pageOrder_.pop_front();
  }
  lastActions_.emplace(page, seq);
  pageOrder_.push_back(page);
  return true;
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
    if (req.has_param("secret")) {
      if (!secretMatches(req.get_param_value("secret"))) {
        res.status = 403;
        res.set_content(kHowToOpen, "text/html; charset=utf-8");
        return;
      }
      // The secret becomes a cookie only this page's requests carry, and leaves the address.
      res.set_header("Set-Cookie", std::string(kSecretCookie) + "=" + options_.secret +
                                       "; Path=/; HttpOnly; SameSite=Strict");
      res.set_redirect("/", 303);
      return;
    }
    if (!hasSecretCookie(req)) {
      res.status = 403;
      res.set_content(kHowToOpen, "text/html; charset=utf-8");
      return;
    }
    if (version() == 0 && !runOnMain([this] { refresh(); })) {
      refuse(res, 503, "the app is busy");
      return;
    }
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
                   "img-src 'self' data:; object-src 'none'; base-uri 'none'; form-action 'none'; "
                   "frame-ancestors 'none'");
    res.set_content(pageDocument(), "text/html; charset=utf-8");
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
