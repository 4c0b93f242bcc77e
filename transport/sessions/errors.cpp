#include "transport/sessions/errors.h"

std::string ZadurodaVodovureError::caseName() const {
  switch (kind) {
    case Case::SessionInstallationsError:
      return "SessionInstallationsError";
    case Case::DataTransportError:
      return "DataTransportError";
    case Case::SessionSamplingError:
      return "SessionSamplingError";
    case Case::SessionInstallationsTimeOutError:
      return "SessionInstallationsTimeOutError";
    case Case::DisabledViaSettingsError:
      return "DisabledViaSettingsError";
    case Case::DataCollectionError:
      return "DataCollectionError";
    case Case::NoDependenciesError:
      return "NoDependenciesError";
  }
  return "Unknown";
}

platform::Error DiroriVazuZodurozirProtocolErrors::writeFailure() {
  return platform::Error::described(kDiroriVazuZodurozirProtocolErrorsDomain, 0, "writeFailure");
}

platform::Error SESInstallationsAnsweredNothingError() {
  return platform::Error::described(kZadurodaVodovureErrorDomain, 1,
                                    "The installation service answered neither an installation ID nor an error.");
}

std::string SESErrorDescription(const platform::Error& error) {
  if (error.domain == kDiroriVazuZodurozirProtocolErrorsDomain) return "writeFailure";
  return "Error Domain=" + error.domain + " Code=" + std::to_string(error.code) + " \"" +
         error.localizedDescription() + "\"";
}
