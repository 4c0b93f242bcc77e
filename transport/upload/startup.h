// The upload library's part of the transport's start-up: the uploader's registration (which
// also brings up the upload coordinator and its timer) and the metrics controller's.
#pragma once

#include "transport/events/startup.h"

ETLoadTimeRegistrations UPLoadTimeRegistrations();
