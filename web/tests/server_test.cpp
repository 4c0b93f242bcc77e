// The local server against a real HTTP client on 127.0.0.1: who may talk to it, what it accepts,
// and how renders reach the page.
#include "web/server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>
#include <nlohmann/json.hpp>

#include "platform/dispatch/queue.h"
#include "web/escape.h"
#include "web/palette.h"
#include "web/posted_text.h"

namespace web {
namespace {

using nlohmann::json;
using platform::MainLoop;
using platform::ui::DispatchStatus;
using namespace std::chrono_literals;

// A page with a counter button, a name field of 5 characters, a note field, a switch and a
// "hide" button that takes the counter button off the page.
class FakeSource : public PageSource {
 public:
  int count = 0;
  std::string name;
  std::string note;
  bool flag = false;
  bool counterShown = true;
  std::vector<ActionEvent> performed;
  std::vector<platform::ui::ScenePhase> phases;

  Page render() override {
    Page page;
    page.title = "Fake" + name;
    page.html = "<p>count " + std::to_string(count) + "</p><p>name " + escapeHtml(name) + "</p>";
    ActionSpec tap;
    tap.tap = true;
    if (counterShown) page.actions["count"] = tap;
    page.actions["hide"] = tap;
    ActionSpec field;
    field.value = ActionSpec::Value::text;
    field.focus = true;
    field.maxLength = 5;
    page.actions["name"] = field;
    field.maxLength.reset();
    field.multiline = true;
    page.actions["note"] = field;
    ActionSpec toggle;
    toggle.tap = true;
    toggle.value = ActionSpec::Value::flag;
    page.actions["flag"] = toggle;
    return page;
  }

  DispatchStatus perform(const ActionEvent& event) override {
    performed.push_back(event);
    if (event.actionId == "count") ++count;
    if (event.actionId == "hide") counterShown = false;
    if (event.actionId == "name") name = std::get<std::string>(event.value);
    if (event.actionId == "note") note = std::get<std::string>(event.value);
    if (event.actionId == "flag" && event.kind == platform::ui::EventKind::setValue) flag = std::get<bool>(event.value);
    return DispatchStatus::handled;
  }

  void setScenePhase(platform::ui::ScenePhase phase) override { phases.push_back(phase); }

  // What commit() answers, and how often it ran.
  std::optional<std::string> commitFailure;
  int commits = 0;
  platform::Status commit() override {
    ++commits;
    if (!commitFailure) return {};
    return platform::Error::described("test", 1, *commitFailure);
  }
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = std::make_shared<FakeSource>();
    WebServerOptions options;
    options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
    options.maxTextLength = 40;
    options.eventKeepAlive = 50ms;
    configure(options);
    server = std::make_unique<WebServer>(options, source);
    auto started = server->start();
    ASSERT_TRUE(started.ok()) << started.error().localizedDescription();
    MainLoop::drain();
  }
  void TearDown() override {
    if (server) server->stop();
  }
  virtual void configure(WebServerOptions&) {}

  // Runs a client call on another thread while this (main) thread serves the main queue.
  template <class F>
  auto call(F&& f) {
    auto result = std::async(std::launch::async, std::forward<F>(f));
    MainLoop::runUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 20s);
    return result.get();
  }

  httplib::Client client() {
    httplib::Client c("127.0.0.1", server->port());
    c.set_read_timeout(10, 0);
    return c;
  }

  httplib::Headers postHeaders() const { return {{"X-Brivel-Token", server->token()}}; }
  // What a browser that opened the printed address sends for the page.
  httplib::Headers pageHeaders() const { return {{"Cookie", server->secretCookieName() + "=" + server->secret()}}; }

  struct Reply {
    int status = 0;
    json body;
  };
  Reply post(const json& body, httplib::Headers headers, const std::string& path = "/action") {
    return call([&] {
      auto c = client();
      auto res = c.Post(path.c_str(), headers, body.dump(), "application/json");
      Reply reply;
      if (!res) return reply;
      reply.status = res->status;
      reply.body = json::parse(res->body, nullptr, false);
      return reply;
    });
  }
  Reply act(const json& body) { return post(body, postHeaders()); }

  std::shared_ptr<FakeSource> source;
  std::unique_ptr<WebServer> server;
};

