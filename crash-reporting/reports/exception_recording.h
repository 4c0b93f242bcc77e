// Exceptions that reach the report other than by escaping: custom exceptions the app reports
// (type 4, into the custom-exception A/B pair of the current report, not fatal), and
// on-demand exceptions, for which the current report is copied into a new report folder
// that is finished at once, to be sent during this launch.
//
// An on-demand copy is made in the logging work's turn (see user_logging.h), so no key, log or
// exception write lands half in the old report and half in the new one. The copy is built under a dot name (which
// listings skip) and renamed into place when complete; only then do the custom-exception
// files leave the current report. The new folder then gets the two on-demand counts as
// internal keys and the exception with the process record:
//   custom_fatal.crrecord (empty, fatal only), exception.crrecord (fatal) or
//   custom_exception_a.crrecord (not fatal), internal_incremental_kv.crrecord
//
// Nothing is written before the crash-time context is ready. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crash-reporting/reports/exception_model.h"

// The common recorder: fatal types (1, 2) write exception.crrecord with the process record;
// other types go to the custom-exception pair, with the rollouts text when given.
void CRExceptionRecord(uint32_t type, const std::optional<std::string>& name, const std::optional<std::string>& reason,
                       const std::vector<TELStackFrame>& frames, const std::optional<std::string>& rolloutsText);
void CRExceptionRecordCustomModel(const TELExceptionModel& model, const std::optional<std::string>& rolloutsText);

// The new report's folder, or nullopt when nothing was recorded.
std::optional<std::string> CRExceptionRecordOnDemandFromModel(const TELExceptionModel& model,
                                                              int previousRecordedOnDemandExceptions,
                                                              int previousDroppedOnDemandExceptions);
std::optional<std::string> CRExceptionRecordOnDemand(uint32_t type, const std::optional<std::string>& name,
                                                     const std::optional<std::string>& reason,
                                                     const std::vector<TELStackFrame>& frames, bool fatal,
                                                     int previousRecordedOnDemandExceptions,
                                                     int previousDroppedOnDemandExceptions);
