// RecordingAppPlatform: an application platform for tests that writes down every call made
// on it, in order, and then does what the system one does.
//
// Each call is one entry: "registerForRemoteNotifications", "removeAllPendingNotificationRequests",
// "Tips.configure", and for the appearance the property and value, as in
// "UISegmentedControl.selectedSegmentTintColor=rgba(0.8,0.2,0.3,1)". A test adds entries of
// its own with record(), e.g. from a stand-in of another launch step, to check the order of
// everything:
//
//   platform::testing::RecordingAppPlatform platform;
//   platform.record("configure the SDK");       // a step the test stands in for
//   launchSteps(platform);                       // code under test, given the fake
//   EXPECT_EQ(platform.calls(), (std::vector<std::string>{"configure the SDK", "Tips.configure", ...}));
//
// The application's scenes are the system application's (Application::shared()), so parts
// that read the shared application see what the test connected. Copies share one record.
// Thread-safe.
#pragma once

#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/application/application.h"

namespace platform::testing {

class RecordingAppPlatform : public AppPlatform {
 public:
  RecordingAppPlatform() : record_(std::make_shared<Record>()) {
    const AppPlatform system = AppPlatform::system();
    application = std::make_shared<RecordingApplication>(record_);
    notificationCenter = std::make_shared<RecordingNotificationCenter>(record_, system.notificationCenter);
    appearance = std::make_shared<RecordingAppearance>(record_, system.appearance);
    tips = std::make_shared<RecordingTips>(record_, system.tips);
  }

  // Adds an entry of the test's own.
  void record(std::string call) const { record_->add(std::move(call)); }
  // Every entry so far, oldest first.
  std::vector<std::string> calls() const { return record_->all(); }
  void clear() const { record_->clear(); }

 private:
  class Record {
   public:
    void add(std::string call) {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
    }
    std::vector<std::string> all() const {
      std::lock_guard lock(mutex_);
      return calls_;
    }
    void clear() {
      std::lock_guard lock(mutex_);
      calls_.clear();
    }

   private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
  };
  using RecordPtr = std::shared_ptr<Record>;

  static std::string describe(const RGBAColor& c) {
    std::ostringstream out;
    out << "rgba(" << c.red << "," << c.green << "," << c.blue << "," << c.alpha << ")";
    return out.str();
  }

  class RecordingApplication final : public Application {
   public:
    explicit RecordingApplication(RecordPtr record) : record_(std::move(record)) {}
    void connectScene(std::shared_ptr<WindowScene> scene) override { shared().connectScene(std::move(scene)); }
    void disconnectScene(const std::shared_ptr<WindowScene>& scene) override { shared().disconnectScene(scene); }
    std::vector<std::shared_ptr<WindowScene>> connectedScenes() const override { return shared().connectedScenes(); }
    void registerForRemoteNotifications() override {
      record_->add("registerForRemoteNotifications");
      shared().registerForRemoteNotifications();
    }
    void noteScenePhase(ui::ScenePhase phase) override { shared().noteScenePhase(phase); }
    void noteWillTerminate() override { shared().noteWillTerminate(); }
    void open(const std::string& url) override {
      record_->add("open " + url);
      shared().open(url);
    }

   private:
    RecordPtr record_;
  };

  // A recording object of one interface: it writes to the shared record and passes each call
  // on to the system object.
  template <class Interface>
  class Recorder : public Interface {
   public:
    Recorder(RecordPtr record, std::shared_ptr<Interface> system)
        : record_(std::move(record)), system_(std::move(system)) {}

   protected:
    RecordPtr record_;
    std::shared_ptr<Interface> system_;
  };

  class RecordingNotificationCenter final : public Recorder<UserNotificationCenter> {
   public:
    using Recorder::Recorder;
    void removeAllPendingNotificationRequests() override {
      record_->add("removeAllPendingNotificationRequests");
      system_->removeAllPendingNotificationRequests();
    }
  };

  class RecordingAppearance final : public Recorder<AppearanceProxy> {
   public:
    using Recorder::Recorder;
    void setTableViewShowsVerticalScrollIndicator(bool shows) override {
      record_->add(std::string("UITableView.showsVerticalScrollIndicator=") + (shows ? "true" : "false"));
      system_->setTableViewShowsVerticalScrollIndicator(shows);
    }
    void setSegmentedControlSelectedSegmentTintColor(RGBAColor color) override {
      record_->add("UISegmentedControl.selectedSegmentTintColor=" + describe(color));
      system_->setSegmentedControlSelectedSegmentTintColor(color);
    }
    void setSegmentedControlSelectedTitleForegroundColor(RGBAColor color) override {
      record_->add("UISegmentedControl.selected.foregroundColor=" + describe(color));
      system_->setSegmentedControlSelectedTitleForegroundColor(color);
    }
    void setSegmentedControlNormalTitleForegroundColor(RGBAColor color) override {
      record_->add("UISegmentedControl.normal.foregroundColor=" + describe(color));
      system_->setSegmentedControlNormalTitleForegroundColor(color);
    }
  };

  class RecordingTips final : public Recorder<TipsConfigurator> {
   public:
    using Recorder::Recorder;
    Status configure(const std::vector<TipsConfigurationOption>& options) override {
      record_->add("Tips.configure");
      return system_->configure(options);
    }
  };

  RecordPtr record_;
};

}  // namespace platform::testing
