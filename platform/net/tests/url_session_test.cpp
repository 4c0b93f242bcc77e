#include "platform/net/url_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "platform/net/testing/loopback_server.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

struct Outcome {
  std::optional<std::vector<uint8_t>> data;
  std::optional<HTTPURLResponse> response;
  std::optional<Error> error;
  bool ranOnDelegateQueue = false;

  std::string text() const { return data ? std::string(data->begin(), data->end()) : ""; }
};

// Runs one data task to completion (or fails the test after 10 s of real time).
Outcome send(const std::shared_ptr<URLSession>& session, URLRequest request,
             std::shared_ptr<URLSessionTask>* taskOut = nullptr) {
  auto promise = std::make_shared<std::promise<Outcome>>();
  auto future = promise->get_future();
  auto queue = session->delegateQueue();
  auto task =
      session->dataTask(std::move(request), [promise, queue](auto data, auto response, auto error) {
        promise->set_value(
            Outcome{std::move(data), std::move(response), std::move(error), queue->isCurrent()});
      });
  if (!task) {
    ADD_FAILURE() << "the session made no task";
    return {};
  }
  if (taskOut) *taskOut = task;
  task->resume();
  if (future.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "the task did not complete";
    return {};
  }
  return future.get();
}

// Holds a handler's reply back until the test opens it (never a sleep).
class Gate {
 public:
  void wait() { opened_.wait(); }
  void open() {
    if (!isOpen_.exchange(true)) promise_.set_value();
  }
  ~Gate() { open(); }

 private:
  std::promise<void> promise_;
  std::shared_future<void> opened_ = promise_.get_future().share();
  std::atomic<bool> isOpen_{false};
};

class URLSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<URLSession> makeSession(std::shared_ptr<URLSessionDelegate> delegate = nullptr) {
    return URLSession::make(URLSessionConfiguration::ephemeralSessionConfiguration(),
                            std::move(delegate));
  }

  LoopbackServer server;
};

TEST_F(URLSessionTest, DeliversStatusHeadersAndBodyOnTheDelegateQueue) {
  server.on("GET", "/settings", [](const RecordedRequest&) {
    LoopbackResponse response{
        .status = 201, .body = "{\"a\":1}", .contentType = "application/json"};
    response.headers.set("Retry-After", "30");
    response.headers.set("X-Request-Id", "abc");
    return response;
  });
  auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
  configuration.HTTPAdditionalHeaders.set("X-Session", "session");
  configuration.HTTPAdditionalHeaders.set("X-Both", "from session");
  auto session = URLSession::make(configuration);

  URLRequest request(server.url("/settings?v=1"));
  request.setValue("key", "X-Zideza-Api-Key");
  request.setValue("from request", "x-both");
  Outcome outcome = send(session, request);

  ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
  EXPECT_TRUE(outcome.ranOnDelegateQueue);
  ASSERT_TRUE(outcome.response);
  EXPECT_EQ(outcome.response->statusCode, 201);
  EXPECT_EQ(outcome.response->url, server.url("/settings?v=1"));
  EXPECT_EQ(outcome.response->valueForHTTPHeaderField("retry-after"), "30");
  EXPECT_EQ(outcome.response->valueForHTTPHeaderField("Content-Type"), "application/json");
  EXPECT_EQ(outcome.text(), "{\"a\":1}");

  ASSERT_EQ(server.requestCount(), 1u);
  RecordedRequest received = server.requests()[0];
  EXPECT_EQ(received.target, "/settings?v=1");
  EXPECT_EQ(received.headers.value("X-Zideza-Api-Key"), "key");
  EXPECT_EQ(received.headers.value("X-Session"), "session");
  EXPECT_EQ(received.headers.value("X-Both"), "from request");
  EXPECT_FALSE(received.headers.contains("Expect"));
}

TEST_F(URLSessionTest, CompletesOnTheQueueItIsGiven) {
  server.on("GET", "/ping",
            [](const RecordedRequest&) { return LoopbackResponse{.body = "pong"}; });
  auto session = URLSession::make(URLSessionConfiguration::defaultSessionConfiguration(), nullptr,
                                  DispatchQueue::main());
  bool done = false;
  bool onMainThread = false;
  session
      ->dataTask(server.url("/ping"),
                 [&](auto data, auto, auto) {
                   onMainThread = MainLoop::isMainThread();
                   done = data && std::string(data->begin(), data->end()) == "pong";
                 })
      ->resume();
  ASSERT_TRUE(MainLoop::runUntil([&] { return done; }, 10s));
  EXPECT_TRUE(onMainThread);
}

