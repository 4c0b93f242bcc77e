// An HTTP client on a thread of its own, for benchmarks of the web front: the benchmark's own
// thread is the main thread and must keep serving the main queue while a request is out.
//
//   brivel::bench::LoopbackClient client(port);
//   client.start([&](httplib::Client& c) { return c.Post("/action", headers, body, "application/json"); });
//   platform::MainLoop::runUntil([&] { return client.done(); }, std::chrono::seconds(10));
//   client.result();   // the answer; client.elapsed() from sending to the last byte received
//
// Threads: start/done/result/elapsed from one thread; the request runs on the client's thread.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>

namespace brivel::bench {

class LoopbackClient {
 public:
  using Request = std::function<httplib::Result(httplib::Client&)>;

  explicit LoopbackClient(int port) : client_("127.0.0.1", port), thread_([this] { loop(); }) {
    client_.set_keep_alive(true);
    client_.set_tcp_nodelay(true);  // as browsers do
  }
  ~LoopbackClient() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  void start(Request request) {
    std::lock_guard lock(mutex_);
    request_ = std::move(request);
    result_.reset();
    pending_ = true;
    wake_.notify_all();
  }
  bool done() {
    std::lock_guard lock(mutex_);
    return result_.has_value();
  }
  httplib::Result& result() { return *result_; }
  // From handing the request to the client to having the whole answer.
  std::chrono::duration<double> elapsed() const { return elapsed_; }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [&] { return quit_ || pending_; });
      if (quit_) return;
      pending_ = false;
      Request request = std::move(request_);
      lock.unlock();
      auto began = std::chrono::steady_clock::now();
      httplib::Result res = request(client_);
      auto took = std::chrono::steady_clock::now() - began;
      lock.lock();
      elapsed_ = took;
      result_.emplace(std::move(res));
    }
  }

  httplib::Client client_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  bool pending_ = false;
  Request request_;
  std::optional<httplib::Result> result_;
  std::chrono::duration<double> elapsed_{};
  std::thread thread_;
};

// The server's own time for an answered post (its Server-Timing "total"), in seconds; nothing
// when the post failed or was not answered with 200.
inline std::optional<double> serverSeconds(const httplib::Result& res) {
  if (!res || res->status != 200) return std::nullopt;
  static const std::regex total("total;dur=([0-9.]+)");
  std::smatch timing;
  const std::string header = res->get_header_value("Server-Timing");
  if (!std::regex_search(header, timing, total)) return std::nullopt;
  return std::stod(timing[1].str()) / 1000.0;
}

}  // namespace brivel::bench
