#include "platform/net/url_session.h"

#include <algorithm>

#include "platform/net/internal/transfer_engine.h"

namespace platform {

using net_internal::TransferEngine;

void URLSessionDelegate::willPerformHTTPRedirection(
    const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>&,
    const HTTPURLResponse&, URLRequest newRequest,
    std::function<void(std::optional<URLRequest>)> completionHandler) {
  completionHandler(std::move(newRequest));
}

// ---- URLSessionTask -------------------------------------------------------------------

URLSessionTask::URLSessionTask(std::shared_ptr<URLSession> session, uint64_t identifier, Kind kind,
                               URLRequest request)
    : session_(std::move(session)),
      identifier_(identifier),
      kind_(kind),
      originalRequest_(request),
      currentRequest_(std::move(request)) {}

URLSessionTask::~URLSessionTask() = default;

URLRequest URLSessionTask::currentRequest() const {
  std::lock_guard lock(mutex_);
  return currentRequest_;
}

std::optional<HTTPURLResponse> URLSessionTask::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

std::optional<Error> URLSessionTask::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

URLSessionTask::State URLSessionTask::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void URLSessionTask::resume() {
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::Suspended) return;
    state_ = State::Running;
  }
  auto self = shared_from_this();
  session_->taskStarted(self);
  TransferEngine::instance().start(std::move(self));
}

void URLSessionTask::cancel() {
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::Completed || state_ == State::Canceling) return;
    state_ = State::Canceling;
  }
  TransferEngine::instance().cancel(shared_from_this());
}

// ---- URLSession -----------------------------------------------------------------------

URLSession::URLSession(Private, URLSessionConfiguration configuration,
                       std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<DispatchQueue> delegateQueue, bool isShared)
    : configuration_(std::move(configuration)),
      delegateQueue_(delegateQueue
                         ? std::move(delegateQueue)
                         : DispatchQueue::makeSerial(isShared ? "ruv.net.URLSession.shared"
                                                              : "ruv.net.URLSession.delegate")),
      isShared_(isShared),
      delegate_(std::move(delegate)) {}

URLSession::~URLSession() = default;

std::shared_ptr<URLSession> URLSession::shared() {
  // Never destroyed, like the engine it feeds: completions may still be posted at exit.
  static auto* session = new std::shared_ptr<URLSession>(std::make_shared<URLSession>(
      Private{}, URLSessionConfiguration::defaultSessionConfiguration(), nullptr, nullptr, true));
  return *session;
}

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::shared_ptr<URLSessionDelegate> delegate,
                                             std::shared_ptr<DispatchQueue> delegateQueue) {
  return std::make_shared<URLSession>(Private{}, std::move(configuration), std::move(delegate),
                                      std::move(delegateQueue), false);
}

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

bool URLSession::isInvalidated() const {
  std::lock_guard lock(mutex_);
  return invalidated_;
}

std::shared_ptr<URLSessionTask> URLSession::makeTask(URLSessionTask::Kind kind,
                                                     URLRequest request) {
  uint64_t identifier;
  {
    std::lock_guard lock(mutex_);
    if (invalidated_) return nullptr;
    identifier = nextTaskIdentifier_++;
  }
  return std::shared_ptr<URLSessionTask>(
      new URLSessionTask(shared_from_this(), identifier, kind, std::move(request)));
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(URLRequest request,
                                                     DataTaskCompletionHandler completion) {
  auto task = makeTask(URLSessionTask::Kind::Data, std::move(request));
  if (task) task->dataCompletion_ = std::move(completion);
  return task;
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(std::string url,
                                                     DataTaskCompletionHandler completion) {
  return dataTask(URLRequest(std::move(url)), std::move(completion));
}

std::shared_ptr<URLSessionTask> URLSession::uploadTask(URLRequest request,
                                                       std::vector<uint8_t> body,
                                                       DataTaskCompletionHandler completion) {
  request.httpBody = std::move(body);
  auto task = makeTask(URLSessionTask::Kind::Upload, std::move(request));
  if (task) task->dataCompletion_ = std::move(completion);
  return task;
}

std::shared_ptr<URLSessionTask> URLSession::downloadTask(URLRequest request,
                                                         DownloadTaskCompletionHandler completion) {
  auto task = makeTask(URLSessionTask::Kind::Download, std::move(request));
  if (task) task->downloadCompletion_ = std::move(completion);
  return task;
}

void URLSession::taskStarted(const std::shared_ptr<URLSessionTask>& task) {
  std::lock_guard lock(mutex_);
  running_.emplace_back(task->taskIdentifier(), task);
}

void URLSession::taskFinished(uint64_t identifier) {
  std::shared_ptr<URLSessionDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(running_, [&](const auto& entry) { return entry.first == identifier; });
    if (!invalidated_ || !running_.empty() || didNotifyInvalid_) return;
    didNotifyInvalid_ = true;
    delegate = std::move(delegate_);
    delegate_.reset();
  }
  if (delegate) {
    // Posted after the last completion, so a serial delegate queue runs it last.
    delegateQueue_->async(
        [self = shared_from_this(), delegate] { delegate->didBecomeInvalid(self, std::nullopt); });
  }
}

void URLSession::invalidate(bool cancelTasks) {
  if (isShared_) return;
  std::vector<std::shared_ptr<URLSessionTask>> toCancel;
  {
    std::lock_guard lock(mutex_);
    if (invalidated_) return;
    invalidated_ = true;
    if (cancelTasks) {
      for (const auto& [identifier, weak] : running_) {
        if (auto task = weak.lock()) toCancel.push_back(std::move(task));
      }
    }
  }
  for (const auto& task : toCancel) task->cancel();
  // With nothing running, the session becomes invalid at once.
  taskFinished(0);
}

void URLSession::finishTasksAndInvalidate() { invalidate(false); }

void URLSession::invalidateAndCancel() { invalidate(true); }

}  // namespace platform
