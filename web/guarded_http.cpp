#include "web/internal/guarded_http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace web::internal {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point when) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000));
}

// One connection's socket for httplib, once its request is all there: reads are served from
// what the gate received, each write may wait a few seconds for the client.
class DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(int sock, Clock::time_point deadline, std::string received)
      : sock_(sock), deadline_(deadline), received_(std::move(received)) {}

  bool is_readable() const override { return taken_ < received_.size() || wait(POLLIN, millisecondsUntil(deadline_)); }
  bool is_writable() const override { return wait(POLLOUT, kWriteWaitMs); }

  ssize_t read(char* ptr, size_t size) override {
    if (taken_ < received_.size()) {
      size_t count = std::min(size, received_.size() - taken_);
      std::memcpy(ptr, received_.data() + taken_, count);
      taken_ += count;
      return static_cast<ssize_t>(count);
    }
    // The request was read whole; anything more is not waited for beyond the deadline.
    if (!wait(POLLIN, millisecondsUntil(deadline_))) return -1;
    return ::recv(sock_, ptr, size, 0);
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
  Clock::time_point deadline_;
  std::string received_;
  size_t taken_ = 0;
};

// The value of the first header `name` (lower case) in a request head.
std::optional<std::string_view> headerValue(std::string_view head, std::string_view name) {
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

// The body length a head announces: its Content-Length, 0 without one; nothing for a chunked
// body or a malformed length.
std::optional<size_t> bodyLength(std::string_view head) {
  if (headerValue(head, "transfer-encoding")) return std::nullopt;
  auto value = headerValue(head, "content-length");
  if (!value) return 0;
  if (value->empty() || value->size() > 12 ||
      !std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return static_cast<size_t>(std::stoull(std::string(*value)));
}

// The peer's address, the client a connection counts against.
std::string peerOf(int sock) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(sock, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (peer.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, text, sizeof text);
  }
  return text;
}

}  // namespace

