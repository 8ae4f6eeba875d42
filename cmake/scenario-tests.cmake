# The end-to-end scenario table, tests/scenarios/scenarios.txt, on the real registry: the Windows
# program on Wine's registry (lkspanreg_wine_tests, which also checks that store files go through
# regedit and reg export unchanged), with the example installer beside it. The native program runs
# the table in lkspanreg_e2e_tests (tests.cmake); the 32-bit program the rows marked wine32
# (win32-tests.cmake).
if(NOT WIN32 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  return()
endif()

# The scenarios run the program signed, as it ships: the signing test (a throwaway certificate,
# src/app/windows/signing_test.sh) writes it there first.
set(LKSPAN_SIGNED_PROGRAM ${CMAKE_BINARY_DIR}/signed/lkspanreg.exe)
add_executable(lkspanreg_wine_tests src/app/lkspanreg_wine_test.cpp)
target_link_libraries(lkspanreg_wine_tests PRIVATE lkspan_scenarios ${GTEST_TARGETS})
target_link_options(lkspanreg_wine_tests PRIVATE -static)
target_compile_definitions(lkspanreg_wine_tests PRIVATE
  LKSPANREG_PATH="${LKSPAN_SIGNED_PROGRAM}"
  LKSPAN_SCENARIOS="${LKSPAN_TEST_DATA}/scenarios/scenarios.txt"
  LKSPAN_INTERCHANGE="${LKSPAN_TEST_DATA}/interchange")
# The installer's test asks the scenario printer for the band's trees.
add_dependencies(lkspanreg_wine_tests lkspanreg lkspan_scenario_print)

if(CMAKE_CROSSCOMPILING_EMULATOR)
  # In the prefix of the wine fixture; one row after the other, as they share the registry.
  set(LKSPAN_WINDOWS_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/windows)
  add_test(NAME signed_program
    COMMAND bash ${LKSPAN_WINDOWS_TESTS}/signing_test.sh ${CMAKE_OBJDUMP}
      $<TARGET_FILE:lkspanreg> ${LKSPAN_SIGNED_PROGRAM})
  set_tests_properties(signed_program PROPERTIES FIXTURES_SETUP signed LABELS signing TIMEOUT 60)

  add_test(NAME wine_scenarios COMMAND lkspanreg_wine_tests)
  set_tests_properties(wine_scenarios PROPERTIES
    FIXTURES_REQUIRED "wine;signed" ENVIRONMENT "${WINE_ENV}" LABELS wine TIMEOUT 900
    RESOURCE_LOCK wine_registry)

  # The store variants' Wine readings (tests/variants/NAME.wine.reg, which the native store tests
  # compare with) are what Wine's regedit makes of them now.
  find_program(LKSPAN_PYTHON3 NAMES python3 HINTS /usr/bin REQUIRED)
  add_test(NAME store_variants_current
    COMMAND ${LKSPAN_PYTHON3} ${LKSPAN_TEST_DATA}/variants/regenerate.py --check)
  set_tests_properties(store_variants_current PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${WINE_ENV}" LABELS wine TIMEOUT 600
    RESOURCE_LOCK wine_registry)

  # The example installer around the signed program, installed and removed silently.
  add_test(NAME wine_installer
    COMMAND bash ${LKSPAN_WINDOWS_TESTS}/installer_test.sh
      ${CMAKE_CURRENT_SOURCE_DIR}/examples/nsis/larkspan.nsi ${LKSPAN_SIGNED_PROGRAM}
      $<TARGET_FILE:lkspan_scenario_print> ${CMAKE_BINARY_DIR}/installer)
  set_tests_properties(wine_installer PROPERTIES
    FIXTURES_REQUIRED "wine;signed" ENVIRONMENT "${WINE_ENV}" LABELS wine TIMEOUT 300
    RESOURCE_LOCK wine_registry)
endif()
