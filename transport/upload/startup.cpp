#include "transport/upload/startup.h"

#include "transport/events/metrics.h"
#include "transport/events/registrar.h"
#include "transport/upload/coordinator.h"
#include "transport/upload/uploader.h"

ETLoadTimeRegistrations UPLoadTimeRegistrations() {
  return {
      .uploader =
          [](const std::shared_ptr<ETRegistrar>& registrar) {
            UPUploader::load(registrar);
            ETSetSharedUploadCoordinator(ETUploadCoordinator::sharedInstance());
          },
      .metricsController = [](const std::shared_ptr<ETRegistrar>& registrar) { ETMetricsController::load(registrar); },
  };
}
