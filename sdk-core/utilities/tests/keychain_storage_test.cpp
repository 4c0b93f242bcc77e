#include "sdk-core/utilities/keychain_storage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/foundation/paths.h"
#include "platform/keychain/keychain.h"
#include "platform/testing/environment.h"
#include "sdk-core/utilities/keychain_utils.h"

namespace {

using platform::ArchiveValue;

// A small secure-coded object, as the installation records are.
class StoredToken : public platform::KeyedCoding {
 public:
  static constexpr const char* kArchiveClassName = "StoredToken";
  explicit StoredToken(std::string text = {}) : text(std::move(text)) {}
  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override { coder.encodeObject(text, "text"); }
  static std::shared_ptr<StoredToken> initWithCoder(platform::KeyedUnarchiver& coder) {
    return std::make_shared<StoredToken>(coder.decodeString("text").value_or(""));
  }
  std::string text;
};

class KeychainStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::KeyedClassRegistry::registerClass<StoredToken>();
  }
  void TearDown() override { platform::Keychain::shared()->setFaultHook(nullptr); }

  static PRMObject await(const PRMPromise::Ptr& promise, platform::Error* error = nullptr) {
    return PRMPromiseAwait(promise, error);
  }
  static std::optional<std::string> tokenText(const PRMObject& value) {
    const auto* archived = value.get<ArchiveValue>();
    if (archived == nullptr) return std::nullopt;
    auto token = archived->object<StoredToken>();
    return token ? std::optional<std::string>(token->text) : std::nullopt;
  }
  std::optional<std::string> get(UTLKeychainStorage& storage, const std::string& key,
                                 platform::Error* error = nullptr) {
    return tokenText(await(storage.getObjectForKey(key, StoredToken::kArchiveClassName, std::nullopt), error));
  }
  static bool set(UTLKeychainStorage& storage, const std::string& text, const std::string& key,
                  platform::Error* error = nullptr) {
    return await(storage.setObject(ArchiveValue(std::make_shared<StoredToken>(text)), key, std::nullopt), error)
        .isNull();
  }
  // Deletes the item underneath the storage, so only its cache can still answer.
  static void deleteItemBehindTheCache(UTLKeychainStorage& storage, const std::string& key) {
    ASSERT_EQ(platform::SecItemDelete(storage.keychainQueryWithKey(key, std::nullopt)), platform::errSecSuccess);
  }

  platform::testing::Environment environment_{"keychain-storage-test"};
};

TEST_F(KeychainStorageTest, MissingItemReadsAsNothingAndAWriteMakesTheNextReadACacheHit) {
  UTLKeychainStorage storage("ruv.test.Service");
  platform::Error error;
  const PRMObject missing = await(storage.getObjectForKey("id", StoredToken::kArchiveClassName, std::nullopt), &error);
  EXPECT_TRUE(missing.isNil());
  EXPECT_TRUE(error.domain.empty());
  EXPECT_EQ(storage.inMemoryCache()->count(), 0u);

  ASSERT_TRUE(set(storage, "first", "id"));
  deleteItemBehindTheCache(storage, "id");
  EXPECT_EQ(get(storage, "id"), "first");  // answered by the cache
  storage.resetInMemoryCache();
  EXPECT_EQ(get(storage, "id"), std::nullopt);
}

TEST_F(KeychainStorageTest, ObjectsPersistAcrossStoragesAndUpdatesKeepItemAttributes) {
  {
    UTLKeychainStorage writer("ruv.test.Service");
    ASSERT_TRUE(set(writer, "v1", "id"));
    ASSERT_TRUE(set(writer, "v2", "id"));  // updates the existing item
    ASSERT_TRUE(set(writer, "other", "id2"));
  }
  UTLKeychainStorage reader("ruv.test.Service");
  EXPECT_EQ(get(reader, "id"), "v2");
  EXPECT_EQ(get(reader, "id2"), "other");
  UTLKeychainStorage otherService("ruv.test.Other");
  EXPECT_EQ(get(otherService, "id"), std::nullopt);

  platform::SecQuery query = reader.keychainQueryWithKey("id", std::nullopt);
  query[platform::kSecAttrAccessible] = platform::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
  EXPECT_EQ(platform::SecItemCopyMatching(query, nullptr), platform::errSecSuccess);
}

TEST_F(KeychainStorageTest, RemovingDropsCacheAndItemAndAMissingItemIsFine) {
  UTLKeychainStorage storage("ruv.test.Service");
  platform::Error error;
  EXPECT_TRUE(await(storage.removeObjectForKey("never", std::nullopt), &error).isNull());
  EXPECT_TRUE(error.domain.empty());
  ASSERT_TRUE(set(storage, "v", "id"));
  EXPECT_TRUE(await(storage.removeObjectForKey("id", std::nullopt)).isNull());
  EXPECT_EQ(get(storage, "id"), std::nullopt);
  UTLKeychainStorage fresh("ruv.test.Service");
  EXPECT_EQ(get(fresh, "id"), std::nullopt);
}

