#include "crash-reporting/network/network_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <mutex>

#include "crash-reporting/network/network_operation.h"
#include "crash-reporting/network/response_handler.h"
#include "platform/net/testing/loopback_server.h"
#include "platform/foundation/text.h"
#include "platform/testing/environment.h"

namespace {

using namespace std::chrono_literals;

struct Result {
  std::optional<std::string> body;
  std::optional<platform::HTTPURLResponse> response;
  std::optional<platform::Error> error;
};

class CRNetworkClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_ = CRBaseNetworkClient::make();
    ASSERT_TRUE(client_);
    // Retries wait for nothing: each delay is written down and the retry runs at once.
    client_->setRetryScheduler([this](double seconds, platform::Block block) {
      {
        std::lock_guard lock(mutex_);
        delays_.push_back(seconds);
      }
      platform::DispatchQueue::global()->async(std::move(block));
    });
    client_->setUniformSource([] { return 0.5; });
  }

  std::vector<double> delays() {
    std::lock_guard lock(mutex_);
    return delays_;
  }

  Result fetch(const std::string& path, unsigned retryLimit) {
    std::promise<Result> promise;
    client_->startDataTaskWithRequest(platform::URLRequest(server_.url(path)), retryLimit,
                                      [&](auto data, auto response, auto error) {
                                        Result result{std::nullopt, response, error};
                                        if (data) result.body = std::string(data->begin(), data->end());
                                        promise.set_value(result);
                                      });
    auto future = promise.get_future();
    EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
    return future.get();
  }

  void script(const std::string& path, std::vector<platform::LoopbackResponse> replies) {
    auto shared = std::make_shared<std::vector<platform::LoopbackResponse>>(std::move(replies));
    auto next = std::make_shared<size_t>(0);
    auto mutex = std::make_shared<std::mutex>();
    server_.on("GET", path, [shared, next, mutex](const platform::RecordedRequest&) {
      std::lock_guard lock(*mutex);
      const size_t index = std::min(*next, shared->size() - 1);
      ++*next;
      return (*shared)[index];
    });
  }

  platform::testing::Environment environment_{"cr-network"};
  platform::LoopbackServer server_;
  std::shared_ptr<CRBaseNetworkClient> client_;
  std::mutex mutex_;
  std::vector<double> delays_;
};

platform::LoopbackResponse status(int code, platform::HTTPHeaders headers = {}) {
  return platform::LoopbackResponse{.status = code, .body = "", .contentType = "text/plain", .headers = headers};
}

TEST_F(CRNetworkClientTest, RetryLimitOneWaitsOnceThenGivesUp) {
  script("/flaky", {status(503)});
  const Result result = fetch("/flaky", 1);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->domain, "CRNetworkError");
  EXPECT_EQ(result.error->code, -6);
  EXPECT_EQ(*result.error->userInfo.at("retryLimit").asInteger(), 1);
  EXPECT_EQ(*result.error->userInfo.at(platform::kURLErrorFailingURLStringKey).asString(), server_.url("/flaky"));
  EXPECT_FALSE(result.response);
  ASSERT_EQ(delays().size(), 1u);
  EXPECT_NEAR(delays()[0], 2.0, 1e-6);
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(CRNetworkClientTest, BackOffFollowsRetryAfterRaisedToTheTries) {
  script("/busy", {status(429, {{"Retry-After", "30"}})});
  const Result result = fetch("/busy", 3);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->code, -6);
  const auto waits = delays();
  ASSERT_EQ(waits.size(), 3u);
  EXPECT_NEAR(waits[0], 30, 1e-4);
  EXPECT_NEAR(waits[1], 30, 1e-4);
  EXPECT_NEAR(waits[2], 900, 1e-3);
}

