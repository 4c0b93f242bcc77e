#include "sdk-core/installations/installations_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "sdk-core/installations/installations_iid_store.h"
#include "sdk-core/installations/tests/installations_test_support.h"

namespace {

using StoreTest = InstallationsTest;

std::shared_ptr<TELInstallationsItem> sampleItem(const std::string& appName = kTELDefaultAppName) {
  auto item = std::make_shared<TELInstallationsItem>(kValidAppID, appName);
  item->telemetryInstallationID = TELInstallationsItem::generateInstID();
  item->refreshToken = "refresh";
  item->authToken = std::make_shared<TELInstallationsStoredAuthToken>();
  item->authToken->setStatus(1);
  item->authToken->setToken("token");
  item->authToken->setExpirationDate(platform::Date{1234.5});
  item->registrationStatus = TELInstallationStatusRegistered;
  item->IIDDefaultToken = "legacy";
  return item;
}

TEST_F(StoreTest, InstIDsAre22URLSafeCharactersStartingWithCToF) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string InstID = TELInstallationsItem::generateInstID();
    ASSERT_EQ(InstID.size(), 22u);
    EXPECT_NE(std::string("cdef").find(InstID[0]), std::string::npos) << InstID;
    EXPECT_EQ(InstID.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    seen.insert(InstID);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_EQ(TELInstallationsItem::identifierWithAppID("1:2:ios:3", kTELDefaultAppName), "1:2:ios:3__TELAPP_DEFAULT");
}

TEST_F(StoreTest, ValidationListsEveryFindingInOrder) {
  TELInstallationsItem empty("", "");
  platform::Error error;
  EXPECT_FALSE(empty.isValid(&error));
  EXPECT_EQ(reasonOf(error),
            "TELInstallationsItem validation errors: `appID` must not be empty, `telemetryAppName` must not be empty, "
            "`telemetryInstallationID` must not be empty, invalid `registrationStatus`");

  TELInstallationsItem registered(kValidAppID, "app");
  registered.telemetryInstallationID = "cID";
  registered.registrationStatus = TELInstallationStatusRegistered;
  EXPECT_FALSE(registered.isValid(&error));
  EXPECT_EQ(reasonOf(error),
            "TELInstallationsItem validation errors: registered installation must have non-empty `refreshToken`, "
            "registered installation must have non-empty `authToken.token`, registered installation must have "
            "non-empty `authToken.expirationDate`");

  registered.registrationStatus = TELInstallationStatusUnregistered;
  EXPECT_TRUE(registered.isValid(&error));
}

TEST_F(StoreTest, ARecordReadsBackAsSavedAndGoesWithItsFlag) {
  auto store = makeStore();
  auto item = sampleItem();
  ASSERT_TRUE(settle(store->saveInstallation(item))->isFulfilled());
  auto back = itemOf(store->installationForAppID(kValidAppID, kTELDefaultAppName));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->telemetryInstallationID, item->telemetryInstallationID);
  EXPECT_EQ(back->refreshToken, "refresh");
  EXPECT_EQ(back->authToken->token(), "token");
  EXPECT_EQ(back->authToken->expirationDate(), platform::Date{1234.5});
  EXPECT_EQ(back->registrationStatus, TELInstallationStatusRegistered);
  EXPECT_EQ(back->IIDDefaultToken, "legacy");

  ASSERT_TRUE(store->userDefaults()->synchronize());
  EXPECT_TRUE(std::filesystem::exists(root_ / "data" / "keychain.plist"));
  EXPECT_TRUE(std::filesystem::exists(root_ / "data" / "Preferences" / "ruv.telemetry.TELInstallations.plist"));

  // Without its flag the record is absent, although the keychain still holds it.
  auto store2 = makeStore();
  settle(store2->setInstallationExists(false, item->identifier()));
  EXPECT_EQ(reasonOf(errorOf(store2->installationForAppID(kValidAppID, kTELDefaultAppName))),
            std::string("Installation for appID ") + kValidAppID + " appName __TELAPP_DEFAULT not found");

  // Removal, twice: the second finds nothing and still succeeds.
  EXPECT_TRUE(settle(store2->removeInstallationForAppID(kValidAppID, kTELDefaultAppName))->isFulfilled());
  EXPECT_TRUE(settle(store2->removeInstallationForAppID(kValidAppID, kTELDefaultAppName))->isFulfilled());
  settle(store2->setInstallationExists(true, item->identifier()));
  EXPECT_TRUE(settle(store2->installationForAppID(kValidAppID, kTELDefaultAppName))->isRejected());
}