TEST_F(ServerTest, ServesThePageWithTheTokenTheRenderAndStrictHeaders) {
  auto res = call([&] { return client().Get("/", pageHeaders()); });
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find("<meta name=\"brivel-token\" content=\"" + server->token() + "\">"), std::string::npos);
  EXPECT_NE(res->body.find("<p>count 0</p>"), std::string::npos);
  EXPECT_NE(res->body.find("<title>Fake</title>"), std::string::npos);
  EXPECT_NE(res->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
  EXPECT_EQ(res->get_header_value("X-Content-Type-Options"), "nosniff");
  // The styles come with the page, the colour table after them; no stylesheet is fetched.
  std::ifstream file(std::string(BRIVEL_WEB_SOURCE_ASSETS) + "/app.css", std::ios::binary);
  std::ostringstream styles;
  styles << file.rdbuf();
  ASSERT_GT(styles.str().size(), 1000u);
  const size_t sheet = res->body.find("<style>" + styles.str() + "</style>");
  EXPECT_NE(sheet, std::string::npos);
  EXPECT_GT(res->body.find("<style>" + paletteCss() + "</style>"), sheet);
  EXPECT_EQ(res->body.find("rel=\"stylesheet\""), std::string::npos);
  EXPECT_LT(res->body.find("</style>"), res->body.find("<div id=\"app\">"));
  // Without the secret in the address there is no inline script.
  EXPECT_EQ(res->body.find("<script>"), std::string::npos);

  // The document title is plain text from the app: the server escapes it.
  act({{"id", "name"}, {"event", "set"}, {"value", "</title>"}});
  auto hostile = call([&] { return client().Get("/", pageHeaders()); });
  ASSERT_TRUE(hostile);
  EXPECT_NE(hostile->body.find("<title>Fake&lt;/tit</title>"), std::string::npos);

  // Text that is not valid UTF-8 (from old data) still renders.
  source->name = "bad \xC3";
  platform::DispatchQueue::main()->async([] {});
  MainLoop::drain();
  auto render = call([&] { return client().Get("/render", {{"X-Brivel-Token", server->token()}}); });
  ASSERT_TRUE(render);
  EXPECT_EQ(render->status, 200);
  EXPECT_NE(json::parse(render->body)["html"].get<std::string>().find("name bad \uFFFD"), std::string::npos);

  auto css = call([&] { return client().Get("/assets/app.css"); });
  ASSERT_TRUE(css);
  EXPECT_EQ(css->status, 200);
  auto escape = call([&] { return client().Get("/assets/../server.cpp"); });
  ASSERT_TRUE(escape);
  EXPECT_NE(escape->status, 200);
}

TEST_F(ServerTest, SendsNothingCompressedWhateverTheBrowserAccepts) {
  httplib::Headers accepts = pageHeaders();
  accepts.emplace("Accept-Encoding", "br, gzip, deflate");
  auto page = call([&] { return client().Get("/", accepts); });
  auto script = call([&] { return client().Get("/assets/app.js", accepts); });
  httplib::Headers posted = postHeaders();
  posted.emplace("Accept-Encoding", "br, gzip");
  auto answer = call([&] { return client().Post("/action", posted, R"({"id":"count"})", "application/json"); });
  for (const auto* res : {&page, &script, &answer}) {
    ASSERT_TRUE(*res);
    EXPECT_EQ((*res)->status, 200);
    EXPECT_FALSE((*res)->has_header("Content-Encoding")) << (*res)->get_header_value("Content-Encoding");
  }
  // The answer's timing names the whole request in the server and the bytes it sent.
  EXPECT_NE(answer->get_header_value("Server-Timing").find("total;dur="), std::string::npos);
}

TEST_F(ServerTest, RefusesForeignHostsOnEveryRoute) {
  const std::string port = std::to_string(server->port());
  for (const std::string& host : std::vector<std::string>{"evil.example:" + port, "evil.example", "127.0.0.1:1", "127.0.0.1.evil.example:" + port,
                                 "localhost.:" + port}) {
    for (const char* path : {"/", "/assets/app.css", "/render", "/events"}) {
      auto res = call([&] { return client().Get(path, {{"Host", host}, {"X-Brivel-Token", server->token()}}); });
      ASSERT_TRUE(res) << host << path;
      EXPECT_EQ(res->status, 421) << host << path;
    }
    httplib::Headers headers = postHeaders();
    headers.emplace("Host", host);
    EXPECT_EQ(post({{"id", "count"}}, headers).status, 421) << host;
  }
  auto local = call([&] { return client().Get("/", {{"Host", "localhost:" + port}, *pageHeaders().begin()}); });
  ASSERT_TRUE(local);
  EXPECT_EQ(local->status, 200);
  EXPECT_EQ(source->count, 0);
}

