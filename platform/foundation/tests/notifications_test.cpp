#include "platform/foundation/notifications.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

TEST(NotificationCenterTest, DeliversByNameInRegistrationOrderWithPayload) {
  NotificationCenter center;
  std::vector<std::string> calls;
  center.addObserver("ready", [&](const Notification& n) {
    calls.push_back("first:" + *n.userInfo.at("app").asString() + ":" +
                    std::to_string(std::any_cast<int>(n.object)));
  });
  center.addObserver("other", [&](const Notification&) { calls.push_back("other"); });
  center.addObserver("", [&](const Notification& n) { calls.push_back("any:" + n.name); });
  center.addObserver("ready", [&](const Notification&) { calls.push_back("second"); });

  center.post("ready", 7, {{"app", "__TEL_DEFAULT_APP__"}});
  EXPECT_EQ(calls, (std::vector<std::string>{"first:__TEL_DEFAULT_APP__:7", "any:ready", "second"}));
}

TEST(NotificationCenterTest, RemovalDuringDeliveryAndReentrantPosts) {
  NotificationCenter center;
  int secondCalls = 0;
  int nestedCalls = 0;
  NotificationCenter::ObserverToken second = 0;
  center.addObserver("tick", [&](const Notification&) {
    center.removeObserver(second);        // takes effect within this very post
    center.post("nested");                // posting from an observer does not deadlock
    center.addObserver("tick", [](const Notification&) {});
  });
  second = center.addObserver("tick", [&](const Notification&) { ++secondCalls; });
  center.addObserver("nested", [&](const Notification&) { ++nestedCalls; });

  center.post("tick");
  EXPECT_EQ(secondCalls, 0);
  EXPECT_EQ(nestedCalls, 1);
  center.removeObserver(second);  // removing twice is harmless
  center.removeObserver(9999);
}

TEST(NotificationCenterTest, DeliversOnThePostingThread) {
  NotificationCenter center;
  std::thread::id seen;
  center.addObserver("bg", [&](const Notification&) { seen = std::this_thread::get_id(); });
  std::thread poster([&] { center.post("bg"); });
  std::thread::id posterId = poster.get_id();
  poster.join();
  EXPECT_EQ(seen, posterId);
  EXPECT_NE(&NotificationCenter::defaultCenter(), &center);
}

}  // namespace
}  // namespace platform
