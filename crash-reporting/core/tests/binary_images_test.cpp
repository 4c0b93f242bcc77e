#include <dlfcn.h>

#include <cstdio>
#include <memory>

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/tests/test_support.h"
#include "platform/images/elf_image.h"
#include "platform/images/images.h"

extern "C" __attribute__((visibility("default"), noinline)) int crash_core_images_test_function(int value) {
  return value * 2;
}

namespace {

using crash_test::ContextTest;
using crash_test::readFile;
using crash_test::readSections;

// The GNU build-id as binutils reads it.
std::string readelfBuildId(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(("readelf -n '" + path + "' 2>/dev/null").c_str(), "r"), pclose);
  if (!pipe) return {};
  char line[512];
  while (fgets(line, sizeof line, pipe.get()) != nullptr) {
    const std::string text = line;
    const size_t at = text.find("Build ID: ");
    if (at != std::string::npos) return text.substr(at + 10, text.find_first_of("\r\n", at) - at - 10);
  }
  return {};
}

using ImagesTest = ContextTest;

TEST_F(ImagesTest, OpeningAndClosingALibraryAddsALoadAndAnUnloadLine) {
  ASSERT_TRUE(setUpContext());
  CRBinaryImageWaitForPendingEvents();
  EXPECT_FALSE(CRFileHasDescriptor(&crWritableContext->binaryImage.file));  // closed after set-up
  const size_t before = readSections(folder.file("binary_images.crrecord")).size();
  ASSERT_GT(before, 0u);

  void* handle = platform::images::openLibrary(CRASH_CORE_TEST_IMAGE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  void* function = dlsym(handle, "crash_core_test_image_function");
  void* crashInfo = dlsym(handle, "cr_crash_info");
  ASSERT_NE(function, nullptr);
  CRBinaryImageWaitForPendingEvents();

  auto sections = readSections(folder.file("binary_images.crrecord"));
  ASSERT_EQ(sections.size(), before + 1);
  const nlohmann::json load = sections.back()["load"];
  ASSERT_TRUE(load.is_object()) << sections.back();
  EXPECT_NE(load["path"].get<std::string>().find("crash_core_test_image"), std::string::npos);
  const std::string buildId = readelfBuildId(CRASH_CORE_TEST_IMAGE);
  ASSERT_GE(buildId.size(), 32u);
  EXPECT_EQ(load["uuid"], buildId.substr(0, 32));

  CRBinaryImage slot;
  ASSERT_TRUE(CRBinaryImageSafeFindImageForAddress(reinterpret_cast<uintptr_t>(function), &slot));
  EXPECT_EQ(slot.baseAddress, load["base"].get<uint64_t>());
  EXPECT_EQ(slot.size, load["size"].get<uint64_t>());
  EXPECT_NE(slot.ehFrame, 0u);
  EXPECT_NE(slot.ehFrameHeader, 0u);
  EXPECT_EQ(slot.crashInfo, reinterpret_cast<uintptr_t>(crashInfo));
  EXPECT_FALSE(CRFileHasDescriptor(&crWritableContext->binaryImage.file));

  ASSERT_EQ(platform::images::closeLibrary(handle), 0);
  CRBinaryImageWaitForPendingEvents();
  sections = readSections(folder.file("binary_images.crrecord"));
  ASSERT_EQ(sections.size(), before + 2);
  const nlohmann::json unload = sections.back()["unload"];
  ASSERT_TRUE(unload.is_object()) << sections.back();
  EXPECT_EQ(unload["base"], load["base"]);
  EXPECT_EQ(unload["uuid"], load["uuid"]);
  EXPECT_FALSE(CRBinaryImageSafeFindImageForAddress(reinterpret_cast<uintptr_t>(function), &slot));
}

TEST_F(ImagesTest, LiveImagesAreFoundByAddressAndByUUID) {
  CRBinaryImage slot;
  EXPECT_FALSE(CRBinaryImageSafeFindImageForAddress(reinterpret_cast<uintptr_t>(&crash_core_images_test_function), &slot));
  ASSERT_TRUE(setUpContext());
  CRBinaryImageWaitForPendingEvents();
  ASSERT_TRUE(CRBinaryImageSafeFindImageForAddress(reinterpret_cast<uintptr_t>(&crash_core_images_test_function), &slot));
  EXPECT_NE(slot.ehFrame, 0u);
  EXPECT_EQ(slot.unwindInfo, 0u);
  EXPECT_FALSE(CRBinaryImageSafeFindImageForAddress(0, &slot));
  EXPECT_FALSE(CRBinaryImageSafeFindImageForAddress(reinterpret_cast<uintptr_t>(&crash_core_images_test_function), nullptr));

  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&printf), &info), 0);
  const std::string libc = info.dli_fname;
  const std::string buildId = readelfBuildId(libc);
  ASSERT_GE(buildId.size(), 32u) << libc;
  CRBinaryImageInfo details;
  ASSERT_TRUE(CRBinaryImageFindImageForUUID(buildId.substr(0, 32).c_str(), &details));
  EXPECT_EQ(details.path, libc);
  EXPECT_EQ(details.node.baseAddress, reinterpret_cast<uintptr_t>(info.dli_fbase));
  EXPECT_FALSE(CRBinaryImageFindImageForUUID(std::string(32, 'f').c_str(), &details));
  EXPECT_FALSE(CRBinaryImageFindImageForUUID(nullptr, &details));
}

