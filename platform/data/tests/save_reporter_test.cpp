#include "platform/data/save_reporter.h"

#include <gtest/gtest.h>

#include "platform/data/tests/test_schema.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/data_notices.h"
#include "platform/testing/temp_directory.h"

namespace platform::testing {
namespace {

class SaveFailureTest : public ::testing::Test {
 protected:
  // A store with one unsaved library whose saves fail at the commit.
  ModelContext& failingStore(bool autosave) {
    ModelConfiguration configuration;
    configuration.url = dir_.path() / "Test.store";
    configuration.autosaveEnabled = autosave;
    auto opened = ModelContainer::open(librarySchema(), configuration);
    EXPECT_TRUE(opened.ok()) << opened.error().localizedDescription();
    container_ = *opened;
    DataNotices::shared().reset();
    container_->mainContext().insert(std::make_shared<Library>());
    container_->mainContext().setSaveFaultInjection([](SaveStep step) { return step == SaveStep::Commit; });
    return container_->mainContext();
  }
  static bool noticeShown() { return DataNotices::shared().has(kSaveFailureNoticeKey); }

  TempDirectory dir_{"save-reporter"};
  std::shared_ptr<ModelContainer> container_;
};

TEST_F(SaveFailureTest, AFailureIsPrintedAndShownUntilASaveGoesThrough) {
  ModelContext& context = failingStore(/*autosave=*/false);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ::testing::internal::CaptureStdout();
    Status saved = saveReportingFailure(context);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error().code, static_cast<long>(ModelStoreError::InjectedFault));
    EXPECT_EQ(printed, "Error saving: " + saved.error().localizedDescription() + "\n") << "every failure, one line";
    ASSERT_EQ(DataNotices::shared().all().size(), 1u);
    EXPECT_EQ(DataNotices::shared().all().front().text, saveFailureMessage(saved.error().localizedDescription()));
    EXPECT_FALSE(DataNotices::shared().all().front().dismissable);
    EXPECT_TRUE(context.hasChanges()) << "memory keeps what was not saved";
  }

  context.setSaveFaultInjection({});
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(saveReportingFailure(context).ok());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(noticeShown());
  EXPECT_FALSE(context.hasChanges());
}

TEST_F(SaveFailureTest, AFailedAutomaticSaveIsShownUntilOneGoesThrough) {
  ModelContext& context = failingStore(/*autosave=*/true);
  DispatchQueue::main()->async([] {});
  MainLoop::drain();
  EXPECT_TRUE(noticeShown());
  EXPECT_TRUE(context.hasChanges());

  context.setSaveFaultInjection({});
  DispatchQueue::main()->async([] {});
  MainLoop::drain();
  EXPECT_FALSE(context.hasChanges());
  EXPECT_FALSE(noticeShown());
}

}  // namespace
}  // namespace platform::testing
