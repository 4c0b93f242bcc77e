// HeartbeatStorage: the heartbeats bundle of one app identifier, kept in a file under the
// data directory's Application Support folder
// (<...>/zideza-heartbeat-storage/heartbeats-<id with ":" as "_">, made a plain file name by
// platform::fileNameForID, so no identifier reaches outside that folder).
//
// Every access is a read-modify-write that runs on the storage's own serial queue
// ("ruv.heartbeat.storage.<id>"), so operations on one identifier never interleave. The
// decoded bundle is kept in memory: the file is read once, by the first access, and written
// only when the bundle changed. A synchronous update writes before it returns (and keeps
// memory as it was when that write fails); asynchronous updates change memory and leave one
// write queued behind them, so a burst of them is written once. The file is rewritten
// atomically (written aside, flushed, renamed), so a failed or interrupted write leaves the
// previous contents; a file that does not read as a bundle is set aside (with the notice
// every damaged file gives) and heartbeats start afresh.
//
// At a normal exit every storage writes what is pending before the program's statics are
// destroyed, and then closes: work still queued after that runs nothing, and later
// operations change nothing.
//
// There is at most one storage object per identifier at a time: `sharedInstance` answers the
// live one, or makes a new one when the last was released.
//
// Threads: any thread may call the operations, except the storage's own queue for the
// synchronous ones. Blocks queued by `updateAsynchronously` keep the storage alive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "platform/foundation/defaults.h"
#include "sdk-core/heartbeat/heartbeats_bundle.h"

enum class StorageError { readError, writeError };

// Where the bytes of a store live.
class Storage {
 public:
  virtual ~Storage() = default;
  // The stored bytes; StorageError::readError on any failure (a missing file included).
  [[nodiscard]] virtual std::optional<std::vector<uint8_t>> read() = 0;
  // Stores the bytes (nothing stores zero bytes); answers the failure, if any.
  [[nodiscard]] virtual std::optional<StorageError> write(const std::optional<std::vector<uint8_t>>& bytes) = 0;
  // Moves stored bytes that do not read as a bundle out of the way and tells the user, as for
  // any damaged file; false when this storage keeps nothing it could set aside.
  virtual bool setAsideDamaged() { return false; }
};

// A Storage kept in a file, written atomically.
class FileStorage final : public Storage {
 public:
  explicit FileStorage(std::filesystem::path url) : url_(std::move(url)) {}
  // The file storage of an app identifier under the current data directory.
  static std::unique_ptr<FileStorage> storageForID(const std::string& id);

  const std::filesystem::path& url() const { return url_; }
  std::optional<std::vector<uint8_t>> read() override;
  std::optional<StorageError> write(const std::optional<std::vector<uint8_t>>& bytes) override;
  bool setAsideDamaged() override;

 private:
  std::filesystem::path url_;
};

// A Storage kept as data under one key of a defaults suite.
class UserDefaultsStorage final : public Storage {
 public:
  UserDefaultsStorage(std::shared_ptr<platform::UserDefaults> defaults, std::string key)
      : defaults_(std::move(defaults)), key_(std::move(key)) {}
  // readError when the key holds no data.
  std::optional<std::vector<uint8_t>> read() override;
  // Bytes are stored under the key; nothing removes it. Never fails.
  std::optional<StorageError> write(const std::optional<std::vector<uint8_t>>& bytes) override;

 private:
  std::shared_ptr<platform::UserDefaults> defaults_;
  std::string key_;
};

class HeartbeatStorageProtocol {
 public:
  using Transform = std::function<std::optional<HeartbeatsBundle>(std::optional<HeartbeatsBundle>)>;
  struct FetchResult {
    std::optional<HeartbeatsBundle> previous;  // what was stored before, when the save worked
    std::optional<StorageError> error;         // set when saving the new value failed
  };

  virtual ~HeartbeatStorageProtocol() = default;
  // Load (a failure reads as nothing), transform, save (a failure is dropped); waits.
  virtual void updateSynchronously(const Transform& transform) = 0;
  // The same, queued; returns at once.
  virtual void updateAsynchronously(Transform transform) = 0;
  // Load, transform, save; answers the old value, or the save's error.
  virtual FetchResult fetchAndReplace(const Transform& transform) = 0;
};

class HeartbeatStorage final : public HeartbeatStorageProtocol,
                               public std::enable_shared_from_this<HeartbeatStorage> {
 public:
  // The live storage of `id`, or a new one over its file.
  static std::shared_ptr<HeartbeatStorage> sharedInstance(const std::string& id);

  HeartbeatStorage(std::string id, std::unique_ptr<Storage> storage);
  ~HeartbeatStorage() override;
  HeartbeatStorage(const HeartbeatStorage&) = delete;
  HeartbeatStorage& operator=(const HeartbeatStorage&) = delete;

  const std::string& id() const { return id_; }
  const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }

  void updateSynchronously(const Transform& transform) override;
  void updateAsynchronously(Transform transform) override;
  FetchResult fetchAndReplace(const Transform& transform) override;

  // Writes what asynchronous updates left pending and waits for it; answers the write's
  // failure, if any.
  std::optional<StorageError> synchronize();

 private:
  // All on the queue.
  // The bundle as memory holds it, read from the storage first.
  const std::optional<HeartbeatsBundle>& current();
  // Stores `bundle` now when it differs from memory or a write is pending; memory takes it
  // only when that worked.
  std::optional<StorageError> replaceNow(std::optional<HeartbeatsBundle> bundle);
  std::optional<StorageError> writePending();
  void close();

  static void closeAllAtExit();

  std::string id_;
  std::unique_ptr<Storage> storage_;
  std::shared_ptr<platform::DispatchQueue> queue_;
  std::optional<HeartbeatsBundle> current_;
  bool loaded_ = false;
  bool pending_ = false;         // memory differs from what was last written
  bool writeQueued_ = false;
  bool closed_ = false;
};
