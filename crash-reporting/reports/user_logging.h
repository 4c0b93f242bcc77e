// The user-logging layer of the current report: custom keys (the app's and crash
// reporting's own), log lines, non-fatal error records, and the A/B file pairs that hold
// logs, errors and custom exceptions.
//
// Everything is written as record lines into the report folder, one piece of work at a time
// (on the caller's thread or, for queued work, on the crash context's ".logging" queue), so
// the files are complete at any moment and need no work at crash time:
//
//   {"kv":{"key":"<hex>","value":"<hex>"}}            user_/internal_{incremental,compacted}_kv
//   {"log":{"msg":"<hex>","time":<ms since 1970>}}     log_a / log_b
//   {"error":{"domain":"<hex>","code":..,"time":..,"stacktrace":[..],"info":[[k,v]],..}}
//
// Keys are appended to an incremental file; every `incrementalLimit` appends, and after any
// removal, a compaction merges both files into the compacted one (written beside it and
// renamed over it, so no key is ever lost to a failure) and deletes the incremental file.
// A compaction that would keep more than `maxCount` keys keeps the most recently written.
//
// An A/B pair writes to its active file until it is full (by size or by entry count), then
// empties the other file and makes it the active one: each pair holds at most the full
// generation and the growing one.
//
// Nothing is written before the crash-time context is set up. Failures are logged to the
// internal log and dropped. Callers may be on any thread, the logging queue included.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crash-reporting/core/context.h"
#include "platform/foundation/error.h"
#include "platform/foundation/plist.h"

struct CRFile;

using CRUserLoggingKVStorage = CRContextKVStorage;
using CRUserLoggingABStorage = CRContextABStorage;

// Keys with their values' descriptions; nullopt stands for nil (the key is removed).
using CRKeyValues = std::vector<std::pair<std::string, std::optional<std::string>>>;
// Stored keys with their values.
using CRKeyValuePairs = std::vector<std::pair<std::string, std::string>>;

// The text a value describes itself with: strings as they are, numbers in decimal (booleans
// 1 and 0), dates in UTC "2001-01-01 00:00:00 +0000"; nullopt for the null value.
std::optional<std::string> CRUserLoggingDescription(const platform::PlistValue& value);

// The live storages of the current report (null before set-up).
CRUserLoggingKVStorage* CRUserLoggingUserKVStorage();
CRUserLoggingKVStorage* CRUserLoggingInternalKVStorage();

void CRUserLoggingRecordUserKeyValue(const std::optional<std::string>& key, const std::optional<std::string>& value);
void CRUserLoggingRecordUserKeysAndValues(const CRKeyValues& keysAndValues);
void CRRecordInternalKeyValue(const std::optional<std::string>& key, const std::optional<std::string>& value);
// Writes at once on the calling thread, which must be the logging queue (start-up).
void CRUserLoggingWriteInternalKeyValue(const std::string& key, const std::string& value);

void CRUserLoggingRecordKeyValue(const std::optional<std::string>& key, const std::optional<std::string>& value,
                                 const CRUserLoggingKVStorage* storage, uint32_t* counter);
void CRUserLoggingRecordKeysAndValues(const CRKeyValues& keysAndValues, const CRUserLoggingKVStorage* storage,
                                      uint32_t* counter);
// Appends on the calling thread and compacts when due (or forced). Callable from the logging
// queue's blocks at start-up as well.
void CRUserLoggingWriteKeysAndValues(const CRKeyValues& keysAndValues, const CRUserLoggingKVStorage* storage,
                                     uint32_t* counter, bool forceCompaction);

// Merges both files into the compacted one. False, with both files kept, when a file could
// not be read or the compacted file could not be written.
bool CRUserLoggingCompactKVEntries(const CRUserLoggingKVStorage* storage);
// The merged keys, oldest write first: compacted entries, then the incremental ones applied
// in order (a nil value removes). With `decodeHex` keys and values are text, otherwise the
// hex that is stored. Nullopt when a file exists but cannot be read.
std::optional<CRKeyValuePairs> CRUserLoggingGetCompactedKVEntries(const CRUserLoggingKVStorage* storage, bool decodeHex);

// The text of a printf format with its arguments (the list is not consumed: it is copied).
std::string CRFormattedString(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));

// A log line, cut to the storage's `maxSize` bytes on a character boundary.
void CRLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CRLogMessage(const std::optional<std::string>& message);
void CRLogToStorage(const CRUserLoggingABStorage* storage, const char** activePath,
                    const std::optional<std::string>& message);
void CRLogToStorageWithFormat(const CRUserLoggingABStorage* storage, const char** activePath, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A non-fatal error with the calling thread's return addresses; `rolloutsJSON`, when given,
// is written as it stands (a JSON array).
void CRUserLoggingRecordError(const platform::Error* error, const std::map<std::string, platform::PlistValue>& extraInfo,
                              const std::optional<std::string>& rolloutsJSON);

// Writes one record with `writer` into the pair's active file, then rotates when it is full.
void CRUserLoggingWriteAndCheckABFiles(const CRUserLoggingABStorage* storage, const char** activePath,
                                       const std::function<void(CRFile*)>& writer);
void CRUserLoggingCheckAndSwapABFiles(const CRUserLoggingABStorage* storage, const char** activePath,
                                      int64_t finalSize);

// Runs `work` in its turn among the logging work, on the calling thread: under the lock that
// all logging work holds (re-entrant, so work already in its turn runs at once), after any
// work queued before it. Writes run this way instead of hopping onto the queue and back.
void CRUserLoggingRunExclusive(const std::function<void()>& work);
// Queues `work` behind the logging work handed in so far; the logging queue runs it, unless a
// write on another thread takes its turn first (at once without a queue).
void CRUserLoggingRunOnQueueAsync(std::function<void()> work);

// Makes the next compactions fail at a step, so that the failure path is tested for real.
enum class CRCompactionFault { None, Write, Rename };
void CRUserLoggingSetCompactionFault(CRCompactionFault fault);