TEST_F(URLSessionTest, ErrorStatusesAreRepliesNotErrors) {
  server.on("POST", "/upload", [](const RecordedRequest&) {
    return LoopbackResponse{.status = 500, .body = "try later"};
  });
  URLRequest request(server.url("/upload"));
  request.httpMethod = "POST";
  Outcome outcome = send(makeSession(), request);
  ASSERT_FALSE(outcome.error);
  EXPECT_EQ(outcome.response->statusCode, 500);
  EXPECT_EQ(outcome.text(), "try later");

  // No body at all still gives empty data, not absent data.
  Outcome missing = send(makeSession(), URLRequest(server.url("/nowhere")));
  ASSERT_TRUE(missing.data);
  EXPECT_EQ(missing.response->statusCode, 404);
}

TEST_F(URLSessionTest, SendsEachMethodWithItsBody) {
  server.setFallback([](const RecordedRequest& request) {
    return LoopbackResponse{.body = request.method + ":" + request.body};
  });
  struct Case {
    std::string method;
    std::optional<std::string> body;
    std::string expectedReply;
  };
  const Case cases[] = {
      {"POST", std::string("{\"instId\":\"c1\"}"), "POST:{\"instId\":\"c1\"}"},
      {"POST", std::nullopt, "POST:"},
      {"PUT", std::string("put body"), "PUT:put body"},
      {"DELETE", std::string("{}"), "DELETE:{}"},
      {"DELETE", std::nullopt, "DELETE:"},
      {"GET", std::nullopt, "GET:"},
  };
  auto session = makeSession();
  for (const auto& c : cases) {
    URLRequest request(server.url("/echo"));
    request.httpMethod = c.method;
    if (c.body) request.setHTTPBody(*c.body);
    Outcome outcome = send(session, request);
    ASSERT_FALSE(outcome.error) << c.method;
    EXPECT_EQ(outcome.text(), c.expectedReply) << c.method;
  }

  // HEAD gets the status and headers of the reply and no body.
  URLRequest head(server.url("/echo"));
  head.httpMethod = "HEAD";
  Outcome outcome = send(session, head);
  ASSERT_FALSE(outcome.error);
  EXPECT_EQ(outcome.response->statusCode, 200);
  EXPECT_TRUE(outcome.data->empty());
}

TEST_F(URLSessionTest, UploadTaskSendsItsBodyInPlaceOfTheRequests) {
  server.on("POST", "/batch", [](const RecordedRequest& request) {
    return LoopbackResponse{.body = std::to_string(request.body.size())};
  });
  std::vector<uint8_t> body(200000);
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7);
  URLRequest request(server.url("/batch"));
  request.httpMethod = "POST";
  request.setHTTPBody("ignored");
  request.setValue("application/x-protobuf", "Content-Type");
  request.setValue("3", "Content-Length");  // the session frames the body, not the caller

  std::promise<Outcome> promise;
  auto session = makeSession();
  auto task = session->uploadTask(request, body, [&](auto data, auto response, auto error) {
    promise.set_value(Outcome{std::move(data), std::move(response), std::move(error)});
  });
  EXPECT_EQ(task->kind(), URLSessionTask::Kind::Upload);
  task->resume();
  auto future = promise.get_future();
  ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
  Outcome outcome = future.get();
  ASSERT_FALSE(outcome.error);
  EXPECT_EQ(outcome.text(), "200000");
  EXPECT_EQ(server.requests().at(0).bodyBytes(), body);
}

