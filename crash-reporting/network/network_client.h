// CRBaseNetworkClient: crash reporting's HTTP client. It runs data and download tasks on a
// URL session of its own and retries transient failures with exponential back-off.
//
// A task is retried when the response handler asks for it (a retryable transport error,
// 408, 5xx, 420, 429) and tries remain: the wait before try n + 1 is
// jitter × max(Retry-After, 2 s) ^ max(n, 1), at most one hour, where jitter is uniform in
// [0.9, 1.1). When no tries remain the completion gets "CRNetworkError" -6 with the limit.
// A session that makes no task gives -3.
//
// Completions run on the session's delegate queue (a serial queue of the session's own when
// none is given). Retries are scheduled on the default-priority global queue; tests replace
// the scheduler and the jitter source. The retry chain holds the client, the request and the
// completion until it ends.
//
// Once invalidated (invalidateAndCancel) a client starts no transfer again: a pending retry
// and every later task end with -3. Destroying a client lets running tasks finish.
//
// Held by std::shared_ptr; thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "platform/foundation/error.h"
#include "platform/net/url_session.h"

class CRBaseNetworkClient : public std::enable_shared_from_this<CRBaseNetworkClient> {
 public:
  using DataCompletion = std::function<void(std::optional<std::vector<uint8_t>> data,
                                            std::optional<platform::HTTPURLResponse> response,
                                            std::optional<platform::Error> error)>;
  // The file location is removed once the completion returns.
  using DownloadCompletion = std::function<void(std::optional<std::string> location,
                                                std::optional<platform::HTTPURLResponse> response,
                                                std::optional<platform::Error> error)>;
  // Runs `block` after `seconds`.
  using RetryScheduler = std::function<void(double seconds, platform::Block block)>;
  // A uniform draw from [0, 1).
  using UniformSource = std::function<double()>;

  static constexpr unsigned kDefaultRetryLimit = 10;
  static constexpr double kMaximumRetryDelaySeconds = 3600;

  // nullptr when no session could be made.
  static std::shared_ptr<CRBaseNetworkClient> make(std::shared_ptr<platform::DispatchQueue> queue = nullptr);
  static std::shared_ptr<CRBaseNetworkClient> makeWithSessionConfiguration(
      platform::URLSessionConfiguration configuration, std::shared_ptr<platform::DispatchQueue> queue = nullptr);
  ~CRBaseNetworkClient();
  CRBaseNetworkClient(const CRBaseNetworkClient&) = delete;
  CRBaseNetworkClient& operator=(const CRBaseNetworkClient&) = delete;

  const std::shared_ptr<platform::URLSession>& session() const { return session_; }

  void startDataTaskWithRequest(platform::URLRequest request, DataCompletion completion);
  void startDataTaskWithRequest(platform::URLRequest request, unsigned retryLimit, DataCompletion completion);
  void startDataTaskWithRequest(platform::URLRequest request, unsigned retryLimit, unsigned tries,
                                DataCompletion completion);
  void startDownloadTaskWithRequest(platform::URLRequest request, DownloadCompletion completion);
  void startDownloadTaskWithRequest(platform::URLRequest request, unsigned retryLimit, DownloadCompletion completion);
  void startDownloadTaskWithRequest(platform::URLRequest request, unsigned retryLimit, unsigned tries,
                                    DownloadCompletion completion);

  // Invalidates the session and cancels its tasks; the client is not used again.
  void invalidateAndCancel();
  bool isInvalidated() const;

  // The wait before the next try, in seconds.
  double computeDelayForResponse(const std::optional<platform::HTTPURLResponse>& response, unsigned withRetryCount);
  void runAfterRetryValueFromResponse(const std::optional<platform::HTTPURLResponse>& response, unsigned attempts,
                                      platform::Block block);
  void runAfterRetryValueFromResponse(const std::optional<platform::HTTPURLResponse>& response, unsigned attempts,
                                      const std::shared_ptr<platform::DispatchQueue>& onQueue, platform::Block block);

  // Test seams: where retries wait, and the draw behind the jitter (the C library's drand48,
  // seeded once per process, by default).
  void setRetryScheduler(RetryScheduler scheduler);
  void setUniformSource(UniformSource source);

 private:
  struct Private {};

 public:
  CRBaseNetworkClient(Private, std::shared_ptr<platform::URLSession> session);

 private:
  enum class Kind { Data, Download };
  struct Completion {
    DataCompletion data;
    DownloadCompletion download;
  };
  void startTask(Kind kind, platform::URLRequest request, unsigned retryLimit, unsigned tries, Completion completion);
  static void fail(const Completion& completion, platform::Error error);

  const std::shared_ptr<platform::URLSession> session_;
  mutable std::mutex mutex_;
  bool invalidated_ = false;
  RetryScheduler scheduler_;
  UniformSource uniform_;
};
