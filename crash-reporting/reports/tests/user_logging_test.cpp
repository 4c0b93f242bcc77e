#include "crash-reporting/reports/user_logging.h"

#include <filesystem>
#include <set>

#include "crash-reporting/reports/rollouts.h"
#include "crash-reporting/reports/tests/test_support.h"
#include "platform/foundation/paths.h"

namespace {

using platform::PlistValue;
using reports_test::ContextTest;
using reports_test::readFile;
using reports_test::readSections;
using reports_test::writeFile;

std::string hex(const std::string& text) { return CRwiftFileUtility::stringToHexConverterFor(text); }

class UserLoggingTest : public ContextTest {
 protected:
  std::map<std::string, std::string> userKeys() {
    drainLoggingQueue();
    std::map<std::string, std::string> keys;
    const auto entries = CRUserLoggingGetCompactedKVEntries(CRUserLoggingUserKVStorage(), true);
    if (entries) keys.insert(entries->begin(), entries->end());
    return keys;
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(file(name)); }
};

TEST_F(UserLoggingTest, NothingIsWrittenBeforeTheContextIsReady) {
  CRUserLoggingRecordUserKeyValue("key", "value");
  CRLogMessage("line");
  platform::Error error("domain", 1);
  CRUserLoggingRecordError(&error, {}, std::nullopt);
  EXPECT_TRUE(std::filesystem::is_empty(reportPath()));
}

TEST_F(UserLoggingTest, SixtyFourKeysCompactOnceIntoTheCompactedFile) {
  ASSERT_TRUE(setUpContext());
  for (int i = 0; i < 63; ++i) CRUserLoggingRecordUserKeyValue("key" + std::to_string(i), std::to_string(i));
  drainLoggingQueue();
  EXPECT_EQ(readSections(file("user_incremental_kv.crrecord")).size(), 63u);
  EXPECT_FALSE(exists("user_compacted_kv.crrecord"));
  EXPECT_EQ(readSections(file("user_incremental_kv.crrecord"))[5],
            nlohmann::json::parse(R"({"kv":{"key":")" + hex("key5") + R"(","value":")" + hex("5") + R"("}})"));

  CRUserLoggingRecordUserKeyValue("key63", "63");
  drainLoggingQueue();
  EXPECT_FALSE(exists("user_incremental_kv.crrecord"));
  EXPECT_EQ(readSections(file("user_compacted_kv.crrecord")).size(), 64u);
  EXPECT_EQ(crWritableContext->logging.userKVCount, 0u);
  EXPECT_EQ(userKeys().at("key63"), "63");

  // A later value wins, and a nil removes the key at once by a forced compaction.
  CRUserLoggingRecordUserKeysAndValues({{"key1", "one"}, {"key2", std::nullopt}});
  drainLoggingQueue();
  EXPECT_FALSE(exists("user_incremental_kv.crrecord"));
  const auto keys = userKeys();
  EXPECT_EQ(keys.size(), 63u);
  EXPECT_EQ(keys.at("key1"), "one");
  EXPECT_EQ(keys.count("key2"), 0u);

  CRUserLoggingRecordUserKeyValue(std::nullopt, "value");  // a bad key writes nothing
  CRUserLoggingRecordUserKeysAndValues({});
  drainLoggingQueue();
  EXPECT_FALSE(exists("user_incremental_kv.crrecord"));
  EXPECT_NE(readFile(file("sdk.log")).find("User provided bad key"), std::string::npos);
}

TEST_F(UserLoggingTest, ACompactionAboveTheMaximumKeepsTheMostRecentKeys) {
  ASSERT_TRUE(setUpContext());
  CRKeyValues seventy;
  for (int i = 0; i < 70; ++i) seventy.emplace_back("key" + std::to_string(i), std::to_string(i));
  CRUserLoggingRecordUserKeysAndValues(seventy);
  const auto keys = userKeys();
  EXPECT_EQ(keys.size(), 64u);
  EXPECT_EQ(keys.count("key5"), 0u);
  EXPECT_EQ(keys.count("key6"), 1u);
  EXPECT_EQ(keys.count("key69"), 1u);
  EXPECT_NE(readFile(file("sdk.log")).find("Truncating 6 keys from KV set, which is above max 64"), std::string::npos);
}

TEST_F(UserLoggingTest, AFailedCompactionLosesNoKey) {
  ASSERT_TRUE(setUpContext());
  CRUserLoggingRecordUserKeyValue("old", "1");
  CRUserLoggingRecordUserKeyValue("old", std::nullopt);  // compacts: an empty compacted file
  drainLoggingQueue();
  CRUserLoggingRecordUserKeyValue("kept", "1");
  drainLoggingQueue();
  ASSERT_TRUE(exists("user_compacted_kv.crrecord"));

  for (const auto fault : {CRCompactionFault::Write, CRCompactionFault::Rename}) {
    CRUserLoggingSetCompactionFault(fault);
    CRUserLoggingRecordUserKeyValue("gone", std::nullopt);
    drainLoggingQueue();
    EXPECT_TRUE(exists("user_incremental_kv.crrecord"));
    EXPECT_FALSE(exists("user_compacted_kv.crrecord.tmp"));
    EXPECT_EQ(userKeys(), (std::map<std::string, std::string>{{"kept", "1"}}));
  }

  // A compacted file that exists but cannot be read stops the compaction too.
  CRUserLoggingSetCompactionFault(CRCompactionFault::None);
  std::filesystem::remove(file("user_compacted_kv.crrecord"));
  std::filesystem::create_directory(file("user_compacted_kv.crrecord"));
  CRUserLoggingRecordUserKeyValue("other", std::nullopt);
  drainLoggingQueue();
  EXPECT_TRUE(exists("user_incremental_kv.crrecord"));
  EXPECT_EQ(CRUserLoggingGetCompactedKVEntries(CRUserLoggingUserKVStorage(), true), std::nullopt);

  std::filesystem::remove(file("user_compacted_kv.crrecord"));
  CRUserLoggingRecordUserKeyValue("other", std::nullopt);
  drainLoggingQueue();
  EXPECT_FALSE(exists("user_incremental_kv.crrecord"));
  EXPECT_EQ(userKeys(), (std::map<std::string, std::string>{{"kept", "1"}}));
}

TEST_F(UserLoggingTest, InternalKeysHaveTheirOwnFilesAndLimit) {
  ASSERT_TRUE(setUpContext());
  CRContextLoggingQueue()->sync([] { CRUserLoggingWriteInternalKeyValue("dod.uzeruzaravi.in-background", "0"); });
  CRRecordInternalKeyValue("dod.uzeruzaravi.device-orientation", "1");
  drainLoggingQueue();
  const auto sections = readSections(file("internal_incremental_kv.crrecord"));
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0]["kv"]["key"], hex("dod.uzeruzaravi.in-background"));
  EXPECT_EQ(sections[1]["kv"]["value"], hex("1"));
  EXPECT_EQ(crReadOnlyContext->logging.internalKVStorage.maxCount, 32u);
  EXPECT_FALSE(exists("user_incremental_kv.crrecord"));
}