TEST_F(URLSessionTest, RunsManyTasksAtOnce) {
  server.setFallback([](const RecordedRequest& request) {
    return LoopbackResponse{.body = "reply to " + request.path};
  });
  auto session = makeSession();
  constexpr int kCount = 12;
  std::vector<std::promise<std::string>> replies(kCount);
  for (int i = 0; i < kCount; ++i) {
    session
        ->dataTask(
            server.url("/item/" + std::to_string(i)),
            [&replies, i](auto data, auto, auto error) {
              replies[i].set_value(error ? "error" : std::string(data->begin(), data->end()));
            })
        ->resume();
  }
  for (int i = 0; i < kCount; ++i) {
    auto reply = replies[i].get_future();
    ASSERT_EQ(reply.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(reply.get(), "reply to /item/" + std::to_string(i));
  }
}

TEST_F(URLSessionTest, IdleRequestTimesOut) {
  auto gate = std::make_shared<Gate>();
  server.on("GET", "/slow", [gate](const RecordedRequest&) {
    gate->wait();
    return LoopbackResponse{.body = "late"};
  });
  // The request's own time-out, then the session's for a request that names none.
  URLRequest ownTimeout(server.url("/slow"));
  ownTimeout.timeoutInterval = 200ms;
  auto shortSessions = URLSessionConfiguration::defaultSessionConfiguration();
  shortSessions.timeoutIntervalForRequest = 200ms;
  const std::pair<std::shared_ptr<URLSession>, URLRequest> cases[] = {
      {makeSession(), ownTimeout},
      {URLSession::make(shortSessions), URLRequest(server.url("/slow"))},
  };
  for (const auto& [session, request] : cases) {
    std::shared_ptr<URLSessionTask> task;
    Outcome outcome = send(session, request, &task);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, kURLErrorDomain);
    EXPECT_EQ(outcome.error->code, kURLErrorTimedOut);
    EXPECT_FALSE(outcome.data);
    EXPECT_FALSE(outcome.response);
    EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
    EXPECT_EQ(task->error(), outcome.error);
  }
  gate->open();
}

TEST_F(URLSessionTest, RefusedConnectionIsAnError) {
  std::string url = "http://127.0.0.1:" + std::to_string(LoopbackServer::unusedPort()) + "/x";
  Outcome outcome = send(makeSession(), URLRequest(url));
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, kURLErrorCannotConnectToHost);
  EXPECT_EQ(outcome.error->userInfo.at(kURLErrorFailingURLStringKey), PlistValue(url));
  EXPECT_FALSE(outcome.error->localizedDescription().empty());
}

