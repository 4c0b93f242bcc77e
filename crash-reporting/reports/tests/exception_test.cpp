#include "crash-reporting/reports/exception_recording.h"

#include <set>
#include <sstream>

#include "crash-reporting/core/exception.h"
#include "crash-reporting/core/section_reader.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/rollouts.h"
#include "crash-reporting/reports/tests/test_support.h"
#include "crash-reporting/reports/user_logging.h"

namespace {

using reports_test::ContextTest;
using reports_test::readFile;
using reports_test::readSections;

std::string decoded(const nlohmann::json& hex) { return CRFileHexDecodeString(hex.get<std::string>()); }

class ExceptionRecordingTest : public ContextTest {};

TEST_F(ExceptionRecordingTest, NothingIsRecordedBeforeTheContextIsReady) {
  CRExceptionRecordCustomModel(TELExceptionModel("Name", "reason"), std::nullopt);
  EXPECT_EQ(CRExceptionRecordOnDemandFromModel(TELExceptionModel("Name", "reason"), 0, 0), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_empty(reportPath()));
}

TEST_F(ExceptionRecordingTest, CustomModelsGoToTheCustomExceptionPair) {
  ASSERT_TRUE(setUpContext());
  CRExceptionRecordCustomModel(TELExceptionModel("Bare", std::nullopt), std::nullopt);

  TELExceptionModel model("Named", "why");
  TELStackFrame symbolicated("render", "card.cpp", 12);
  symbolicated.address = 0x1000;
  symbolicated.offset = 16;
  symbolicated.library = "libbrivel";
  model.stackTrace = {symbolicated, TELStackFrame::stackFrameWithAddress(0x2000)};
  CRExceptionRecordCustomModel(model, R"([{"rollout_id":"72","template_version":1}])");
  drainLoggingQueue();

  const std::string text = readFile(file("custom_exception_a.crrecord"));
  const auto lines = readSections(file("custom_exception_a.crrecord"));
  ASSERT_EQ(lines.size(), 2u);
  const auto& bare = lines[0]["exception"];
  EXPECT_EQ(bare["type"], "custom");
  EXPECT_EQ(decoded(bare["name"]), "Bare");
  EXPECT_EQ(bare["reason"], "");  // a missing reason is recorded empty
  EXPECT_FALSE(bare.contains("frames"));
  EXPECT_FALSE(bare.contains("rollouts"));

  const auto& named = lines[1]["exception"];
  EXPECT_EQ(decoded(named["reason"]), "why");
  ASSERT_EQ(named["frames"].size(), 2u);
  const auto first = nlohmann::ordered_json::parse(text.substr(text.find('\n') + 1));
  std::vector<std::string> keys;
  for (const auto& [key, value] : first["exception"]["frames"][0].items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"pc", "symbol", "offset", "library", "file", "line"}));
  EXPECT_EQ(named["frames"][0]["pc"], 0x1000);
  EXPECT_EQ(decoded(named["frames"][0]["file"]), "card.cpp");
  EXPECT_EQ(named["frames"][0]["line"], 12);
  EXPECT_EQ(named["frames"][1], nlohmann::json::parse(R"({"pc":8192,"offset":0,"line":0})"));
  // The rollouts text is written as it stands.
  EXPECT_NE(text.find(R"("rollouts":[{"rollout_id":"72","template_version":1}]})"), std::string::npos);
  EXPECT_EQ(crWritableContext->exception.customExceptionCount, 2u);
}

TEST_F(ExceptionRecordingTest, CustomExceptionsRotateAtTheirMaximum) {
  initData.maxCustomExceptions = 2;
  ASSERT_TRUE(setUpContext());
  for (int i = 0; i < 3; ++i) CRExceptionRecordCustomModel(TELExceptionModel(std::to_string(i), ""), std::nullopt);
  drainLoggingQueue();
  EXPECT_EQ(readSections(file("custom_exception_a.crrecord")).size(), 2u);
  ASSERT_EQ(readSections(file("custom_exception_b.crrecord")).size(), 1u);
}

TEST(ExceptionNamesTest, TypesAndDemangledNames) {
  EXPECT_STREQ(CRExceptionNameForType(1), "objective-c");
  EXPECT_STREQ(CRExceptionNameForType(2), "c++");
  EXPECT_STREQ(CRExceptionNameForType(3), "unknown");
  EXPECT_STREQ(CRExceptionNameForType(4), "custom");
  EXPECT_STREQ(CRExceptionNameForType(9), "unknown");
  EXPECT_EQ(CRDemangledTypeName(typeid(int).name()), "int");
  EXPECT_EQ(CRDemangledTypeName(typeid(std::runtime_error).name()), "std::runtime_error");
  EXPECT_EQ(CRDemangledTypeName("not a mangled name"), "not a mangled name");
  EXPECT_EQ(CRDemangledTypeName(nullptr), "");
}

TEST(PlatformExceptionTest, KeepsTheReturnAddressesOfItsMaker) {
  const platform::Exception exception("NSInvalidArgumentException", "");
  EXPECT_GT(exception.callStackReturnAddresses().size(), 2u);
  const platform::Exception copy = exception;
  EXPECT_EQ(copy.callStackReturnAddresses(), exception.callStackReturnAddresses());
}

}  // namespace

namespace {

// What a running program leaves in its report folder: every kind of line, each one JSON.
TEST_F(ExceptionRecordingTest, AReportFolderHoldsWellFormedRecordsOfEveryKind) {
  auto fileManager = std::make_shared<CRFileManager>();
  ASSERT_TRUE(fileManager->createReportDirectories());
  const auto folder = fileManager->setupNewPathForExecutionIdentifier("0123456789abcdef0123456789abcdef");
  ASSERT_TRUE(folder);
  initData.rootPath = *folder;
  ASSERT_TRUE(setUpContext());

  CRRemoteConfigManager rollouts(nullptr, std::make_shared<CRRolloutsPersistenceManager>(fileManager));
  rollouts.updateRolloutsState(
      RolloutsState({std::make_shared<RolloutAssignment>("r\"1", "v", 2, "k\n", "\xff value")}),
      "0123456789abcdef0123456789abcdef");
  for (int i = 0; i < 70; ++i) CRUserLoggingRecordUserKeyValue("key \"" + std::to_string(i) + "\"", "v\n");
  CRRecordInternalKeyValue("dod.uzeruzaravi.user-id", "user");
  CRLog("a \"quoted\" line with a tab\t and %d", 3);
  platform::Error error("domain \"x\"", 3, {{"key", "value \xc3\xa9"}});
  CRUserLoggingRecordError(&error, {{"extra", 1.5}}, rollouts.getRolloutAssignmentsEncodedJsonString());
  TELExceptionModel model("Name \"quoted\"", "reason\n");
  model.stackTrace = {TELStackFrame("sym", "file.cpp", 1)};
  CRExceptionRecordCustomModel(model, rollouts.getRolloutAssignmentsEncodedJsonString());
  drainLoggingQueue();

  std::set<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(*folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".crrecord") continue;
    files.insert(name);
    std::istringstream lines(readFile(entry.path()));
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(nlohmann::json::accept(line)) << name << ": " << line;
    }
  }
  for (const char* name : {"user_compacted_kv.crrecord", "internal_incremental_kv.crrecord", "log_a.crrecord", "errors_a.crrecord",
                           "custom_exception_a.crrecord", "rollouts.crrecord", "metadata.crrecord"}) {
    EXPECT_EQ(files.count(name), 1u) << name;
  }
}

}  // namespace
