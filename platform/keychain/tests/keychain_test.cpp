#include "platform/keychain/keychain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/foundation/paths.h"
#include "platform/testing/environment.h"

namespace platform {
namespace {

class KeychainTest : public ::testing::Test {
 protected:
  platform::testing::Environment environment_{"keychain-test"};
  std::filesystem::path directory_ = environment_.root();
  std::filesystem::path file_ = directory_ / "keychain.plist";

  static SecQuery password(const std::string& service, const std::string& account) {
    return {{kSecClass, kSecClassGenericPassword}, {kSecAttrService, service}, {kSecAttrAccount, account}};
  }
  static SecQuery withData(SecQuery query, const std::string& text) {
    query[kSecValueData] = PlistValue::Data(text.begin(), text.end());
    return query;
  }
  static std::optional<std::string> read(Keychain& keychain, SecQuery query) {
    query[kSecReturnData] = true;
    PlistValue result;
    if (keychain.copyMatching(query, &result) != errSecSuccess) return std::nullopt;
    return std::string(result.asData()->begin(), result.asData()->end());
  }

};

TEST_F(KeychainTest, ItemsPersistAcrossReopenInAPrivateFile) {
  {
    Keychain keychain(file_);
    EXPECT_EQ(keychain.add(withData(password("svc", "alice"), "secret-a")), errSecSuccess);
    EXPECT_EQ(keychain.add(withData(password("svc", "bob"), "secret-b")), errSecSuccess);
    EXPECT_EQ(keychain.update(password("svc", "bob"), withData({}, "secret-b2")), errSecSuccess);
    EXPECT_EQ(keychain.remove(password("svc", "alice")), errSecSuccess);
  }
  struct stat info {};
  ASSERT_EQ(::stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  Keychain reopened(file_);
  EXPECT_EQ(read(reopened, password("svc", "alice")), std::nullopt);
  EXPECT_EQ(read(reopened, password("svc", "bob")), "secret-b2");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_), {}), 1)
      << "no temporary file is left beside the keychain";
}

// A write finds its way past a directory not made yet and past the temp file of a write that
// a crash cut short (any mode, any bytes): the file ends private, whole, and alone.
TEST_F(KeychainTest, AWriteMakesItsDirectoryAndReplacesATempFileLeftByACrash) {
  const std::filesystem::path file = directory_ / "not-yet" / "keychain.plist";
  const std::filesystem::path temporary = file.parent_path() / ".keychain.plist.tmp";
  {
    Keychain keychain(file);
    ASSERT_EQ(keychain.add(withData(password("svc", "alice"), "secret-a")), errSecSuccess);
  }
  std::ofstream(temporary) << "half a write";
  std::filesystem::permissions(temporary, std::filesystem::perms(0644));
  {
    Keychain keychain(file);
    ASSERT_EQ(keychain.update(password("svc", "alice"), withData({}, "secret-a2")), errSecSuccess);
  }
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_FALSE(std::filesystem::exists(temporary));
  Keychain reopened(file);
  EXPECT_EQ(read(reopened, password("svc", "alice")), "secret-a2");
}

TEST_F(KeychainTest, StatusCodesFollowTheItemCalls) {
  Keychain keychain(file_);
  EXPECT_EQ(keychain.copyMatching(password("svc", "none"), nullptr), errSecItemNotFound);
  EXPECT_EQ(keychain.remove(password("svc", "none")), errSecItemNotFound);
  EXPECT_EQ(keychain.update(password("svc", "none"), withData({}, "x")), errSecItemNotFound);
  ASSERT_EQ(keychain.add(withData(password("svc", "a"), "1")), errSecSuccess);
  EXPECT_EQ(keychain.add(withData(password("svc", "a"), "2")), errSecDuplicateItem);
  EXPECT_EQ(read(keychain, password("svc", "a")), "1");
  EXPECT_EQ(keychain.add({{kSecAttrService, "no class"}}), errSecParam);
  EXPECT_EQ(keychain.update(password("svc", "a"), {{kSecClass, kSecClassKey}}), errSecParam);
}

