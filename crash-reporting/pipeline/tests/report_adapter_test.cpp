#include "crash-reporting/pipeline/report_adapter.h"

#include <gtest/gtest.h>

#include <fstream>

#include "crash-reporting/settings/install_identifier_model.h"
#include "platform/testing/environment.h"
#include "platform/testing/temp_directory.h"

namespace {

class ReportAdapterTest : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& contents) {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << contents;
  }
  std::shared_ptr<CRInstallIdentifierModel> installModel() {
    auto model = std::make_shared<CRInstallIdentifierModel>(nullptr);
    model->setInstallID("INSTALL-UUID");
    return model;
  }
  CRDecodedReport pack(const std::string& fiid = "fiid-1", const std::string& token = "token-1") {
    CRReportAdapter adapter(folder_, "1:123:ios:abc", installModel(), fiid, token);
    auto bytes = adapter.transportBytes();
    EXPECT_TRUE(bytes.has_value());
    auto decoded = CRDecodeReport(bytes.value_or(std::vector<uint8_t>{}));
    EXPECT_TRUE(decoded.has_value());
    return decoded.value_or(CRDecodedReport{});
  }

  platform::testing::Environment environment_;
  platform::testing::TempDirectory temp_;
  std::string folder_ = temp_.path().string();
};

TEST_F(ReportAdapterTest, CarriesMetadataIdentifiersAndMissingTextAsPresentEmptyFields) {
  // Split over lines: a later line's top-level key replaces an earlier one's; a broken line is skipped.
  write("metadata.crrecord",
        "{\"identity\":{\"build_version\":\"old\"}}\n\nnot json\n"
        "{\"identity\":{\"build_version\":\"11.2.0\"},\"host\":{\"platform\":\"IOS\"}}\n"
        "{\"application\":{\"build_version\":\"42\",\"display_version\":null}}\n");
  const CRDecodedReport report = pack();
  EXPECT_EQ(report.sdk_version, "11.2.0");
  EXPECT_EQ(report.mp_app_id, "1:123:ios:abc");
  EXPECT_EQ(report.platform, 1);
  EXPECT_EQ(report.installation_uuid, "INSTALL-UUID");
  EXPECT_EQ(report.build_version, "42");
  EXPECT_EQ(report.telemetry_installation_id, "fiid-1");
  EXPECT_EQ(report.telemetry_authentication_token, "token-1");
  // Missing and null texts are sent, empty.
  EXPECT_EQ(report.app_quality_session_id, std::optional<std::string>(""));
  EXPECT_EQ(report.display_version, std::optional<std::string>(""));
}

TEST_F(ReportAdapterTest, NonStringTextCountsAsNull) {
  write("metadata.crrecord", "{\"identity\":{\"build_version\":7,\"app_quality_session_id\":{\"a\":1}}}\n");
  const CRDecodedReport report = pack();
  EXPECT_EQ(report.sdk_version, std::optional<std::string>(""));
  EXPECT_EQ(report.app_quality_session_id, std::optional<std::string>(""));
}

TEST_F(ReportAdapterTest, PlatformNames) {
  const std::vector<std::pair<std::optional<std::string>, int>> cases = {
      {"ios", 1}, {"IOS", 1}, {"tvOS", 2}, {"mac", 5}, {"watchos", 0}, {"linux", 0}, {std::nullopt, 0}};
  for (const auto& [name, value] : cases) {
    CRRecordText text;
    if (name) text = {CRRecordText::Kind::Text, *name};
    EXPECT_EQ(CRReportAdapter::protoPlatformFromString(text), value) << name.value_or("(nil)");
  }
}

TEST_F(ReportAdapterTest, CarriesRecordAndSymbolicatedFilesInPathOrderAndWhole) {
  std::string big(1024 * 1024 + 3, 'x');
  big[0] = '\0';  // bytes as they are, not text
  write("exception.crrecord", "e");
  write("Errors_a.crrecord", "a");
  write("binary_images.crrecord", "b");
  write("signal.crrecord", big);
  write("signal.crrecord.symbolicated", "s");
  write("sdk.log", "log");
  write("notes.txt", "n");
  const CRDecodedReport report = pack();
  std::vector<std::string> names;
  for (const auto& file : report.files) names.push_back(file.name);
  EXPECT_EQ(names, (std::vector<std::string>{"binary_images.crrecord", "Errors_a.crrecord", "exception.crrecord",
                                             "signal.crrecord", "signal.crrecord.symbolicated"}));
  ASSERT_EQ(report.files.size(), 5u);
  EXPECT_EQ(report.files[3].contents, std::vector<uint8_t>(big.begin(), big.end()));
  EXPECT_EQ(report.files[4].contents, std::vector<uint8_t>{'s'});
}

TEST_F(ReportAdapterTest, EmptyOrMissingFolderGivesNoFiles) {
  EXPECT_TRUE(pack().files.empty());
  folder_ += "/gone";
  const CRDecodedReport report = pack("", "");
  EXPECT_TRUE(report.files.empty());
  EXPECT_EQ(report.telemetry_installation_id, std::optional<std::string>(""));
}

}  // namespace
