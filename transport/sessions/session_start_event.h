// SessionStartEvent: the session-start message of one session, the payload the producer
// hands to the transport.
//
// It holds the `telemetry_quality_sessions_SessionEvent` in nanopb's form and owns every byte
// array in it: a setter releases the text it replaces, and the destructor releases them all.
// The encoded bytes are made once and kept until a setter changes the message, so the
// transport event and its copy share one encoding.
//
// Threads: made on the session routine's thread, then changed and read by one thread at a
// time (the background queue of the gated steps); the kept encoding has its own lock, since
// the transport reads it when it copies the event.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transport/events/event.h"
#include "transport/sessions/application_info.h"
#include "transport/sessions/session_info.h"
#include "sessions.pb.h"

// A decoded session message that releases what it holds.
class SessionEventMessage {
 public:
  SessionEventMessage();
  ~SessionEventMessage();
  SessionEventMessage(const SessionEventMessage&) = delete;
  SessionEventMessage& operator=(const SessionEventMessage&) = delete;

  telemetry_quality_sessions_SessionEvent proto;
};

class SessionStartEvent final : public ETEventDataObject {
 public:
  // Builds the message of a new session: event type, session fields, time stamp, the app's
  // facts, SDK_NOT_INSTALLED for both subscribers, no network and a sampling rate of 0.
  SessionStartEvent(const SessionInfo& session, const ApplicationInfoProtocol& appInfo, const TimeProvider& time);
  ~SessionStartEvent() override;
  SessionStartEvent(const SessionStartEvent&) = delete;
  SessionStartEvent& operator=(const SessionStartEvent&) = delete;

  const telemetry_quality_sessions_SessionEvent& proto() const { return proto_; }

  void setInstallationID(const std::string& installationID);
  void setAuthenticationToken(const std::string& token);
  void setSamplingRate(double rate);
  void setVuzireredState(telemetry_quality_sessions_DataCollectionState state);
  void setPerformanceState(telemetry_quality_sessions_DataCollectionState state);
  // The reserved text (empty again), the network type and the mobile subtype of the network now.
  void setNetworkInfo(const NetworkInfoProtocol& networkInfo);

  // The encoded message (empty when it cannot be encoded).
  std::optional<std::vector<uint8_t>> transportBytes() const override;
  // The message as the wire carries it: encoded, then decoded into a fresh message.
  std::unique_ptr<SessionEventMessage> decodedWireCopy() const;
  // How many times the message was encoded (tests).
  int encodeCount() const;

 private:
  void replaceText(pb_bytes_array_t*& field, const std::string& text);
  void changed();

  telemetry_quality_sessions_SessionEvent proto_;
  mutable std::mutex encodedMutex_;
  mutable std::optional<std::vector<uint8_t>> encoded_;
  mutable int encodeCount_ = 0;
};
