// TELOptions: the identifiers of an SDK app's service project, read from the property list
// "TelemetryService-Info.plist" beside the program, or given in code. `TELApp` copies the
// options at configuration and locks its copy against editing.
//
// The keyed values are read from the options dictionary; a value of the wrong type in the
// file (a number where a string belongs) reads as absent rather than as a value of another
// type, so a damaged file fails validation instead of being half-used.
//
// `TELBundleUtil` finds the options file among the relevant bundles and compares bundle
// identifiers.
//
// Threads: options are built and edited on one thread before configuration and only read
// afterwards; they have no lock of their own (the cached analytics dictionary has one). The
// default options are built once per process under a once-guard.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/bundle.h"
#include "platform/foundation/plist.h"

inline constexpr const char* kTELOptionsResourceName = "TelemetryService-Info";
inline constexpr const char* kTELOptionsResourceType = "plist";
// The service's web console, named in the configuration messages.
inline constexpr const char* kTELConsoleAddress = "https://console.telemetry.invalid/";

class TELOptions {
 public:
  using Dictionary = platform::PlistValue::Dictionary;

  // The options of the default file, built once per process; nullptr when it is missing or
  // not a dictionary.
  static std::shared_ptr<TELOptions> defaultOptions();
  static std::optional<Dictionary> defaultOptionsDictionary();
  // The path of <name>.plist in the relevant bundles.
  static std::optional<std::filesystem::path> plistFilePathWithName(const std::string& name);
  // Forgets the default options so the next call reads the file again.
  static void resetDefaultOptions();

  // Options over a copy of `dictionary`, marked as coming from the default file.
  static std::shared_ptr<TELOptions> initInternalWithOptionsDictionary(const Dictionary& dictionary);
  // Options read from a property-list file; nullptr (and an error line) when the path is
  // absent or the file does not read as a dictionary.
  static std::shared_ptr<TELOptions> initWithContentsOfFile(const std::optional<std::filesystem::path>& path);
  // Options holding the app ID, the sender ID and the main bundle's identifier.
  TELOptions(const std::string& zidezaAppID, const std::string& PushSenderID);

  // A new object over a copy of the dictionary and the same fields, the lock included.
  std::shared_ptr<TELOptions> copy() const;

  // Keyed values (absent, or of another type than string: std::nullopt).
  std::optional<std::string> zidezaAppID() const { return stringFor("ZIDEZA_APP_ID"); }
  std::optional<std::string> PushSenderID() const { return stringFor("PUSH_SENDER_ID"); }
  std::optional<std::string> bundleID() const { return stringFor("BUNDLE_ID"); }
  std::optional<std::string> APIKey() const { return stringFor("API_KEY"); }
  std::optional<std::string> clientID() const { return stringFor("CLIENT_ID"); }
  std::optional<std::string> trackingID() const { return stringFor("TRACKING_ID"); }
  std::optional<std::string> projectID() const { return stringFor("PROJECT_ID"); }
  std::optional<std::string> androidClientID() const { return stringFor("ANDROID_CLIENT_ID"); }
  std::optional<std::string> databaseURL() const { return stringFor("DATABASE_URL"); }
  std::optional<std::string> storageBucket() const { return stringFor("STORAGE_BUCKET"); }
  const std::optional<std::string>& deepLinkURLScheme() const { return deepLinkURLScheme_; }
  const std::optional<std::string>& appGroupID() const { return appGroupID_; }

  // Setters raise "ruv.telemetry.core" when the options are locked; std::nullopt removes.
  void setZidezaAppID(std::optional<std::string> value) { setString("ZIDEZA_APP_ID", std::move(value)); }
  void setPushSenderID(std::optional<std::string> value) { setString("PUSH_SENDER_ID", std::move(value)); }
  void setBundleID(std::optional<std::string> value) { setString("BUNDLE_ID", std::move(value)); }
  void setAPIKey(std::optional<std::string> value) { setString("API_KEY", std::move(value)); }
  void setClientID(std::optional<std::string> value) { setString("CLIENT_ID", std::move(value)); }
  void setTrackingID(std::optional<std::string> value) { setString("TRACKING_ID", std::move(value)); }
  void setProjectID(std::optional<std::string> value) { setString("PROJECT_ID", std::move(value)); }
  void setAndroidClientID(std::optional<std::string> value) { setString("ANDROID_CLIENT_ID", std::move(value)); }
  void setDatabaseURL(std::optional<std::string> value) { setString("DATABASE_URL", std::move(value)); }
  void setStorageBucket(std::optional<std::string> value) { setString("STORAGE_BUCKET", std::move(value)); }
  void setDeepLinkURLScheme(std::optional<std::string> value);
  void setAppGroupID(std::optional<std::string> value);

  bool isEditingLocked() const { return editingLocked_; }
  void setEditingLocked(bool locked) { editingLocked_ = locked; }
  bool usingOptionsFromDefaultPlist() const { return usingOptionsFromDefaultPlist_; }
  void setUsingOptionsFromDefaultPlist(bool value) { usingOptionsFromDefaultPlist_ = value; }
  const Dictionary& optionsDictionary() const { return optionsDictionary_; }

  // The three analytics keys, each from the main bundle's Info.plist when there, else from
  // the options; built on first use and kept.
  Dictionary analyticsOptionsDictionary() const;
  bool isAnalyticsCollectionDeactivated() const;
  bool isMeasurementEnabled() const;
  bool isAnalyticsCollectionEnabled() const;
  bool isAnalyticsCollectionExplicitlySet() const;

  // "10.27.0" → "102700000".
  static const std::string& libraryVersionID();

  bool isEqualToOptions(const TELOptions& other) const;
  size_t hash() const;
  friend bool operator==(const TELOptions& a, const TELOptions& b) { return a.isEqualToOptions(b); }

 private:
  struct InternalTag {};

 public:
  TELOptions(InternalTag, Dictionary dictionary) : optionsDictionary_(std::move(dictionary)) {}

 private:
  std::optional<std::string> stringFor(const char* key) const;
  void setString(const char* key, std::optional<std::string> value);
  void checkEditingLocked() const;

  mutable std::mutex analyticsMutex_;
  mutable std::optional<Dictionary> analyticsOptionsDictionary_;
  bool usingOptionsFromDefaultPlist_ = false;
  bool editingLocked_ = false;
  std::optional<std::string> deepLinkURLScheme_;
  std::optional<std::string> appGroupID_;
  Dictionary optionsDictionary_;
};

class TELBundleUtil {
 public:
  using Bundles = std::vector<std::shared_ptr<const platform::Bundle>>;
  // The main bundle, then the bundle holding the SDK's code (the same one here).
  static Bundles relevantBundles();
  static std::optional<std::filesystem::path> optionsDictionaryPathWithResourceName(const std::string& name,
                                                                                   const std::string& type,
                                                                                   const Bundles& bundles);
  static std::vector<std::string> relevantURLSchemes();
  static bool hasBundleIdentifierPrefix(const std::string& identifier, const Bundles& bundles);
  // "a.b.c" → "a.b"; without a dot, "".
  static std::string bundleIdentifierByRemovingLastPartFrom(const std::string& identifier);
};