TEST_F(UserLoggingTest, LogLinesAreCutOnACharacterAndRotateBySize) {
  initData.maxLogSize = 100;
  ASSERT_TRUE(setUpContext());
  writeFile(file("log_b.crrecord"), "stale\n");
  CRLog("%s %d", "first", 1);
  drainLoggingQueue();
  auto lines = readSections(file("log_a.crrecord"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["log"]["msg"], hex("first 1"));
  const uint64_t time = lines[0]["log"]["time"];
  EXPECT_NEAR(static_cast<double>(time), ::time(nullptr) * 1000.0, 5000.0);

  // 99 bytes of "a" and a two-byte character that would end at byte 101.
  CRLogMessage(std::string(99, 'a') + "\xc3\xa9" + "tail");
  drainLoggingQueue();
  lines = readSections(file("log_a.crrecord"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1]["log"]["msg"], hex(std::string(99, 'a')));

  // log_a is now above 100 bytes: the next line goes to the emptied log_b.
  CRLogMessage("next");
  drainLoggingQueue();
  lines = readSections(file("log_b.crrecord"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["log"]["msg"], hex("next"));
  EXPECT_EQ(crWritableContext->logging.activeLogPath, crReadOnlyContext->logging.logStorage.bPath);
}

TEST_F(UserLoggingTest, ErrorRecordsCarryDomainCodeStackAndInfo) {
  ASSERT_TRUE(setUpContext());
  platform::Error error("ruv.vantoru.error", -42, {{"NSLocalizedDescription", "broke"}, {"count", 3}});
  CRUserLoggingRecordError(&error, {{"screen", "bills"}}, R"([{"rollout_id":"72"}])");
  platform::Error bare("bare", 7);
  CRUserLoggingRecordError(&bare, {}, std::nullopt);
  drainLoggingQueue();
  const auto lines = readSections(file("errors_a.crrecord"));
  ASSERT_EQ(lines.size(), 2u);
  const auto& record = lines[0]["error"];
  EXPECT_EQ(record["domain"], hex("ruv.vantoru.error"));
  EXPECT_EQ(record["code"], -42);
  EXPECT_GT(record["stacktrace"].size(), 1u);
  EXPECT_EQ(record["info"], nlohmann::json::parse(R"([[")" + hex("NSLocalizedDescription") + R"(",")" + hex("broke") +
                                                 R"("],[")" + hex("count") + R"(",")" + hex("3") + R"("]])"));
  EXPECT_EQ(record["extra_info"][0][1], hex("bills"));
  EXPECT_EQ(record["rollouts"], nlohmann::json::parse(R"([{"rollout_id":"72"}])"));
  const std::string text = readFile(file("errors_a.crrecord"));
  const auto first = nlohmann::ordered_json::parse(text.substr(0, text.find('\n')));
  std::vector<std::string> keys;
  for (const auto& [key, value] : first["error"].items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"domain", "code", "time", "stacktrace", "info", "extra_info", "rollouts"}));
  EXPECT_FALSE(lines[1]["error"].contains("info"));
  EXPECT_FALSE(lines[1]["error"].contains("extra_info"));
  EXPECT_FALSE(lines[1]["error"].contains("rollouts"));
}

