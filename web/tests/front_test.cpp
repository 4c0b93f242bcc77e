// The whole web front over a real view runtime: the action ids a page shows come back through
// the server and act on the screen, and timed changes reach the page by push.
#include "web/front.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"
#include "web/testing/demo_screen.h"

namespace web {
namespace {

using nlohmann::json;
using platform::MainLoop;
using namespace std::chrono_literals;

// The action id of the control whose tag carries `marker` (a data-id or aria-label).
std::string actionOf(const std::string& html, const std::string& marker) {
  std::smatch tag;
  std::regex pattern("<[a-z]+[^>]*" + marker + "[^>]*>");
  if (!std::regex_search(html, tag, pattern)) return {};
  std::smatch id;
  std::string text = tag.str();
  if (!std::regex_search(text, id, std::regex("data-action=\"([^\"]+)\""))) return {};
  return id[1];
}

class FrontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime = std::make_shared<platform::ui::ViewRuntime>([] { return platform::ui::View(testing::DemoScreen{3}); });
    WebServerOptions options;
    options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
    options.eventKeepAlive = 50ms;
    front = std::make_unique<WebFront>(runtime, options);
    auto started = front->start();
    ASSERT_TRUE(started.ok()) << started.error().localizedDescription();
    MainLoop::drain();
  }
  void TearDown() override { front.reset(); }

  template <class F>
  auto call(F&& f) {
    auto result = std::async(std::launch::async, std::forward<F>(f));
    MainLoop::runUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 20s);
    return result.get();
  }
  httplib::Client client() { return httplib::Client("127.0.0.1", front->server()->port()); }

  std::string currentHtml() {
    auto res = call([&] { return client().Get("/render", {{"X-Brivel-Token", front->server()->token()}}); });
    return res && res->status == 200 ? json::parse(res->body)["html"].get<std::string>() : std::string();
  }
  // Posts an action and answers the new render's HTML, or the status on failure.
  std::string post(const json& body) {
    auto res = call([&] {
      return client().Post("/action", {{"X-Brivel-Token", front->server()->token()}}, body.dump(), "application/json");
    });
    if (!res) return "no answer";
    if (res->status != 200) return "status " + std::to_string(res->status);
    return json::parse(res->body)["html"].get<std::string>();
  }

  std::shared_ptr<platform::ui::ViewRuntime> runtime;
  std::unique_ptr<WebFront> front;
};

TEST_F(FrontTest, ActionIdsOfThePageComeBackAndActOnTheScreen) {
  std::string html = currentHtml();
  // Every element key is unique, so the page can match its elements across renders.
  std::set<std::string> keys;
  const std::regex key("data-key=\"([^\"]*)\"");
  for (std::sregex_iterator it(html.begin(), html.end(), key), end; it != end; ++it) {
    EXPECT_TRUE(keys.insert((*it)[1]).second) << (*it)[1];
  }
  std::string count = actionOf(html, "data-id=\"count\"");
  ASSERT_FALSE(count.empty()) << html;
  html = post({{"id", count}, {"event", "tap"}});
  EXPECT_NE(html.find(">1</span></button>"), std::string::npos) << html;
  // The same id stays valid in the next render.
  EXPECT_EQ(actionOf(html, "data-id=\"count\""), count);

  std::string name = actionOf(html, "data-id=\"name\"");
  ASSERT_FALSE(name.empty());
  html = post({{"id", name}, {"event", "set"}, {"value", std::string(45, 'n')}});
  EXPECT_NE(html.find("value=\"" + std::string(30, 'n') + "\""), std::string::npos);
  EXPECT_EQ(html.find(std::string(31, 'n')), std::string::npos);

  std::string toggle = actionOf(html, "role=\"switch\"");
  ASSERT_FALSE(toggle.empty());
  html = post({{"id", toggle}, {"event", "set"}, {"value", true}});
  EXPECT_NE(html.find("data-action=\"" + toggle + "\" checked"), std::string::npos);

  // A swipe action deletes the first bill.
  ASSERT_NE(html.find("Bill 0"), std::string::npos);
  std::string remove = actionOf(html, "class=\"swipe-action role-destructive\"");
  ASSERT_FALSE(remove.empty());
  html = post({{"id", remove}, {"event", "tap"}});
  EXPECT_EQ(html.find("Bill 0"), std::string::npos);
  EXPECT_NE(html.find("Bill 1"), std::string::npos);
}

TEST_F(FrontTest, SheetsOpenFromTheToolbarAndCloseByDismissal) {
  std::string html = post({{"id", actionOf(currentHtml(), "aria-label=\"Add\"")}, {"event", "tap"}});
  ASSERT_NE(html.find("role=\"dialog\""), std::string::npos) << html;
  EXPECT_NE(html.find("A sheet"), std::string::npos);
  std::string sheet = actionOf(html, "role=\"dialog\"");
  ASSERT_FALSE(sheet.empty());
  html = post({{"id", sheet}, {"event", "dismiss"}});
  EXPECT_EQ(html.find("role=\"dialog\""), std::string::npos);
  // A closed sheet's controls are gone with it.
  EXPECT_EQ(post({{"id", sheet}, {"event", "dismiss"}}), "status 409");
}

