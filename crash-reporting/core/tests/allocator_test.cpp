#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <cstdlib>
#include <thread>
#include <vector>

#include "crash-reporting/core/allocator.h"
#include "crash-reporting/core/host.h"
#include "sdk-core/utilities/environment.h"
#include <gtest/gtest.h>

namespace {

TEST(CRAllocatorTest, RegionsGetASparePageAndAllocationsAreSixteenByteAligned) {
  const size_t page = CRHostGetPageSize();
  CRAllocatorState* allocator = CRAllocatorCreate(2 * page, 100);
  ASSERT_NE(allocator, nullptr);
  EXPECT_EQ(allocator->readWrite.size, 3 * page);  // an exact multiple still gets a spare page
  EXPECT_EQ(allocator->readOnly.size, page);
  EXPECT_EQ(allocator->readWrite.start % page, 0u);

  const std::vector<std::pair<size_t, size_t>> sizes = {{1, 16}, {15, 16}, {16, 16}, {17, 32}, {33, 48}};
  for (const auto& [asked, taken] : sizes) {
    const uintptr_t before = allocator->readWrite.cursor.load();
    auto* memory = static_cast<char*>(CRAllocatorSafeAllocate(allocator, asked, CRAllocationTypeReadWrite));
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(memory), before);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % 16, 0u) << asked;
    EXPECT_EQ(allocator->readWrite.cursor.load() - before, taken) << asked;
  }
  EXPECT_EQ(CRAllocatorSafeAllocate(allocator, 8, 7), nullptr);
}

TEST(CRAllocatorTest, PastTheRoomAndAfterProtectionMemoryComesFromTheHeap) {
  const size_t page = CRHostGetPageSize();
  CRAllocatorState* allocator = CRAllocatorCreate(page / 2, page / 2);
  ASSERT_NE(allocator, nullptr);
  void* inside = CRAllocatorSafeAllocate(allocator, page / 2, CRAllocationTypeReadWrite);
  EXPECT_TRUE(CRAllocatorOwns(allocator, inside));
  void* beyond = CRAllocatorSafeAllocate(allocator, 2 * page, CRAllocationTypeReadWrite);
  ASSERT_NE(beyond, nullptr);
  EXPECT_FALSE(CRAllocatorOwns(allocator, beyond));
  std::free(beyond);

  EXPECT_TRUE(CRAllocatorProtect(allocator));
  EXPECT_TRUE(CRAllocatorProtect(allocator));  // already protected
  void* afterwards = CRAllocatorSafeAllocate(allocator, 16, CRAllocationTypeReadWrite);
  ASSERT_NE(afterwards, nullptr);
  EXPECT_FALSE(CRAllocatorOwns(allocator, afterwards));
  std::free(afterwards);

  void* noAllocator = CRAllocatorSafeAllocate(nullptr, 16, CRAllocationTypeReadOnly);
  ASSERT_NE(noAllocator, nullptr);
  std::free(noAllocator);
  EXPECT_FALSE(CRAllocatorProtect(nullptr));
}

TEST(CRAllocatorTest, ThreadsGetDisjointBlocks) {
  CRAllocatorState* allocator = CRAllocatorCreate(64 * 1024, 0);
  ASSERT_NE(allocator, nullptr);
  constexpr int kThreads = 8;
  constexpr int kEach = 200;
  std::vector<std::vector<uintptr_t>> blocks(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        blocks[t].push_back(reinterpret_cast<uintptr_t>(CRAllocatorSafeAllocate(allocator, 24, CRAllocationTypeReadWrite)));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<uintptr_t> all;
  for (const auto& list : blocks) all.insert(all.end(), list.begin(), list.end());
  std::sort(all.begin(), all.end());
  for (size_t i = 1; i < all.size(); ++i) EXPECT_GE(all[i] - all[i - 1], 32u);
  for (uintptr_t block : all) EXPECT_TRUE(CRAllocatorOwns(allocator, reinterpret_cast<void*>(block)));
}

TEST(CRHostTest, PageSizeIsClampedButNeverBelowTheRealPage) {
  struct Case {
    long reported;
    size_t realPage;
    size_t expected;
  };
  const Case cases[] = {{8192, 4096, 8192},   {65536, 4096, 16384}, {1024, 4096, 4096},
                        {-1, 4096, 16384},    {65536, 65536, 65536}, {4096, 16384, 16384}};
  for (const Case& c : cases) EXPECT_EQ(CRHostClampPageSize(c.reported, c.realPage), c.expected) << c.reported;
  EXPECT_EQ(CRHostGetPageSize(), static_cast<size_t>(sysconf(_SC_PAGESIZE)));
}

TEST(CRHostTest, APadReportsIpadosWhileThePlatformStaysIos) {
  struct PadProbe : UTLEnvironmentProbe {
    bool isPadInterfaceIdiom() const override { return true; }
  };
  UTLAppEnvironmentUtil::setProbe(std::make_shared<PadProbe>());
  EXPECT_EQ(CRAppTelemetryPlatformName(), "ipados");
  EXPECT_STREQ(CRAppPlatformName(), "ios");
  UTLAppEnvironmentUtil::setProbe(nullptr);
  EXPECT_EQ(CRAppTelemetryPlatformName(), "ios");
}

TEST(CRHostTest, VersionPartsMissingAreZero) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"12", "12.0.0"}, {"6.1", "6.1.0"}, {"6.1.21-amd64", "6.1.21"}, {"", "0.0.0"}, {"1.2.3.4", "1.2.3"}};
  for (const auto& [text, expected] : cases) {
    const CRHostVersion version = CRHostParseVersion(text);
    EXPECT_EQ(std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.patch),
              expected)
        << text;
  }
}

}  // namespace
