// The crash-time context: everything crash-time code needs, prepared once per launch.
//
// Two process-wide parts live in the allocator's mapping (allocator.h): the read-only part
// (paths, limits, stacks, saved handler records), made read-only when set-up ends, and the
// writable part (the internal log's descriptor, the crashed flag, the image table, the
// logging stores' counters), written only by crash-time code, the ".binary-images" queue
// and the ".logging" queue. Every C string in the read-only part is a copy in the mapping.
//
// Set-up (`CRContextInitialize`) runs six blocks on the global queue, waits for them at
// most five seconds and then marks the context ready and protects it. The handler installs
// are hooks (`CRContextHooks`) that the signal, exception and logging code fills in; with a
// debugger attached the handler hooks are not called.
//
// Contract: `CRContextIsReady` and `CRContextSetCrashedOnce` are safe at crash time (atomic
// reads and writes behind full fences). Everything else here is set-up code that allocates
// and takes locks.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "crash-reporting/core/allocator.h"
#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"

namespace platform {
class DispatchQueue;
}

inline constexpr size_t kCRStackSize = 262144;
inline constexpr int kCRHandledSignalCount = 8;
inline constexpr int kCRMachExceptionPortCount = 14;
inline constexpr size_t kCRContextStringRoom = 16384;

// One A/B file pair of the logging stores.
struct CRContextABStorage {
  const char* aPath = nullptr;
  const char* bPath = nullptr;
  uint32_t maxSize = 0;
  uint32_t maxEntries = 0;
  bool restrictBySize = false;
  uint32_t* entryCount = nullptr;  // in the writable part, or null
};

struct CRContextKVStorage {
  const char* incrementalPath = nullptr;
  const char* compactedPath = nullptr;
  uint32_t incrementalLimit = 0;
  uint32_t maxCount = 0;
};

struct CRContextReadOnly {
  std::atomic<bool> initialized{false};
  bool debuggerAttached = false;
  const char* previouslyCrashedFileFullPath = nullptr;
  const char* logPath = nullptr;
  const char* initialReportPath = nullptr;
  void* signalStack = nullptr;  // kCRStackSize bytes, read-write region
  void* machStack = nullptr;    // kCRStackSize bytes, read-write region

  struct {
    const char* path = nullptr;
  } binaryImage;

  struct {
    const char* path = nullptr;
    std::terminate_handler originalTerminateHandler = nullptr;
    uint32_t maxCustomExceptions = 0;
  } exception;

  struct {
    const char* documentDirectoryPath = nullptr;
    size_t pageSize = 0;
  } host;

  struct {
    const char* path = nullptr;
    struct sigaction originalActions[kCRHandledSignalCount];
    stack_t originalStack;
  } signal;

  struct {
    uint32_t port = 0;
    uintptr_t thread = 0;
    const char* path = nullptr;
    uint32_t mask = 0;
    uint32_t count = 0;
    uint32_t masks[kCRMachExceptionPortCount];
    uint32_t ports[kCRMachExceptionPortCount];
    uint32_t behaviors[kCRMachExceptionPortCount];
    uint32_t flavors[kCRMachExceptionPortCount];
  } machException;

  struct {
    CRContextKVStorage userKVStorage;
    CRContextKVStorage internalKVStorage;
    CRContextABStorage logStorage;
    CRContextABStorage errorStorage;
    CRContextABStorage customExceptionStorage;
  } logging;
};

struct CRContextWritable {
  struct {
    std::atomic<int32_t> logFd{-1};
    uint32_t logLevel = CRLogLevelDebug;
  } internalLogging;
  std::atomic<bool> crashOccurred{false};

  struct {
    CRFile file;
    CRBinaryImageSlot nodes[kCRBinaryImageSlotCount];
  } binaryImage;

  struct {
    const char* activeLogPath = nullptr;
    const char* activeErrorPath = nullptr;
    const char* activeCustomExceptionPath = nullptr;
    uint32_t userKVCount = 0;
    uint32_t internalKVCount = 0;
    uint32_t errorCount = 0;
  } logging;

  struct {
    uint32_t customExceptionCount = 0;
  } exception;
};

// The context's parts and allocator; null until set-up allocates them.
extern CRContextReadOnly* crReadOnlyContext;
extern CRContextWritable* crWritableContext;
extern CRAllocatorState* crContextAllocator;

// What set-up reads from the app, built by the context manager (context_manager.h).
struct CRContextInitData {
  std::optional<std::string> customBundleId;
  std::optional<std::string> rootPath;  // the report folder
  std::optional<std::string> previouslyCrashedFileRootPath;
  std::optional<std::string> sessionId;
  std::optional<std::string> qualitySessionId;
  std::optional<std::string> betaToken;
  bool errorsEnabled = false;
  bool customExceptionsEnabled = false;
  uint32_t maxCustomExceptions = 0;
  uint32_t maxErrorLogSize = 0;
  uint32_t maxLogSize = 0;
  uint32_t maxKeyValues = 0;
};

// Installs that other parts of crash reporting provide. Each runs inside its set-up block,
// after the block has stored its path in the read-only part; an empty hook is skipped.
struct CRContextHooks {
  // Runs on the thread that calls CRContextInitialize, before the blocks start (not with a
  // debugger attached): what must happen on that very thread, such as its alternate stack.
  std::function<void()> callingThreadInitialize;
  std::function<bool()> signalInitialize;
  std::function<bool()> machExceptionInitialize;
  std::function<bool()> exceptionInitialize;
  // Runs after the logging block has filled the stores' fields and made their A files active.
  std::function<void()> userLoggingInitialize;
  // One more block in the set-up group, after the six: where a test puts a slow block to see
  // set-up stop waiting after five seconds.
  std::function<void()> extraSetUpBlock;
};
void CRContextSetHooks(CRContextHooks hooks);

// Set-up. False for a missing init data or root path; otherwise true, also when the blocks
// are still running after five seconds (the context becomes ready when they finish).
bool CRContextInitialize(const CRContextInitData* initData);
bool CRContextIsReady();
// False while not ready; true when a crash was already recorded; otherwise marks one and
// returns false. Crash handlers call it once and stop when it returns true.
bool CRContextSetCrashedOnce();
// Writes `metadata.crrecord` in `rootPath` (a temporary file renamed over the old one).
// Calls never overlap one another.
bool CRContextRecordMetadata(const char* rootPath, const CRContextInitData* initData);
// A copy of `string` in the read-only region (heap memory once protected); null for null.
const char* CRCopyStringIntoContext(const char* string);
// True when the file is gone afterwards (removed, or there was none).
bool CRRemoveFileIfPresent(const char* path);
void CRCreateCrashedMarkerFile();

// The crash core's serial queues, made at set-up: ".logging", ".binary-images",
// ".exception" after the queue prefix.
std::shared_ptr<platform::DispatchQueue> CRContextLoggingQueue();
std::shared_ptr<platform::DispatchQueue> CRContextBinaryImagesQueue();
std::shared_ptr<platform::DispatchQueue> CRContextExceptionQueue();

