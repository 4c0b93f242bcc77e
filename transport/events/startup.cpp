#include "transport/events/startup.h"

#include "platform/dispatch/once.h"
#include "platform/process_state/process_state.h"
#include "transport/events/application.h"
#include "transport/events/event.h"
#include "transport/events/flat_file_storage.h"
#include "transport/events/registrar.h"

namespace {
platform::OnceFlag gRegistrationsOnce;
}  // namespace

void ETRunLoadTimeRegistrations(const ETLoadTimeRegistrations& registrations) {
  gRegistrationsOnce.call([&registrations] {
    // A fresh process (a test's) makes the shared objects anew, so they register again.
    platform::addProcessStateReset(+[] { gRegistrationsOnce.reset(); });
    ETRegisterEventArchiveClasses();
    auto registrar = ETRegistrar::sharedInstance();
    if (registrations.uploader) registrations.uploader(registrar);
    ETFlatFileStorage::load(registrar);
    ETLifecycle::load();
    if (registrations.metricsController) registrations.metricsController(registrar);
    ETApplication::load();
  });
}
