// CRApplicationIdentifierModel: what identifies the running build, for the settings request,
// the settings cache key and the crash report.
//
// The executable's slices give `architectureUUIDMap` (architecture name to the 32 lowercase
// hex digits of the slice's UUID) and `buildInstanceID`, the SHA-1 (40 lowercase hex digits)
// of the UUIDs joined in the order of their architecture names. The running program is an
// ELF file: one slice, named after its machine ("x86_64"), whose UUID is the first 16 bytes
// of its GNU build-id. A Mach-O file (thin or fat) given by path is read slice by slice.
//
// Versions and the bundle identifier come from the main bundle's Info.plist; the install
// source is 4 when a store receipt exists, else 1 (never on Linux).
//
// Immutable after creation; safe from any thread.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

class CRApplicationIdentifierModel {
 public:
  // The running program; nullptr when its executable cannot be opened and read.
  static std::shared_ptr<CRApplicationIdentifierModel> make();
  // The executable at `path`; nullptr when it cannot be opened and read.
  static std::shared_ptr<CRApplicationIdentifierModel> makeWithExecutablePath(const std::string& path);

  const std::map<std::string, std::string>& architectureUUIDMap() const { return architectureUUIDMap_; }
  const std::string& buildInstanceID() const { return buildInstanceID_; }
  // The main bundle's identifier with "/" replaced by "_" (read on each call).
  std::string bundleID() const;
  std::string platform() const { return "ios"; }
  const std::optional<std::string>& buildVersion() const { return buildVersion_; }
  const std::optional<std::string>& displayVersion() const { return displayVersion_; }
  // "<display version> (<build version>)", "(null)" for a missing one.
  std::string synthesizedVersion() const;
  int installSource() const { return installSource_; }

  CRApplicationIdentifierModel(std::map<std::string, std::string> architectureUUIDMap);

 private:
  std::map<std::string, std::string> architectureUUIDMap_;
  std::string buildInstanceID_;
  std::optional<std::string> buildVersion_;
  std::optional<std::string> displayVersion_;
  int installSource_ = 1;
};
