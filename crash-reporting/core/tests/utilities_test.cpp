#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <regex>

#include "crash-reporting/core/process.h"
#include "crash-reporting/core/safe_memory.h"
#include "crash-reporting/core/utilities.h"
#include <gtest/gtest.h>

extern "C" __attribute__((visibility("default"), noinline)) int crash_core_utilities_test_symbol(int value) {
  return value + 1;
}

namespace {

TEST(CRUtilitiesTest, HexAndDigests) {
  const uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff};
  char out[9];
  std::memset(out, 'z', sizeof out);
  CRHexBytes(bytes, sizeof bytes, out);
  EXPECT_STREQ(out, "000fa0ff");
  EXPECT_EQ(CRHexStringFromData({}), "");
  EXPECT_EQ(CRSHA1HexOfBytes("abc", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(CRSHA256HexOfData({'a', 'b', 'c'}), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const uint8_t uuid[16] = {0xde, 0xad, 0xbe, 0xef, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(CRUUIDBytesToHex(uuid), "deadbeef000102030405060708090a0b");
  for (const auto& [character, value] : std::vector<std::pair<char, int>>{{'0', 0}, {'9', 9}, {'a', 10}, {'F', 15}, {'g', 255}, {'/', 255}}) {
    EXPECT_EQ(CRHexDigitValue(character), value) << character;
  }
}

TEST(CRUtilitiesTest, NewUUIDsAreUpperCaseVersionFour) {
  const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  const std::string first = CRNewUUIDString();
  EXPECT_TRUE(std::regex_match(first, form)) << first;
  EXPECT_NE(first, CRNewUUIDString());
}

TEST(CRUtilitiesTest, MasksOnlyAThirtySixCharacterUUIDInParentheses) {
  const std::string uuid = "12345678-ABCD-ABCD-ABCD-123456789012";
  const std::string masked = "********-****-****-****-************";
  EXPECT_EQ(CRMaskUUIDInParentheses("app (" + uuid + ") ok"), "app (" + masked + ") ok");
  EXPECT_EQ(CRMaskUUIDInParentheses("(" + uuid.substr(1) + ")"), "(" + uuid.substr(1) + ")");  // 35
  EXPECT_EQ(CRMaskUUIDInParentheses("(" + uuid + "X)"), "(" + uuid + "X)");                     // 37
  EXPECT_EQ(CRMaskUUIDInParentheses("(x) (" + uuid + ")"), "(x) (" + masked + ")");
  EXPECT_EQ(CRMaskUUIDInParentheses("no parentheses"), "no parentheses");
}

TEST(CRUtilitiesTest, GeneratorAndSymbolLookup) {
  EXPECT_EQ(CRGeneratorString(), "Vuzirerered iOS SDK/10.27.0");
  std::string symbol, image;
  CRLookupSymbol(reinterpret_cast<const void*>(&crash_core_utilities_test_symbol), [&](const char* name, const char* path) {
    symbol = name != nullptr ? name : "(null)";
    image = path != nullptr ? path : "(null)";
  });
  EXPECT_EQ(symbol, "crash_core_utilities_test_symbol");
  EXPECT_NE(image.find("crash_core_test"), std::string::npos) << image;
  bool calledWithNulls = false;
  CRLookupSymbol(reinterpret_cast<const void*>(16), [&](const char* name, const char* path) {
    calledWithNulls = name == nullptr && path == nullptr;
  });
  EXPECT_TRUE(calledWithNulls);
}

// Unreadable memory is reported, not faulted on, by both copy paths.
TEST(CRSafeMemoryTest, CopiesReadableMemoryAndRefusesTheRest) {
  const long page = sysconf(_SC_PAGESIZE);
  auto* pages = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  std::memcpy(pages + page - 6, "hello", 6);
  ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);  // a guard page after the string

  for (bool pipePath : {false, true}) {
    SCOPED_TRACE(pipePath ? "pipe" : "process_vm_readv");
    CRSafeMemoryForcePipe(pipePath);
    char out[16] = {};
    EXPECT_TRUE(CRSafeCopyMemory(pages + page - 6, out, 6));
    EXPECT_STREQ(out, "hello");
    EXPECT_FALSE(CRSafeCopyMemory(pages + page, out, 4));      // the guard page
    EXPECT_FALSE(CRSafeCopyMemory(pages + page - 2, out, 4));  // runs into it
    EXPECT_FALSE(CRSafeCopyMemory(reinterpret_cast<void*>(4095), out, 1));
    EXPECT_FALSE(CRSafeCopyMemory(nullptr, out, 1));

    const char* checked = nullptr;
    size_t length = 99;
    EXPECT_TRUE(CRCheckReadableString(pages + page - 6, &checked, 100, &length));
    EXPECT_EQ(checked, pages + page - 6);
    EXPECT_EQ(length, 5u);
    EXPECT_TRUE(CRCheckReadableString(pages + page - 6, &checked, 3, &length));
    EXPECT_EQ(length, 3u);
    EXPECT_TRUE(CRCheckReadableString(pages + page - 6, &checked, 0, &length));
    EXPECT_EQ(length, 0u);
    std::memset(pages + page - 6, 'x', 6);  // no terminator before the guard page
    EXPECT_FALSE(CRCheckReadableString(pages + page - 6, &checked, 100, &length));
    std::memcpy(pages + page - 6, "hello", 6);
    EXPECT_FALSE(CRCheckReadableString(reinterpret_cast<const char*>(100), &checked, 10, &length));
  }
  CRSafeMemoryForcePipe(false);
  munmap(pages, 2 * page);
}

TEST(CRProcessTest, TracerPidDecidesWhetherADebuggerIsAttached) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"Name:\tx\nTracerPid:\t0\nUid:\t1\n", false},
      {"Name:\tx\nTracerPid:\t4321\nUid:\t1\n", true},
      {"Name:\tx\nTracerPid:\t10\n", true},
      {"Name:\tNotTracerPid:\t5\n", false},
      {"", false}};
  for (const auto& [text, attached] : cases) {
    EXPECT_EQ(CRProcessStatusShowsTracer(text.data(), static_cast<long>(text.size())), attached) << text;
  }
  EXPECT_FALSE(CRProcessDebuggerAttached());
}

}  // namespace
