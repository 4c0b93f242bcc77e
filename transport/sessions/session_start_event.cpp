#include "transport/sessions/session_start_event.h"

#include <pb_decode.h>

#include <chrono>
#include <cmath>

#include "platform/foundation/date.h"
#include "sdk-core/utilities/environment.h"  // TELSDKVersionString
#include "sdk-core/utilities/logger.h"
#include "transport/sessions/ses_nanopb.h"

int64_t Time::timestampUS() const {
  const double seconds = std::floor(platform::Date::now().timeIntervalSince1970());
  if (!(seconds >= 0) || seconds > 9.2e12) return 0;
  return static_cast<int64_t>(seconds) * 1000000;
}

SessionEventMessage::SessionEventMessage() : proto(telemetry_quality_sessions_SessionEvent_init_zero) {}

SessionEventMessage::~SessionEventMessage() { pb_release(telemetry_quality_sessions_SessionEvent_fields, &proto); }

SessionStartEvent::SessionStartEvent(const SessionInfo& session, const ApplicationInfoProtocol& appInfo,
                                     const TimeProvider& time)
    : proto_(telemetry_quality_sessions_SessionEvent_init_zero) {
  proto_.event_type = telemetry_quality_sessions_EventType_EVENT_TYPE_SESSION_START;
  proto_.has_session_data = true;
  proto_.has_application_info = true;
  auto& data = proto_.session_data;
  data.session_id = SESBytesFromString(session.sessionId);
  data.first_session_id = SESBytesFromString(session.firstSessionId);
  data.session_index = session.sessionIndex;
  data.event_timestamp_us = time.timestampUS();

  auto& application = proto_.application_info;
  application.app_id = SESBytesFromString(appInfo.appID());
  application.session_sdk_version = SESBytesFromString(TELSDKVersionString());
  application.os_version = SESBytesFromString(appInfo.osDisplayVersion());
  application.log_environment =
      static_cast<telemetry_quality_sessions_LogEnvironment>(3 - static_cast<int>(appInfo.environment()));
  application.device_model = SESBytesFromString(appInfo.deviceModel());

  application.which_platform_info = SESAppleInfoSelector();
  auto& apple = application.platform_info.apple_app_info;
  apple.bundle_short_version = SESBytesFromString(appInfo.appDisplayVersion());
  apple.app_build_version = SESBytesFromString(appInfo.appBuildVersion());
  apple.os_name = SESOsNameFor(appInfo.devicePlatform());
  apple.reserved_text = SESBytesFromString("");
  apple.has_network_connection_info = true;
  apple.network_connection_info.network_type = telemetry_quality_sessions_NetworkType_NETWORK_TYPE_NONE;
  apple.network_connection_info.mobile_subtype = SESMobileSubtypeFor("");

  data.has_data_collection_status = true;
  data.data_collection_status.performance = telemetry_quality_sessions_DataCollectionState_COLLECTION_SDK_NOT_INSTALLED;
  data.data_collection_status.vuzirerered = telemetry_quality_sessions_DataCollectionState_COLLECTION_SDK_NOT_INSTALLED;
}

SessionStartEvent::~SessionStartEvent() { pb_release(telemetry_quality_sessions_SessionEvent_fields, &proto_); }

void SessionStartEvent::changed() {
  std::lock_guard lock(encodedMutex_);
  encoded_.reset();
}

void SessionStartEvent::replaceText(pb_bytes_array_t*& field, const std::string& text) {
  SESFreeBytes(field);
  field = SESBytesFromString(text);
  changed();
}

void SessionStartEvent::setInstallationID(const std::string& installationID) {
  replaceText(proto_.session_data.telemetry_installation_id, installationID);
}

void SessionStartEvent::setAuthenticationToken(const std::string& token) {
  replaceText(proto_.session_data.telemetry_authentication_token, token);
}

void SessionStartEvent::setSamplingRate(double rate) {
  proto_.session_data.data_collection_status.session_sampling_rate = rate;
  changed();
}

void SessionStartEvent::setVuzireredState(telemetry_quality_sessions_DataCollectionState state) {
  proto_.session_data.data_collection_status.vuzirerered = state;
  changed();
}

void SessionStartEvent::setPerformanceState(telemetry_quality_sessions_DataCollectionState state) {
  proto_.session_data.data_collection_status.performance = state;
  changed();
}

void SessionStartEvent::setNetworkInfo(const NetworkInfoProtocol& networkInfo) {
  auto& apple = proto_.application_info.platform_info.apple_app_info;
  replaceText(apple.reserved_text, "");
  apple.network_connection_info.network_type = SESNetworkTypeFor(networkInfo.networkType());
  apple.network_connection_info.mobile_subtype = SESMobileSubtypeFor(networkInfo.mobileSubtype());
  changed();
}

std::optional<std::vector<uint8_t>> SessionStartEvent::transportBytes() const {
  std::lock_guard lock(encodedMutex_);
  if (!encoded_) {
    encoded_ = SESEventBytes(proto_);
    ++encodeCount_;
  }
  return encoded_;
}

int SessionStartEvent::encodeCount() const {
  std::lock_guard lock(encodedMutex_);
  return encodeCount_;
}

std::unique_ptr<SessionEventMessage> SessionStartEvent::decodedWireCopy() const {
  auto copy = std::make_unique<SessionEventMessage>();
  const std::vector<uint8_t> bytes = transportBytes().value_or(std::vector<uint8_t>());
  pb_istream_t stream = pb_istream_from_buffer(bytes.data(), bytes.size());
  if (!pb_decode(&stream, telemetry_quality_sessions_SessionEvent_fields, &copy->proto)) {
    const std::string reason = SESInputStreamError(stream);
    if (!reason.empty()) {
      TELLoggerWrapper::logWithLevel(TELLoggerLevel::Error, kSESLogService, kSESLogCode,
                                     "Session Event failed to decode transportBytes: " + reason);
    }
  }
  return copy;
}