TEST_F(ServerTest, RefusesPostsWithoutTheTokenOrFromAnotherOrigin) {
  std::string wrong = server->token();
  wrong.back() = wrong.back() == 'a' ? 'b' : 'a';
  struct Case {
    const char* name;
    httplib::Headers headers;
    int status;
  } cases[] = {
      {"no token", {}, 403},
      {"wrong token", {{"X-Brivel-Token", wrong}}, 403},
      {"token prefix", {{"X-Brivel-Token", server->token().substr(0, 10)}}, 403},
      {"foreign origin", {{"X-Brivel-Token", server->token()}, {"Origin", "http://evil.example"}}, 403},
      {"null origin", {{"X-Brivel-Token", server->token()}, {"Origin", "null"}}, 403},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(post({{"id", "count"}}, c.headers).status, c.status) << c.name;
    EXPECT_EQ(post({{"phase", "background"}}, c.headers, "/scene").status, c.status) << c.name;
  }
  auto render = call([&] { return client().Get("/render"); });
  ASSERT_TRUE(render);
  EXPECT_EQ(render->status, 403);
  EXPECT_TRUE(source->performed.empty());
  EXPECT_TRUE(source->phases.empty());

  httplib::Headers own = postHeaders();
  own.emplace("Origin", "http://127.0.0.1:" + std::to_string(server->port()));
  auto ok = post({{"id", "count"}}, own);
  EXPECT_EQ(ok.status, 200);
  EXPECT_EQ(source->count, 1);
  EXPECT_NE(ok.body["html"].get<std::string>().find("count 1"), std::string::npos);
}

TEST_F(ServerTest, AcceptsOnlyActionIdsOfTheLatestRender) {
  auto unknown = act({{"id", "format-disk"}});
  EXPECT_EQ(unknown.status, 409);
  EXPECT_TRUE(unknown.body["render"].contains("html"));  // lets an honest page catch up

  EXPECT_EQ(act({{"id", "count"}}).status, 200);
  EXPECT_EQ(act({{"id", "hide"}}).status, 200);
  // "count" was in an earlier render but not in the latest one.
  EXPECT_EQ(act({{"id", "count"}}).status, 409);
  EXPECT_EQ(source->count, 1);
  ASSERT_EQ(source->performed.size(), 2u);
}

TEST_F(ServerTest, RefusesMalformedPostsAndValuesOfTheWrongKind) {
  struct Case {
    const char* name;
    std::string body;
    int status;
  } cases[] = {
      {"not JSON", "{id: count", 400},
      {"no id", R"({"event":"tap"})", 400},
      {"id not a string", R"({"id":7})", 400},
      {"unknown event", R"({"id":"count","event":"explode"})", 400},
      {"event not a string", R"({"id":"count","event":3})", 400},
      {"event the control does not take", R"({"id":"count","event":"set","value":"x"})", 400},
      {"text without a value", R"({"id":"name","event":"set"})", 400},
      {"number for text", R"({"id":"name","event":"set","value":12})", 400},
      {"text for a switch", R"({"id":"flag","event":"set","value":"yes"})", 400},
      {"invalid UTF-8", std::string("{\"id\":\"name\",\"event\":\"set\",\"value\":\"\xC3\x28\"}"), 400},
  };
  for (const auto& c : cases) {
    int status = call([&] {
      auto res = client().Post("/action", postHeaders(), c.body, "application/json");
      return res ? res->status : 0;
    });
    EXPECT_EQ(status, c.status) << c.name;
  }
  int wrongType = call([&] {
    auto res = client().Post("/action", postHeaders(), R"({"id":"count"})", "text/plain");
    return res ? res->status : 0;
  });
  EXPECT_EQ(wrongType, 415);
  EXPECT_TRUE(source->performed.empty());

  EXPECT_EQ(act({{"id", "flag"}, {"event", "set"}, {"value", true}}).status, 200);
  EXPECT_TRUE(source->flag);
}

TEST_F(ServerTest, CutsTextToTheFieldsLimitWhateverThePageSent) {
  struct Case {
    const char* field;
    std::string sent;
    std::string kept;
  } cases[] = {
      {"name", "Household budget", "House"},
      {"name", "Ann", "Ann"},
      // Five user-perceived characters, each several bytes and code points.
      {"name", "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"
               "\U0001F44D\U0001F3FD",
       "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD"},
      {"name", "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81",
       "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81" "e\xCC\x81"},
      // A single-line field takes no line breaks or control characters.
      {"name", "a\nb\r\nc\x01", "abc"},
      // A multi-line field keeps line breaks, and the server's own limit applies without one.
      {"note", "one\r\ntwo", "one\ntwo"},
      {"note", std::string(100, 'x'), std::string(40, 'x')},
  };
  for (const auto& c : cases) {
    auto reply = act({{"id", c.field}, {"event", "set"}, {"value", c.sent}});
    EXPECT_EQ(reply.status, 200) << c.sent;
    ASSERT_FALSE(source->performed.empty());
    EXPECT_EQ(std::get<std::string>(source->performed.back().value), c.kept) << c.sent;
  }
  // A body over the size limit never reaches the app.
  std::string huge = json{{"id", "note"}, {"event", "set"}, {"value", std::string(300 * 1024, 'x')}}.dump();
  size_t before = source->performed.size();
  int status = call([&] {
    auto res = client().Post("/action", postHeaders(), huge, "application/json");
    return res ? res->status : 0;
  });
  EXPECT_EQ(status, 413);
  EXPECT_EQ(source->performed.size(), before);
}

