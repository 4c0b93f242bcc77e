#include "crash-reporting/network/network_client.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include "crash-reporting/network/response_handler.h"

namespace {

double defaultUniform() {
  static std::once_flag seeded;
  static std::mutex mutex;
  std::call_once(seeded, [] { srand48(static_cast<long>(std::time(nullptr)) ^ (static_cast<long>(getpid()) << 16)); });
  std::lock_guard lock(mutex);
  return drand48();
}

}  // namespace

std::shared_ptr<CRBaseNetworkClient> CRBaseNetworkClient::make(std::shared_ptr<platform::DispatchQueue> queue) {
  return makeWithSessionConfiguration(platform::URLSessionConfiguration::defaultSessionConfiguration(), std::move(queue));
}

std::shared_ptr<CRBaseNetworkClient> CRBaseNetworkClient::makeWithSessionConfiguration(
    platform::URLSessionConfiguration configuration, std::shared_ptr<platform::DispatchQueue> queue) {
  auto session = platform::URLSession::make(std::move(configuration), nullptr, std::move(queue));
  if (!session) return nullptr;
  return std::make_shared<CRBaseNetworkClient>(Private{}, std::move(session));
}

CRBaseNetworkClient::CRBaseNetworkClient(Private, std::shared_ptr<platform::URLSession> session)
    : session_(std::move(session)) {}

CRBaseNetworkClient::~CRBaseNetworkClient() { session_->finishTasksAndInvalidate(); }

void CRBaseNetworkClient::setRetryScheduler(RetryScheduler scheduler) {
  std::lock_guard lock(mutex_);
  scheduler_ = std::move(scheduler);
}

void CRBaseNetworkClient::setUniformSource(UniformSource source) {
  std::lock_guard lock(mutex_);
  uniform_ = std::move(source);
}

void CRBaseNetworkClient::invalidateAndCancel() {
  {
    std::lock_guard lock(mutex_);
    invalidated_ = true;
  }
  session_->invalidateAndCancel();
}

bool CRBaseNetworkClient::isInvalidated() const {
  std::lock_guard lock(mutex_);
  return invalidated_;
}

double CRBaseNetworkClient::computeDelayForResponse(const std::optional<platform::HTTPURLResponse>& response,
                                                    unsigned withRetryCount) {
  // The bounds are the single-precision values of 0.9 and 1.1.
  constexpr double kJitterMinimum = static_cast<double>(0.9f);
  constexpr double kJitterMaximum = static_cast<double>(1.1f);
  UniformSource uniform;
  {
    std::lock_guard lock(mutex_);
    uniform = uniform_;
  }
  const double u = uniform ? uniform() : defaultUniform();
  const double jitter = kJitterMinimum + (kJitterMaximum - kJitterMinimum) * u;
  const double base = std::max(CRNetworkResponseHandler::retryValueForResponse(response), 2.0);
  const double delay = jitter * std::pow(base, std::max(withRetryCount, 1u));
  // A server's Retry-After raised to the tenth power would wait for ages.
  return std::min(delay, kMaximumRetryDelaySeconds);
}

void CRBaseNetworkClient::runAfterRetryValueFromResponse(const std::optional<platform::HTTPURLResponse>& response,
                                                         unsigned attempts, platform::Block block) {
  runAfterRetryValueFromResponse(response, attempts, platform::DispatchQueue::global(platform::QoS::Default),
                                 std::move(block));
}

void CRBaseNetworkClient::runAfterRetryValueFromResponse(const std::optional<platform::HTTPURLResponse>& response,
                                                         unsigned attempts,
                                                         const std::shared_ptr<platform::DispatchQueue>& onQueue,
                                                         platform::Block block) {
  const double delay = computeDelayForResponse(response, attempts);
  RetryScheduler scheduler;
  {
    std::lock_guard lock(mutex_);
    scheduler = scheduler_;
  }
  if (scheduler) return scheduler(delay, std::move(block));
  onQueue->asyncAfter(platform::secondsToDuration(delay), std::move(block));
}

