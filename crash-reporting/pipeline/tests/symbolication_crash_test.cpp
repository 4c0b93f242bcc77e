// A child that really crashes inside a library; the parent symbolicates what it left, as the
// next launch does. Plain tree only (label `crash`).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/tests/crash_harness.h"
#include "crash-reporting/pipeline/symbolication.h"
#include "crash-reporting/reports/internal_report.h"

namespace {

TEST(SymbolicationCrashTest, ACrashInsideALibraryFunctionIsNamedWithItsLibraryAndOffset) {
  void* library = dlopen(CR_SYMBOLS_LIBRARY, RTLD_NOW | RTLD_NODELETE);
  ASSERT_NE(library, nullptr) << dlerror();
  crash_test::CrashChild child;
  const auto result = child.run(
      [](crash_test::SharedPage&) {
        void* handle = dlopen(CR_SYMBOLS_LIBRARY, RTLD_NOW);
        if (handle == nullptr) _exit(92);
        CRBinaryImageRescan();
        reinterpret_cast<void (*)()>(dlsym(handle, "symbols_library_arm_crash"))();
      },
      [](crash_test::SharedPage&) {
        void* handle = dlopen(CR_SYMBOLS_LIBRARY, RTLD_NOW);
        reinterpret_cast<int (*)()>(dlsym(handle, "_ZN3foo3barEv"))();
      });
  ASSERT_EQ(result.signal, SIGSEGV);
  const nlohmann::json* threads = result.section("threads");
  ASSERT_NE(threads, nullptr);
  size_t crashed = 0;
  for (size_t i = 0; i < threads->size(); ++i) {
    if ((*threads)[i].value("crashed", false)) crashed = i;
  }

  auto report = std::make_shared<CRInternalReport>(child.folder().path().string(), "crash");
  CRProcessReportOperation(report, std::make_shared<CRSymbolResolver>()).start();
  const auto lines = crash_test::readSections(child.folder().file("signal.crrecord.symbolicated"));
  ASSERT_EQ(lines.size(), 1u);
  const auto& frame = lines[0]["threads"][crashed][0];
  EXPECT_EQ(frame["symbol"], "foo::bar()");
  EXPECT_EQ(frame["raw_symbol"], "_ZN3foo3barEv");
  EXPECT_EQ(frame["library"], std::filesystem::path(CR_SYMBOLS_LIBRARY).filename().string());
  EXPECT_GT(frame["offset"].get<uint64_t>(), 0u);
}

}  // namespace
