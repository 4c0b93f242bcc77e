// The transport's platform functions: its root directory, archiving to and from files,
// atomic writes, the hardware model and the reachability flag tests.
//
// Atomic writes put the bytes in a hidden temporary file beside the target (".<name>.tmp-XXXXXX")
// and rename it over the target, so a reader sees the old file, the new one or none, never a
// part, even when the process is killed mid-write. They do not flush to disk: the event store
// is a cache that a killed process leaves intact, and a flush per event would cost
// milliseconds. Readers skip hidden names; the storage's sweep removes stale temporaries.
//
// All functions are safe from any thread; they log through the transport's console.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/keyed_archiver.h"

using ETBytes = std::vector<uint8_t>;

// <caches directory>/zideza-sdks-events. The path is fixed at the first call; every call
// creates the directory, and a failure is a non-fatal assertion.
std::filesystem::path ETEventsRootURL();

// Archives `object` with the keyed archiver. With a non-empty path the parent directory is
// made and the archive written atomically there. Returns the data whenever archiving worked,
// also when the write then failed: callers must check `error`.
std::optional<ETBytes> ETArchiveObject(const platform::ArchiveValue& object, const std::filesystem::path& path,
                                       std::optional<platform::Error>* error);

// Reads the file and unarchives one object of one of `classes` from it.
std::optional<platform::ArchiveValue> ETUnarchiveFileOfClasses(const std::set<std::string>& classes,
                                                               const std::filesystem::path& path,
                                                               std::optional<platform::Error>* error);
// Unarchives one object of one of `classes` from archive bytes.
std::optional<platform::ArchiveValue> ETUnarchiveDataOfClasses(const std::set<std::string>& classes,
                                                               const ETBytes& data,
                                                               std::optional<platform::Error>* error);
template <class T>
std::shared_ptr<T> ETUnarchiveData(const ETBytes& data, std::optional<platform::Error>* error) {
  auto value = ETUnarchiveDataOfClasses({T::kArchiveClassName}, data, error);
  return value ? value->template object<T>() : nullptr;
}
template <class T>
std::shared_ptr<T> ETUnarchiveFile(const std::filesystem::path& path, std::optional<platform::Error>* error) {
  auto value = ETUnarchiveFileOfClasses({T::kArchiveClassName}, path, error);
  return value ? value->template object<T>() : nullptr;
}

// Writes the data atomically; NO for an empty path, a parent directory that cannot be made
// or a failed write (the error says why).
bool ETWriteFileAtomically(const ETBytes& data, const std::filesystem::path& path,
                           std::optional<platform::Error>* error);

// Writes over the bytes of an existing file that holds exactly data.size() bytes, at most
// kETInPlaceWriteLimit, in one write: no new file, no rename. A process killed meanwhile
// leaves the old bytes or the new ones, as the atomic write does, since one write within one
// disk sector is never cut short. False when the file is missing or of another size, the data
// is larger, or the write fails; the caller then writes atomically, which replaces the file.
inline constexpr size_t kETInPlaceWriteLimit = 512;
bool ETOverwriteFileInPlace(const ETBytes& data, const std::filesystem::path& path);

// The whole file, or std::nullopt with the POSIX error.
std::optional<ETBytes> ETReadFile(const std::filesystem::path& path, std::optional<platform::Error>* error);

// Whether a directory entry's name is one of the atomic writes' temporaries.
bool ETIsTemporaryFileName(const std::string& name);

// The machine's hardware name (uname's machine), computed once.
std::string ETHardwareModel();

// Reachable (2) and no connection required (4): (flags & 6) == 2.
bool ETFlagsSayReachable(uint32_t flags);
// The cellular bit 0x40000.
bool ETFlagsSayCellular(uint32_t flags);
