# What the tests, fuzz targets and benchmarks share, built only for what links them; included by
# CMakeLists.txt whether or not the tests are built.
#
# A whole tree to and from a store's text: the program edits a store section by section and never
# compiles it. Over the real registry the program has no store: the .reg format's library comes
# along, and the portable headers serve for its types.
add_library(lkspan_regedit_test_tree STATIC EXCLUDE_FROM_ALL src/testing/regedit_test_tree.cpp)
target_include_directories(lkspan_regedit_test_tree PUBLIC src/testing)
target_link_libraries(lkspan_regedit_test_tree PUBLIC lkspan_core lkspan_regedit)
if(WIN32)
  target_include_directories(lkspan_regedit_test_tree PRIVATE src/registry/portable)
else()
  # The registry in memory, which can be told to fail.
  add_library(lkspan_memory_store STATIC EXCLUDE_FROM_ALL src/testing/memory_store.cpp)
  target_link_libraries(lkspan_memory_store PUBLIC lkspan_regedit_test_tree)
endif()

# The end-to-end scenario table (tests/scenarios/scenarios.txt), read with the store's own reader,
# and a program that prints what it reads for the runners that are not C++: the 32-bit runner
# (src/app/windows/wine32_test.py, with a native build of it) and the example installer's test.
add_library(lkspan_scenarios STATIC EXCLUDE_FROM_ALL src/testing/scenario_table.cpp)
target_link_libraries(lkspan_scenarios PUBLIC lkspan_regedit_test_tree)
add_executable(lkspan_scenario_print EXCLUDE_FROM_ALL src/testing/scenario_print.cpp)
target_link_libraries(lkspan_scenario_print PRIVATE lkspan_scenarios)
if(WIN32)
  target_include_directories(lkspan_scenarios PRIVATE src/registry/portable)
  target_link_options(lkspan_scenario_print PRIVATE -static)
endif()
