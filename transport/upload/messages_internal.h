// The message builders behind UPConstructRequestProtoWithEvents, for the tests and the
// benchmark that look at the message itself.
#pragma once

#include <map>
#include <string>

#include "transport/events/event.h"
#include "transport_log.pb.h"

// A request whose every pointer field is owned by the message: release it with
// pb_release(LogBatchRequest_fields, &request). The payload callbacks point into the events,
// which must outlive the encoding.
LogBatchRequest UPBuildLogBatchRequest(const std::map<std::string, ETEventSet>& eventsByMappingID);
LogRequest UPBuildLogRequest(int32_t logSource, const ETEventSet& events);
LogEvent UPBuildLogEvent(const ETEvent& event);
AppleClientInfo UPBuildAppleClientInfo();
pb_bytes_array_t* UPBytesFromString(const std::string& text);
pb_bytes_array_t* UPBytesFromData(const std::vector<uint8_t>& data);
// Two passes: size, then one buffer of exactly that size. Empty on failure.
std::vector<uint8_t> UPEncodeLogBatchRequest(const LogBatchRequest& request);
