#include "sdk-core/testing/rest_peer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/net/url_session.h"

namespace {

TEST(ScriptedRestPeerTest, AStarStandsForPartOfOneSegment) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  };
  for (const Case& c : {Case{"/v1/a/*/b", "/v1/a/x/b", true}, Case{"/v1/a/*/b", "/v1/a/x/y/b", false},
                        Case{"/v1/*:generate", "/v1/tokens:generate", true}, Case{"/v1/a/", "/v1/a/x", false},
                        Case{"/v1/a/*", "/v1/a/", true}, Case{"/v1/a", "/v1/a", true}}) {
    EXPECT_EQ(ScriptedRestPeer::matches(c.pattern, c.path), c.matches) << c.pattern << " " << c.path;
  }
}

TEST(ScriptedRestPeerTest, ScriptedRepliesComeFirstThenTheStandingOne) {
  ScriptedRestPeer peer;
  peer.route("GET", "/r/*", ScriptedRestPeer::json(200, {{"standing", true}}));
  peer.queue("GET", "/r/*", {ScriptedRestPeer::status(500), ScriptedRestPeer::status(503)});
  std::vector<long> statuses;
  for (int i = 0; i < 4; ++i) {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<long> status;
    platform::URLSession::shared()
        ->dataTask(peer.baseURL() + (i == 3 ? "/elsewhere" : "/r/x"),
                   [&](auto, auto response, auto) {
                     std::lock_guard lock(mutex);
                     status = response ? response->statusCode : -1;
                     done.notify_one();
                   })
        ->resume();
    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(10), [&] { return status.has_value(); }));
    statuses.push_back(*status);
  }
  EXPECT_EQ(statuses, (std::vector<long>{500, 503, 200, 404}));
  EXPECT_EQ(peer.requestCount(), 4u);
}

}  // namespace
