// An installations service that never answers, for tests and benchmarks of crash reporting
// that need an install-identifier model but not its installation ID.
#pragma once

#include "sdk-core/installations/installations.h"

class CRSilentInstallations : public TELInstallationsInstanceProvider {
 public:
  void installationIDWithCompletion(IDHandler) override {}
  void authTokenWithCompletion(TokenHandler) override {}
  void authTokenForcingRefresh(bool, TokenHandler) override {}
  void deleteWithCompletion(DeleteHandler) override {}
};