TEST_F(CRNetworkClientTest, ServerTroubleThenSuccessDeliversTheBody) {
  script("/settings", {status(503), platform::LoopbackResponse{.status = 200, .body = "{\"a\":1}",
                                                               .contentType = "application/json"}});
  const Result result = fetch("/settings", 10);
  EXPECT_FALSE(result.error);
  ASSERT_TRUE(result.response);
  EXPECT_EQ(result.response->statusCode, 200);
  EXPECT_EQ(result.body, "{\"a\":1}");
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(CRNetworkClientTest, FailuresAreNotRetried) {
  script("/missing", {status(404)});
  const Result result = fetch("/missing", 10);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->code, -5);
  EXPECT_EQ(*result.error->userInfo.at("status_code").asInteger(), 404);
  EXPECT_TRUE(delays().empty());
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(CRNetworkClientTest, DelaysStartAtTwoSecondsAndAreCappedAtAnHour) {
  auto withRetryAfter = [](std::optional<std::string> value) {
    platform::HTTPURLResponse response;
    response.statusCode = 429;
    if (value) response.allHeaderFields.set("Retry-After", *value);
    return std::optional<platform::HTTPURLResponse>(response);
  };
  struct Case {
    std::optional<std::string> retryAfter;
    unsigned tries;
    double seconds;
  };
  for (const Case& c : {Case{std::nullopt, 0, 2}, Case{std::nullopt, 1, 2}, Case{std::nullopt, 2, 4},
                        Case{std::nullopt, 4, 16}, Case{"0", 0, 2}, Case{"1", 0, 2}, Case{"-1", 0, 2},
                        Case{"60", 1, 60}, Case{"60", 2, 3600}, Case{"60", 10, 3600}}) {
    EXPECT_NEAR(client_->computeDelayForResponse(withRetryAfter(c.retryAfter), c.tries), c.seconds, 1e-4)
        << c.retryAfter.value_or("(none)") << " " << c.tries;
  }
  // The jitter spans [0.9, 1.1).
  client_->setUniformSource([] { return 0.0; });
  EXPECT_NEAR(client_->computeDelayForResponse(std::nullopt, 0), 1.8, 1e-6);
  client_->setUniformSource([] { return 0.999999; });
  EXPECT_NEAR(client_->computeDelayForResponse(std::nullopt, 0), 2.2, 1e-5);
}

TEST_F(CRNetworkClientTest, AnInvalidatedClientStartsNoTransfer) {
  script("/flaky", {status(503)});
  // The retry is held back until the client has been invalidated.
  std::promise<platform::Block> heldRetry;
  client_->setRetryScheduler([&](double, platform::Block block) { heldRetry.set_value(std::move(block)); });
  std::promise<Result> promise;
  client_->startDataTaskWithRequest(platform::URLRequest(server_.url("/flaky")), 5,
                                    [&](auto, auto response, auto error) { promise.set_value({std::nullopt, response, error}); });
  auto retry = heldRetry.get_future();
  ASSERT_EQ(retry.wait_for(20s), std::future_status::ready);
  client_->invalidateAndCancel();
  retry.get()();
  const Result result = promise.get_future().get();
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->code, -3);
  EXPECT_EQ(server_.requestCount(), 1u);

  Result later = fetch("/flaky", 5);
  ASSERT_TRUE(later.error);
  EXPECT_EQ(later.error->code, -3);
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(CRNetworkClientTest, DownloadsHandOverAFileAndRetryLikeData) {
  script("/file", {status(500), platform::LoopbackResponse{.status = 200, .body = "payload"}});
  std::promise<std::optional<std::string>> promise;
  client_->startDownloadTaskWithRequest(platform::URLRequest(server_.url("/file")), 1,
                                        [&](auto location, auto, auto error) {
                                          EXPECT_FALSE(error);
                                          std::optional<std::string> content;
                                          if (location) {
                                            std::ifstream in(*location);
                                            content.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
                                          }
                                          promise.set_value(content);
                                        });
  auto future = promise.get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(future.get(), "payload");
  EXPECT_EQ(delays().size(), 1u);
}

// A network operation's request carries the common headers, in order, to the server.
TEST_F(CRNetworkClientTest, CommonHeadersInOrder) {
  platform::Locale::setCurrent("de_DE");
  CRNetworkOperation operation("1:42:ios:abc", CRDataCollectionToken::validToken());
  platform::URLRequest request = operation.mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(server_.url("/h"));
  EXPECT_EQ(request.timeoutInterval, std::chrono::seconds(10));
  std::vector<std::string> names;
  for (const auto& [name, value] : request.allHTTPHeaderFields.fields()) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"User-Agent", "Accept-Charset", "Accept-Language", "Content-Language",
                                             "X-Vuzirerered-Developer-Token", "X-Vuzirerered-API-Client-Id",
                                             "X-Vuzirerered-API-Client-Display-Version",
                                             "X-Vuzirerered-Zideza-App-Id"}));

  script("/h", {status(204)});
  std::promise<void> done;
  client_->startDataTaskWithRequest(request, [&](auto, auto, auto error) {
    EXPECT_FALSE(error);
    done.set_value();
  });
  ASSERT_EQ(done.get_future().wait_for(20s), std::future_status::ready);
  const auto sent = server_.requests().at(0).headers;
  EXPECT_EQ(sent.value("User-Agent"), "raz.ovevar.uvivarud.ezivezireze.ios/10.27.0");
  EXPECT_EQ(sent.value("Accept-Charset"), "utf-8");
  EXPECT_EQ(sent.value("Accept-Language"), "de_DE");
  EXPECT_EQ(sent.value("Content-Language"), "de_DE");
  EXPECT_EQ(sent.value("X-Vuzirerered-Developer-Token"), "a3c91e5b07d24f68e1b9c0d7f52a4e8b6c1d309f");
  EXPECT_EQ(sent.value("X-Vuzirerered-API-Client-Id"), "raz.ovevar.uvivarud.ezivezireze.ios");
  EXPECT_EQ(sent.value("X-Vuzirerered-API-Client-Display-Version"), "10.27.0");
  EXPECT_EQ(sent.value("X-Vuzirerered-Zideza-App-Id"), "1:42:ios:abc");
}

TEST_F(CRNetworkClientTest, OperationsNeedATokenAndAnAppID) {
  class Probe : public CRNetworkOperation {
   public:
    using CRNetworkOperation::CRNetworkOperation;
    bool ran = false;

   protected:
    void main() override {
      ran = true;
      finishWithError(std::nullopt);
    }
  };
  auto withoutToken = std::make_shared<Probe>("app", nullptr);
  withoutToken->startWithToken(nullptr);
  EXPECT_FALSE(withoutToken->ran);
  EXPECT_FALSE(withoutToken->isExecuting() || withoutToken->isFinished());
  auto withToken = std::make_shared<Probe>("app", CRDataCollectionToken::validToken());
  withToken->startWithToken(CRDataCollectionToken::validToken());
  EXPECT_TRUE(withToken->ran);
  EXPECT_TRUE(withToken->isFinished());
  EXPECT_THROW(Probe("", nullptr), platform::Exception);
}

}  // namespace
