# Headers. Every header is included by its path from the repository root
# (#include "platform/dispatch/queue.h"), but a target sees only the headers of what it links:
# each library's folder is reached through an include root of its own, <build>/include/<target>,
# which holds that folder alone (symlinks into the sources, made at configure time). The root is
# PUBLIC, so whoever links the library, directly or through a PUBLIC dependency, sees its
# headers, and an #include of a library one does not link fails. A library's tests/, testing/
# and internal/ subfolders come with it, except a subfolder that is another library's FOLDER
# and files that another library of the same folder names as its HEADERS.
#
# brivel_headers(<target> <PUBLIC|PRIVATE|INTERFACE> [FOLDERS <folder>...] [HEADERS <file>...])
#   FOLDERS: folders from the repository root (default: the current source folder). HEADERS:
#   only these files of the (one) folder, for a library that shares its folder with another.
function(brivel_headers target scope)
  cmake_parse_arguments(ARG "" "" "FOLDERS;HEADERS" ${ARGN})
  if(NOT ARG_FOLDERS)
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    set(ARG_FOLDERS ${folder})
  endif()
  target_include_directories(${target} ${scope} ${CMAKE_BINARY_DIR}/include/${target})
  set_property(GLOBAL APPEND PROPERTY BRIVEL_HEADER_TARGETS ${target})
  set_property(GLOBAL PROPERTY BRIVEL_HEADER_FOLDERS_${target} ${ARG_FOLDERS})
  set_property(GLOBAL PROPERTY BRIVEL_HEADER_FILES_${target} ${ARG_HEADERS})
  set_property(GLOBAL APPEND PROPERTY BRIVEL_CLAIMED_FOLDERS ${ARG_FOLDERS})
  foreach(header IN LISTS ARG_HEADERS)
    set_property(GLOBAL APPEND PROPERTY BRIVEL_CLAIMED_FILES ${ARG_FOLDERS}/${header})
  endforeach()
endfunction()

# Makes every include root once all folders are known (deferred to the end of the top folder).
function(_brivel_make_include_roots)
  get_property(targets GLOBAL PROPERTY BRIVEL_HEADER_TARGETS)
  get_property(claimed_folders GLOBAL PROPERTY BRIVEL_CLAIMED_FOLDERS)
  get_property(claimed_files GLOBAL PROPERTY BRIVEL_CLAIMED_FILES)
  foreach(target IN LISTS targets)
    get_property(folders GLOBAL PROPERTY BRIVEL_HEADER_FOLDERS_${target})
    get_property(headers GLOBAL PROPERTY BRIVEL_HEADER_FILES_${target})
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    # rm, not file(REMOVE_RECURSE): the links must go, never what they point to.
    execute_process(COMMAND rm -rf ${root})
    foreach(folder IN LISTS folders)
      set(source ${PROJECT_SOURCE_DIR}/${folder})
      file(MAKE_DIRECTORY ${root}/${folder})
      if(headers)
        set(entries ${headers})
      else()
        file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS RELATIVE ${source} ${source}/*)
      endif()
      foreach(entry IN LISTS entries)
        set(path ${folder}/${entry})
        if(NOT headers AND (path IN_LIST claimed_folders OR path IN_LIST claimed_files))
          continue()  # another library's
        endif()
        foreach(claimed IN LISTS claimed_folders)
          string(FIND "${claimed}" "${path}/" at)
          if(at EQUAL 0)
            message(FATAL_ERROR "${claimed} lies deeper inside ${folder} than one folder: give ${path} a library")
          endif()
        endforeach()
        file(CREATE_LINK ${source}/${entry} ${root}/${path} SYMBOLIC)
      endforeach()
    endforeach()
  endforeach()
endfunction()
cmake_language(DEFER CALL _brivel_make_include_roots)

# brivel_library(<target> [FOLDER <folder>] [HEADERS <file>...] SOURCES ...
#                [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
#   One static library per folder (FOLDER, from the repository root; the current source folder
#   by default), whose headers only those who link it see (brivel_headers). A library must
#   list in its deps every library whose headers it includes: PUBLIC when its own headers
#   include them, PRIVATE otherwise.
function(brivel_library name)
  cmake_parse_arguments(ARG "" "FOLDER" "HEADERS;SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  set(headers_args)
  if(ARG_FOLDER)
    list(APPEND headers_args FOLDERS ${ARG_FOLDER})
  endif()
  if(ARG_HEADERS)
    list(APPEND headers_args HEADERS ${ARG_HEADERS})
  endif()
  brivel_headers(${name} PUBLIC ${headers_args})
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
