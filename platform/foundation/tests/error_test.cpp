#include "platform/foundation/error.h"
#include "platform/foundation/expected.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace platform {
namespace {

TEST(ErrorTest, LocalizedDescriptionPrefersUserInfoThenDomainAndCode) {
  EXPECT_EQ(Error("ETErrorDomain", 4).localizedDescription(),
            "The operation couldn’t be completed. (ETErrorDomain error 4.)");
  Error described("d", 1, {{kErrorLocalizedDescriptionKey, "Disk full"}});
  EXPECT_EQ(described.localizedDescription(), "Disk full");
  // A description of the wrong type is ignored rather than trusted.
  Error mistyped("d", 2, {{kErrorLocalizedDescriptionKey, 5}});
  EXPECT_EQ(mistyped.localizedDescription(), "The operation couldn’t be completed. (d error 2.)");
}

TEST(ErrorTest, PosixErrorNamesTheFile) {
  Error error = Error::posix(EACCES, "/data/Preferences/standard.plist");
  EXPECT_EQ(error.domain, kPOSIXErrorDomain);
  EXPECT_EQ(error.code, EACCES);
  EXPECT_NE(error.localizedDescription().find("standard.plist"), std::string::npos);
  EXPECT_EQ(*error.userInfo.at(kErrorFilePathKey).asString(), "/data/Preferences/standard.plist");
}

TEST(ErrorTest, ExceptionCarriesNameAndReason) {
  try {
    throw Exception(kInvalidArgumentException, "Bad key");
  } catch (const std::exception& caught) {
    const auto* exception = dynamic_cast<const Exception*>(&caught);
    ASSERT_NE(exception, nullptr);
    EXPECT_EQ(exception->name(), "NSInvalidArgumentException");
    EXPECT_EQ(exception->reason(), "Bad key");
    EXPECT_STREQ(caught.what(), "Bad key");
  }
}

TEST(ExpectedTest, HoldsTheValueOrTheErrorThatStoppedIt) {
  Expected<std::string> made = std::string("made");
  ASSERT_TRUE(made.ok());
  EXPECT_EQ(*made, "made");
  EXPECT_EQ(made->size(), 4u);
  EXPECT_EQ(made.failure(), std::nullopt);

  Expected<std::string> refused = Error::described("d", 2, "Disk full");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().code, 2);
  EXPECT_EQ(refused.error().localizedDescription(), "Disk full");
  EXPECT_EQ(refused.failure(), refused.error());

  Status fine;
  EXPECT_TRUE(fine.ok());
  Status failed = Error("d", 3);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.failure(), Error("d", 3));
}

TEST(ExpectedDeathTest, ReadingTheSideThatIsNotThereEndsTheProcess) {
  EXPECT_DEATH((void)Status().error(), "error\\(\\) of a successful status");
  EXPECT_DEATH((void)Expected<int>(Error("d", 1)).value(), "value\\(\\) of a failed result");
}

}  // namespace
}  // namespace platform