void CRBaseNetworkClient::fail(const Completion& completion, platform::Error error) {
  if (completion.data) completion.data(std::nullopt, std::nullopt, std::move(error));
  if (completion.download) completion.download(std::nullopt, std::nullopt, std::move(error));
}

void CRBaseNetworkClient::startTask(Kind kind, platform::URLRequest request, unsigned retryLimit, unsigned tries,
                                    Completion completion) {
  auto self = shared_from_this();
  // After the session answered: retry, or hand the outcome over.
  auto handle = [self, request, retryLimit, tries, kind, completion](
                    const std::optional<platform::HTTPURLResponse>& response,
                    const std::optional<platform::Error>& error, const std::function<void(std::optional<platform::Error>)>& deliver) {
    CRNetworkResponseHandler::handleCompletedResponse(
        response, request, error, [&](bool retry, std::optional<platform::Error> outcome) {
          if (!retry) return deliver(std::move(outcome));
          if (tries >= retryLimit) {
            return fail(completion, CRNetworkResponseHandler::errorForCode(
                                        CRNetworkErrorCodeRetryLimit,
                                        {{CRNetworkErrorRetryLimitKey, platform::PlistValue(retryLimit)},
                                         {platform::kURLErrorFailingURLStringKey, platform::PlistValue(request.url)}}));
          }
          self->runAfterRetryValueFromResponse(response, tries, [self, request, retryLimit, tries, kind, completion] {
            self->startTask(kind, request, retryLimit, tries + 1, completion);
          });
        });
  };

  std::shared_ptr<platform::URLSessionTask> task;
  if (!isInvalidated()) {
    if (kind == Kind::Data) {
      task = session_->dataTask(request, [handle, completion](auto data, auto response, auto error) {
        handle(response, error, [&](std::optional<platform::Error> outcome) {
          if (completion.data) completion.data(outcome ? std::nullopt : std::move(data), response, std::move(outcome));
        });
      });
    } else {
      task = session_->downloadTask(request, [handle, completion](auto location, auto response, auto error) {
        handle(response, error, [&](std::optional<platform::Error> outcome) {
          if (completion.download) {
            completion.download(outcome ? std::nullopt : std::move(location), response, std::move(outcome));
          }
        });
      });
    }
  }
  if (!task) return fail(completion, CRNetworkResponseHandler::errorForCode(CRNetworkErrorCodeNoTask));
  task->resume();
}

void CRBaseNetworkClient::startDataTaskWithRequest(platform::URLRequest request, DataCompletion completion) {
  startDataTaskWithRequest(std::move(request), kDefaultRetryLimit, std::move(completion));
}

void CRBaseNetworkClient::startDataTaskWithRequest(platform::URLRequest request, unsigned retryLimit,
                                                   DataCompletion completion) {
  startDataTaskWithRequest(std::move(request), retryLimit, 0, std::move(completion));
}

void CRBaseNetworkClient::startDataTaskWithRequest(platform::URLRequest request, unsigned retryLimit, unsigned tries,
                                                   DataCompletion completion) {
  startTask(Kind::Data, std::move(request), retryLimit, tries, Completion{std::move(completion), nullptr});
}

void CRBaseNetworkClient::startDownloadTaskWithRequest(platform::URLRequest request, DownloadCompletion completion) {
  startDownloadTaskWithRequest(std::move(request), kDefaultRetryLimit, std::move(completion));
}

void CRBaseNetworkClient::startDownloadTaskWithRequest(platform::URLRequest request, unsigned retryLimit,
                                                       DownloadCompletion completion) {
  startDownloadTaskWithRequest(std::move(request), retryLimit, 0, std::move(completion));
}

void CRBaseNetworkClient::startDownloadTaskWithRequest(platform::URLRequest request, unsigned retryLimit,
                                                       unsigned tries, DownloadCompletion completion) {
  startTask(Kind::Download, std::move(request), retryLimit, tries, Completion{nullptr, std::move(completion)});
}
