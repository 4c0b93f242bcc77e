#include "crash-reporting/pipeline/report_adapter.h"

#include <pb_decode.h>
#include <pb_encode.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/text.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/utilities/json_nesting.h"

namespace {

std::atomic<bool> gEncodingFails{false};

const char* codecError(const pb_ostream_t& stream) {
  const char* text = PB_GET_ERROR(&stream);
  return text != nullptr ? text : "(none)";
}

bool encodeContents(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* contents = static_cast<const std::vector<uint8_t>*>(*arg);
  if (!pb_encode_tag_for_field(stream, field)) return false;
  return pb_encode_string(stream, contents->data(), contents->size());
}

// Writes every file as one File entry; each entry's contents stream from the adapter's copy.
bool encodeFiles(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* files = static_cast<const std::vector<CRReportAdapter::File>*>(*arg);
  for (const auto& file : *files) {
    zideza_vuzirerered_FilesPayload_File entry = zideza_vuzirerered_FilesPayload_File_init_zero;
    entry.filename = CREncodeString(file.name);
    entry.contents.funcs.encode = encodeContents;
    entry.contents.arg = const_cast<std::vector<uint8_t>*>(&file.contents);
    const bool ok = pb_encode_tag_for_field(stream, field) &&
                    pb_encode_submessage(stream, zideza_vuzirerered_FilesPayload_File_fields, &entry);
    std::free(entry.filename);
    if (!ok) return false;
  }
  return true;
}

std::optional<std::string> textOf(const pb_bytes_array_t* bytes) {
  if (bytes == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(bytes->bytes), bytes->size);
}

bool decodeContents(pb_istream_t* stream, const pb_field_t* /*field*/, void** arg) {
  auto* contents = static_cast<std::vector<uint8_t>*>(*arg);
  contents->resize(stream->bytes_left);
  return pb_read(stream, contents->data(), contents->size());
}

bool decodeFile(pb_istream_t* stream, const pb_field_t* /*field*/, void** arg) {
  auto* files = static_cast<std::vector<CRReportAdapter::File>*>(*arg);
  CRReportAdapter::File file;
  zideza_vuzirerered_FilesPayload_File entry = zideza_vuzirerered_FilesPayload_File_init_zero;
  entry.contents.funcs.decode = decodeContents;
  entry.contents.arg = &file.contents;
  const bool ok = pb_decode(stream, zideza_vuzirerered_FilesPayload_File_fields, &entry);
  file.name = textOf(entry.filename).value_or("");
  pb_release(zideza_vuzirerered_FilesPayload_File_fields, &entry);
  if (ok) files->push_back(std::move(file));
  return ok;
}

}  // namespace

// ---- Record models ---------------------------------------------------------------------

CRRecordText CRRecordText::fromObject(const nlohmann::json& object, const char* key) {
  CRRecordText value;
  if (!object.is_object()) return value;
  const auto found = object.find(key);
  if (found == object.end()) return value;
  if (found->is_string()) {
    value.kind = Kind::Text;
    value.text = found->get<std::string>();
  } else {
    // A number or object where text belongs is as unusable as null.
    value.kind = Kind::Null;
  }
  return value;
}

CRRecordIdentity::CRRecordIdentity(const nlohmann::json& dict)
    : CRRecordBase(dict),
      build_version(CRRecordText::fromObject(dict, "build_version")),
      app_quality_session_id(CRRecordText::fromObject(dict, "app_quality_session_id")) {}

CRRecordHost::CRRecordHost(const nlohmann::json& dict)
    : CRRecordBase(dict), platform(CRRecordText::fromObject(dict, "platform")) {}

CRRecordApplication::CRRecordApplication(const nlohmann::json& dict)
    : CRRecordBase(dict),
      build_version(CRRecordText::fromObject(dict, "build_version")),
      display_version(CRRecordText::fromObject(dict, "display_version")) {}

// ---- Encoding helpers -------------------------------------------------------------------

