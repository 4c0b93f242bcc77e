#include "transport/events/startup.h"

#include <mutex>

#include "transport/events/application.h"
#include "transport/events/event.h"
#include "transport/events/flat_file_storage.h"
#include "transport/events/registrar.h"

void ETRunLoadTimeRegistrations(const ETLoadTimeRegistrations& registrations) {
  static std::once_flag once;
  std::call_once(once, [&registrations] {
    ETRegisterEventArchiveClasses();
    auto registrar = ETRegistrar::sharedInstance();
    if (registrations.uploader) registrations.uploader(registrar);
    ETFlatFileStorage::load(registrar);
    ETLifecycle::load();
    if (registrations.metricsController) registrations.metricsController(registrar);
    ETApplication::load();
  });
}