TEST_F(KeychainStorageTest, FailedWriteRejectsAndLeavesNoStaleObjectInTheCache) {
  UTLKeychainStorage storage("ruv.test.Service");
  ASSERT_TRUE(set(storage, "old", "id"));
  platform::Keychain::shared()->setFaultHook([](platform::KeychainOperation op) {
    return op == platform::KeychainOperation::WriteFile ? platform::errSecIO : platform::errSecSuccess;
  });
  platform::Error error;
  EXPECT_FALSE(set(storage, "new", "id", &error));
  EXPECT_EQ(error.domain, UTLKeychainErrorDomain);
  EXPECT_EQ(error.code, 0);
  EXPECT_EQ(*error.userInfo.at(platform::kErrorLocalizedFailureReasonKey).asString(), "SecItemUpdate (-36)");
  platform::Keychain::shared()->setFaultHook(nullptr);
  EXPECT_EQ(get(storage, "id"), "old");  // the keychain's value, not the failed one

  platform::Keychain::shared()->setFaultHook([](platform::KeychainOperation op) {
    return op == platform::KeychainOperation::Add ? platform::errSecInteractionNotAllowed : platform::errSecSuccess;
  });
  EXPECT_FALSE(set(storage, "new", "id2", &error));
  EXPECT_EQ(*error.userInfo.at(platform::kErrorLocalizedFailureReasonKey).asString(), "SecItemAdd (-25308)");
  platform::Keychain::shared()->setFaultHook(nullptr);
  EXPECT_EQ(get(storage, "id2"), std::nullopt);
}

TEST_F(KeychainStorageTest, ReadFailuresReject) {
  UTLKeychainStorage storage("ruv.test.Service");
  platform::Keychain::shared()->setFaultHook([](platform::KeychainOperation op) {
    return op == platform::KeychainOperation::CopyMatching ? platform::errSecDuplicateItem : platform::errSecSuccess;
  });
  platform::Error error;
  EXPECT_EQ(get(storage, "id", &error), std::nullopt);
  EXPECT_EQ(error.domain, UTLKeychainErrorDomain);
  EXPECT_EQ(*error.userInfo.at(platform::kErrorLocalizedFailureReasonKey).asString(),
            "SecItemCopyMatching (-25299)");
  platform::Keychain::shared()->setFaultHook(nullptr);

  // An item of another class fails the secure read.
  ASSERT_TRUE(set(storage, "token", "id"));
  storage.resetInMemoryCache();
  error = {};
  EXPECT_TRUE(await(storage.getObjectForKey("id", "SomeOtherClass", std::nullopt), &error).isNil());
  EXPECT_FALSE(error.domain.empty());

  // Bytes that are no archive fail too.
  platform::SecQuery garbage = storage.keychainQueryWithKey("junk", std::nullopt);
  garbage[platform::kSecValueData] = platform::PlistValue::Data{1, 2, 3};
  ASSERT_EQ(platform::SecItemAdd(garbage, nullptr), platform::errSecSuccess);
  error = {};
  EXPECT_EQ(get(storage, "junk", &error), std::nullopt);
  EXPECT_FALSE(error.domain.empty());
}

TEST_F(KeychainStorageTest, AccessGroupsSeparateItems) {
  UTLKeychainStorage storage("ruv.test.Service");
  const auto token = ArchiveValue(std::make_shared<StoredToken>("grouped"));
  ASSERT_TRUE(await(storage.setObject(token, "id", std::string("group.a"))).isNull());
  UTLKeychainStorage fresh("ruv.test.Service");
  EXPECT_EQ(tokenText(await(fresh.getObjectForKey("id", StoredToken::kArchiveClassName, std::string("group.a")))),
            "grouped");
  EXPECT_TRUE(await(fresh.getObjectFromKeychainForKey("id", StoredToken::kArchiveClassName, std::string("group.b")))
                  .isNil());
}

TEST(KeychainCacheTest, KeepsTheFiveMostRecentlyUsed) {
  UTLKeychainCache cache(5);
  for (int i = 0; i < 5; ++i) cache.setObject(ArchiveValue(std::to_string(i)), "k" + std::to_string(i));
  ASSERT_TRUE(cache.objectForKey("k0"));  // k1 is now the least recently used
  cache.setObject(ArchiveValue("5"), "k5");
  EXPECT_EQ(cache.count(), 5u);
  EXPECT_FALSE(cache.objectForKey("k1"));
  EXPECT_TRUE(cache.objectForKey("k0"));
  EXPECT_TRUE(cache.objectForKey("k5"));
}

TEST(KeychainCacheTest, AReadOverlappingAWriteDoesNotCacheWhatItRead) {
  UTLKeychainCache cache;
  // The read ran before a write of the same key began: what it read is stale.
  auto ticket = cache.readTicket("id");
  cache.beginMutation("id", ArchiveValue("new"));
  cache.endMutation("id", true, ArchiveValue("new"));
  cache.fillFromRead("id", ArchiveValue("old"), ticket);
  EXPECT_EQ(*cache.objectForKey("id")->asString(), "new");

  // The read ran while a write was in flight: it may or may not have seen it.
  cache.removeAllObjects();
  cache.beginMutation("id", ArchiveValue("newer"));
  ticket = cache.readTicket("id");
  cache.removeObjectForKey("id");
  cache.endMutation("id", true, ArchiveValue("newer"));
  cache.fillFromRead("id", ArchiveValue("maybe stale"), ticket);
  EXPECT_FALSE(cache.objectForKey("id"));

  // A quiet key takes what was read.
  ticket = cache.readTicket("id");
  cache.fillFromRead("id", ArchiveValue("read"), ticket);
  EXPECT_EQ(*cache.objectForKey("id")->asString(), "read");
}

}  // namespace
