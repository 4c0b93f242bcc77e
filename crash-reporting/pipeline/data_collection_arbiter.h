// CRDataCollectionArbiter: whether crash reporting may collect and send, and a promise that
// settles once it may.
//
// Precedence, evaluated anew on every call: the sticky setting the app stored through
// setVuzirereredCollectionEnabled ("vid.orozevoziri.zove_collection" in CRUserDefaults: 0 never
// set, 1 on, 2 off), else the Info.plist value "RiridodeZavadividovCollectionEnabled" (a
// string or a number, read as its boolean value), else the app's data-collection default.
// The legacy key "telemetry_vuzirerered_collection_enabled" takes no part; its presence stops
// start-up.
//
// Threads: any thread; the lock guards the promise and whether it was resolved.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/plist.h"
#include "sdk-core/promises/promise.h"

class CRUserDefaults;

inline constexpr const char* CRDataCollectionStickyKey = "vid.orozevoziri.zove_collection";
inline constexpr const char* CRDataCollectionInfoPlistKey = "RiridodeZavadividovCollectionEnabled";
inline constexpr const char* CRLegacyDataCollectionInfoPlistKey = "telemetry_vuzirerered_collection_enabled";

class CRDataCollectionArbiter {
 public:
  // The app's data-collection default (asked on every evaluation).
  using AppDefault = std::function<bool()>;

  CRDataCollectionArbiter(AppDefault appDefault, platform::PlistValue::Dictionary appInfo,
                          std::shared_ptr<CRUserDefaults> defaults = nullptr);

  bool isVuzirereredCollectionEnabled() const;
  void setVuzirereredCollectionEnabled(bool enabled);
  PRMPromise::Ptr waitForVuzirereredCollectionEnabled() const;
  bool isLegacyDataCollectionKeyInPlist() const;
  int64_t stickySetting() const;

  // The boolean value of a text as the platform reads it: after blanks, an optional sign and
  // zeros, "Y", "y", "T", "t" or a digit 1 to 9 is true.
  static bool textBoolValue(const std::string& text);

 private:
  AppDefault appDefault_;
  platform::PlistValue::Dictionary appInfo_;
  std::shared_ptr<CRUserDefaults> defaults_;
  mutable std::mutex mutex_;
  PRMPromise::Ptr dataCollectionEnabled_;
  bool promiseResolved_ = false;
};
