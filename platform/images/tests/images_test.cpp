#include <dlfcn.h>

#include <string>
#include <vector>

#include "platform/images/elf_image.h"
#include "platform/images/images.h"
#include <gtest/gtest.h>

namespace {

using platform::images::LoadedImage;

TEST(LoadedImagesTest, ObserversSeeTheLoadedSetThenEachChange) {
  std::vector<std::string> events;
  const auto id = platform::images::addObserver(
      [&](const LoadedImage& image) { events.push_back("add " + image.path); },
      [&](const LoadedImage& image) { events.push_back("remove " + image.path); });
  const size_t initial = events.size();
  ASSERT_GT(initial, 1u);
  const auto images = platform::images::loadedImages();
  ASSERT_TRUE(images.front().isMainProgram);
  EXPECT_EQ(images.front().path.find("platform_images_test"), images.front().path.size() - 20);

  platform::images::rescan();  // nothing changed: nothing reported
  EXPECT_EQ(events.size(), initial);

  void* handle = platform::images::openLibrary(PLATFORM_IMAGES_LOADABLE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  ASSERT_EQ(events.size(), initial + 1);
  EXPECT_EQ(events.back(), std::string("add ") + PLATFORM_IMAGES_LOADABLE);
  LoadedImage loaded;
  for (const auto& image : platform::images::loadedImages()) {
    if (image.path == PLATFORM_IMAGES_LOADABLE) loaded = image;
  }
  const auto facts = platform::images::describeLoadedImage(loaded);
  const auto function = reinterpret_cast<uintptr_t>(dlsym(handle, "platform_images_loadable_function"));
  EXPECT_GE(function, facts.header);
  EXPECT_LT(function, facts.header + facts.size);
  EXPECT_NE(facts.ehFrameHeader, 0u);
  EXPECT_FALSE(facts.buildId.empty());

  ASSERT_EQ(platform::images::closeLibrary(handle), 0);
  ASSERT_EQ(events.size(), initial + 2);
  EXPECT_EQ(events.back(), std::string("remove ") + PLATFORM_IMAGES_LOADABLE);
  platform::images::removeObserver(id);
}

TEST(LoadedImagesTest, ArchitectureNames) {
  EXPECT_STREQ(platform::images::elfArchitectureName(EM_X86_64), "x86_64");
  EXPECT_STREQ(platform::images::elfArchitectureName(EM_AARCH64), "arm64");
  EXPECT_STREQ(platform::images::elfArchitectureName(EM_SPARC), "unknown");
  const uint8_t notElf[] = {0x7f, 'E', 'L', 'X'};
  EXPECT_FALSE(platform::images::looksLikeElf(notElf, sizeof notElf));
  EXPECT_FALSE(platform::images::readElfFile(notElf, sizeof notElf).has_value());
}

}  // namespace
