# Tests of the 32-bit shipping program.
#   image   what the image imports and carries: nothing Windows XP lacks, its size, its resources;
#           and that it can be signed
#   reproducible  the same image from two more builds in copies of the tree at other paths
#   wine32  the program itself, run by 32-bit Wine under qemu in a WoW64 prefix; every start
#           costs about a minute, so a few scenarios run in one test
if(NOT WIN32 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()

# The system's python3 first: the test scripts need nothing beyond its standard library.
find_program(LKSPAN_PYTHON3 NAMES python3 HINTS /usr/bin REQUIRED)
set(LKSPAN_WINDOWS_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/windows)

add_test(NAME win32_image
  COMMAND ${LKSPAN_PYTHON3} ${LKSPAN_WINDOWS_TESTS}/image_test.py
    --objdump ${CMAKE_OBJDUMP} --cxx ${CMAKE_CXX_COMPILER}
    --oldest-windows ${LKSPAN_OLDEST_WINDOWS} --version ${LKSPAN_VERSION_DOTS}
    $<TARGET_FILE:lkspanreg>)
set_tests_properties(win32_image PROPERTIES LABELS image TIMEOUT 60)
add_test(NAME win32_signed
  COMMAND bash ${LKSPAN_WINDOWS_TESTS}/signing_test.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:lkspanreg>
    ${CMAKE_CURRENT_BINARY_DIR}/signed/lkspanreg.exe)
set_tests_properties(win32_signed PROPERTIES LABELS image TIMEOUT 60)

add_test(NAME win32_reproducible
  COMMAND bash ${LKSPAN_WINDOWS_TESTS}/reproducible_test.sh ${CMAKE_CURRENT_SOURCE_DIR}
    ${CMAKE_CURRENT_BINARY_DIR}/reproducible $<TARGET_FILE:lkspanreg>)
set_tests_properties(win32_reproducible PROPERTIES LABELS reproducible TIMEOUT 1200)

# The prefix the program runs in; the machine must be ready for 32-bit Wine already
# (scripts/wine32-setup.sh, run by `scripts/test.sh wine32`): the fixture changes nothing else.
set(LKSPAN_WINE32_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/wine32/wineprefix)
add_test(NAME wine32_prefix
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/wine-prefix.sh start ${LKSPAN_WINE32_PREFIX} wow64)
add_test(NAME wine32_stop
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/scripts/wine-prefix.sh stop ${LKSPAN_WINE32_PREFIX})
set_tests_properties(wine32_prefix PROPERTIES FIXTURES_SETUP wine32 LABELS wine32 TIMEOUT 1800)
set_tests_properties(wine32_stop PROPERTIES FIXTURES_CLEANUP wine32 LABELS wine32 TIMEOUT 60)

# The runner reads the scenario table through the scenario printer, built for this machine by
# its compiler in a build of its own.
set(LKSPAN_NATIVE_BUILD ${CMAKE_CURRENT_BINARY_DIR}/wine32/native)
add_test(NAME wine32_scenario_print
  COMMAND ${CMAKE_CTEST_COMMAND} --build-and-test ${CMAKE_CURRENT_SOURCE_DIR} ${LKSPAN_NATIVE_BUILD}
    --build-generator ${CMAKE_GENERATOR} --build-target lkspan_scenario_print --build-noclean
    --build-options -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
      -DLKSPAN_BUILD_BENCHMARKS=OFF)
set_tests_properties(wine32_scenario_print PROPERTIES
  FIXTURES_SETUP wine32 LABELS wine32 TIMEOUT 600)

add_test(NAME wine32_register_upgrade_remove
  COMMAND ${LKSPAN_PYTHON3} ${LKSPAN_WINDOWS_TESTS}/wine32_test.py
    --prefix ${LKSPAN_WINE32_PREFIX} --scenarios ${LKSPAN_NATIVE_BUILD}/lkspan_scenario_print
    --table ${CMAKE_CURRENT_SOURCE_DIR}/tests/scenarios/scenarios.txt $<TARGET_FILE:lkspanreg>)
set_tests_properties(wine32_register_upgrade_remove PROPERTIES
  FIXTURES_REQUIRED wine32 LABELS wine32 TIMEOUT 1200)