TEST_F(UserLoggingTest, TheNinthErrorOfEightGoesToTheEmptiedB) {
  ASSERT_TRUE(setUpContext());
  writeFile(file("errors_b.crrecord"), "stale\n");
  for (int i = 0; i < 9; ++i) {
    platform::Error error("d", i);
    CRUserLoggingRecordError(&error, {}, std::nullopt);
  }
  drainLoggingQueue();
  EXPECT_EQ(readSections(file("errors_a.crrecord")).size(), 8u);
  const auto b = readSections(file("errors_b.crrecord"));
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0]["error"]["code"], 8);
  EXPECT_EQ(crWritableContext->logging.errorCount, 1u);
}

TEST_F(UserLoggingTest, ErrorsOffWriteNothing) {
  initData.errorsEnabled = false;
  ASSERT_TRUE(setUpContext());
  platform::Error error("d", 1);
  CRUserLoggingRecordError(&error, {}, std::nullopt);
  drainLoggingQueue();
  EXPECT_FALSE(exists("errors_a.crrecord"));
}

TEST(UserLoggingDescriptionTest, ValuesDescribeThemselves) {
  EXPECT_EQ(CRUserLoggingDescription(PlistValue("text")), "text");
  EXPECT_EQ(CRUserLoggingDescription(PlistValue(true)), "1");
  EXPECT_EQ(CRUserLoggingDescription(PlistValue(-12)), "-12");
  EXPECT_EQ(CRUserLoggingDescription(PlistValue(2.5)), "2.5");
  EXPECT_EQ(CRUserLoggingDescription(PlistValue(3.0)), "3");
  EXPECT_EQ(CRUserLoggingDescription(PlistValue(platform::Date::fromTimeIntervalSince1970(0))),
            "1970-01-01 00:00:00 +0000");
  EXPECT_EQ(CRUserLoggingDescription(PlistValue()), std::nullopt);
}

}  // namespace