TEST_F(StoreTest, ARecordIsReadFromTheKeychainOncePerStore) {
  auto item = sampleItem();
  ASSERT_TRUE(settle(makeStore()->saveInstallation(item))->isFulfilled());
  auto store = makeStore();
  EXPECT_FALSE(store->knownInstallationForAppID(kValidAppID, kTELDefaultAppName));
  auto first = store->installationForAppID(kValidAppID, kTELDefaultAppName);
  EXPECT_TRUE(first->isPending());
  EXPECT_EQ(itemOf(first)->telemetryInstallationID, item->telemetryInstallationID);

  // Known now: settled at once, each answer a copy of its own.
  auto second = store->installationForAppID(kValidAppID, kTELDefaultAppName);
  ASSERT_TRUE(second->isFulfilled());
  itemOf(second)->telemetryInstallationID = "changed by a caller";
  EXPECT_EQ(itemOf(store->installationForAppID(kValidAppID, kTELDefaultAppName))->telemetryInstallationID,
            item->telemetryInstallationID);

  // A save is known from its start.
  auto newer = item->copy();
  newer->refreshToken = "newer";
  auto saving = store->saveInstallation(newer);
  EXPECT_EQ(store->knownInstallationForAppID(kValidAppID, kTELDefaultAppName)->refreshToken, "newer");
  settle(saving);

  // Clearing the flag through the store makes it ask again, and the record is absent.
  settle(store->setInstallationExists(false, item->identifier()));
  EXPECT_FALSE(store->knownInstallationForAppID(kValidAppID, kTELDefaultAppName));
  EXPECT_TRUE(settle(store->installationForAppID(kValidAppID, kTELDefaultAppName))->isRejected());
  settle(store->setInstallationExists(true, item->identifier()));
  EXPECT_EQ(itemOf(store->installationForAppID(kValidAppID, kTELDefaultAppName))->refreshToken, "newer");

  // A removal is known as absent at once.
  auto removing = store->removeInstallationForAppID(kValidAppID, kTELDefaultAppName);
  auto absent = store->installationForAppID(kValidAppID, kTELDefaultAppName);
  ASSERT_TRUE(absent->isRejected());
  EXPECT_EQ(reasonOf(*absent->error()),
            std::string("Installation for appID ") + kValidAppID + " appName __TELAPP_DEFAULT not found");
  settle(removing);
  EXPECT_TRUE(settle(makeStore()->installationForAppID(kValidAppID, kTELDefaultAppName))->isRejected());
}

// Run by the test below in a second process: prints the InstID stored in the data directory
// that the parent names.
TEST_F(StoreTest, SecondProcessReader) {
  const char* directory = std::getenv("BRIVEL_INSTALLATIONS_READER_DATA_DIR");
  if (!directory) GTEST_SKIP() << "run by ASecondProcessFindsTheSameInstID";
  platform::FileLocations::setDataDirectory(directory);
  auto item = itemOf(makeStore()->installationForAppID(kValidAppID, kTELDefaultAppName));
  ASSERT_TRUE(item);
  std::printf("InstID=%s\n", item->telemetryInstallationID.value_or("").c_str());
}

// The second process reads right after the save, as a launch after a crash would: the flag is
// on disk without waiting for the defaults' debounced flush.
TEST_F(StoreTest, ASecondProcessFindsTheSameInstID) {
  auto store = makeStore();
  auto item = sampleItem();
  ASSERT_TRUE(settle(store->saveInstallation(item))->isFulfilled());
  const std::string command = "BRIVEL_INSTALLATIONS_READER_DATA_DIR='" + (root_ / "data").string() + "' '" +
                              std::filesystem::read_symlink("/proc/self/exe").string() +
                              "' --gtest_filter=StoreTest.SecondProcessReader 2>&1";
  FILE* child = ::popen(command.c_str(), "r");
  ASSERT_TRUE(child);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, child)) output += buffer;
  EXPECT_EQ(::pclose(child), 0) << output;
  EXPECT_NE(output.find("InstID=" + *item->telemetryInstallationID + "\n"), std::string::npos) << output;
}