TEST_F(ImagesTest, TheImageAfterTheLastSlotIsOnlyLogged) {
  ASSERT_TRUE(setUpContext());
  CRBinaryImageWaitForPendingEvents();
  size_t used = 0;
  for (const CRBinaryImageSlot& slot : crWritableContext->binaryImage.nodes) used += slot.baseAddress.load() != 0;
  const uintptr_t fakeBase = 0x10000;
  for (size_t i = used; i < kCRBinaryImageSlotCount; ++i) {
    CRBinaryImage node;
    node.baseAddress = fakeBase + i * 0x1000;
    node.size = 0x100;
    ASSERT_TRUE(CRBinaryImageStoreNode(true, node)) << i;
  }
  CRBinaryImage extra;
  extra.baseAddress = 0x7000000;
  extra.size = 0x100;
  EXPECT_FALSE(CRBinaryImageStoreNode(true, extra));
  EXPECT_NE(readFile(folder.file("sdk.log")).find("Error: Unable to track a loaded node 0x7000000"), std::string::npos);

  // An unloaded slot matches no address and is not handed out again.
  CRBinaryImage last;
  last.baseAddress = fakeBase + (kCRBinaryImageSlotCount - 1) * 0x1000;
  CRBinaryImage found;
  ASSERT_TRUE(CRBinaryImageSafeFindImageForAddress(last.baseAddress + 0x10, &found));
  EXPECT_TRUE(CRBinaryImageStoreNode(false, last));
  EXPECT_FALSE(CRBinaryImageSafeFindImageForAddress(last.baseAddress + 0x10, &found));
  EXPECT_FALSE(CRBinaryImageStoreNode(false, last));  // already retired
  EXPECT_FALSE(CRBinaryImageStoreNode(true, extra));
}

TEST(ElfImageTest, BuildIdAndArchitectureOfFilesAndLoadedImages) {
  const std::string buildId = readelfBuildId(CRASH_CORE_TEST_IMAGE);
  const std::string bytes = readFile(CRASH_CORE_TEST_IMAGE);
  const auto facts = platform::images::readElfFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  ASSERT_TRUE(facts.has_value());
  std::string hex;
  for (uint8_t byte : facts->buildId) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    hex += digits;
  }
  EXPECT_EQ(hex, buildId);
  EXPECT_STREQ(platform::images::elfArchitectureName(facts->machine), "x86_64");
  // Every cut of the file is read safely; a cut inside the headers is refused.
  for (size_t length = 0; length < bytes.size(); length += 97) {
    auto cut = platform::images::readElfFile(reinterpret_cast<const uint8_t*>(bytes.data()), length);
    if (length < 64) {
      EXPECT_FALSE(cut.has_value()) << length;
    }
  }
  for (const auto& image : platform::images::loadedImages()) {
    if (!image.isMainProgram) continue;
    const auto loaded = platform::images::describeLoadedImage(image);
    EXPECT_GT(loaded.size, 0u);
    EXPECT_NE(loaded.ehFrame, 0u);
    EXPECT_FALSE(loaded.buildId.empty());
  }
}

}  // namespace
