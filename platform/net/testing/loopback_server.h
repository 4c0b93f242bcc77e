// LoopbackServer: a real HTTP server on 127.0.0.1 for tests that talk to a service.
//
// Each instance listens on a free port of the loopback interface, serves on its own
// threads until stop() (or destruction), answers each request with the handler registered
// for its method and path (404 when there is none, or the fallback), and records every
// request it receives, in order, before handling it. Handlers run on the server's four
// threads (so at most four requests are served at once); a handler may block (to hold a
// reply back) as long as the test releases it before stopping the server.
//
// The server closes each connection after one reply. A request body sent with
// "Content-Encoding: gzip" is recorded decompressed; the header stays in the record.
//
// Example:
//   platform::LoopbackServer server;
//   server.on("POST", "/v1/upload", [](const platform::RecordedRequest& request) {
//     return platform::LoopbackResponse{.status = 200, .body = "{}"};
//   });
//   ... point the client at server.url("/v1/upload") ...
//   EXPECT_EQ(server.requests().at(0).headers.value("Content-Type"), "application/json");
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/net/url_request.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace platform {

// One request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string path;    // without the query
  std::string target;  // path and query as sent
  std::multimap<std::string, std::string> query;
  HTTPHeaders headers{};
  std::string body;

  std::vector<uint8_t> bodyBytes() const { return {body.begin(), body.end()}; }
};

struct LoopbackResponse {
  int status = 200;
  std::string body{};
  std::string contentType = "text/plain";
  HTTPHeaders headers{};
};

class LoopbackServer {
 public:
  using Handler = std::function<LoopbackResponse(const RecordedRequest&)>;

  // Starts listening at once; throws std::runtime_error when no port can be bound.
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string baseURL() const;
  // The base URL followed by `path` (which should begin with "/").
  std::string url(std::string_view path) const;

  // Answers requests of `method` to exactly `path` (query ignored); replaces an earlier
  // handler of the same method and path.
  void on(std::string method, std::string path, Handler handler);
  // Answers every request no handler matches (the default answers 404).
  void setFallback(Handler handler);

  // The request log, oldest first.
  std::vector<RecordedRequest> requests() const;
  size_t requestCount() const;
  void clearRequests();
  // Waits (real time) until at least `count` requests have arrived.
  bool waitForRequests(size_t count, Duration timeout) const;

  // Stops listening and waits for the serving threads. Idempotent.
  void stop();

  // A loopback port with nothing listening on it, for refused-connection tests.
  static int unusedPort();

 private:
  void serve(const httplib::Request& in, httplib::Response& out);
  LoopbackResponse handle(const RecordedRequest& request);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::map<std::pair<std::string, std::string>, Handler> handlers_;
  Handler fallback_;
  std::vector<RecordedRequest> log_;
};

}  // namespace platform