// A save whose flag is already on disk writes no flag; one whose flag another store cleared
// writes it again. What the file on disk says is checked, not the defaults in memory.
TEST_F(StoreTest, EverySaveOrRemovalLeavesItsFlagOnDisk) {
  const std::string identifier = TELInstallationsItem::identifierWithAppID(kValidAppID, kTELDefaultAppName);
  auto flagOnDisk = [&] {
    auto bytes = platform::readFileContents(root_ / "data" / "Preferences" / "ruv.telemetry.TELInstallations.plist");
    auto plist = bytes ? platform::decodePlist(*bytes) : std::nullopt;
    return plist && plist->find(identifier) != nullptr;
  };
  auto store = makeStore();
  auto item = sampleItem();
  ASSERT_TRUE(settle(store->saveInstallation(item))->isFulfilled());
  EXPECT_TRUE(flagOnDisk());
  ASSERT_TRUE(settle(store->saveInstallation(item))->isFulfilled());
  EXPECT_TRUE(flagOnDisk());

  settle(makeStore()->setInstallationExists(false, identifier));
  ASSERT_FALSE(flagOnDisk());
  ASSERT_TRUE(settle(store->saveInstallation(item))->isFulfilled());
  EXPECT_TRUE(flagOnDisk());

  ASSERT_TRUE(settle(store->removeInstallationForAppID(kValidAppID, kTELDefaultAppName))->isFulfilled());
  EXPECT_FALSE(flagOnDisk());
  settle(makeStore()->setInstallationExists(true, identifier));
  ASSERT_TRUE(flagOnDisk());
  ASSERT_TRUE(settle(store->removeInstallationForAppID(kValidAppID, kTELDefaultAppName))->isFulfilled());
  EXPECT_FALSE(flagOnDisk());
}

TEST_F(StoreTest, AnAccessGroupKeepsItsFlagsInItsOwnSuite) {
  auto store = makeStore("group.ruv.test");
  settle(store->saveInstallation(sampleItem()));
  const std::string identifier = TELInstallationsItem::identifierWithAppID(kValidAppID, kTELDefaultAppName);
  EXPECT_TRUE(UTLUserDefaults("group.ruv.test").boolForKey(identifier));
  EXPECT_FALSE(UTLUserDefaults(kTELInstallationsStoreUserDefaultsID).objectForKey(identifier));
  EXPECT_TRUE(itemOf(store->installationForAppID(kValidAppID, kTELDefaultAppName)));
}

