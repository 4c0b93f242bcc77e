// DevEventConsoleLogger: for app developers, every session event the producer sends is also
// written to the SDK's log as an indented dump of its message as the wire carries it, when the
// process was launched with the argument it was made with ("-TELSessionsDebugEvents", exactly).
//
// Stateless apart from the argument; runs on the thread that logs the event and only reads it.
#pragma once

#include <memory>
#include <string>

#include "transport/sessions/adapters.h"

class DevEventConsoleLogger final : public EventETLoggerProtocol {
 public:
  explicit DevEventConsoleLogger(std::string commandLineArgument) : commandLineArgument_(std::move(commandLineArgument)) {}

  // Logs the dump once at info level when the argument is among the launch arguments; never
  // calls `completion`.
  void logEvent(const std::shared_ptr<SessionStartEvent>& event, SESSendCompletion completion) override;

  // The dump's text (no final line feed).
  std::string dump(const SessionStartEvent& event) const;

 private:
  std::string commandLineArgument_;
};

// The printed names of the message's enumerations ("SESSION_START", "ENABLED", "IPADOS",
// "PROD"), with the "Unrecognized …" text for values outside them.
std::string SESEventTypeName(int value);
std::string SESDataCollectionStateName(int value);
std::string SESOsNameName(int value);
std::string SESLogEnvironmentName(int value);
// The shortest text that reads back as the same double, always with a fraction part ("1.0").
std::string SESDoubleText(double value);
