#include "platform/foundation/uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

namespace platform {
namespace {

TEST(UUIDTest, RandomIsVersion4AndUpperCaseText) {
  UUID uuid = UUID::random();
  std::string text = uuid.uuidString();
  ASSERT_EQ(text.size(), 36u);
  for (size_t i : {8u, 13u, 18u, 23u}) EXPECT_EQ(text[i], '-');
  for (char c : text) EXPECT_TRUE(c == '-' || isdigit(c) || (c >= 'A' && c <= 'F')) << text;
  EXPECT_EQ(text[14], '4');
  EXPECT_NE(uuid, UUID::random());
  EXPECT_EQ(UUID::fromString(text), uuid);
}

TEST(UUIDTest, ParsesEitherCaseAndRejectsOtherText) {
  auto upper = UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  auto lower = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(upper.has_value());
  EXPECT_EQ(upper, lower);
  EXPECT_EQ(lower->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  EXPECT_EQ(upper->lowercaseString(), "e621e1f8-c36c-495a-93fc-0c247a3e6e5f");

  for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F",
                          "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                          "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
                          "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
                          "{E621E1F8-C36C-495A-93FC-0C247A3E6E}"}) {
    EXPECT_FALSE(UUID::fromString(bad).has_value()) << bad;
  }
  // Text with an embedded NUL is not a UUID even if its prefix would be.
  EXPECT_FALSE(UUID::fromString(std::string_view("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36))
                   .has_value());
}

TEST(UUIDTest, OrdersAndHashesByValue) {
  auto a = *UUID::fromString("00000000-0000-0000-0000-000000000001");
  auto b = *UUID::fromString("00000000-0000-0000-0000-000000000002");
  EXPECT_LT(a, b);
  EXPECT_EQ(UUID().uuidString(), "00000000-0000-0000-0000-000000000000");
  std::unordered_set<UUID> set{a, b, a};
  EXPECT_EQ(set.size(), 2u);
}

}  // namespace
}  // namespace platform