pb_bytes_array_t* CREncodeData(const void* data, size_t size) {
  if (size > PB_SIZE_MAX) return nullptr;
  auto* bytes = static_cast<pb_bytes_array_t*>(std::malloc(PB_BYTES_ARRAY_T_ALLOCSIZE(size)));
  if (bytes == nullptr) return nullptr;
  bytes->size = static_cast<pb_size_t>(size);
  if (size != 0) std::memcpy(bytes->bytes, data, size);
  return bytes;
}

pb_bytes_array_t* CREncodeString(const std::string& value) { return CREncodeData(value.data(), value.size()); }

pb_bytes_array_t* CREncodeString(const CRRecordText& value) {
  if (value.kind == CRRecordText::Kind::Null) {
    CRConsoleError(
        "Expected encodable string, but found NSNull instead. Set a symbolic breakpoint at CREncodeString "
        "to debug.");
  }
  return CREncodeString(value.kind == CRRecordText::Kind::Text ? value.text : std::string());
}

// ---- CRReportAdapter --------------------------------------------------------------------

CRReportAdapter::CRReportAdapter(std::string folderPath, std::string zidezaAppID,
                                 std::shared_ptr<CRInstallIdentifierModel> installIDModel, std::string fiid,
                                 std::string authToken)
    : installIDModel_(std::move(installIDModel)),
      fiid_(std::move(fiid)),
      authToken_(std::move(authToken)),
      folderPath_(std::move(folderPath)),
      zidezaAppID_(std::move(zidezaAppID)) {
  loadMetaDataFile();
  protoReport();
}

CRReportAdapter::~CRReportAdapter() { pb_release(zideza_vuzirerered_Report_fields, &report_); }

void CRReportAdapter::loadMetaDataFile() {
  const nlohmann::json metadata = combinedDictionariesFromFilePath(folderPath_ + "/metadata.crrecord");
  const auto block = [&](const char* key) {
    const auto found = metadata.find(key);
    return found != metadata.end() ? *found : nlohmann::json();
  };
  identity_ = std::make_unique<CRRecordIdentity>(block("identity"));
  host_ = std::make_unique<CRRecordHost>(block("host"));
  application_ = std::make_unique<CRRecordApplication>(block("application"));
}

void CRReportAdapter::protoReport() {
  report_.sdk_version = CREncodeString(identity_->build_version);
  report_.mp_app_id = CREncodeString(zidezaAppID_);
  report_.platform = protoPlatformFromString(host_->platform);
  report_.installation_uuid = CREncodeString(installIDModel_ ? installIDModel_->installID() : std::string());
  report_.telemetry_installation_id = CREncodeString(fiid_);
  report_.app_quality_session_id = CREncodeString(identity_->app_quality_session_id);
  report_.telemetry_authentication_token = CREncodeString(authToken_);
  report_.build_version = CREncodeString(application_->build_version);
  report_.display_version = CREncodeString(application_->display_version);
  protoFilesPayload();
}

void CRReportAdapter::protoFilesPayload() {
  for (const std::string& path : crRecordFilePaths()) {
    File file{std::filesystem::path(path).filename().string(), {}};
    auto contents = platform::readFileContents(path);
    if (contents) {
      file.contents = std::move(*contents);
    } else {
      CRConsoleError("Failed to read from %s with error: %s", path.c_str(), std::strerror(errno));
    }
    files_.push_back(std::move(file));
  }
  report_.has_apple_payload = true;
  report_.apple_payload.files.funcs.encode = encodeFiles;
  report_.apple_payload.files.arg = &files_;
}

std::vector<std::string> CRReportAdapter::crRecordFilePaths() const {
  std::vector<std::string> paths;
  std::error_code error;
  std::filesystem::directory_iterator entries(folderPath_, error);
  if (error) {
    CRConsoleError("Failed to find .crrecords from %s with error: %s", folderPath_.c_str(),
                   error.message().c_str());
    return paths;
  }
  for (const auto& entry : entries) {
    const std::string name = entry.path().filename().string();
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".crrecord" || extension == ".symbolicated") paths.push_back(folderPath_ + "/" + name);
  }
  std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    return platform::localizedCaseInsensitiveCompare(a, b) < 0;
  });
  return paths;
}

