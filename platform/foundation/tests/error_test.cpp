#include "platform/foundation/error.h"

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

}  // namespace
}  // namespace platform
