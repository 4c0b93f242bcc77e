#include "platform/net/testing/loopback_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace platform {

LoopbackServer::LoopbackServer() : server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(4); };
  server_->set_keep_alive_max_count(1);
  // Every method and path goes to serve(), which records the request and dispatches it.
  // (Ordinary handlers, not a pre-routing one: the body has been read by then.)
  auto serve = [this](const httplib::Request& in, httplib::Response& out) { this->serve(in, out); };
  const std::string anyPath = R"(.*)";
  server_->Get(anyPath, serve);
  server_->Post(anyPath, serve);
  server_->Put(anyPath, serve);
  server_->Patch(anyPath, serve);
  server_->Delete(anyPath, serve);
  server_->Options(anyPath, serve);

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("LoopbackServer: cannot bind a loopback port");
  thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
  // httplib ignores a stop() that comes before its accept loop runs, which would leave
  // that loop waiting for ever; so return only once it runs.
  while (!server_->is_running()) std::this_thread::yield();
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::serve(const httplib::Request& in, httplib::Response& out) {
  RecordedRequest request;
  request.method = in.method;
  request.path = in.path;
  request.target = in.target;
  request.query.insert(in.params.begin(), in.params.end());
  for (const auto& [name, value] : in.headers) {
    // httplib adds these itself; the client did not send them.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
        name == "LOCAL_PORT") {
      continue;
    }
    request.headers.add(name, value);
  }
  request.body = in.body;
  {
    std::lock_guard lock(mutex_);
    log_.push_back(request);
  }
  arrived_.notify_all();

  LoopbackResponse response = handle(request);
  out.status = response.status;
  for (const auto& [name, value] : response.headers.fields()) out.set_header(name, value);
  if (!response.body.empty()) out.set_content(response.body, response.contentType);
}

void LoopbackServer::stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

std::string LoopbackServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::string LoopbackServer::url(std::string_view path) const {
  return baseURL() + std::string(path);
}

void LoopbackServer::on(std::string method, std::string path, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[{std::move(method), std::move(path)}] = std::move(handler);
}

void LoopbackServer::setFallback(Handler handler) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(handler);
}

LoopbackResponse LoopbackServer::handle(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    auto it = handlers_.find({request.method, request.path});
    handler = it != handlers_.end() ? it->second : fallback_;
  }
  if (!handler) return LoopbackResponse{.status = 404, .body = "no handler"};
  return handler(request);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return log_;
}

size_t LoopbackServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return log_.size();
}

void LoopbackServer::clearRequests() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

bool LoopbackServer::waitForRequests(size_t count, Duration timeout) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
}

int LoopbackServer::unusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("LoopbackServer: no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("LoopbackServer: cannot bind a loopback port");
  }
  ::close(fd);  // bound but never listening: connections to it are refused
  return ntohs(address.sin_port);
}

}  // namespace platform