TEST_F(ServerTest, HandsScenePhasesToTheSource) {
  EXPECT_EQ(post({{"phase", "background"}}, postHeaders(), "/scene").status, 204);
  EXPECT_EQ(post({{"phase", "active"}}, postHeaders(), "/scene").status, 204);
  EXPECT_EQ(post({{"phase", "asleep"}}, postHeaders(), "/scene").status, 400);
  EXPECT_EQ(source->phases,
            (std::vector{platform::ui::ScenePhase::background, platform::ui::ScenePhase::active}));
}

TEST_F(ServerTest, PushesRendersThatHappenWithoutAnyPost) {
  // A stream reader on its own thread collects "render" events until it has seen `wanted`.
  auto readUntil = [&](const std::string& wanted) {
    return std::async(std::launch::async, [this, wanted] {
      std::string received;
      auto c = client();
      c.Get(("/events?token=" + server->token()).c_str(), [&](const char* data, size_t size) {
        received.append(data, size);
        return received.find(wanted) == std::string::npos;
      });
      return received;
    });
  };
  auto first = readUntil("count 0");
  MainLoop::runUntil([&] { return first.wait_for(0s) == std::future_status::ready; }, 10s);
  EXPECT_NE(first.get().find("event: render\ndata: "), std::string::npos);

  auto later = readUntil("count 3");
  // A timed change on the main queue, as a toast clearing itself: no post involved.
  {
    platform::VirtualClock clock;
    platform::DispatchQueue::main()->asyncAfter(1660ms, [this] { source->count = 3; });
    clock.advance(1660ms);
    MainLoop::drain();
  }
  MainLoop::runUntil([&] { return later.wait_for(0s) == std::future_status::ready; }, 10s);
  std::string events = later.get();
  size_t at = events.rfind("data: ");
  ASSERT_NE(at, std::string::npos);
  json render = json::parse(events.substr(at + 6, events.find('\n', at) - at - 6));
  EXPECT_EQ(render["html"], "<p>count 3</p><p>name </p>");
  EXPECT_EQ(render["version"].get<uint64_t>(), server->version());

  auto refused = call([&] { return client().Get("/events"); });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 403);
}

TEST_F(ServerTest, AStreamLeavesOutTheRenderThatAnsweredItsOwnPagesPost) {
  // Two pages listen: "mine" posts, the other only watches. Each reader collects events until
  // it has seen `wanted`; `ready` says its first render arrived.
  std::atomic<int> ready{0};
  auto listen = [&](const std::string& query, const std::string& wanted) {
    return std::async(std::launch::async, [this, query, wanted, &ready] {
      std::string received;
      bool counted = false;
      auto c = client();
      c.Get(("/events?token=" + server->token() + query).c_str(), [&](const char* data, size_t size) {
        received.append(data, size);
        if (!counted && received.find("\n\n") != std::string::npos) {
          counted = true;
          ++ready;
        }
        return received.find(wanted) == std::string::npos;
      });
      return received;
    });
  };
  auto mine = listen("&page=p1", "count 5");
  auto other = listen("", "count 5");
  MainLoop::runUntil([&] { return ready == 2; }, 10s);
  ASSERT_EQ(ready, 2);
  const uint64_t before = server->version();
  Reply answer = act({{"id", "count"}, {"page", "p1"}, {"seq", 1}, {"base", before}});
  ASSERT_EQ(answer.status, 200);
  ASSERT_EQ(answer.body["version"], before + 1);
  platform::DispatchQueue::main()->async([this] { source->count = 5; });
  MainLoop::drain();
  MainLoop::runUntil([&] {
    return mine.wait_for(0s) == std::future_status::ready && other.wait_for(0s) == std::future_status::ready;
  }, 10s);
  const std::string mineEvents = mine.get();
  EXPECT_NE(other.get().find("count 1"), std::string::npos);
  EXPECT_EQ(mineEvents.find("count 1"), std::string::npos) << mineEvents;
  // The next render still comes to "mine" (whole here: this page is too small for a patch).
  const std::size_t at = mineEvents.rfind("data: ");
  json pushed = json::parse(mineEvents.substr(at + 6, mineEvents.find('\n', at) - at - 6));
  EXPECT_EQ(pushed["version"], before + 2);
  EXPECT_EQ(pushed["html"], "<p>count 5</p><p>name </p>");
}

