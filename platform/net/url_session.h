// URLSession: HTTP(S) requests on libcurl, with completions delivered on a dispatch queue.
//
// A session is made from a configuration, an optional delegate and an optional delegate
// queue; without a queue it makes its own serial one. It hands out tasks: a data task
// delivers the reply body in memory, an upload task sends a given body, a download task
// hands over a temporary file that is removed once the completion returns. A task starts
// suspended; resume() sends it. Every completion, and every delegate call, runs on the
// delegate queue. A transport failure completes the task with an error of kURLErrorDomain
// (time-out, refused connection, cancellation ...); an HTTP status of any value is a
// reply, never an error.
//
// Ownership: a task holds its session, so a session lives while any of its tasks runs.
// Once a session is invalidated (finishTasksAndInvalidate or invalidateAndCancel) it makes
// no more tasks (the task makers return nullptr), tells its delegate didBecomeInvalid after
// its last task, and lets go of the delegate.
//
// Transfers of every session run on one libcurl engine thread. Requests reach only the
// host they name: proxies from the environment are ignored, only http and https are
// spoken, and redirects are followed by the session itself (asking the delegate first).
// The session keeps no cookies, cache or credentials, so the default and the ephemeral
// configuration behave alike.
//
// Example:
//   auto task = platform::URLSession::shared()->dataTask(
//       platform::URLRequest("http://127.0.0.1:8080/settings"),
//       [](auto data, auto response, auto error) {
//         if (error) return report(*error);
//         use(response->statusCode, *data);
//       });
//   task->resume();
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
#include "platform/net/url_request.h"

namespace platform {

class URLSession;
class URLSessionTask;

namespace net_internal {
class TransferEngine;
}

struct URLSessionConfiguration {
  // Idle time-out of a request that names none (see URLRequest::timeoutInterval).
  Duration timeoutIntervalForRequest = std::chrono::seconds(60);
  // The longest a whole transfer may take, redirects included.
  Duration timeoutIntervalForResource = std::chrono::hours(24 * 7);
  // Header fields sent with every request that does not set the same field itself.
  HTTPHeaders HTTPAdditionalHeaders;
  // Recorded for callers that ask; no configuration stores anything on disk.
  bool ephemeral = false;

  static URLSessionConfiguration defaultSessionConfiguration() { return {}; }
  static URLSessionConfiguration ephemeralSessionConfiguration() {
    URLSessionConfiguration configuration;
    configuration.ephemeral = true;
    return configuration;
  }
};

// Completion of a data or upload task: the body (empty, never absent, when the reply had
// none) and the response, or an error. Runs on the session's delegate queue.
using DataTaskCompletionHandler =
    std::function<void(std::optional<std::vector<uint8_t>> data,
                       std::optional<HTTPURLResponse> response, std::optional<Error> error)>;
// Completion of a download task: the path of a temporary file holding the body (removed
// when the handler returns) and the response, or an error.
using DownloadTaskCompletionHandler =
    std::function<void(std::optional<std::string> location, std::optional<HTTPURLResponse> response,
                       std::optional<Error> error)>;

// Hooks a session calls on its delegate queue. Every method has a default.
class URLSessionDelegate {
 public:
  virtual ~URLSessionDelegate() = default;

  // A reply of status 301, 302, 303, 307 or 308 with a location asks to redirect.
  // `newRequest` is what the session would send next (303, and 301/302 after a POST,
  // become a GET without body; the others keep method and body). Call `completionHandler`
  // once, from any thread, with the request to send, or with std::nullopt to stop: the task
  // then completes with the redirect reply itself. The default follows `newRequest`.
  virtual void willPerformHTTPRedirection(
      const std::shared_ptr<URLSession>& session, const std::shared_ptr<URLSessionTask>& task,
      const HTTPURLResponse& response, URLRequest newRequest,
      std::function<void(std::optional<URLRequest>)> completionHandler);

  // The invalidated session has finished its last task and drops its delegate.
  virtual void didBecomeInvalid(const std::shared_ptr<URLSession>& session,
                                const std::optional<Error>& error) {}
};

// One transfer of a session. Thread-safe; held by std::shared_ptr.
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  enum class Kind { Data, Upload, Download };
  enum class State { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

  ~URLSessionTask();