TEST_F(KeychainTest, QueriesMatchOnTheAttributesTheyName) {
  Keychain keychain(file_);
  SecQuery grouped = password("svc", "a");
  grouped[kSecAttrAccessGroup] = "group.one";
  grouped[kSecAttrAccessible] = kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
  ASSERT_EQ(keychain.add(withData(grouped, "grouped")), errSecSuccess);
  // Same service and account in another group is a different item.
  ASSERT_EQ(keychain.add(withData(password("svc", "a"), "ungrouped")), errSecSuccess);

  SecQuery inGroup = password("svc", "a");
  inGroup[kSecAttrAccessGroup] = "group.one";
  inGroup[kSecUseDataProtectionKeychain] = true;  // a call option, never matched
  EXPECT_EQ(read(keychain, inGroup), "grouped");

  SecQuery all = {{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "svc"},
                  {kSecReturnData, true}, {kSecMatchLimit, kSecMatchLimitAll}};
  PlistValue result;
  ASSERT_EQ(keychain.copyMatching(all, &result), errSecSuccess);
  ASSERT_NE(result.asArray(), nullptr);
  EXPECT_EQ(result.asArray()->size(), 2u);

  // Updating data keeps the item's other attributes.
  ASSERT_EQ(keychain.update(inGroup, withData({}, "changed")), errSecSuccess);
  SecQuery byAccessibility = password("svc", "a");
  byAccessibility[kSecAttrAccessible] = kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
  EXPECT_EQ(read(keychain, byAccessibility), "changed");

  // Key items are told apart by tag and type, not by service.
  const std::string tag = "tag.public-app";
  SecQuery key = {{kSecClass, kSecClassKey},
                  {kSecAttrApplicationTag, PlistValue::Data(tag.begin(), tag.end())},
                  {kSecAttrKeyType, kSecAttrKeyTypeRSA}};
  ASSERT_EQ(keychain.add(withData(key, "der")), errSecSuccess);
  EXPECT_EQ(read(keychain, key), "der");
  EXPECT_EQ(keychain.remove(key), errSecSuccess);
  EXPECT_EQ(keychain.remove(key), errSecItemNotFound);
}

TEST_F(KeychainTest, InjectedFailuresChangeNeitherMemoryNorDisk) {
  {
    Keychain keychain(file_);
    ASSERT_EQ(keychain.add(withData(password("svc", "a"), "old")), errSecSuccess);

    keychain.setFaultHook([](KeychainOperation op) { return op == KeychainOperation::WriteFile ? errSecIO : 0; });
    EXPECT_EQ(keychain.update(password("svc", "a"), withData({}, "new")), errSecIO);
    EXPECT_EQ(keychain.add(withData(password("svc", "b"), "b")), errSecIO);
    EXPECT_EQ(keychain.remove(password("svc", "a")), errSecIO);

    keychain.setFaultHook([](KeychainOperation op) {
      return op == KeychainOperation::CopyMatching ? errSecInteractionNotAllowed : 0;
    });
    EXPECT_EQ(keychain.copyMatching(password("svc", "a"), nullptr), errSecInteractionNotAllowed);

    keychain.setFaultHook(nullptr);
    EXPECT_EQ(read(keychain, password("svc", "a")), "old");
    EXPECT_EQ(read(keychain, password("svc", "b")), std::nullopt);
  }
  Keychain reopened(file_);
  EXPECT_EQ(read(reopened, password("svc", "a")), "old");
  EXPECT_EQ(read(reopened, password("svc", "b")), std::nullopt);
}

TEST_F(KeychainTest, UnreadableFileIsSetAsideAndTheKeychainStartsEmpty) {
  { std::ofstream(file_) << "not a property list"; }
  Keychain keychain(file_);
  EXPECT_EQ(keychain.copyMatching(password("svc", "a"), nullptr), errSecItemNotFound);
  std::filesystem::path aside = file_;
  aside += ".corrupt";
  EXPECT_TRUE(std::filesystem::exists(aside));
  EXPECT_EQ(keychain.add(withData(password("svc", "a"), "fresh")), errSecSuccess);
  Keychain reopened(file_);
  EXPECT_EQ(read(reopened, password("svc", "a")), "fresh");
}

TEST_F(KeychainTest, SharedKeychainFollowsTheDataDirectory) {
  FileLocations::setDataDirectory(directory_ / "one");
  ASSERT_EQ(SecItemAdd(withData(password("svc", "a"), "in one"), nullptr), errSecSuccess);
  FileLocations::setDataDirectory(directory_ / "two");
  EXPECT_EQ(SecItemCopyMatching(password("svc", "a"), nullptr), errSecItemNotFound);
  FileLocations::setDataDirectory(directory_ / "one");
  PlistValue result;
  SecQuery query = password("svc", "a");
  query[kSecReturnData] = true;
  ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
  EXPECT_EQ(SecItemDelete(password("svc", "a")), errSecSuccess);
  EXPECT_TRUE(std::filesystem::exists(directory_ / "one" / "keychain.plist"));
}

TEST_F(KeychainTest, ConcurrentWritersAllLand) {
  Keychain keychain(file_);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&keychain, t] {
      for (int i = 0; i < 10; ++i) {
        keychain.add(withData(password("svc", std::to_string(t) + "-" + std::to_string(i)), "v"));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  SecQuery all = {{kSecClass, kSecClassGenericPassword}, {kSecReturnData, true},
                  {kSecMatchLimit, kSecMatchLimitAll}};
  PlistValue result;
  Keychain reopened(file_);
  ASSERT_EQ(reopened.copyMatching(all, &result), errSecSuccess);
  EXPECT_EQ(result.asArray()->size(), 40u);
}

}  // namespace
}  // namespace platform
