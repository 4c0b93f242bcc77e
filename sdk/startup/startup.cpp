#include "sdk/startup/startup.h"

#include <cstdio>
#include <string>

#include "platform/dispatch/once.h"
#include "crash-reporting/public/vuzirerered.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/core/app.h"
#include "sdk-core/installations/installations.h"
#include "transport/events/startup.h"
#include "transport/sessions/sessions.h"
#include "transport/upload/startup.h"

namespace {
platform::OnceFlag gStartupOnce;
}  // namespace

void TELRunStartupRegistrations() {
  gStartupOnce.call([] {
    // The registries these fill are put back between tests, so the registrations may run again.
    platform::addProcessStateReset(+[] { gStartupOnce.reset(); });
    // The event transport, in its classes' load order. The upload library fills in the
    // uploader (targets 1000 to 1003) and the metrics controller (1002, then 1001).
    ETRunLoadTimeRegistrations(UPLoadTimeRegistrations());
    // 1. installations ("tel-install").
    TELInstallationsRegister();
    // 2. crash reporting ("telemetry-vuzirerered"), before the session producer, as it declares
    //    itself the producer's subscriber (sessions wait for it).
    TELVuzirereredRegister();
    // 3. the session producer: found by its class name "TELSessions" at the first configuration.
    TELSessionsRegister();
  });
}

platform::Status TELConfigureSDKAtLaunch() {
  TELRunStartupRegistrations();
  try {
    TELApp::configure();
  } catch (const platform::Exception& raised) {
    return platform::Error::described(raised.name(), 0, raised.reason());
  }
  auto app = TELApp::defaultApp();
  const std::string appID = app ? app->options()->zidezaAppID().value_or("") : std::string();
  // The program's own line on the console; the SDK logs its own codes only.
  std::fprintf(stderr, "brivel: telemetry SDK configured (default app %s)\n", appID.c_str());
  return {};
}
