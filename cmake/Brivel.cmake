# brivel_library(<target> [FOLDER <folder>] SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
#   One static library per folder (FOLDER, from the repository root; the current source folder
#   by default). Headers are included by their path from the repository root:
#   #include "platform/dispatch/queue.h".
function(brivel_library name)
  cmake_parse_arguments(ARG "" "FOLDER" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
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

# brivel_browser_test(<name> SCRIPT <file.mjs> TIMEOUT <seconds> [ARGS ...])
#   A browser test: node runs <file.mjs>, which drives headless Chromium through the
#   playwright-core of tests/e2e. Not registered without node; the script reports itself
#   skipped (exit 77) without playwright-core or chromium. Browser tests run one at a time.
find_program(BRIVEL_NODE node)
function(brivel_browser_test name)
  if(NOT BRIVEL_TESTS OR NOT BRIVEL_NODE)
    return()
  endif()
  cmake_parse_arguments(ARG "" "SCRIPT;TIMEOUT" "ARGS" ${ARGN})
  add_test(NAME ${name} COMMAND ${BRIVEL_NODE} ${ARG_SCRIPT} ${ARG_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} SKIP_RETURN_CODE 77 RESOURCE_LOCK browser)
endfunction()
