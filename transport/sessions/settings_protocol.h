// The three answers the sessions settings give, as the session machinery asks them.
#pragma once

#include <optional>

// One source of settings: each answer optional (none: ask the next source).
class SettingsProvider {
 public:
  virtual ~SettingsProvider() = default;
  virtual std::optional<bool> sessionsEnabled() const = 0;
  // Seconds in the background after which a return to the foreground starts a new session.
  virtual std::optional<double> sessionTimeout() const = 0;
  // 1.0 sends every session.
  virtual std::optional<double> samplingRate() const = 0;
  // Refreshes the source (only the remote one does anything).
  virtual void updateSettings() {}
};

// The resolved settings: always an answer.
class SettingsProtocol {
 public:
  virtual ~SettingsProtocol() = default;
  virtual bool sessionsEnabled() const = 0;
  virtual double sessionTimeout() const = 0;
  virtual double samplingRate() const = 0;
  virtual void updateSettings() = 0;
};
