// The whole dispatch layer: queues and the main loop, clocks, groups, semaphores,
// run-once flags, timers and operation queues.
#pragma once

#include "platform/dispatch/clock.h"
#include "platform/dispatch/group.h"
#include "platform/dispatch/once.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/semaphore.h"
#include "platform/dispatch/timer.h"
