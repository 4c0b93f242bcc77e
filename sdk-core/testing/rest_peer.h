// ScriptedRestPeer: a scripted stand-in for the SDK's REST services, on a real HTTP server
// on 127.0.0.1 (platform::LoopbackServer), for tests and benchmarks.
//
// Routes are a method and a path pattern where "*" stands for one path segment or part of
// one ("/v1/projects/*/installations/*/authTokens:generate"). Each route answers from its
// queue of scripted replies first (one per request, in order: queue [500, 200] to see a
// repeat succeed) and then with its standing reply. Requests no route matches get 404.
// Every request is logged, in arrival order; the "X-telemetry-client" header of a logged
// request decodes to the heartbeats JSON it carries.
//
// A route can be held: its requests wait (on the server's threads) until released, so a
// test can pile callers up behind one request in flight.
//
// Threads: every member may be called from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/testing/loopback_server.h"

class ScriptedRestPeer {
 public:
  ScriptedRestPeer();
  ~ScriptedRestPeer();
  ScriptedRestPeer(const ScriptedRestPeer&) = delete;
  ScriptedRestPeer& operator=(const ScriptedRestPeer&) = delete;

  // "http://127.0.0.1:<port>"
  std::string baseURL() const { return server_.baseURL(); }

  // Sets the standing reply of a route (adding the route).
  void route(std::string method, std::string pathPattern, platform::LoopbackResponse reply);
  // Appends scripted replies that the route gives before its standing one.
  void queue(const std::string& method, const std::string& pathPattern,
             std::vector<platform::LoopbackResponse> replies);
  // A JSON reply of the status.
  static platform::LoopbackResponse json(int status, const nlohmann::json& body);
  static platform::LoopbackResponse status(int status);

  // Holds requests of every route until release(); release() lets them all through.
  void hold();
  void release();

  std::vector<platform::RecordedRequest> requests() const { return server_.requests(); }
  size_t requestCount() const { return server_.requestCount(); }
  bool waitForRequests(size_t count, platform::Duration timeout) const {
    return server_.waitForRequests(count, timeout);
  }
  void clearRequests() { server_.clearRequests(); }

  // The heartbeats JSON of a request's "X-telemetry-client" header (base64url of gzip);
  // std::nullopt without the header or when it does not decode.
  static std::optional<nlohmann::json> heartbeatsOf(const platform::RecordedRequest& request);
  // The request body as JSON (discarded value when it is not JSON).
  static nlohmann::json bodyOf(const platform::RecordedRequest& request);

  static bool matches(const std::string& pattern, const std::string& path);

 private:
  struct Route {
    std::string method;
    std::string pattern;
    std::deque<platform::LoopbackResponse> scripted;
    platform::LoopbackResponse standing;
  };
  platform::LoopbackResponse answer(const platform::RecordedRequest& request);

  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool holding_ = false;
  std::vector<Route> routes_;
  platform::LoopbackServer server_;
};
