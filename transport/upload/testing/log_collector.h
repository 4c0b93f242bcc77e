// LoopbackLogCollector: a stand-in for the event upload service on a real HTTP server on
// 127.0.0.1, for tests, benchmarks and trying the program by hand.
//
// It answers POSTs to the three upload paths ("/v0/log/batch", "/v1/tellog/legacy/batchlog",
// "/dummy/api/very/long") from a queue of scripted replies, then with its standing reply
// (200 and an empty body unless set). Every request is logged with its body decoded: the
// server has already inflated a gzip body, and the collector reads the log batch request
// with nanopb, payloads included. Other paths (a redirect's target, say) can be routed too.
//
// Threads: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/testing/loopback_server.h"

struct CollectedEvent {
  std::optional<int64_t> eventTimeMs;
  std::vector<uint8_t> payload;
  std::optional<int32_t> eventCode;
  std::optional<int64_t> timezoneOffsetSeconds;
  std::optional<int64_t> uptimeMs;
  bool hasNetworkConnectionInfo = false;
  std::optional<int32_t> networkType;
  std::optional<int32_t> mobileSubtype;
  std::optional<int32_t> productID;
};

struct CollectedLogRequest {
  std::optional<int32_t> logSource;
  std::optional<int32_t> clientKind;
  // AppleClientInfo fields by name ("os_major_version", "language", ...), when present.
  std::map<std::string, std::string> appleClient;
  bool hasExtraClient = false;
  bool hasQosTier = false;
  std::optional<int64_t> requestTimeMs;
  std::optional<int64_t> requestUptimeMs;
  std::vector<CollectedEvent> events;
};

struct CollectedUpload {
  platform::RecordedRequest request;
  // std::nullopt when the body is no log batch request.
  std::optional<std::vector<CollectedLogRequest>> requests;
  size_t eventCount() const;
};

class LoopbackLogCollector {
 public:
  LoopbackLogCollector();
  ~LoopbackLogCollector();
  LoopbackLogCollector(const LoopbackLogCollector&) = delete;
  LoopbackLogCollector& operator=(const LoopbackLogCollector&) = delete;

  // "http://127.0.0.1:<port>"
  std::string baseURL() const { return server_.baseURL(); }
  std::string url(const std::string& path) const { return server_.url(path); }

  // Replies given, one per upload request, before the standing one.
  void queue(std::vector<platform::LoopbackResponse> replies);
  void setStandingReply(platform::LoopbackResponse reply);
  // Answers POSTs to `path` with `reply` (a redirect target, say); those are logged too.
  void route(const std::string& path, platform::LoopbackResponse reply);

  // A reply of `status` whose body is a LogResponse, with the wait when given.
  static platform::LoopbackResponse logResponse(int status, std::optional<int64_t> nextRequestWaitMs = std::nullopt);
  // A body that is no LogResponse.
  static platform::LoopbackResponse garbage(int status);

  std::vector<CollectedUpload> uploads() const;
  size_t uploadCount() const { return server_.requestCount(); }
  bool waitForUploads(size_t count, platform::Duration timeout) const { return server_.waitForRequests(count, timeout); }
  void clear() { server_.clearRequests(); }

  // The log batch request in `body`, or std::nullopt when it does not decode.
  static std::optional<std::vector<CollectedLogRequest>> decodeBatch(const std::vector<uint8_t>& body);

 private:
  platform::LoopbackResponse answer(const platform::RecordedRequest& request);

  mutable std::mutex mutex_;
  std::deque<platform::LoopbackResponse> scripted_;
  platform::LoopbackResponse standing_;
  platform::LoopbackServer server_;
};
