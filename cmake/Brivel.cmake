# brivel_library(<target> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
#   One static library per folder. Headers are included by their path from the
#   repository root: #include "platform/dispatch/queue.h".
function(brivel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# brivel_test(<target> SOURCES ... DEPS ...)
#   A GoogleTest executable whose cases CTest discovers one by one.
function(brivel_test name)
  if(NOT BRIVEL_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()

# brivel_bench(<target> SOURCES ... DEPS ...)
#   A Google Benchmark program; benchmarks are run by hand, never by CTest.
function(brivel_bench name)
  if(NOT BRIVEL_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()