TEST_F(ServerTest, AStreamStartsAfterTheVersionThePageHolds) {
  const uint64_t held = server->version();
  std::atomic<bool> open{false};
  auto stream = std::async(std::launch::async, [&] {
    std::string received;
    auto c = client();
    c.Get(("/events?token=" + server->token() + "&version=" + std::to_string(held)).c_str(),
          [&](const char* data, size_t size) {
            received.append(data, size);
            open = true;
            return received.find("count 7") == std::string::npos;
          });
    return received;
  });
  MainLoop::runUntil([&] { return open.load(); }, 10s);
  ASSERT_TRUE(open);
  platform::DispatchQueue::main()->async([this] { source->count = 7; });
  MainLoop::drain();
  MainLoop::runUntil([&] { return stream.wait_for(0s) == std::future_status::ready; }, 10s);
  const std::string events = stream.get();
  // The render the page holds is not sent again: the first render on the stream is the next one.
  const std::size_t at = events.find("data: ");
  ASSERT_NE(at, std::string::npos) << events;
  EXPECT_EQ(json::parse(events.substr(at + 6, events.find('\n', at) - at - 6))["version"], held + 1);
}

TEST_F(ServerTest, StopsWhileAPageIsStillListening) {
  std::atomic<bool> connected{false};
  auto stream = std::async(std::launch::async, [&] {
    auto c = client();
    c.Get(("/events?token=" + server->token()).c_str(), [&](const char*, size_t) {
      connected = true;
      return true;
    });
  });
  MainLoop::runUntil([&] { return connected.load(); }, 10s);
  ASSERT_TRUE(connected);
  server->stop();
  EXPECT_EQ(stream.wait_for(10s), std::future_status::ready);
}


TEST_F(ServerTest, AnswersAnActionOnlyAfterItIsCommittedAndAFailedCommitAsAFailure) {
  auto saved = act({{"id", "count"}});
  EXPECT_EQ(saved.status, 200);
  EXPECT_EQ(source->commits, 1);

  source->commitFailure = "Your latest changes are not saved yet: the disk is full.";
  auto failed = act({{"id", "count"}});
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(failed.body["error"], *source->commitFailure);
  // The action ran (its change is kept in memory) and the page gets the render that says so.
  EXPECT_NE(failed.body["render"]["html"].get<std::string>().find("count 2"), std::string::npos);
  EXPECT_EQ(source->commits, 2);
}

// A main thread that answers slowly: a post waits for it only briefly.
class SlowMainServerTest : public ServerTest {
 protected:
  void configure(WebServerOptions& options) override { options.mainThreadTimeout = 200ms; }
};

TEST_F(SlowMainServerTest, AnActionRunsOnceWhateverThePageRetries) {
  auto tap = [](const char* page, int seq) { return json{{"id", "count"}, {"event", "tap"}, {"page", page}, {"seq", seq}}; };
  // The main thread is busy (this thread does not serve it): the first attempt and its retry
  // are answered 503, and both wait in the main queue.
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto status = std::async(std::launch::async, [&] {
      auto res = client().Post("/action", postHeaders(), tap("p1", 1).dump(), "application/json");
      return res ? res->status : 0;
    });
    EXPECT_EQ(status.get(), 503);
  }
  MainLoop::drain();
  EXPECT_EQ(source->count, 1);
  // A retry that reaches a free main thread gets the current render without acting again.
  Reply retry = act(tap("p1", 1));
  EXPECT_EQ(retry.status, 200);
  EXPECT_NE(retry.body.value("html", "").find("count 1"), std::string::npos) << retry.body.dump();
  EXPECT_EQ(source->count, 1);
  // The page's next action runs; an older one, or a malformed page id, does not.
  EXPECT_EQ(act(tap("p1", 2)).status, 200);
  EXPECT_EQ(act(tap("p1", 1)).status, 200);
  EXPECT_EQ(act(tap("", 3)).status, 400);
  EXPECT_EQ(source->count, 2);
  // Another page (a reload) numbers its actions afresh.
  EXPECT_EQ(act(tap("p2", 1)).status, 200);
  EXPECT_EQ(source->count, 3);
}

