// CRInternalReport: one report folder, named by the execution identifier of its launch.
//
// It knows the record files a folder may hold, whether any of them is an event or makes the
// report a crash, and reads values from the folder's metadata record ("metadata.crrecord":
// line 1 "identity", line 2 "host", line 3 "application"). Metadata reads never fail
// loudly: a missing file, line or key gives nullopt (and `dateCreated` the 1970 epoch).
//
// Not thread-safe: one owner at a time (the metadata is read on first use and kept).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/date.h"
#include "platform/foundation/plist.h"

class CRInternalReport {
 public:
  // Reads the identifier from the metadata record's "identity"."session_id"; nullptr (after
  // a console line) when there is none.
  static std::shared_ptr<CRInternalReport> reportWithPath(const std::string& path);
  static std::shared_ptr<CRInternalReport> reportWithPath(const std::optional<std::string>& path,
                                                          const std::optional<std::string>& executionIdentifier);

  CRInternalReport(std::string path, std::string executionIdentifier);

  // The files that count as an event, and those that make a report a crash, in the order
  // they are checked.
  static const std::vector<std::string>& eventFileNames();
  static const std::vector<std::string>& crashFileNames();

  const std::string& identifier() const { return identifier_; }
  const std::string& path() const { return path_; }
  void setPath(std::string path) { path_ = std::move(path); }

  std::string directoryName() const;
  std::string pathForContentFile(std::string_view name) const;
  std::string metadataPath() const { return pathForContentFile("metadata.crrecord"); }
  std::string binaryImagePath() const { return pathForContentFile("binary_images.crrecord"); }

  bool hasAnyEvents() const;
  bool isCrash() const;
  // Calls `block` with the path of each crash-list file, whether it exists or not.
  void enumerateSymbolicatableFilesInContent(const std::function<void(const std::string&)>& block) const;
  // The sections of a record file; nullopt when it has none or cannot be read.
  static std::optional<std::vector<nlohmann::json>> readCRFileAtPath(const std::string& path);

  const std::vector<nlohmann::json>& metadataSections();
  platform::Date dateCreated();
  std::optional<std::string> orgID();
  std::optional<std::string> OSVersion();
  std::optional<std::string> OSBuildVersion();
  std::optional<std::string> bundleVersion();
  std::optional<std::string> bundleShortVersionString();
  // Custom keys are not read back from the folder.
  std::optional<platform::PlistValue::Dictionary> customKeys() const { return std::nullopt; }
  // When the recorded crash happened: the Mach exception's or the signal's "time"; nullopt
  // for a report that is not a crash or names neither.
  std::optional<platform::Date> crashedOnDate() const;

 private:
  std::optional<std::string> metadataString(size_t line, const char* section, const char* key);

  std::string identifier_;
  std::string path_;
  std::optional<std::vector<nlohmann::json>> metadataSections_;
};