TEST_F(FrontTest, AToastThatClearsItselfReachesThePageByPush) {
  platform::VirtualClock clock;
  std::string html = post({{"id", actionOf(currentHtml(), "data-id=\"save\"")}, {"event", "tap"}});
  ASSERT_NE(html.find("data-id=\"toast\""), std::string::npos) << html;

  std::atomic<bool> connected{false};
  auto stream = std::async(std::launch::async, [&] {
    std::string received;
    auto c = client();
    c.Get(("/events?token=" + front->server()->token()).c_str(), [&](const char* data, size_t size) {
      received.append(data, size);
      connected = true;
      // Wait for a render without the toast.
      size_t at = received.rfind("data: ");
      return at == std::string::npos || received.find("data-id=\\\"toast\\\"", at) != std::string::npos ||
             received.find("\n\n", at) == std::string::npos;
    });
    return received;
  });
  MainLoop::runUntil([&] { return connected.load(); }, 10s);
  clock.advance(1500ms);
  MainLoop::drain();
  EXPECT_NE(currentHtml().find("data-id=\"toast\""), std::string::npos);
  clock.advance(160ms);
  MainLoop::drain();
  MainLoop::runUntil([&] { return stream.wait_for(0s) == std::future_status::ready; }, 10s);
  std::string events = stream.get();
  std::string last = events.substr(events.rfind("data: "));
  EXPECT_EQ(last.find("toast"), std::string::npos);
  // The stream sent the render after the toast's as a patch against it.
  json pushed = json::parse(last.substr(6, last.find('\n') - 6));
  ASSERT_TRUE(pushed.contains("ops")) << last;
  EXPECT_NE(applyPagePatch(html, pushed["ops"]).find("Bill 2"), std::string::npos);
}

TEST_F(FrontTest, AnswersArePatchesAgainstTheVersionThePageHolds) {
  auto render = call([&] { return client().Get("/render", {{"X-Brivel-Token", front->server()->token()}}); });
  ASSERT_TRUE(render);
  json page = json::parse(render->body);
  std::string html = page["html"];
  const uint64_t version = page["version"];
  auto postWithBase = [&](const json& body) {
    auto res = call([&] {
      return client().Post("/action", {{"X-Brivel-Token", front->server()->token()}}, body.dump(), "application/json");
    });
    return res && res->status == 200 ? json::parse(res->body) : json();
  };
  // A swipe deletes the first row: the other rows come as pieces the page has.
  json answer = postWithBase({{"id", actionOf(html, "class=\"swipe-action role-destructive\"")}, {"event", "tap"}, {"base", version}});
  ASSERT_TRUE(answer.contains("ops")) << answer.dump();
  EXPECT_EQ(answer["base"], version);
  EXPECT_EQ(answer.dump().find("Bill 2"), std::string::npos) << "an unchanged row is not sent again" << answer.dump().substr(0, 3000);
  std::string next = applyPagePatch(html, answer["ops"]);
  EXPECT_EQ(next, currentHtml());
  EXPECT_EQ(next.find("Bill 0"), std::string::npos);

  // A page too far behind gets the whole render.
  json behind = postWithBase({{"id", actionOf(next, "data-id=\"count\"")}, {"event", "tap"}, {"base", version}});
  ASSERT_TRUE(behind.contains("html"));
  EXPECT_EQ(behind["html"], currentHtml());
}

TEST_F(FrontTest, NoticesAboutTheDataStayAboveTheScreensUntilTheyNoLongerHoldOrAreDismissed) {
  auto& notices = platform::DataNotices::shared();
  notices.reset();
  notices.set("store.save", "Your latest changes are not saved yet: the disk is full.", /*dismissable=*/false);
  notices.set("aside:/data/standard.plist", "The damaged file was set aside as <standard.plist.unreadable>.");
  platform::DispatchQueue::main()->async([] {});
  MainLoop::drain();

  std::string html = currentHtml();
  EXPECT_NE(html.find("the disk is full"), std::string::npos);
  EXPECT_NE(html.find("set aside as &lt;standard.plist.unreadable&gt;"), std::string::npos) << "escaped";
  // Only the notice the user may dismiss has a control; a save failure goes when a save works.
  std::string dismiss = actionOf(html, "class=\"data-notice-dismiss\"");
  ASSERT_FALSE(dismiss.empty());
  EXPECT_EQ(html.find("data-notice-dismiss", html.find("data-notice-dismiss") + 1), std::string::npos);

  html = post({{"id", dismiss}});
  EXPECT_EQ(html.find("set aside as"), std::string::npos);
  EXPECT_NE(html.find("the disk is full"), std::string::npos);
  notices.clear("store.save");
  platform::DispatchQueue::main()->async([] {});
  MainLoop::drain();
  EXPECT_EQ(currentHtml().find("data-notice"), std::string::npos);
  // A dismiss control of an earlier render does nothing now.
  EXPECT_EQ(post({{"id", dismiss}}), "status 409");
}

TEST(FrontNoticesTest, ScreensThatReadTheNoticesAreBuiltAgainWhenTheyChange) {
  platform::DataNotices::shared().reset();
  auto runtime = std::make_shared<platform::ui::ViewRuntime>([] {
    return platform::ui::Text(platform::ui::verbatim(platform::DataNotices::shared().has("store.save") ? "failing" : "fine"));
  });
  WebServerOptions options;
  options.assetDirectory = BRIVEL_WEB_SOURCE_ASSETS;
  WebFront front(runtime, options);
  ASSERT_TRUE(front.start().ok());
  MainLoop::drain();
  auto html = [&] {
    auto result = std::async(std::launch::async, [&] {
      return httplib::Client("127.0.0.1", front.server()->port()).Get("/render", {{"X-Brivel-Token", front.server()->token()}});
    });
    MainLoop::runUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 20s);
    auto res = result.get();
    return res ? json::parse(res->body)["html"].get<std::string>() : std::string();
  };
  EXPECT_NE(html().find("fine"), std::string::npos);
  platform::DataNotices::shared().set("store.save", "not saved", false);
  platform::DispatchQueue::main()->async([] {});
  MainLoop::drain();
  EXPECT_NE(html().find("failing"), std::string::npos);
  platform::DataNotices::shared().reset();
}

}  // namespace
}  // namespace web