TEST_F(ServerTest, ThePageNeedsTheSecretOfThePrintedAddress) {
  EXPECT_EQ(server->launchUrl(), server->url() + "?secret=" + server->secret());
  // The cookie is named after the port: a launch on another port keeps its own.
  const std::string name = server->secretCookieName();
  EXPECT_EQ(name, "brivel_secret_" + std::to_string(server->port()));
  std::string wrong = server->secret();
  wrong.back() = wrong.back() == 'a' ? 'b' : 'a';
  struct Case {
    const char* name;
    std::string path;
    httplib::Headers headers;
  } refused[] = {
      {"no secret", "/", {}},
      {"wrong secret", "/?secret=" + wrong, {}},
      {"empty secret", "/?secret=", {}},
      {"wrong cookie", "/", {{"Cookie", name + "=" + wrong}}},
      {"token as cookie", "/", {{"Cookie", name + "=" + server->token()}}},
      {"another port's cookie", "/", {{"Cookie", "brivel_secret_1=" + server->secret()}}},
      {"an unnamed port's cookie", "/", {{"Cookie", "brivel_secret=" + server->secret()}}},
  };
  for (const auto& c : refused) {
    auto res = call([&] { return client().Get(c.path.c_str(), c.headers); });
    ASSERT_TRUE(res) << c.name;
    EXPECT_EQ(res->status, 403) << c.name;
    // How to open Brivel, and nothing of the app: no token, no render.
    EXPECT_NE(res->body.find("Open Brivel from its address"), std::string::npos) << c.name;
    EXPECT_EQ(res->body.find(server->token()), std::string::npos) << c.name;
    EXPECT_EQ(res->body.find("count 0"), std::string::npos) << c.name;
    EXPECT_FALSE(res->has_header("Set-Cookie")) << c.name;
  }

  // The printed address turns the secret into a strict cookie and shows the page at once, whose
  // first script puts "/" in the address bar (the browser test sees it run); it works again for
  // the whole launch (another browser, a cleared cookie).
  for (int open = 0; open < 2; ++open) {
    auto opened = call([&] { return client().Get(("/?secret=" + server->secret()).c_str()); });
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->status, 200);
    EXPECT_FALSE(opened->has_header("Location"));
    const std::string cookie = opened->get_header_value("Set-Cookie");
    EXPECT_EQ(cookie.rfind(name + "=" + server->secret() + ";", 0), 0u) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    EXPECT_EQ(opened->get_header_value("Cache-Control"), "no-store");
    EXPECT_NE(opened->body.find(server->token()), std::string::npos);
    EXPECT_NE(opened->body.find("<p>count 0</p>"), std::string::npos);
    EXPECT_EQ(opened->body.find(server->secret()), std::string::npos);
    const size_t script = opened->body.find("<script>history.replaceState(");
    EXPECT_NE(script, std::string::npos);
    EXPECT_LT(script, opened->body.find("<style>"));
    EXPECT_NE(opened->get_header_value("Content-Security-Policy").find("script-src 'self' 'sha256-"), std::string::npos);
  }
  auto page = call([&] {
    return client().Get("/", {{"Cookie", "brivel_secret_1=x; other=1; " + name + "=" + server->secret()}});
  });
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find(server->token()), std::string::npos);

  // The cookie does not stand in for the token on a post.
  EXPECT_EQ(post({{"id", "count"}}, pageHeaders()).status, 403);
  EXPECT_EQ(source->count, 0);
}

// A connection to the server that sends and reads raw bytes.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool send(std::string_view bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // What arrives until the server closes the connection or `limit` passes.
  std::string receive(std::chrono::milliseconds limit) {
    std::string text;
    auto until = std::chrono::steady_clock::now() + limit;
    while (true) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      pollfd descriptor{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[4096];
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

class GuardedServerTest : public ServerTest {
 protected:
  void configure(WebServerOptions& options) override {
    options.headerDeadline = 1s;
    options.requestDeadline = 6s;
    options.maxHeaderBytes = 4096;
    options.maxHeaderCount = 20;
    options.maxBodyBytes = 2048;
  }
  std::string host() const { return "Host: 127.0.0.1:" + std::to_string(server->port()) + "\r\n"; }
};

// Forty clients that send their request a byte at a time, beside the page. Their heads may take
// as long as the test's whole request (so that, were they holding the threads that run routes,
// the page would wait for them), and each client may keep all of them waiting.
class DripServerTest : public GuardedServerTest {
 protected:
  void configure(WebServerOptions& options) override {
    GuardedServerTest::configure(options);
    options.headerDeadline = options.requestDeadline = 4s;
    options.maxWaitingPerClient = 64;
  }
};

TEST_F(DripServerTest, FortySlowClientsHoldNothingThePageNeedsAndAreCutOff) {
  constexpr int kSlow = 40;
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < kSlow; ++i) {
    slow.push_back(std::make_unique<RawClient>(server->port()));
    ASSERT_TRUE(slow.back()->connected());
    ASSERT_TRUE(slow.back()->send("GET / HTTP/1.1\r\n" + host()));
  }
  // They go on sending their headers a byte at a time.
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    const std::string header = "X-Slow: abcdefgh\r\n";
    for (size_t i = 0; !stop; ++i) {
      for (auto& client : slow) client->send(std::string_view(header).substr(i % header.size(), 1));
      std::this_thread::sleep_for(20ms);
    }
  });

  // A page load and a post beside them are answered while every slow client still waits.
  auto page = call([&] { return client().Get("/", pageHeaders()); });
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(act({{"id", "count"}}).status, 200);
  for (auto& client : slow) EXPECT_EQ(client->receive(1ms), "") << "cut off before the page was answered";

  // Each slow client is cut off once its head took longer than the deadline.
  std::vector<std::future<std::string>> answers;
  for (auto& client : slow) {
    answers.push_back(std::async(std::launch::async, [&client] { return client->receive(15s); }));
  }
  for (auto& answer : answers) {
    std::string text = answer.get();
    EXPECT_EQ(text.rfind("HTTP/1.1 408", 0), 0u) << text;
  }
  stop = true;
  trickle.join();
}