class GuardedHttpServer::Gate {
 public:
  Gate(GuardedHttpServer& server, GuardLimits limits, Vet vet)
      : server_(server), limits_(limits), vet_(std::move(vet)), workers_(std::max<size_t>(limits.workers, 1)) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { run(); });
  }

  ~Gate() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake();
    thread_.join();
    workers_.shutdown();
    for (int fd : wake_) {
      if (fd >= 0) ::close(fd);
    }
  }

  void admit(int sock) {
    {
      std::lock_guard lock(mutex_);
      if (!stopping_) {
        incoming_.push_back(sock);
        sock = -1;
      }
    }
    if (sock >= 0) {
      ::close(sock);
      return;
    }
    wake();
  }

 private:
  struct Waiting {
    int sock;
    std::string peer;
    Clock::time_point headDeadline;
    Clock::time_point deadline;
    std::string received;
    size_t needed = 0;  // the whole request's length, once its head is in
  };
  struct Draining {
    int sock;
    Clock::time_point until;
    size_t discarded = 0;
  };
  // What reading a waiting connection came to.
  enum class Step { more, whole, gone, refused };

  void wake() const {
    const char byte = 1;
    if (wake_[1] < 0) return;
    [[maybe_unused]] ssize_t written = ::write(wake_[1], &byte, 1);
  }

  void run() {
    while (true) {
      std::vector<int> arrived;
      {
        std::lock_guard lock(mutex_);
        if (stopping_) break;
        arrived.swap(incoming_);
      }
      for (int sock : arrived) take(sock);
      wait();
      const auto now = Clock::now();
      std::vector<Waiting> kept;
      kept.reserve(waiting_.size());
      for (size_t i = 0; i < waiting_.size(); ++i) {
        Waiting& w = waiting_[i];
        const char* refusal = nullptr;
        Step step = readable_[i] ? read(w, refusal) : Step::more;
        if (step == Step::more && now >= (w.needed == 0 ? w.headDeadline : w.deadline)) {
          step = Step::refused;
          refusal = "408 Request Timeout";
        }
        switch (step) {
          case Step::more: kept.push_back(std::move(w)); break;
          case Step::whole: handOver(std::move(w)); break;
          case Step::gone: ::close(w.sock); break;
          case Step::refused: refuse(w.sock, refusal); break;
        }
      }
      waiting_ = std::move(kept);
      drain(now);
    }
    std::lock_guard lock(mutex_);
    for (int sock : incoming_) ::close(sock);
    for (const auto& w : waiting_) ::close(w.sock);
    for (const auto& d : draining_) ::close(d.sock);
  }

  // A new connection waits for its request; its client's oldest waiting one goes when the
  // client has too many.
  void take(int sock) {
    const auto now = Clock::now();
    Waiting w{sock, peerOf(sock), now + limits_.headerDeadline, now + limits_.requestDeadline, {}, 0};
    const auto sameClient = [&](const Waiting& other) { return other.peer == w.peer; };
    if (static_cast<size_t>(std::count_if(waiting_.begin(), waiting_.end(), sameClient)) >= limits_.maxWaitingPerClient) {
      auto oldest = std::find_if(waiting_.begin(), waiting_.end(), sameClient);
      refuse(oldest->sock, "429 Too Many Requests");
      waiting_.erase(oldest);
    }
    waiting_.push_back(std::move(w));
  }

  // Polls the wake pipe and every connection until one has bytes or the next deadline passes;
  // marks the waiting connections that have bytes in `readable_`.
  void wait() {
    std::vector<pollfd> fds;
    fds.reserve(1 + waiting_.size() + draining_.size());
    fds.push_back({wake_[0], POLLIN, 0});
    auto next = Clock::time_point::max();
    for (const auto& w : waiting_) {
      fds.push_back({w.sock, POLLIN, 0});
      next = std::min(next, w.needed == 0 ? w.headDeadline : w.deadline);
    }
    for (const auto& d : draining_) {
      fds.push_back({d.sock, POLLIN, 0});
      next = std::min(next, d.until);
    }
    const int timeout = next == Clock::time_point::max() ? -1 : millisecondsUntil(next) + 1;
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      for (auto& fd : fds) fd.revents = 0;
    }
    if (fds[0].revents & POLLIN) {
      char scratch[64];
      while (::read(wake_[0], scratch, sizeof scratch) > 0) {
      }
    }
    readable_.assign(waiting_.size(), false);
    for (size_t i = 0; i < waiting_.size(); ++i) readable_[i] = fds[1 + i].revents != 0;
    drainable_.assign(draining_.size(), false);
    for (size_t i = 0; i < draining_.size(); ++i) drainable_[i] = fds[1 + waiting_.size() + i].revents != 0;
  }

  // Reads what the connection has and checks the head once it is in.
  Step read(Waiting& w, const char*& refusal) const {
    const size_t most = limits_.maxHeaderBytes + limits_.maxBodyBytes + 1;
    char chunk[8192];
    while (true) {
      ssize_t n = ::recv(w.sock, chunk, std::min(sizeof chunk, most - w.received.size()), MSG_DONTWAIT);
      if (n == 0) return Step::gone;
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Step::more : Step::gone;
      }
      w.received.append(chunk, static_cast<size_t>(n));
      if (w.needed == 0) {
        std::string_view head(w.received.data(), std::min(w.received.size(), limits_.maxHeaderBytes));
        const size_t end = head.find("\r\n\r\n");
        const auto lines =
            static_cast<size_t>(std::count(head.begin(), head.begin() + std::min(head.size(), end), '\n'));
        refusal = "431 Request Header Fields Too Large";
        if (lines > limits_.maxHeaderCount) return Step::refused;
        if (end == std::string_view::npos) {
          if (w.received.size() > limits_.maxHeaderBytes) return Step::refused;
          continue;
        }
        const std::string_view fields = head.substr(0, end + 2);
        const std::string_view method = head.substr(0, head.find(' '));
        refusal = vet_(method, headerValue(fields, "host").value_or(""), headerValue(fields, "x-brivel-token").value_or(""));
        if (refusal) return Step::refused;
        const std::optional<size_t> length = bodyLength(fields);
        refusal = !length ? "411 Length Required" : *length > limits_.maxBodyBytes ? "413 Payload Too Large" : nullptr;
        if (refusal) return Step::refused;
        w.needed = end + 4 + *length;
      }
      if (w.received.size() >= w.needed) return Step::whole;
      if (w.received.size() >= most) {
        refusal = "413 Payload Too Large";
        return Step::refused;
      }
    }
  }

  void handOver(Waiting w) {
    workers_.enqueue([server = &server_, sock = w.sock, deadline = w.deadline, received = std::move(w.received)]() mutable {
      server->serve(sock, deadline, std::move(received));
    });
  }

  // Sends the refusal with a short reason the page can show, and reads what the client still
  // sends for a moment: closing with it unread would reset the connection before the client
  // reads the refusal.
  void refuse(int sock, const char* status) {
    const std::string answer = refusalAnswer(status);
    [[maybe_unused]] ssize_t sent = ::send(sock, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(sock, SHUT_WR);
    draining_.push_back({sock, Clock::now() + std::chrono::milliseconds(300), 0});
  }

  std::string refusalAnswer(std::string_view status) const {
    std::string reason;
    if (status.substr(0, 3) == "413") {
      reason = "This is too much to send at once: at most " + std::to_string(limits_.maxBodyBytes / 1024) +
               " KiB. Shorten the text and try again.";
    } else if (status.substr(0, 3) == "408") {
      reason = "The request took too long to arrive.";
    } else if (status.substr(0, 3) == "429") {
      reason = "Too many requests are waiting from this client.";
    }
    std::string body = reason.empty() ? std::string() : "{\"error\":\"" + reason + "\"}";
    std::string answer = "HTTP/1.1 " + std::string(status) + "\r\nConnection: close\r\n";
    if (!body.empty()) answer += "Content-Type: application/json\r\n";
    answer += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return answer;
  }

  void drain(Clock::time_point now) {
    std::vector<Draining> kept;
    for (size_t i = 0; i < draining_.size(); ++i) {
      Draining& d = draining_[i];
      bool done = now >= d.until;
      // Connections refused since the poll are read at the next one.
      if (!done && i < drainable_.size() && drainable_[i]) {
        char scratch[4096];
        ssize_t n = ::recv(d.sock, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0) d.discarded += static_cast<size_t>(n);
        done = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
               d.discarded > limits_.maxHeaderBytes + limits_.maxBodyBytes;
      }
      if (done) {
        ::close(d.sock);
      } else {
        kept.push_back(d);
      }
    }
    draining_ = std::move(kept);
  }

  GuardedHttpServer& server_;
  const GuardLimits limits_;
  const Vet vet_;
  httplib::ThreadPool workers_;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  bool stopping_ = false;
  std::vector<int> incoming_;
  // The gate thread's own.
  std::vector<Waiting> waiting_;
  std::vector<Draining> draining_;
  std::vector<bool> readable_;
  std::vector<bool> drainable_;
  std::thread thread_;
};

GuardedHttpServer::GuardedHttpServer(GuardLimits limits, Vet vet)
    : gate_(std::make_unique<Gate>(*this, limits, std::move(vet))) {
  // httplib's own thread only hands accepted connections to the gate, in the order they came.
  new_task_queue = [] { return new httplib::ThreadPool(1); };
}

GuardedHttpServer::~GuardedHttpServer() = default;

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
  gate_->admit(sock);
  return true;
}

void GuardedHttpServer::serve(socket_t sock, std::chrono::steady_clock::time_point deadline, std::string received) {
  DeadlineStream stream(sock, deadline, std::move(received));
  bool closed = false;
  process_request(stream, /*close_connection=*/true, closed, {});
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
}

}  // namespace web::internal
