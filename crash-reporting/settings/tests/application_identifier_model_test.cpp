#include "crash-reporting/settings/application_identifier_model.h"

#include <regex>

#include "crash-reporting/core/utilities.h"
#include "crash-reporting/settings/tests/test_support.h"

namespace {

using settings_test::SettingsTest;

void putU32(std::vector<uint8_t>& bytes, uint32_t value, bool bigEndian = false) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * (bigEndian ? 3 - i : i))));
}

// A thin 64-bit Mach-O image holding only a UUID command.
std::vector<uint8_t> thinImage(uint32_t cpusubtype, uint8_t uuidFill) {
  std::vector<uint8_t> image;
  for (uint32_t field : {0xFEEDFACFu, 0x0100000Cu, cpusubtype, 2u, 1u, 24u, 0u, 0u}) putU32(image, field);
  putU32(image, 0x1B);
  putU32(image, 24);
  for (int i = 0; i < 16; ++i) image.push_back(static_cast<uint8_t>(uuidFill + i));
  return image;
}

// A fat file with an arm64e slice first and an arm64 slice second.
std::vector<uint8_t> fatImage() {
  const auto arm64e = thinImage(2, 0xB0);
  const auto arm64 = thinImage(0, 0xA0);
  std::vector<uint8_t> fat;
  putU32(fat, 0xCAFEBABE, true);
  putU32(fat, 2, true);
  uint32_t offset = 64;
  for (const auto* slice : {&arm64e, &arm64}) {
    putU32(fat, 0x0100000C, true);
    putU32(fat, slice == &arm64e ? 2 : 0, true);
    putU32(fat, offset, true);
    putU32(fat, static_cast<uint32_t>(slice->size()), true);
    putU32(fat, 3, true);
    offset += static_cast<uint32_t>(slice->size());
  }
  fat.resize(64, 0);
  fat.insert(fat.end(), arm64e.begin(), arm64e.end());
  fat.insert(fat.end(), arm64.begin(), arm64.end());
  return fat;
}

TEST_F(SettingsTest, TheRunningProgramIsOneSliceNamedByItsMachine) {
  auto model = CRApplicationIdentifierModel::make();
  ASSERT_TRUE(model);
  ASSERT_EQ(model->architectureUUIDMap().size(), 1u);
  const auto& [architecture, uuid] = *model->architectureUUIDMap().begin();
#if defined(__x86_64__)
  EXPECT_EQ(architecture, "x86_64");
#endif
  EXPECT_TRUE(std::regex_match(uuid, std::regex("[0-9a-f]{32}")));
  EXPECT_EQ(model->buildInstanceID(), CRSHA1HexOfBytes(uuid.data(), uuid.size()));
  EXPECT_EQ(model->buildInstanceID().size(), 40u);
  EXPECT_EQ(model->platform(), "ios");
  EXPECT_EQ(model->buildVersion(), "31");
  EXPECT_EQ(model->displayVersion(), "2.4");
  EXPECT_EQ(model->synthesizedVersion(), "2.4 (31)");
  EXPECT_EQ(model->installSource(), 1);
  EXPECT_EQ(model->bundleID(), "ruv.vantoru.Brivel");
  settings_test::useBundle(environment_.root() / "other", "ruv.vantoru/Brivel", "1", "2");
  EXPECT_EQ(model->bundleID(), "ruv.vantoru_Brivel");
}

TEST_F(SettingsTest, AFatExecutableHashesItsSlicesInArchitectureOrder) {
  const auto path = environment_.root() / "Fat";
  const auto bytes = fatImage();
  settings_test::writeFile(path, std::string(bytes.begin(), bytes.end()));
  auto model = CRApplicationIdentifierModel::makeWithExecutablePath(path.string());
  ASSERT_TRUE(model);
  const std::string arm64 = "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf";
  const std::string arm64e = "b0b1b2b3b4b5b6b7b8b9babbbcbdbebf";
  EXPECT_EQ(model->architectureUUIDMap(), (std::map<std::string, std::string>{{"arm64", arm64}, {"arm64e", arm64e}}));
  const std::string joined = arm64 + arm64e;
  EXPECT_EQ(model->buildInstanceID(), CRSHA1HexOfBytes(joined.data(), joined.size()));

  EXPECT_FALSE(CRApplicationIdentifierModel::makeWithExecutablePath((environment_.root() / "missing").string()));
}

}  // namespace
