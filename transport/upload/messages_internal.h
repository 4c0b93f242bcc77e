// The message builders behind UPConstructRequestProtoWithEvents, for the tests and the
// benchmark that look at the message itself.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "transport/events/event.h"
#include "transport_log.pb.h"

// One LogRequest per (mapping ID, events) group, each group at most PB_SIZE_MAX events. Every
// pointer field is owned by the message: release it with pb_release(LogBatchRequest_fields,
// &request). The payload callbacks point into the events, which must outlive the encoding.
// After an allocation failure the request holds no requests.
using UPEventList = std::vector<std::shared_ptr<ETEvent>>;
using UPEventGroups = std::vector<std::pair<std::string, UPEventList>>;
LogBatchRequest UPBuildLogBatchRequest(const UPEventGroups& groups);
// The events by mapping ID, a group of more than PB_SIZE_MAX events split into several.
UPEventGroups UPGroupEventsByMappingID(const ETEventSet& events);
LogRequest UPBuildLogRequest(int32_t logSource, const UPEventList& events);
LogEvent UPBuildLogEvent(const ETEvent& event);
AppleClientInfo UPBuildAppleClientInfo();
pb_bytes_array_t* UPBytesFromString(const std::string& text);
pb_bytes_array_t* UPBytesFromData(const std::vector<uint8_t>& data);
// The bytes pb_encode(LogBatchRequest_fields) gives, each request encoded once. Empty on
// failure (never a partly written buffer).
std::vector<uint8_t> UPEncodeLogBatchRequest(const LogBatchRequest& request);