TEST_F(GuardedServerTest, AHeadMustArriveWithinItsDeadline) {
  // The head has a second, the whole request six: a client whose head is in may still send its
  // body after the head's deadline.
  const std::string body = R"({"id":"count"})";
  RawClient slowBody(server->port());
  slowBody.send("POST /action HTTP/1.1\r\n" + host() + "X-Brivel-Token: " + server->token() +
                "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
  RawClient slowHead(server->port());
  slowHead.send("GET / HTTP/1.1\r\n" + host());
  EXPECT_EQ(slowHead.receive(10s).rfind("HTTP/1.1 408", 0), 0u);
  slowBody.send(body);
  auto answer = std::async(std::launch::async, [&] { return slowBody.receive(10s); });
  MainLoop::runUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }, 15s);
  EXPECT_EQ(answer.get().rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(source->count, 1);
}

// A client may keep four connections waiting; their heads may take six seconds.
class CapServerTest : public GuardedServerTest {
 protected:
  void configure(WebServerOptions& options) override {
    GuardedServerTest::configure(options);
    options.headerDeadline = 6s;
    options.maxWaitingPerClient = 4;
  }
};

TEST_F(CapServerTest, AFifthWaitingConnectionCutsOffTheClientsOldest) {
  std::vector<std::unique_ptr<RawClient>> waiting;
  for (int i = 0; i < 5; ++i) {
    waiting.push_back(std::make_unique<RawClient>(server->port()));
    ASSERT_TRUE(waiting.back()->connected());
    waiting.back()->send("GET / HTTP/1.1\r\n");
  }
  const std::string oldest = waiting.front()->receive(10s);
  EXPECT_EQ(oldest.rfind("HTTP/1.1 429", 0), 0u) << oldest;
  for (size_t i = 1; i < waiting.size(); ++i) {
    EXPECT_EQ(waiting[i]->receive(15s).rfind("HTTP/1.1 408", 0), 0u) << i << ": kept until its deadline";
  }
}

