// CRReportAdapter: packs one prepared report folder into the crash-report message, the
// payload of one transport event (log source "1206", target 1002).
//
// The adapter reads the "identity", "host" and "application" blocks of the folder's
// "metadata.crrecord", adds the identifiers known at upload time and carries every record file
// (".crrecord" and ".symbolicated"; nothing else, so not "sdk.log") as its name and its bytes,
// sorted case-insensitively by path. The message is built once, at construction, and
// released with the adapter; transportBytes() encodes it.
//
// A text that is missing, null or not a string is sent as a present, empty field; null and
// non-string values log an error first. A failed encoding gives no bytes at all, so that no
// truncated report is ever sent.
//
//   auto adapter = std::make_shared<CRReportAdapter>(folder, appID, installIDModel, fiid, token);
//   event->setDataObject(adapter);
//
// Threads: built and encoded on any one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "crash_report.pb.h"
#include "transport/events/event.h"

class CRInstallIdentifierModel;

// A text value of a record: missing (no key), null (JSON null, or a value that is not a
// string), or text.
struct CRRecordText {
  enum class Kind { Missing, Null, Text };
  Kind kind = Kind::Missing;
  std::string text;

  static CRRecordText fromObject(const nlohmann::json& object, const char* key);
  bool isMissing() const { return kind == Kind::Missing; }
};

// The record models: plain values read from one JSON object.
class CRRecordBase {
 public:
  explicit CRRecordBase(const nlohmann::json& /*dict*/) {}
};

class CRRecordIdentity : public CRRecordBase {
 public:
  explicit CRRecordIdentity(const nlohmann::json& dict);
  CRRecordText build_version;
  CRRecordText app_quality_session_id;
};

class CRRecordHost : public CRRecordBase {
 public:
  explicit CRRecordHost(const nlohmann::json& dict);
  CRRecordText platform;
};

class CRRecordApplication : public CRRecordBase {
 public:
  explicit CRRecordApplication(const nlohmann::json& dict);
  CRRecordText build_version;
  CRRecordText display_version;
};

// The text of a field: null logs an error and counts as missing; missing becomes empty.
// nullptr only when memory runs out or the text exceeds the codec's 64 KiB field limit.
pb_bytes_array_t* CREncodeString(const CRRecordText& value);
pb_bytes_array_t* CREncodeString(const std::string& value);
pb_bytes_array_t* CREncodeData(const void* data, size_t size);

class CRReportAdapter : public ETEventDataObject {
 public:
  // One file of the folder, as the message carries it.
  struct File {
    std::string name;
    std::vector<uint8_t> contents;
  };

  CRReportAdapter(std::string folderPath, std::string zidezaAppID,
                  std::shared_ptr<CRInstallIdentifierModel> installIDModel, std::string fiid,
                  std::string authToken);
  ~CRReportAdapter() override;
  CRReportAdapter(const CRReportAdapter&) = delete;
  CRReportAdapter& operator=(const CRReportAdapter&) = delete;

  // The encoded message; std::nullopt (after an error log) when encoding fails.
  std::optional<std::vector<uint8_t>> transportBytes() const override;
  // For tests: makes every encoding fail (false turns it off). Process wide.
  static void setEncodingFailsForTesting(bool fails);

  // All line objects of a record file merged in line order (a later line's top-level key
  // replaces an earlier one's).
  static nlohmann::json combinedDictionariesFromFilePath(const std::string& path);
  // The record file's non-empty lines parsed as JSON; a line that fails, or nests deeper than
  // any record (UTLJSONNestingWithin), logs and is skipped.
  static std::vector<nlohmann::json> dictionariesFromEachLineOfFile(const std::string& path);
  static zideza_vuzirerered_Platforms protoPlatformFromString(const CRRecordText& platform);

  // The record files of the folder, sorted.
  std::vector<std::string> crRecordFilePaths() const;

  bool hasCrashed() const { return hasCrashed_; }
  const std::shared_ptr<CRInstallIdentifierModel>& installIDModel() const { return installIDModel_; }
  const std::string& fiid() const { return fiid_; }
  const std::string& authToken() const { return authToken_; }
  const std::string& folderPath() const { return folderPath_; }
  const std::string& zidezaAppID() const { return zidezaAppID_; }
  const CRRecordIdentity& identity() const { return *identity_; }
  const CRRecordHost& host() const { return *host_; }
  const CRRecordApplication& application() const { return *application_; }
  const zideza_vuzirerered_Report& report() const { return report_; }
  const std::vector<File>& files() const { return files_; }

 private:
  void loadMetaDataFile();
  void protoReport();
  void protoFilesPayload();

  bool hasCrashed_ = false;
  std::shared_ptr<CRInstallIdentifierModel> installIDModel_;
  std::string fiid_;
  std::string authToken_;
  std::string folderPath_;
  std::string zidezaAppID_;
  std::unique_ptr<CRRecordIdentity> identity_;
  std::unique_ptr<CRRecordHost> host_;
  std::unique_ptr<CRRecordApplication> application_;
  std::vector<File> files_;
  zideza_vuzirerered_Report report_ = zideza_vuzirerered_Report_init_zero;
};

// A decoded crash-report message, for readers of uploaded reports (tests, tools).
struct CRDecodedReport {
  std::optional<std::string> sdk_version, mp_app_id, installation_uuid, build_version,
      display_version, telemetry_installation_id, app_quality_session_id,
      telemetry_authentication_token;
  int platform = 0;
  std::vector<CRReportAdapter::File> files;
};
std::optional<CRDecodedReport> CRDecodeReport(const std::vector<uint8_t>& bytes);