  uint64_t taskIdentifier() const { return identifier_; }
  Kind kind() const { return kind_; }
  const URLRequest& originalRequest() const { return originalRequest_; }
  // The request now being sent: differs from the original after a redirect.
  URLRequest currentRequest() const;
  // The last reply received, once there is one.
  std::optional<HTTPURLResponse> response() const;
  // The failure the task completed with.
  std::optional<Error> error() const;
  State state() const;
  std::shared_ptr<URLSession> session() const { return session_; }

  // Sends a suspended task; does nothing in any other state.
  void resume();
  // Ends the task with kURLErrorCancelled unless it has already completed. A task cancelled
  // before resume() completes at once.
  void cancel();

 private:
  friend class URLSession;
  friend class net_internal::TransferEngine;

  URLSessionTask(std::shared_ptr<URLSession> session, uint64_t identifier, Kind kind,
                 URLRequest request);

  const std::shared_ptr<URLSession> session_;
  const uint64_t identifier_;
  const Kind kind_;
  const URLRequest originalRequest_;
  DataTaskCompletionHandler dataCompletion_;
  DownloadTaskCompletionHandler downloadCompletion_;

  mutable std::mutex mutex_;
  State state_ = State::Suspended;
  URLRequest currentRequest_;
  std::optional<HTTPURLResponse> response_;
  std::optional<Error> error_;

  // Touched by the engine thread only.
  int redirectCount_ = 0;
  std::optional<std::chrono::steady_clock::time_point> resourceDeadline_;
};

class URLSession : public std::enable_shared_from_this<URLSession> {
 public:
  // The process-wide session of the default configuration, no delegate and its own serial
  // queue. Invalidating it does nothing.
  static std::shared_ptr<URLSession> shared();
  static std::shared_ptr<URLSession> make(URLSessionConfiguration configuration,
                                          std::shared_ptr<URLSessionDelegate> delegate = nullptr,
                                          std::shared_ptr<DispatchQueue> delegateQueue = nullptr);

  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  const URLSessionConfiguration& configuration() const { return configuration_; }
  const std::shared_ptr<DispatchQueue>& delegateQueue() const { return delegateQueue_; }
  // The delegate, until the session has become invalid.
  std::shared_ptr<URLSessionDelegate> delegate() const;

  // Task makers; nullptr once the session is invalidated. An empty completion is allowed.
  std::shared_ptr<URLSessionTask> dataTask(URLRequest request,
                                           DataTaskCompletionHandler completion);
  std::shared_ptr<URLSessionTask> dataTask(std::string url, DataTaskCompletionHandler completion);
  // Sends `body` in place of the request's own body (the method stays as given).
  std::shared_ptr<URLSessionTask> uploadTask(URLRequest request, std::vector<uint8_t> body,
                                             DataTaskCompletionHandler completion);
  std::shared_ptr<URLSessionTask> downloadTask(URLRequest request,
                                               DownloadTaskCompletionHandler completion);

  // Makes no more tasks; running ones finish, then the delegate hears didBecomeInvalid.
  void finishTasksAndInvalidate();
  // As finishTasksAndInvalidate, and cancels every running task.
  void invalidateAndCancel();
  bool isInvalidated() const;

 private:
  friend class URLSessionTask;
  friend class net_internal::TransferEngine;
  struct Private {};

 public:
  URLSession(Private, URLSessionConfiguration configuration,
             std::shared_ptr<URLSessionDelegate> delegate,
             std::shared_ptr<DispatchQueue> delegateQueue, bool isShared);

 private:
  std::shared_ptr<URLSessionTask> makeTask(URLSessionTask::Kind kind, URLRequest request);
  // Bookkeeping of tasks between resume and completion.
  void taskStarted(const std::shared_ptr<URLSessionTask>& task);
  void taskFinished(uint64_t identifier);
  void invalidate(bool cancelTasks);

  const URLSessionConfiguration configuration_;
  const std::shared_ptr<DispatchQueue> delegateQueue_;
  const bool isShared_;

  mutable std::mutex mutex_;
  std::shared_ptr<URLSessionDelegate> delegate_;
  bool invalidated_ = false;
  bool didNotifyInvalid_ = false;
  uint64_t nextTaskIdentifier_ = 1;
  // Running tasks, held weakly: the engine holds them while they run.
  std::vector<std::pair<uint64_t, std::weak_ptr<URLSessionTask>>> running_;
};

}  // namespace platform