TEST_F(URLSessionTest, RefusesRequestsItMustNotSend) {
  struct Case {
    std::string url;
    std::string method;
    HTTPHeaders headers;
    long expectedCode;
  };
  const Case cases[] = {
      {"not a url", "GET", {}, kURLErrorBadURL},
      {"file:///etc/passwd", "GET", {}, kURLErrorUnsupportedURL},
      {"ftp://127.0.0.1/x", "GET", {}, kURLErrorUnsupportedURL},
      {server.url("/x"), "GET", {{"X-Evil", "a\r\nHost: elsewhere"}}, kURLErrorBadURL},
      {server.url("/x"), "GET", {{"Bad Name", "v"}}, kURLErrorBadURL},
      {server.url("/x"), "GET /y HTTP/1.1\r\n", {}, kURLErrorBadURL},
  };
  auto session = makeSession();
  for (const auto& c : cases) {
    URLRequest request(c.url);
    request.httpMethod = c.method;
    request.allHTTPHeaderFields = c.headers;
    Outcome outcome = send(session, request);
    ASSERT_TRUE(outcome.error) << c.url;
    EXPECT_EQ(outcome.error->code, c.expectedCode) << c.url;
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(URLSessionTest, IgnoresProxiesFromTheEnvironment) {
  std::string deadProxy = "http://127.0.0.1:" + std::to_string(LoopbackServer::unusedPort());
  ::setenv("http_proxy", deadProxy.c_str(), 1);
  ::setenv("HTTP_PROXY", deadProxy.c_str(), 1);
  ::setenv("ALL_PROXY", deadProxy.c_str(), 1);
  server.on("GET", "/direct", [](const RecordedRequest&) { return LoopbackResponse{}; });
  Outcome outcome = send(makeSession(), URLRequest(server.url("/direct")));
  ::unsetenv("http_proxy");
  ::unsetenv("HTTP_PROXY");
  ::unsetenv("ALL_PROXY");
  ASSERT_FALSE(outcome.error) << outcome.error->localizedDescription();
  EXPECT_EQ(outcome.response->statusCode, 200);
}

TEST_F(URLSessionTest, CancelEndsARunningOrUnstartedTask) {
  auto gate = std::make_shared<Gate>();
  server.on("GET", "/hang", [gate](const RecordedRequest&) {
    gate->wait();
    return LoopbackResponse{};
  });
  auto session = makeSession();

  std::promise<Outcome> running;
  auto task = session->dataTask(server.url("/hang"), [&](auto data, auto response, auto error) {
    running.set_value(Outcome{std::move(data), std::move(response), std::move(error)});
  });
  task->resume();
  ASSERT_TRUE(server.waitForRequests(1, 10s));
  task->cancel();
  auto future = running.get_future();
  ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
  gate->open();
  Outcome outcome = future.get();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, kURLErrorCancelled);

  std::promise<Outcome> unstarted;
  auto idle = session->dataTask(server.url("/hang"), [&](auto data, auto response, auto error) {
    unstarted.set_value(Outcome{std::move(data), std::move(response), std::move(error)});
  });
  idle->cancel();
  idle->resume();  // too late: nothing is sent
  auto idleFuture = unstarted.get_future();
  ASSERT_EQ(idleFuture.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(idleFuture.get().error->code, kURLErrorCancelled);
  EXPECT_EQ(server.requestCount(), 1u);
}

class RecordingDelegate : public URLSessionDelegate {
 public:
  // What the delegate answers for a redirect: follow, stop, or rebuild as a POST.
  enum class Answer { Follow, Stop, RebuildAsPost };
  explicit RecordingDelegate(Answer answer) : answer_(answer) {}

  void willPerformHTTPRedirection(
      const std::shared_ptr<URLSession>&, const std::shared_ptr<URLSessionTask>& task,
      const HTTPURLResponse& response, URLRequest newRequest,
      std::function<void(std::optional<URLRequest>)> completionHandler) override {
    redirectStatuses.push_back(response.statusCode);
    switch (answer_) {
      case Answer::Follow:
        return completionHandler(std::move(newRequest));
      case Answer::Stop:
        return completionHandler(std::nullopt);
      case Answer::RebuildAsPost: {
        URLRequest rebuilt(newRequest.url);
        rebuilt.httpMethod = "POST";
        rebuilt.httpBody = task->originalRequest().httpBody;
        return completionHandler(rebuilt);
      }
    }
  }
  void didBecomeInvalid(const std::shared_ptr<URLSession>&, const std::optional<Error>&) override {
    invalidated.set_value();
  }

  std::vector<long> redirectStatuses;
  std::promise<void> invalidated;

 private:
  Answer answer_;
};

TEST_F(URLSessionTest, FollowsRedirectsTheWayHTTPAsks) {
  auto redirectTo = [](int status, std::string location) {
    return [status, location](const RecordedRequest&) {
      LoopbackResponse response{.status = status, .body = "moved"};
      response.headers.set("Location", location);
      return response;
    };
  };
  server.on("POST", "/found", redirectTo(302, "/final"));
  server.on("POST", "/temporary", redirectTo(307, "/final"));
  server.on("GET", "/loop", redirectTo(302, "/loop"));
  server.setFallback([](const RecordedRequest& request) {
    return LoopbackResponse{.body = request.method + " " + request.path + " " + request.body};
  });
  auto session = makeSession();

  URLRequest post(server.url("/found"));
  post.httpMethod = "POST";
  post.setHTTPBody("payload");
  Outcome found = send(session, post);
  ASSERT_FALSE(found.error);
  EXPECT_EQ(found.text(), "GET /final ");
  EXPECT_EQ(found.response->url, server.url("/final"));

  post.url = server.url("/temporary");
  EXPECT_EQ(send(session, post).text(), "POST /final payload");

  Outcome loop = send(session, URLRequest(server.url("/loop")));
  ASSERT_TRUE(loop.error);
  EXPECT_EQ(loop.error->code, kURLErrorHTTPTooManyRedirects);
}

TEST_F(URLSessionTest, DelegateDecidesRedirects) {
  server.on("POST", "/old", [](const RecordedRequest&) {
    LoopbackResponse response{.status = 301, .body = "gone"};
    response.headers.set("Location", "/new");
    return response;
  });
  server.on("POST", "/new", [](const RecordedRequest& request) {
    return LoopbackResponse{.body = "new got " + request.body};
  });
  URLRequest post(server.url("/old"));
  post.httpMethod = "POST";
  post.setHTTPBody("batch");

  auto stopper = std::make_shared<RecordingDelegate>(RecordingDelegate::Answer::Stop);
  Outcome stopped = send(makeSession(stopper), post);
  ASSERT_FALSE(stopped.error);
  EXPECT_EQ(stopped.response->statusCode, 301);
  EXPECT_EQ(stopped.text(), "gone");
  EXPECT_EQ(stopper->redirectStatuses, std::vector<long>{301});

  auto rebuilder = std::make_shared<RecordingDelegate>(RecordingDelegate::Answer::RebuildAsPost);
  Outcome rebuilt = send(makeSession(rebuilder), post);
  ASSERT_FALSE(rebuilt.error);
  EXPECT_EQ(rebuilt.text(), "new got batch");
}

TEST_F(URLSessionTest, InvalidatedSessionFinishesItsTasksThenTellsItsDelegate) {
  auto gate = std::make_shared<Gate>();
  server.on("GET", "/wait", [gate](const RecordedRequest&) {
    gate->wait();
    return LoopbackResponse{.body = "done"};
  });
  auto delegate = std::make_shared<RecordingDelegate>(RecordingDelegate::Answer::Follow);
  auto invalidated = delegate->invalidated.get_future();
  auto session = makeSession(delegate);

  std::promise<Outcome> finished;
  std::atomic<bool> completedBeforeInvalid{false};
  session
      ->dataTask(
          server.url("/wait"),
          [&](auto data, auto response, auto error) {
            completedBeforeInvalid = invalidated.wait_for(0s) != std::future_status::ready;
            finished.set_value(Outcome{std::move(data), std::move(response), std::move(error)});
          })
      ->resume();
  ASSERT_TRUE(server.waitForRequests(1, 10s));

  session->finishTasksAndInvalidate();
  EXPECT_TRUE(session->isInvalidated());
  EXPECT_EQ(session->dataTask(server.url("/wait"), nullptr), nullptr);
  EXPECT_EQ(invalidated.wait_for(0s), std::future_status::timeout);

  gate->open();
  auto outcome = finished.get_future();
  ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(outcome.get().text(), "done");
  ASSERT_EQ(invalidated.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(completedBeforeInvalid);
  EXPECT_EQ(session->delegate(), nullptr);
}

TEST_F(URLSessionTest, InvalidateAndCancelCancelsRunningTasks) {
  auto gate = std::make_shared<Gate>();
  server.on("GET", "/wait", [gate](const RecordedRequest&) {
    gate->wait();
    return LoopbackResponse{};
  });
  auto delegate = std::make_shared<RecordingDelegate>(RecordingDelegate::Answer::Follow);
  auto invalidated = delegate->invalidated.get_future();
  auto session = makeSession(delegate);
  std::promise<Outcome> finished;
  session
      ->dataTask(
          server.url("/wait"),
          [&](auto data, auto response, auto error) {
            finished.set_value(Outcome{std::move(data), std::move(response), std::move(error)});
          })
      ->resume();
  ASSERT_TRUE(server.waitForRequests(1, 10s));

  session->invalidateAndCancel();
  auto outcome = finished.get_future();
  ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready);
  gate->open();
  EXPECT_EQ(outcome.get().error->code, kURLErrorCancelled);
  EXPECT_EQ(invalidated.wait_for(10s), std::future_status::ready);
}

TEST_F(URLSessionTest, DownloadTaskHandsOverATemporaryFile) {
  server.on("GET", "/settings.json", [](const RecordedRequest&) {
    return LoopbackResponse{.body = "{\"settings\":true}", .contentType = "application/json"};
  });
  std::promise<std::pair<std::string, std::string>> seen;  // path, content
  auto task = makeSession()->downloadTask(
      URLRequest(server.url("/settings.json")), [&](auto location, auto response, auto error) {
        ASSERT_TRUE(location);
        std::ifstream file(*location);
        std::string content((std::istreambuf_iterator<char>(file)), {});
        seen.set_value({*location, content});
      });
  task->resume();
  auto future = seen.get_future();
  ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
  auto [path, content] = future.get();
  EXPECT_EQ(content, "{\"settings\":true}");
  // The file goes once the handler returns; the queue is serial, so wait for a later block.
  std::promise<void> after;
  task->session()->delegateQueue()->async([&] { after.set_value(); });
  after.get_future().wait();
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The loopback server's own promise to upload tests: gzip bodies are recorded readable.
TEST_F(URLSessionTest, LoopbackServerRecordsGzipBodiesDecompressed) {
  const std::vector<uint8_t> gzipped = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03,
                                        0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40, 0x90, 0x00,
                                        0x80, 0x88, 0xf9, 0xe5, 0x11, 0x00, 0x00, 0x00};
  URLRequest request(server.url("/log"));
  request.httpMethod = "POST";
  request.httpBody = gzipped;
  request.setValue("gzip", "Content-Encoding");
  Outcome outcome = send(makeSession(), request);
  ASSERT_FALSE(outcome.error);
  RecordedRequest received = server.requests().at(0);
  EXPECT_EQ(received.body, "hello hello hello");
  EXPECT_EQ(received.headers.value("Content-Encoding"), "gzip");
}

}  // namespace
}  // namespace platform
