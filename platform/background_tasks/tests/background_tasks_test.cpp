#include "platform/background_tasks/background_tasks.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(BackgroundTaskServiceTest, IdentifiersCountFromOneAndEndingIsIdempotent) {
  BackgroundTaskService service;
  const auto first = service.beginBackgroundTask("A", nullptr);
  const auto second = service.beginBackgroundTask("B", nullptr);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  service.endBackgroundTask(first);
  service.endBackgroundTask(first);
  service.endBackgroundTask(kInvalidBackgroundTask);
  service.endBackgroundTask(99);
  EXPECT_EQ(service.activeTaskNames(), std::vector<std::string>{"B"});
  EXPECT_EQ(service.counts().begun, 2u);
  EXPECT_EQ(service.counts().ended, 1u);
  EXPECT_EQ(service.counts("A").ended, 1u);
}

TEST(BackgroundTaskServiceTest, ExpiryCallsTheHandlersWhichMayEndTheirTasks) {
  BackgroundTaskService service;
  BackgroundTaskIdentifier ending = kInvalidBackgroundTask;
  int lingeringCalls = 0;
  ending = service.beginBackgroundTask("ends", [&] { service.endBackgroundTask(ending); });
  service.beginBackgroundTask("lingers", [&] { ++lingeringCalls; });
  service.expireAll();
  EXPECT_EQ(lingeringCalls, 1);
  EXPECT_EQ(service.activeTaskNames(), std::vector<std::string>{"lingers"});
  EXPECT_EQ(service.counts().expired, 2u);
}

}  // namespace
}  // namespace platform
