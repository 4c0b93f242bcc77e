#include "transport/sessions/dev_event_console_logger.h"

#include <charconv>
#include <cstdio>

#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/logger.h"
#include "transport/sessions/ses_nanopb.h"

namespace {

std::string nameIn(const std::vector<const char*>& names, int value, const char* enumeration) {
  if (value >= 0 && value < static_cast<int>(names.size()) && names[static_cast<size_t>(value)]) {
    return names[static_cast<size_t>(value)];
  }
  return std::string("Unrecognized ") + enumeration + ". Please update the telemetry_quality_sessions_" + enumeration +
         " CustomStringConvertible extension";
}

std::string textOf(const pb_bytes_array_t* bytes) {
  if (!bytes) return "<NULL>";
  if (bytes->size == 0) return "<EMPTY>";
  return SESStringFromBytes(bytes);
}

}  // namespace

std::string SESEventTypeName(int value) { return nameIn({"UNKNOWN", "SESSION_START"}, value, "EventType"); }

std::string SESDataCollectionStateName(int value) {
  return nameIn({"UNKNOWN", "SDK_NOT_INSTALLED", "ENABLED", "DISABLED", "DISABLED_REMOTE", "SAMPLED"}, value,
                "DataCollectionState");
}

std::string SESOsNameName(int value) {
  return nameIn({"UNKNOWN_OSNAME", "MACOS", "MACCATALYST", "IOS_ON_MAC", "IOS", "TVOS", "WATCHOS", "IPADOS", "UNSPECIFIED"},
                value, "OsName");
}

std::string SESLogEnvironmentName(int value) {
  return nameIn({"UNKNOWN", "AUTOPUSH", "STAGING", "PROD"}, value, "LogEnvironment");
}

std::string SESDoubleText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";  // "inf" and "nan" stay as they are
  return text;
}

std::string DevEventConsoleLogger::dump(const SessionStartEvent& event) const {
  const auto copy = event.decodedWireCopy();
  const auto& proto = copy->proto;
  const auto& data = proto.session_data;
  const auto& status = data.data_collection_status;
  const auto& app = proto.application_info;
  // The Apple information is read from the union whichever member is set.
  const auto& apple = app.platform_info.apple_app_info;
  const auto& network = apple.network_connection_info;

  std::string out;
  auto line = [&out](int indent, const std::string& text) {
    if (!out.empty()) out += '\n';
    out += std::string(static_cast<size_t>(indent), ' ') + text;
  };
  line(0, "Printing Session Event due to \"" + commandLineArgument_ + "\" command line argument");
  line(0, "Session Event:");
  line(2, "event_type: " + SESEventTypeName(proto.event_type));
  line(2, "session_data");
  line(4, "session_id: " + textOf(data.session_id));
  line(4, "first_session_id: " + textOf(data.first_session_id));
  line(4, "session_index: " + std::to_string(data.session_index));
  line(4, "event_timestamp_us: " + std::to_string(data.event_timestamp_us));
  line(4, "telemetry_installation_id: " + textOf(data.telemetry_installation_id));
  line(4, "telemetry_authentication_token:");
  line(8, textOf(data.telemetry_authentication_token));
  line(4, "data_collection_status");
  line(6, "vuzirerered: " + SESDataCollectionStateName(status.vuzirerered));
  line(6, "performance: " + SESDataCollectionStateName(status.performance));
  line(6, "session_sampling_rate: " + SESDoubleText(status.session_sampling_rate));
  line(2, "application_info");
  line(4, "app_id: " + textOf(app.app_id));
  line(4, "session_sdk_version: " + textOf(app.session_sdk_version));
  line(4, "os_version: " + textOf(app.os_version));
  line(4, "device_model: " + textOf(app.device_model));
  line(4, "development_platform_name: " + textOf(app.development_platform_name));
  line(4, "development_platform_version: " + textOf(app.development_platform_version));
  line(4, "apple_app_info");
  line(6, "bundle_short_version: " + textOf(apple.bundle_short_version));
  line(6, "app_build_version: " + textOf(apple.app_build_version));
  line(6, "network_connection_info");
  line(8, "network_type: " + std::to_string(static_cast<unsigned>(network.network_type)));
  line(8, "mobile_subtype: " + std::to_string(static_cast<unsigned>(network.mobile_subtype)));
  line(6, "os_name: " + SESOsNameName(apple.os_name));
  line(6, "log_environment: " + SESLogEnvironmentName(app.log_environment));
  return out;
}

void DevEventConsoleLogger::logEvent(const std::shared_ptr<SessionStartEvent>& event, SESSendCompletion) {
  if (!event || !UTLLaunchArguments::contains(commandLineArgument_)) return;
  TELLoggerWrapper::logWithLevel(TELLoggerLevel::Info, kSESLogService, kSESLogCode, dump(*event));
}
