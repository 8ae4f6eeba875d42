# The tests, included by CMakeLists.txt when BUILD_TESTING is on.
if(CMAKE_CROSSCOMPILING)
  # No GoogleTest library for the target system: build it from its sources (Debian's
  # googletest package puts them in /usr/src/googletest).
  set(LKSPAN_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest's sources, built for the cross builds' tests")
  if(NOT EXISTS ${LKSPAN_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${LKSPAN_GOOGLETEST_SOURCE_DIR}: install "
      "Debian's googletest package, set LKSPAN_GOOGLETEST_SOURCE_DIR, or configure with "
      "-DBUILD_TESTING=OFF")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${LKSPAN_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(GTEST_TARGETS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(GTEST_TARGETS GTest::gtest GTest::gtest_main)
endif()

# Tests that hold on every registry: the in-memory store here, the real one under Wine.
set(SHARED_TESTS
  src/registration/format_text_test.cpp
  src/registration/register_extension_test.cpp
  src/registration/split_server_path_test.cpp
  src/registration/upgrade_basket_list_test.cpp
  src/unregistration/unregister_extension_test.cpp
)
# Tests of the portable store and of failure paths that need an injected failure.
set(PORTABLE_TESTS
  src/app/entry_test.cpp
  src/registry/portable/file_store_test.cpp
  src/registry/portable/file_store_variants_test.cpp
  src/registry/portable/registry_tree_test.cpp
  src/registry/portable/locked_file_test.cpp
  src/registry/portable/store_path_test.cpp
  src/registry/portable/text_edits_test.cpp
  src/registry/regedit/regedit_reader_test.cpp
  src/registry/regedit/regedit_writer_test.cpp
  src/registry/regedit/utf16_text_test.cpp
  src/registration/register_extension_failure_test.cpp
  src/registration/upgrade_basket_list_store_test.cpp
  src/registration/write_registry_rows_test.cpp
  src/unregistration/unregister_extension_failure_test.cpp
)

add_library(lkspan_testing STATIC
  src/testing/registry_fixture.cpp
  src/testing/registry_fixture_${LKSPAN_PLATFORM}.cpp
)
target_include_directories(lkspan_testing PUBLIC src/testing)
target_link_libraries(lkspan_testing PUBLIC lkspan_core lkspan_regedit ${GTEST_TARGETS})

set(LKSPAN_TEST_DATA ${CMAKE_CURRENT_SOURCE_DIR}/tests)
if(WIN32)
  add_executable(lkspan_tests ${SHARED_TESTS})
  target_link_options(lkspan_tests PRIVATE -static)
else()
  target_sources(lkspan_testing PRIVATE src/testing/program_run.cpp)
  target_link_libraries(lkspan_testing PUBLIC lkspan_memory_store lkspan_scenarios)
  add_executable(lkspan_tests ${SHARED_TESTS} ${PORTABLE_TESTS})
endif()
target_link_libraries(lkspan_tests PRIVATE lkspan_testing)

if(NOT WIN32)
  target_compile_definitions(lkspan_tests PRIVATE LKSPAN_VARIANTS="${LKSPAN_TEST_DATA}/variants")
  include(GoogleTest)
  gtest_discover_tests(lkspan_tests DISCOVERY_TIMEOUT 30)

  # The scenario table (tests/scenarios/scenarios.txt) on the native program's file store.
  add_executable(lkspanreg_e2e_tests src/app/lkspanreg_e2e_test.cpp
    src/app/lkspanreg_reliability_e2e_test.cpp)
  target_link_libraries(lkspanreg_e2e_tests PRIVATE lkspan_testing)
  target_compile_definitions(lkspanreg_e2e_tests PRIVATE
    LKSPANREG_PATH="$<TARGET_FILE:lkspanreg>"
    LKSPAN_SCENARIOS="${LKSPAN_TEST_DATA}/scenarios/scenarios.txt"
    LKSPAN_INTERCHANGE="${LKSPAN_TEST_DATA}/interchange")
  add_dependencies(lkspanreg_e2e_tests lkspanreg)
  gtest_discover_tests(lkspanreg_e2e_tests DISCOVERY_TIMEOUT 30)
elseif(CMAKE_CROSSCOMPILING_EMULATOR)
  # Every test of the Windows binding runs against the registry of a throwaway Wine prefix, one
  # test after the other where they share its registry.
  set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(WINE_ENV WINEPREFIX=${WINE_PREFIX} WINEDEBUG=-all)
  add_test(NAME wine_prefix_setup
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh start ${WINE_PREFIX})
  add_test(NAME wine_prefix_cleanup
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh stop ${WINE_PREFIX})
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine)
  add_test(NAME windows_registry_tests COMMAND lkspan_tests)
  set_tests_properties(windows_registry_tests PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${WINE_ENV}" LABELS wine RESOURCE_LOCK wine_registry)
endif()

include(cmake/win32-tests.cmake)

include(cmake/scenario-tests.cmake)
include(cmake/differential-test.cmake)