TEST_F(StoreTest, ANewerArchiveVersionStillDecodesAndWarnsOncePerObject) {
  // An archive whose two objects both claim storage version 2.
  class NewerToken final : public platform::KeyedCoding {
   public:
    std::string archiveClassName() const override { return TELInstallationsStoredAuthToken::kArchiveClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override {
      coder.encodeInt64(1, "status");
      coder.encodeObject("token-v2", "token");
      coder.encodeInt64(2, "storageVersion");
    }
  };
  class NewerItem final : public platform::KeyedCoding {
   public:
    std::string archiveClassName() const override { return TELInstallationsStoredItem::kArchiveClassName; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override {
      coder.encodeObject("dInstID", "telemetryInstallationID");
      coder.encodeObject(platform::ArchiveValue(std::make_shared<NewerToken>()), "authToken");
      coder.encodeInt64(2, "registrationStatus");
      coder.encodeInt64(2, "storageVersion");
    }
  };
  auto data = platform::KeyedArchiver::archivedData(platform::ArchiveValue(std::make_shared<NewerItem>()));
  ASSERT_TRUE(data);
  auto item = platform::KeyedUnarchiver::unarchivedObjectOfClass<TELInstallationsStoredItem>(*data);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->telemetryInstallationID, "dInstID");
  EXPECT_EQ(item->authToken->token(), "token-v2");
  EXPECT_EQ(linesWith("I-TIS003000").size(), 1u);
  EXPECT_EQ(linesWith("I-TIS004000").size(), 1u);
}

// ---- Legacy instance ID ----------------------------------------------------------------

TEST_F(StoreTest, TheLegacyIDNeedsTheFlagAndTheKey) {
  TELInstallationsIIDStore store;
  EXPECT_TRUE(settle(store.existingIID())->isRejected());  // nothing at all

  plantLegacyIID(bytes("public key"), /*withFlag=*/false);
  EXPECT_TRUE(settle(store.existingIID())->isRejected());  // key without "|S|cre"

  std::filesystem::remove(TELInstallationsIIDStore::plistPath());
  platform::SecItemDelete({{platform::kSecClass, platform::kSecClassKey}});
  plantLegacyIID(bytes("public key"));
  auto found = settle(store.existingIID());
  ASSERT_TRUE(found->isFulfilled());
  EXPECT_EQ(*found->value().get<std::string>(), TELInstallationsIIDStore::IIDWithPublicKeyData(bytes("public key")));
  EXPECT_EQ(found->value().get<std::string>()->size(), 11u);
}

TEST_F(StoreTest, TheLegacyIDTakesItsFirstNibbleFromTheDigest) {
  // Find a key whose SHA-1 begins with 0xA3: its ID's first byte is 0x73, so it begins with "c".
  std::vector<uint8_t> key;
  for (int i = 0;; ++i) {
    key = bytes("key-" + std::to_string(i));
    if (TELInstallationsIIDStore::sha1WithData(key)[0] == 0xA3) break;
  }
  const std::string ID = TELInstallationsIIDStore::IIDWithPublicKeyData(key);
  EXPECT_EQ(ID.size(), 11u);
  EXPECT_EQ(ID[0], 'c');
}

TEST_F(StoreTest, TheLegacyTokenMustBeANonEmptyArchivedToken) {
  TELInstallationsIIDTokenStore tokens("123456789012");
  EXPECT_EQ(reasonOf(errorOf(tokens.existingIIDDefaultToken())),
            "IID token data stored in Keychain is corrupted or in an incompatible format.");

  plantLegacyToken("");
  EXPECT_EQ(reasonOf(errorOf(tokens.existingIIDDefaultToken())),
            "IID token data stored in Keychain is corrupted or in an incompatible format.");

  platform::SecItemDelete(tokens.IIDDefaultTokenDataKeychainQuery());
  plantLegacyToken("the-token");
  auto token = settle(tokens.existingIIDDefaultToken());
  ASSERT_TRUE(token->isFulfilled());
  EXPECT_EQ(*token->value().get<std::string>(), "the-token");
}

TEST_F(StoreTest, DeletingTheLegacyIDRemovesFlagAndBothKeysAndNeedsNothingPresent) {
  TELInstallationsIIDStore store;
  EXPECT_TRUE(settle(store.deleteExistingIID())->isFulfilled());

  plantLegacyIID(bytes("public key"));
  ASSERT_EQ(legacyKeyItemCount(), 2u);
  EXPECT_TRUE(settle(store.deleteExistingIID())->isFulfilled());
  EXPECT_FALSE(TELInstallationsIIDStore::hasPlistIIDFlag());
  EXPECT_TRUE(std::filesystem::exists(TELInstallationsIIDStore::plistPath()));  // the file stays, without the key
  EXPECT_EQ(legacyKeyItemCount(), 0u);
}

TEST_F(StoreTest, WithoutABundleIdentifierNoKeyItemIsReadOrDeleted) {
  plantLegacyIID(bytes("public key"));
  // Another program's RSA key, which an untagged query would also match.
  ASSERT_EQ(platform::SecItemAdd({{platform::kSecClass, platform::kSecClassKey},
                                  {platform::kSecAttrKeyType, platform::kSecAttrKeyTypeRSA},
                                  {platform::kSecAttrApplicationTag, platform::PlistValue(bytes("someone-else"))},
                                  {platform::kSecValueData, platform::PlistValue(bytes("their key"))}},
                                 nullptr),
            platform::errSecSuccess);
  useBundle("NoIdentifier", {});
  TELInstallationsIIDStore store;
  EXPECT_TRUE(settle(store.existingIID())->isRejected());
  EXPECT_TRUE(settle(store.deleteExistingIID())->isFulfilled());
  EXPECT_EQ(legacyKeyItemCount(), 3u);
}

// ---- Back-off and the single-operation cache -------------------------------------------

TEST_F(StoreTest, BackOffWaitsFollowTheRunOfEvents) {
  FakeClock clock;
  TELInstallationsBackoffController backoff(clock.provider(), [] { return 0.25; });
  EXPECT_TRUE(backoff.isNextRequestAllowed());

  struct Step {
    int64_t event;
    double wait;
  };
  const std::vector<Step> steps = {
      {TELInstallationsBackoffEventRecoverableFailure, 2.25}, {TELInstallationsBackoffEventRecoverableFailure, 4.25},
      {TELInstallationsBackoffEventRecoverableFailure, 8.25}, {TELInstallationsBackoffEventSuccess, 0},
      {TELInstallationsBackoffEventRecoverableFailure, 2.25}, {TELInstallationsBackoffEventUnrecoverableFailure, 86400},
      {TELInstallationsBackoffEventRecoverableFailure, 2.25},
  };
  for (const auto& step : steps) {
    backoff.registerEvent(step.event);
    EXPECT_EQ(backoff.lastEventData()->backoffTimeInterval(), step.wait);
    if (step.wait > 0) {
      clock.advance(step.wait - 0.01);
      EXPECT_FALSE(backoff.isNextRequestAllowed()) << step.wait;
      clock.advance(0.01);
    }
    EXPECT_TRUE(backoff.isNextRequestAllowed()) << step.wait;
  }
  EXPECT_EQ(TELInstallationsBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(10, [] { return 0.999; }),
            1024.999);
  EXPECT_EQ(TELInstallationsBackoffEventData::recoverableErrorBackoffTimeForAttemptNumber(11, [] { return 0.0; }),
            1800);
  for (int i = 0; i < 100; ++i) {
    const double random = TELInstallationsBackoffEventData::randomMilliseconds();
    EXPECT_GE(random, 0.0);
    EXPECT_LE(random, 0.999);
  }
}

TEST_F(StoreTest, TheCacheSharesThePendingPromiseUntilItSettles) {
  int calls = 0;
  PRMPromise::Ptr current;
  auto cache = std::make_shared<TELInstallationsSingleOperationPromiseCache>([&] {
    ++calls;
    current = PRMPromise::pendingPromise();
    return current;
  });
  auto first = cache->getExistingPendingOrCreateNewPromise();
  EXPECT_EQ(cache->getExistingPendingOrCreateNewPromise(), first);
  EXPECT_EQ(calls, 1);
  current->reject(platform::Error("test", 1));
  platform::MainLoop::drain();
  EXPECT_FALSE(cache->getExistingPendingPromise());
  EXPECT_NE(cache->getExistingPendingOrCreateNewPromise(), first);
  EXPECT_EQ(calls, 2);

  EXPECT_EQ(exceptionReason([] { TELInstallationsSingleOperationPromiseCache cache(nullptr); },
                            platform::kInvalidArgumentException),
            "`newOperationHandler` must not be `nil`.");
}

// ---- Options ---------------------------------------------------------------------------

TEST_F(StoreTest, OptionsAreCheckedWhenTheComponentIsMade) {
  const std::string suffix =
      ". If you use TelemetryServices-Info.plist please download the most recent version from the Telemetry Console. "
      "If you configure Telemetry in code, please make sure you specify all required parameters.";
  struct Case {
    std::optional<std::string> key;
    std::string findings;
  };
  const std::vector<Case> cases = {
      {kTestAPIKey, ""},
      {"A-_bcdefghijklmnopqrstuvwxyz0123456789AB", "API Key length must be 39 characters"},
      {"BBrivelTestInstallationsKey000000000000", "API Key must start with `A`"},
      {"ABrivelTestInstallationsKey00000000000+", "API Key must contain only base64 url-safe characters characters"},
      {"short", "API Key length must be 39 characters, API Key must start with `A`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key.value_or("(none)"));
    auto options = validOptions();
    options->setAPIKey(c.key);
    const std::string reason =
        exceptionReason([&] { TELInstallations::validateAppOptions(*options, "app"); }, kTELInstallationsExceptionName);
    if (c.findings.empty()) {
      EXPECT_EQ(reason, "<no exception>");
    } else {
      EXPECT_EQ(reason,
                "[TelemetryInstallations][I-TIS008000] Could not configure Telemetry Installations due to invalid "
                "TelemetryApp options. `TelemetryOptions.APIKey` doesn't match the expected format: " +
                    c.findings + suffix);
    }
  }

  auto options = validOptions();
  options->setAPIKey(std::nullopt);
  options->setProjectID("");
  EXPECT_EQ(
      exceptionReason([&] { TELInstallations::validateAppOptions(*options, ""); }, kTELInstallationsExceptionName),
      "[TelemetryInstallations][I-TIS008000] Could not configure Telemetry Installations due to invalid "
      "TelemetryApp options. The following parameters are nil or empty: `TelemetryApp.name`, "
      "`TelemetryOptions.APIKey`, `TelemetryOptions.projectID`" +
          suffix);

  EXPECT_NE(exceptionReason([] { TELInstallations::installations(); }, kTELInstallationsExceptionName)
                .find("in the App  Delegate's"),
            std::string::npos);
}

}  // namespace
