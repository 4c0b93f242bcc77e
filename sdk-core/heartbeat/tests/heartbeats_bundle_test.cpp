#include "sdk-core/heartbeat/heartbeats_bundle.h"

#include <gtest/gtest.h>

#include <string>

#include "sdk-core/heartbeat/heartbeats_payload.h"

namespace {

using platform::Date;

constexpr double kDay = 86400.0;
const Date kDay1 = Date::fromTimeIntervalSince1970(20000 * kDay);  // a UTC midnight

Heartbeat heartbeat(const std::string& agent, int day, std::vector<TimePeriod> periods = {TimePeriod::daily}) {
  return Heartbeat(agent, kDay1.addingTimeInterval(day * kDay), std::move(periods));
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }
std::string textOf(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(HeartbeatsBundleTest, NewBundleHasEmptySlotsAndTheDistantPastInItsCache) {
  HeartbeatsBundle bundle(30);
  EXPECT_EQ(bundle.buffer.circularQueue.size(), 30u);
  EXPECT_EQ(bundle.buffer.tailIndex, 0);
  EXPECT_TRUE(bundle.heartbeats().empty());
  ASSERT_EQ(bundle.lastAddedHeartbeatDates.size(), 1u);
  EXPECT_EQ(bundle.lastAddedHeartbeatDates.at(TimePeriod::daily), heartbeatDistantPast());
  EXPECT_EQ(heartbeatDistantPast().timeIntervalSinceReferenceDate, -63114076800.0);

  HeartbeatsBundle small(2);
  EXPECT_EQ(textOf(encodeHeartbeatsBundle(small)),
            R"({"capacity":2,"lastAddedHeartbeatDates":[1,-63114076800.0],)"
            R"("buffer":{"circularQueue":[null,null],"tailIndex":0}})");
}

TEST(HeartbeatsBundleTest, AppendWrapsAroundAndForgetsTheDateOfAnOverwrittenHeartbeat) {
  HeartbeatsBundle bundle(3);
  for (int day = 0; day < 3; ++day) bundle.append(heartbeat("a", day));
  EXPECT_EQ(bundle.buffer.tailIndex, 0);
  EXPECT_EQ(bundle.lastAddedHeartbeatDates.at(TimePeriod::daily), heartbeat("a", 2).date);

  // The fourth overwrites slot 0, the oldest.
  bundle.append(heartbeat("b", 3));
  EXPECT_EQ(bundle.heartbeats(), (std::vector{heartbeat("b", 3), heartbeat("a", 1), heartbeat("a", 2)}));
  EXPECT_EQ(bundle.buffer.tailIndex, 1);

  // A cache entry equal to the overwritten heartbeat's date goes back to the distant past.
  HeartbeatsBundle two(2);
  two.append(heartbeat("a", 0));
  two.append(heartbeat("a", 1, {}));
  EXPECT_EQ(two.lastAddedHeartbeatDates.at(TimePeriod::daily), heartbeat("a", 0).date);
  two.append(heartbeat("a", 2, {}));
  EXPECT_EQ(two.lastAddedHeartbeatDates.at(TimePeriod::daily), heartbeatDistantPast());
}

TEST(HeartbeatsBundleTest, AppendCopesWithDamagedBundles) {
  // Capacity 0: nothing at all happens.
  HeartbeatsBundle none(0);
  none.append(heartbeat("a", 0));
  EXPECT_TRUE(none.heartbeats().empty());
  EXPECT_EQ(none.lastAddedHeartbeatDates.at(TimePeriod::daily), heartbeatDistantPast());

  // A positive capacity over no slots: nothing is stored, yet the cache takes the date.
  auto slotless = std::optional<HeartbeatsBundle>(HeartbeatsBundle(30));
  slotless->buffer.circularQueue.clear();
  slotless->append(heartbeat("a", 0));
  EXPECT_TRUE(slotless->heartbeats().empty());
  EXPECT_EQ(slotless->lastAddedHeartbeatDates.at(TimePeriod::daily), heartbeat("a", 0).date);

  // A tail outside the slots: the bundle restarts with one diagnostic heartbeat.
  HeartbeatsBundle damaged(3);
  damaged.append(heartbeat("old", 0));
  damaged.buffer.tailIndex = 7;
  damaged.append(heartbeat("agent/1", 1));
  ASSERT_EQ(damaged.heartbeats().size(), 1u);
  EXPECT_EQ(damaged.heartbeats()[0].agent,
            "agent/1 error/Out-of-bounds-push-at-index-7-to-ring-buffer-withend-index-of-3.");
  EXPECT_EQ(damaged.heartbeats()[0].date, heartbeat("a", 1).date);
  EXPECT_EQ(damaged.buffer.tailIndex, 1);
  EXPECT_EQ(damaged.lastAddedHeartbeatDates.at(TimePeriod::daily), heartbeat("a", 1).date);
}

TEST(HeartbeatsBundleTest, TakeHeartbeatRemovesOnlyTheMatchingDay) {
  HeartbeatsBundle bundle(4);
  bundle.append(heartbeat("a", 0));
  bundle.append(heartbeat("b", 1));
  bundle.append(heartbeat("c", 2));

  EXPECT_EQ(bundle.takeHeartbeat(heartbeat("x", 1).date), heartbeat("b", 1));
  EXPECT_EQ(bundle.heartbeats(), (std::vector{heartbeat("a", 0), heartbeat("c", 2)}));

  // No match: every heartbeat stays in the same cyclic order, but one slot lower, so the
  // oldest now sits in the last slot.
  EXPECT_EQ(bundle.takeHeartbeat(heartbeat("x", 9).date), std::nullopt);
  EXPECT_EQ(bundle.heartbeats(), (std::vector{heartbeat("c", 2), heartbeat("a", 0)}));
  bundle.append(heartbeat("d", 3));
  bundle.append(heartbeat("e", 4));
  EXPECT_EQ(bundle.heartbeats().size(), 4u);

  // An empty bundle answers nothing and moves its tail back by one (wrapping).
  HeartbeatsBundle empty(3);
  EXPECT_EQ(empty.takeHeartbeat(kDay1), std::nullopt);
  EXPECT_EQ(empty.buffer.tailIndex, 2);

  // A damaged tail read from a file is brought back into the slots instead of read past them.
  HeartbeatsBundle damaged(3);
  damaged.append(heartbeat("a", 0));
  damaged.buffer.tailIndex = 7;
  EXPECT_EQ(damaged.takeHeartbeat(heartbeat("a", 0).date), std::nullopt);  // the last slot is empty
  EXPECT_EQ(damaged.heartbeats(), std::vector{heartbeat("a", 0)});
}

TEST(HeartbeatsBundleTest, StoredFormRoundTripsAndRejectsIncompleteFiles) {
  HeartbeatsBundle bundle(3);
  bundle.append(heartbeat("tel-ios/10.27.0 os-version/12", 0));
  bundle.append(heartbeat("ünïcode", 1));
  auto back = decodeHeartbeatsBundle(encodeHeartbeatsBundle(bundle));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, bundle);

  const std::string valid =
      R"({"capacity":1,"lastAddedHeartbeatDates":[1,5.0],"buffer":{"circularQueue":)"
      R"([{"agent":"a","date":5.0,"version":0,"timePeriods":[1]}],"tailIndex":0},"extra":true})";
  EXPECT_TRUE(decodeHeartbeatsBundle(bytesOf(valid)));
  EXPECT_TRUE(decodeHeartbeatsBundle(encodeHeartbeatsBundle(HeartbeatsBundle(0))));

  const std::vector<std::pair<const char*, std::string>> broken = {
      {"missing version", R"({"capacity":1,"lastAddedHeartbeatDates":[1,5.0],"buffer":{"circularQueue":)"
                          R"([{"agent":"a","date":5.0,"timePeriods":[1]}],"tailIndex":0}})"},
      {"unknown period", R"({"capacity":1,"lastAddedHeartbeatDates":[2,5.0],"buffer":{"circularQueue":[null],)"
                         R"("tailIndex":0}})"},
      {"odd dates list", R"({"capacity":1,"lastAddedHeartbeatDates":[1],"buffer":{"circularQueue":[null],)"
                         R"("tailIndex":0}})"},
      {"string capacity", R"({"capacity":"1","lastAddedHeartbeatDates":[],"buffer":{"circularQueue":[],)"
                          R"("tailIndex":0}})"},
      {"no buffer", R"({"capacity":1,"lastAddedHeartbeatDates":[]})"},
      {"torn", valid.substr(0, valid.size() / 2)},
      // Sizes that disagree, or that would size an allocation: a file found by fuzzing made
      // the rebuild after a failed append ask for 2^62 slots.
      {"huge capacity", R"({"buffer":{"circularQueue":[null],"tailIndex":5},"capacity":4611686018427387904,)"
                        R"("lastAddedHeartbeatDates":[]})"},
      {"capacity over the bound", R"({"capacity":1001,"lastAddedHeartbeatDates":[],"buffer":{"circularQueue":[],)"
                                  R"("tailIndex":0}})"},
      {"negative capacity", R"({"capacity":-1,"lastAddedHeartbeatDates":[],"buffer":{"circularQueue":[],)"
                            R"("tailIndex":0}})"},
      {"fewer slots than the capacity", R"({"capacity":2,"lastAddedHeartbeatDates":[],"buffer":{"circularQueue":)"
                                        R"([null],"tailIndex":0}})"},
      {"tail past the slots", R"({"capacity":1,"lastAddedHeartbeatDates":[],"buffer":{"circularQueue":[null],)"
                              R"("tailIndex":1}})"},
      {"negative tail", R"({"capacity":1,"lastAddedHeartbeatDates":[],"buffer":{"circularQueue":[null],)"
                        R"("tailIndex":-1}})"},
      {"tail in no slots", R"({"capacity":0,"lastAddedHeartbeatDates":[],"buffer":{"circularQueue":[],)"
                           R"("tailIndex":1}})"},
      {"nested past any file written", R"({"capacity":0,"lastAddedHeartbeatDates":[],"buffer":{"circularQueue":[],)"
                                       R"("tailIndex":0},"extra":)" + std::string(100000, '[') +
                                           std::string(100000, ']') + "}"},
      {"not json", "capacity=1"},
      {"array root", "[]"},
  };
  for (const auto& [label, text] : broken) {
    EXPECT_FALSE(decodeHeartbeatsBundle(bytesOf(text))) << label;
  }
}

}  // namespace
