// The transport's start-up: what the platform does as the transport's classes load, as one
// ordered call that the SDK's start-up makes first.
//
// Order: the archive classes become readable; the uploader registers (targets 1000 to 1003);
// the shared flat-file storage registers (999 to 1003) and creates its directories; the
// lifecycle starts observing; the metrics controller registers (1002, then 1001), which
// makes it the storage's delegate; the application starts observing the platform.
// The uploader and the metrics controller belong to the upload library, which hands them in;
// without them those steps are skipped.
//
// Main thread, once per process; later calls do nothing.
#pragma once

#include <functional>
#include <memory>

class ETRegistrar;

struct ETLoadTimeRegistrations {
  std::function<void(const std::shared_ptr<ETRegistrar>&)> uploader;
  std::function<void(const std::shared_ptr<ETRegistrar>&)> metricsController;
};

void ETRunLoadTimeRegistrations(const ETLoadTimeRegistrations& registrations = {});
