#include "crash-reporting/reports/exception_recording.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/exception.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/threads.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/launch_marker.h"
#include "crash-reporting/reports/user_logging.h"

namespace {

const char* text(const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; }

std::vector<CRExceptionFrame> coreFrames(const std::vector<TELStackFrame>& frames) {
  std::vector<CRExceptionFrame> out(frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    out[i].pc = frames[i].address;
    out[i].symbol = text(frames[i].symbol);
    out[i].offset = frames[i].offset;
    out[i].library = text(frames[i].library);
    out[i].file = text(frames[i].fileName);
    out[i].line = frames[i].lineNumber;
  }
  return out;
}

void writeCount(CRFile* file, const char* key, int count) {
  const std::string value = std::to_string(count);
  CRFileWriteSectionStart(file, "kv");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryHexEncodedString(file, "key", key);
  CRFileWriteHashEntryHexEncodedString(file, "value", value.c_str());
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

// Copies the current report to <active>/<identifier>: built under a dot name, renamed into
// place once whole. On failure nothing of the copy is left.
bool copyReport(const std::string& from, const std::string& activePath, const std::string& identifier,
                const std::string& to) {
  const std::string partial = activePath + "/." + identifier;
  std::error_code error;
  std::filesystem::copy(from, partial, std::filesystem::copy_options::recursive, error);
  if (!error && ::rename(partial.c_str(), to.c_str()) != 0) error = std::error_code(errno, std::generic_category());
  if (!error) return true;
  std::error_code ignored;
  std::filesystem::remove_all(partial, ignored);
  return false;
}

}  // namespace

void CRExceptionRecord(uint32_t type, const std::optional<std::string>& name, const std::optional<std::string>& reason,
                       const std::vector<TELStackFrame>& frames, const std::optional<std::string>& rolloutsText) {
  if (!CRContextIsReady()) return;
  const std::vector<CRExceptionFrame> converted = coreFrames(frames);
  if (CRExceptionTypeIsFatal(type)) {
    CRExceptionRecordFatal(type, text(name), text(reason), converted.data(), converted.size());
    return;
  }
  CRLogWarning("Recording an exception structure (%d)\n", 0);
  CRUserLoggingWriteAndCheckABFiles(&crReadOnlyContext->logging.customExceptionStorage,
                                    &crWritableContext->logging.activeCustomExceptionPath, [&](CRFile* file) {
                                      CRExceptionWriteSection(file, type, text(name), text(reason), converted.data(),
                                                              converted.size(), text(rolloutsText),
                                                              rolloutsText ? rolloutsText->size() : 0);
                                    });
  CRLogWarning("Finished recording an exception structure\n");
}

void CRExceptionRecordCustomModel(const TELExceptionModel& model, const std::optional<std::string>& rolloutsText) {
  CRExceptionRecord(CRExceptionTypeCustom, model.name, model.reason.value_or(""),
                    model.stackTrace.value_or(std::vector<TELStackFrame>{}), rolloutsText);
}

std::optional<std::string> CRExceptionRecordOnDemandFromModel(const TELExceptionModel& model,
                                                              int previousRecordedOnDemandExceptions,
                                                              int previousDroppedOnDemandExceptions) {
  return CRExceptionRecordOnDemand(CRExceptionTypeCustom, model.name, model.reason.value_or(""),
                                   model.stackTrace.value_or(std::vector<TELStackFrame>{}), model.isFatal,
                                   previousRecordedOnDemandExceptions, previousDroppedOnDemandExceptions);
}

std::optional<std::string> CRExceptionRecordOnDemand(uint32_t type, const std::optional<std::string>& name,
                                                     const std::optional<std::string>& reason,
                                                     const std::vector<TELStackFrame>& frames, bool fatal,
                                                     int previousRecordedOnDemandExceptions,
                                                     int previousDroppedOnDemandExceptions) {
  if (!CRContextIsReady()) return std::nullopt;
  CRLogWarning("Recording an exception structure on demand\n");
  const CRFileManager fileManager;
  const std::string currentPath = crReadOnlyContext->initialReportPath;
  const CRExecutionIdentifierModel identifier;
  const std::string newPath = fileManager.activePath() + "/" + identifier.executionID();

  bool copied = false;
  CRUserLoggingRunExclusive([&] {
    copied = copyReport(currentPath, fileManager.activePath(), identifier.executionID(), newPath);
    if (!copied) return;
    // The custom exceptions now live in the copy.
    const auto& storage = crReadOnlyContext->logging.customExceptionStorage;
    CRRemoveFileIfPresent(storage.aPath);
    CRRemoveFileIfPresent(storage.bPath);
    crWritableContext->exception.customExceptionCount = 0;
  });
  if (!copied) {
    CRLogWarning("Unable to create a new report to record on-demand exeption.");
    return std::nullopt;
  }

  CRFile kvFile;
  const std::string kvPath = newPath + "/internal_incremental_kv.crrecord";
  if (!CRFileInit(&kvFile, kvPath.c_str(), true)) {
    CRLogError("Unable to open k-v file\n");
    return std::nullopt;
  }
  writeCount(&kvFile, "dod.uzeruzaravi.on-demand.recorded-exceptions", previousRecordedOnDemandExceptions);
  writeCount(&kvFile, "dod.uzeruzaravi.on-demand.dropped-exceptions", previousDroppedOnDemandExceptions);
  CRFileShut(&kvFile);

  std::string target = newPath + "/custom_exception_a.crrecord";
  if (fatal) {
    if (!fileManager.createFileAtPath(newPath + "/custom_fatal.crrecord")) {
      CRLogWarning("Unable to create custom exception file. On demand exception will not be logged with analytics.");
    }
    target = newPath + "/exception.crrecord";
  }
  CRFile file;
  if (!CRFileInit(&file, target.c_str(), true)) {
    CRLogWarning("Unable to open log file for on demand custom exception\n");
    return std::nullopt;
  }
  const std::vector<CRExceptionFrame> converted = coreFrames(frames);
  CRExceptionWriteSection(&file, type, text(name), text(reason), converted.data(), converted.size(), nullptr, 0);
  // The process record marks the process as crashed; a report the app keeps running after
  // must not make the next launch believe it crashed (unless a real crash came meanwhile).
  const char* marker = crReadOnlyContext->previouslyCrashedFileFullPath;
  const bool markedBefore = marker != nullptr && ::access(marker, F_OK) == 0;
  CRRecordCrashState(&file, CRCurrentThreadId(), nullptr);
  CRFileShut(&file);
  if (!fatal && !markedBefore && marker != nullptr && !crWritableContext->crashOccurred.load()) {
    CRRemoveFileIfPresent(marker);
  }
  CRLogWarning("Finished recording on demand exception structure\n");
  return newPath;
}
