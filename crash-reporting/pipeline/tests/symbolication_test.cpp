#include "crash-reporting/pipeline/symbolication.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "crash-reporting/core/section_reader.h"
#include "crash-reporting/reports/internal_report.h"
#include "platform/images/elf_image.h"
#include "platform/images/images.h"
#include "platform/testing/environment.h"
#include "platform/testing/temp_directory.h"

namespace {

constexpr uint64_t kRecordedBase = 0x7000'0000'0000;  // where the crashed process had the library

class SymbolicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Opened once for the whole run: the image list must not hold a mapping that went away.
    static void* const handle = dlopen(CR_SYMBOLS_LIBRARY, RTLD_NOW | RTLD_NODELETE);
    handle_ = handle;
    ASSERT_NE(handle_, nullptr) << dlerror();
    platform::images::rescan();
    for (const auto& image : platform::images::loadedImages()) {
      if (std::filesystem::equivalent(image.path, CR_SYMBOLS_LIBRARY)) library_ = image;
    }
    ASSERT_NE(library_.header, 0u);
    const auto facts = platform::images::describeLoadedImage(library_);
    static const char* hex = "0123456789abcdef";
    for (size_t i = 0; i < 16 && i < facts.buildId.size(); ++i) {
      uuid_ += hex[facts.buildId[i] >> 4];
      uuid_ += hex[facts.buildId[i] & 15];
    }
    ASSERT_EQ(uuid_.size(), 32u);
  }
  // The address the crashed process would have recorded for `symbol` + `delta`.
  uint64_t recorded(const char* symbol, uint64_t delta) {
    const auto address = reinterpret_cast<uint64_t>(dlsym(handle_, symbol));
    return address - library_.header + kRecordedBase + delta;
  }
  std::string loadLine(const std::string& uuid, const std::string& base) {
    return R"({"load":{"path":")" + library_.path + R"(","uuid":")" + uuid + R"(","base":)" + base +
           R"(,"size":1048576}})" + "\n";
  }
  void write(const std::string& name, const std::string& contents) {
    std::ofstream(temp_.file(name), std::ios::binary) << contents;
  }
  std::optional<nlohmann::json> symbolicated(const std::string& name) {
    auto lines = CRFileReadSections(temp_.file(name + ".symbolicated").c_str(), false);
    if (!lines || lines->empty()) return std::nullopt;
    return lines->front()["threads"];
  }
  void process() {
    auto report = std::make_shared<CRInternalReport>(temp_.path().string(), "id");
    CRProcessReportOperation(report, std::make_shared<CRSymbolResolver>()).start();
  }

  platform::testing::Environment environment_;
  platform::testing::TempDirectory temp_;
  void* handle_ = nullptr;
  platform::images::LoadedImage library_;
  std::string uuid_;
};

TEST_F(SymbolicationTest, ResolvesRebasedAddressesDemanglesAndWritesBesideTheCrashFile) {
  const std::string base = std::to_string(kRecordedBase);
  // An image with a null base, and one unloaded before the crash, must not answer.
  write("binary_images.crrecord", R"({"load":{"path":"/x/other.so","uuid":"00","base":null,"size":10}})"
                                  "\n" + loadLine("ffffffffffffffffffffffffffffffff", base) +
                                      R"({"unload":{"path":"/x","uuid":"ffffffffffffffffffffffffffffffff","base":)" +
                                      base + "}}\n" + loadLine(uuid_, base));
  write("signal.crrecord", R"({"signal":{"number":11}})"
                           "\n"
                           R"({"threads":[{"stacktrace":[)" +
                               std::to_string(recorded("_ZN3foo3barEv", 4)) + "," +
                               std::to_string(recorded("plain_c_function", 4)) + R"(,12345]},{"registers":{}}]})" +
                               "\n");
  process();

  const auto threads = symbolicated("signal.crrecord");
  ASSERT_TRUE(threads.has_value());
  ASSERT_EQ(threads->size(), 2u);
  const auto& frames = (*threads)[0];
  ASSERT_EQ(frames.size(), 3u);
  const std::string library = std::filesystem::path(library_.path).filename().string();
  EXPECT_EQ(frames[0]["symbol"], "foo::bar()");
  EXPECT_EQ(frames[0]["raw_symbol"], "_ZN3foo3barEv");
  EXPECT_EQ(frames[0]["offset"], 4);
  EXPECT_EQ(frames[0]["library"], library);
  EXPECT_EQ(frames[1]["symbol"], "plain_c_function");
  EXPECT_FALSE(frames[1].contains("raw_symbol"));
  EXPECT_EQ(frames[2], nlohmann::json::parse(R"({"symbol":null,"raw_symbol":null,"offset":0,"library":null})"));
  EXPECT_EQ((*threads)[1], nlohmann::json::array());
  // Only crash files get a symbolicated companion.
  EXPECT_FALSE(std::filesystem::exists(temp_.file("binary_images.crrecord.symbolicated")));
  EXPECT_FALSE(std::filesystem::exists(temp_.file("exception.crrecord.symbolicated")));
}

TEST_F(SymbolicationTest, AnImageOfAnotherBuildOrNoImageRecordLeavesFramesUnresolved) {
  write("binary_images.crrecord", loadLine("0123456789abcdef0123456789abcdef", std::to_string(kRecordedBase)));
  write("signal.crrecord", R"({"threads":[{"stacktrace":[)" + std::to_string(recorded("_ZN3foo3barEv", 4)) + "]}]}\n");
  process();
  EXPECT_EQ((*symbolicated("signal.crrecord"))[0][0]["symbol"], nullptr);

  std::filesystem::remove(temp_.file("signal.crrecord.symbolicated"));
  std::filesystem::remove(temp_.file("binary_images.crrecord"));
  process();
  EXPECT_FALSE(std::filesystem::exists(temp_.file("signal.crrecord.symbolicated")));
}

TEST(DemangleTest, Rules) {
  const std::vector<std::pair<const char*, std::optional<std::string>>> cases = {
      {"_ZN3foo3barEv", "foo::bar()"},
      {"__ZN3foo3barEv_block_invoke_2", "foo::bar()_block_invoke_2"},
      {"__ZN3foo3barEv", std::nullopt},
      {"__Z_block_invoke", std::nullopt},
      {"main", std::nullopt},
      {"_Znotvalid!", std::nullopt},
      {nullptr, std::nullopt},
  };
  for (const auto& [symbol, expected] : cases) {
    EXPECT_EQ(CRDemangleOperation::demangleSymbol(symbol), expected) << (symbol ? symbol : "(null)");
  }
}

}  // namespace