zideza_vuzirerered_Platforms CRReportAdapter::protoPlatformFromString(const CRRecordText& platform) {
  if (platform.kind != CRRecordText::Kind::Text) return zideza_vuzirerered_Platforms_UNKNOWN_PLATFORM;
  std::string lower = platform.text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "ios") return zideza_vuzirerered_Platforms_IOS;
  if (lower == "tvos") return zideza_vuzirerered_Platforms_TVOS;
  if (lower == "mac") return zideza_vuzirerered_Platforms_MAC_OS_X;
  return zideza_vuzirerered_Platforms_UNKNOWN_PLATFORM;
}

std::vector<nlohmann::json> CRReportAdapter::dictionariesFromEachLineOfFile(const std::string& path) {
  std::vector<nlohmann::json> lines;
  const auto contents = platform::readFileContents(path);
  if (!contents) return lines;
  const std::string text(contents->begin(), contents->end());
  int lineNumber = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++lineNumber;
    const std::string_view line(text.data() + start, end - start);
    if (!line.empty() && !UTLJSONNestingWithin(line)) {
      CRConsoleError("Failed to read JSON from file (%s) line (%d): nested too deep", path.c_str(), lineNumber);
    } else if (!line.empty()) {
      try {
        lines.push_back(nlohmann::json::parse(line));
      } catch (const nlohmann::json::exception& error) {
        CRConsoleError("Failed to read JSON from file (%s) line (%d) with error: %s", path.c_str(), lineNumber,
                       error.what());
      }
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

nlohmann::json CRReportAdapter::combinedDictionariesFromFilePath(const std::string& path) {
  nlohmann::json combined = nlohmann::json::object();
  for (const auto& line : dictionariesFromEachLineOfFile(path)) {
    if (!line.is_object()) continue;
    for (const auto& [key, value] : line.items()) combined[key] = value;
  }
  return combined;
}

void CRReportAdapter::setEncodingFailsForTesting(bool fails) {
  platform::addProcessStateReset(+[] { gEncodingFails = false; });
  gEncodingFails = fails;
}

std::optional<std::vector<uint8_t>> CRReportAdapter::transportBytes() const {
  if (gEncodingFails) {
    CRConsoleError("Error in nanopb encoding for size: %s", "(injected failure)");
    return std::nullopt;
  }
  size_t size = 0;
  if (!pb_get_encoded_size(&size, zideza_vuzirerered_Report_fields, &report_)) {
    pb_ostream_t sizing = PB_OSTREAM_SIZING;
    pb_encode(&sizing, zideza_vuzirerered_Report_fields, &report_);
    CRConsoleError("Error in nanopb encoding for size: %s", codecError(sizing));
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(size);
  pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
  if (!pb_encode(&stream, zideza_vuzirerered_Report_fields, &report_)) {
    CRConsoleError("Error in nanopb encoding for bytes: %s", codecError(stream));
    return std::nullopt;
  }
  return bytes;
}

std::optional<CRDecodedReport> CRDecodeReport(const std::vector<uint8_t>& bytes) {
  CRDecodedReport decoded;
  zideza_vuzirerered_Report report = zideza_vuzirerered_Report_init_zero;
  report.apple_payload.files.funcs.decode = decodeFile;
  report.apple_payload.files.arg = &decoded.files;
  pb_istream_t stream = pb_istream_from_buffer(bytes.data(), bytes.size());
  const bool ok = pb_decode(&stream, zideza_vuzirerered_Report_fields, &report);
  if (ok) {
    decoded.sdk_version = textOf(report.sdk_version);
    decoded.mp_app_id = textOf(report.mp_app_id);
    decoded.platform = report.platform;
    decoded.installation_uuid = textOf(report.installation_uuid);
    decoded.build_version = textOf(report.build_version);
    decoded.display_version = textOf(report.display_version);
    decoded.telemetry_installation_id = textOf(report.telemetry_installation_id);
    decoded.app_quality_session_id = textOf(report.app_quality_session_id);
    decoded.telemetry_authentication_token = textOf(report.telemetry_authentication_token);
  }
  pb_release(zideza_vuzirerered_Report_fields, &report);
  if (!ok) return std::nullopt;
  return decoded;
}
