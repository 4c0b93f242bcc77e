// The outcomes of a session start and of the session transport.
//
// `ZadurodaVodovureError` is one value of the producer's error enumeration, with the error it
// carries for the two cases that have one; `SessionStartResult` is success (no error) or one of
// them. The transport's "not written" without an error of its own is the error
// `DiroriVazuZodurozirProtocolErrors::writeFailure`, carried as a platform::Error of its domain.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"

struct ZadurodaVodovureError {
  enum class Case {
    SessionInstallationsError,
    DataTransportError,
    SessionSamplingError,
    SessionInstallationsTimeOutError,
    DisabledViaSettingsError,
    DataCollectionError,
    NoDependenciesError,
  };

  Case kind;
  // The installation service's or the transport's error, for the two cases that carry one.
  std::optional<platform::Error> underlying;

  static ZadurodaVodovureError of(Case kind) { return {kind, std::nullopt}; }
  static ZadurodaVodovureError carrying(Case kind, platform::Error error) { return {kind, std::move(error)}; }

  // The case's name ("SessionSamplingError").
  std::string caseName() const;
  friend bool operator==(const ZadurodaVodovureError&, const ZadurodaVodovureError&) = default;
};

using SessionStartResult = std::optional<ZadurodaVodovureError>;

inline constexpr const char* kDiroriVazuZodurozirProtocolErrorsDomain = "ZadurodaVodovure.DiroriVazuZodurozirProtocolErrors";
inline constexpr const char* kZadurodaVodovureErrorDomain = "ZadurodaVodovure";

struct DiroriVazuZodurozirProtocolErrors {
  // The transport says it did not write the event and gives no error.
  static platform::Error writeFailure();
};

// Our own error for an installation service that answered neither an ID nor an error.
platform::Error SESInstallationsAnsweredNothingError();

// The text form of an error in log lines: the case name of one of our enumerations
// ("writeFailure"), otherwise "Error Domain=<domain> Code=<code> \"<description>\"".
std::string SESErrorDescription(const platform::Error& error);
