// A client that posts page actions to the web front from a thread of its own, so that the
// benchmark thread can stay the main thread and serve the main queue while the server works:
//
//   ActionPoster poster(front.server()->port());
//   poster.start({{"X-Brivel-Token", token}}, R"({"id":"...","event":"tap"})");
//   platform::MainLoop::runUntil([&] { return poster.done(); }, std::chrono::seconds(10));
//   std::optional<double> seconds = serverSeconds(poster.result());
//
// Header-only; a benchmark that includes it links cpp-httplib. Threads: start/done/result from
// the benchmark thread; the post runs on the poster's own thread.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>

namespace brivel::bench {

class ActionPoster {
 public:
  explicit ActionPoster(int port) : client_("127.0.0.1", port), thread_([this] { loop(); }) {}
  ~ActionPoster() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  ActionPoster(const ActionPoster&) = delete;
  ActionPoster& operator=(const ActionPoster&) = delete;

  // Posts `body` to /action; done() turns true when the answer is back.
  void start(httplib::Headers headers, std::string body) {
    std::lock_guard lock(mutex_);
    headers_ = std::move(headers);
    body_ = std::move(body);
    result_.reset();
    pending_ = true;
    wake_.notify_all();
  }
  bool done() {
    std::lock_guard lock(mutex_);
    return result_.has_value();
  }
  // The answer of the last post; valid once done() is true.
  httplib::Result& result() { return *result_; }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [&] { return quit_ || pending_; });
      if (quit_) return;
      pending_ = false;
      auto headers = headers_;
      auto body = body_;
      lock.unlock();
      auto res = client_.Post("/action", headers, body, "application/json");
      lock.lock();
      result_.emplace(std::move(res));
    }
  }
  httplib::Client client_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  bool pending_ = false;
  httplib::Headers headers_;
  std::string body_;
  std::optional<httplib::Result> result_;
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
