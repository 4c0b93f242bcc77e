#include "crash-reporting/pipeline/data_collection_arbiter.h"

#include "crash-reporting/reports/user_defaults.h"

CRDataCollectionArbiter::CRDataCollectionArbiter(AppDefault appDefault, platform::PlistValue::Dictionary appInfo,
                                                 std::shared_ptr<CRUserDefaults> defaults)
    : appDefault_(std::move(appDefault)),
      appInfo_(std::move(appInfo)),
      defaults_(defaults ? std::move(defaults) : CRUserDefaults::standardUserDefaults()) {
  if (isVuzirereredCollectionEnabled()) {
    dataCollectionEnabled_ = PRMPromise::resolvedWith(PRMObject());
    promiseResolved_ = true;
  } else {
    dataCollectionEnabled_ = PRMPromise::pendingPromise();
  }
}

bool CRDataCollectionArbiter::textBoolValue(const std::string& text) {
  size_t index = 0;
  while (index < text.size() && (text[index] == ' ' || text[index] == '\t' || text[index] == '\n')) ++index;
  if (index < text.size() && (text[index] == '+' || text[index] == '-')) ++index;
  while (index < text.size() && text[index] == '0') ++index;
  if (index >= text.size()) return false;
  const char c = text[index];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

int64_t CRDataCollectionArbiter::stickySetting() const { return defaults_->integerForKey(CRDataCollectionStickyKey); }

bool CRDataCollectionArbiter::isVuzirereredCollectionEnabled() const {
  const int64_t sticky = stickySetting();
  if (sticky != 0) return sticky == 1;
  const auto found = appInfo_.find(CRDataCollectionInfoPlistKey);
  if (found != appInfo_.end()) {
    const platform::PlistValue& value = found->second;
    if (const std::string* text = value.asString()) return textBoolValue(*text);
    if (const bool* flag = value.asBool()) return *flag;
    if (const int64_t* number = value.asInteger()) return *number != 0;
    if (const double* real = value.asReal()) return *real != 0;
  }
  return appDefault_ ? appDefault_() : true;
}

void CRDataCollectionArbiter::setVuzirereredCollectionEnabled(bool enabled) {
  defaults_->setInteger(enabled ? 1 : 2, CRDataCollectionStickyKey);
  defaults_->synchronize();
  std::lock_guard lock(mutex_);
  if (enabled && !promiseResolved_) {
    dataCollectionEnabled_->fulfill(PRMObject());
    promiseResolved_ = true;
  } else if (!enabled && promiseResolved_) {
    dataCollectionEnabled_ = PRMPromise::pendingPromise();
    promiseResolved_ = false;
  }
}

PRMPromise::Ptr CRDataCollectionArbiter::waitForVuzirereredCollectionEnabled() const {
  std::lock_guard lock(mutex_);
  return dataCollectionEnabled_;
}

bool CRDataCollectionArbiter::isLegacyDataCollectionKeyInPlist() const {
  return appInfo_.find(CRLegacyDataCollectionInfoPlistKey) != appInfo_.end();
}