TEST_F(GuardedServerTest, RefusesOversizedOrUnauthorisedRequestsBeforeReadingTheirBody) {
  const std::string token = "X-Brivel-Token: " + server->token() + "\r\n";
  std::string manyHeaders;
  for (int i = 0; i < 30; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
  struct Case {
    const char* name;
    std::string request;
    const char* status;
  } cases[] = {
      {"too many headers", "GET / HTTP/1.1\r\n" + host() + manyHeaders + "\r\n", "431"},
      {"a head too long", "GET / HTTP/1.1\r\n" + host() + "X-Long: " + std::string(5000, 'a'), "431"},
      {"a body too large", "POST /action HTTP/1.1\r\n" + host() + token + "Content-Length: 5000\r\n\r\n", "413"},
      {"a chunked body", "POST /action HTTP/1.1\r\n" + host() + token + "Transfer-Encoding: chunked\r\n\r\n", "411"},
      // Refused from the head alone: the body they announce is never waited for.
      {"no token", "POST /action HTTP/1.1\r\n" + host() + "Content-Length: 100\r\n\r\n", "403"},
      {"a foreign host", "POST /action HTTP/1.1\r\nHost: evil.example\r\n" + token + "Content-Length: 100\r\n\r\n", "421"},
  };
  for (const auto& c : cases) {
    RawClient raw(server->port());
    ASSERT_TRUE(raw.connected());
    auto started = std::chrono::steady_clock::now();
    raw.send(c.request);
    std::string answer = raw.receive(5s);
    EXPECT_EQ(answer.rfind(std::string("HTTP/1.1 ") + c.status, 0), 0u) << c.name << ": " << answer;
    if (std::string_view(c.status) == "413") {
      // The page shows why its post was refused.
      EXPECT_NE(answer.find(R"({"error":"This is too much to send at once: at most 2 KiB.)"), std::string::npos) << answer;
    }
    // Answered at once, not at the deadline.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << c.name;
  }
  EXPECT_TRUE(source->performed.empty());

  // A whole request within the limits still goes through.
  std::string body = R"({"id":"count"})";
  RawClient ok(server->port());
  ok.send("POST /action HTTP/1.1\r\n" + host() + token + "Content-Type: application/json\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\n\r\n" + body);
  auto answer = std::async(std::launch::async, [&] { return ok.receive(5s); });
  MainLoop::runUntil([&] { return answer.wait_for(0s) == std::future_status::ready; }, 10s);
  EXPECT_EQ(answer.get().rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(source->count, 1);
}

TEST(PagePatchTest, NamesOnlyTheElementsThatChangeAndRebuildsThePage) {
  auto row = [](int n, const std::string& text = "") {
    const std::string key = "r" + std::to_string(n);
    return "<div class=\"row\" data-key=\"" + key + "\"><span class=\"text\">" +
           (text.empty() ? "Bill " + std::to_string(n) : text) + "</span><button type=\"button\" data-action=\"a" + key +
           "\"><span class=\"icon\"></span></button></div>";
  };
  auto list = [&](std::vector<std::string> rows, const std::string& head = "<h1>Bills</h1>") {
    std::string html = head + "<div class=\"list\" data-key=\"L\"><section><div class=\"section-rows\">";
    for (const auto& r : rows) html += r;
    return html + "</div></section></div><input type=\"search\" value=\"\"><br>";
  };
  struct Case {
    const char* name;
    std::string from, to;
    std::vector<std::string> notSent;  // text the patch must not carry again
  };
  const std::vector<Case> cases = {
      {"nothing changed", list({row(1), row(2)}), list({row(1), row(2)}), {"Bill 1", "Bill 2"}},
      {"one row's text", list({row(1), row(2), row(3)}), list({row(1), row(2, "Rent"), row(3)}), {"Bill 1", "Bill 3"}},
      {"a row removed", list({row(1), row(2), row(3)}), list({row(1), row(3)}), {"Bill 1", "Bill 3"}},
      {"rows inserted and moved", list({row(1), row(2), row(3)}), list({row(3), row(4), row(1), row(5)}), {"Bill 1", "Bill 3"}},
      {"an attribute", list({row(1), row(2)}),
       list({row(1), std::string(row(2)).replace(row(2).find("\"row\""), 5, "\"row selected\"")}), {"Bill 1", "Bill 2"}},
      {"text outside the list", list({row(1)}), list({row(1)}, "<h1>Bills &amp; more</h1>"), {"Bill 1"}},
      {"a field's value and a text area", list({row(1)}) + "<textarea>a</textarea>",
       std::string(list({row(1)})).replace(list({row(1)}).find("value=\"\""), 8, "value=\"7\"") + "<textarea>a &lt;b</textarea>",
       {"Bill 1"}},
      {"another screen", list({row(1)}), "<div data-key=\"D\"><p>Detail</p></div>", {}},
      {"rows of a list keyed twice", "<p data-key=\"x\">a</p><p data-key=\"x\">b</p>", "<p data-key=\"x\">a</p><p data-key=\"x\">c</p>", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    json ops = pagePatch(c.from, c.to);
    EXPECT_EQ(applyPagePatch(c.from, ops), c.to) << ops.dump();
    for (const auto& text : c.notSent) EXPECT_EQ(ops.dump().find(text), std::string::npos) << ops.dump();
  }
  EXPECT_EQ(pagePatch(list({row(1)}), list({row(1)})), json::array());
  // Text that is not well formed comes whole; ops that do not fit the page are refused.
  EXPECT_EQ(applyPagePatch("<p>a</p>", pagePatch("<p>a", "<p>b</p>")), "<p>b</p>");
  EXPECT_ANY_THROW(applyPagePatch("<p>a</p>", json::parse(R"([[["missing"], "h", "<p>b</p>"]])")));
  EXPECT_ANY_THROW(applyPagePatch("<p>a</p>", json::parse(R"([[["", 3], "a", "<p>"]])")));
  EXPECT_ANY_THROW(applyPagePatch("<p>a</p><p>b</p>", pagePatch("<p>a</p>", "<i>c</i><p>a</p>")));
  // Text of any bytes comes as JSON that parses: quotes, backslashes and control characters
  // escaped, UTF-8 kept, and bytes that are not UTF-8 as U+FFFD.
  json odd = pagePatch("<p>a</p>", "<p>\"b\" \\ \t\x01 \xC3\xA9 \xF0\x9F\x92\xB8 \xFF\xC3</p>");
  EXPECT_EQ(odd.dump(), json::parse(R"([[["",0],"h","<p>\"b\" \\ \t\u0001 é 💸 \ufffd\ufffd</p>"]])").dump());
}

TEST(CutPostedTextTest, KeepsTabsAndDropsOtherControls) {
  EXPECT_EQ(cutPostedText("a\tb\x7f\x1b" "c", 10, false), "a\tbc");
  EXPECT_EQ(cutPostedText("abc", 0, false), "");
}

}  // namespace
}  // namespace web
