# The portable store against Wine's regedit on random texts (tests/differential): in the win64
# build's Wine prefix, as many texts as fit in three minutes and at least 60, with the native
# program of the tool preset (scripts/test.sh builds it first in the windows stage).
if(NOT WIN32 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 8 OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()

add_executable(regedit_reading tests/differential/regedit_reading.cpp)
target_link_libraries(regedit_reading PRIVATE lkspan_warnings shlwapi)
target_link_options(regedit_reading PRIVATE -static)

set(LKSPAN_NATIVE_PROGRAM ${CMAKE_SOURCE_DIR}/build/tool/lkspanreg CACHE FILEPATH
  "The native program the differential check runs (the tool preset's)")
find_program(LKSPAN_PYTHON3 NAMES python3 HINTS /usr/bin REQUIRED)
add_test(NAME regedit_differential
  COMMAND ${LKSPAN_PYTHON3} ${LKSPAN_TEST_DATA}/differential/regedit_differential.py
    --seconds 180 --least 60 --program ${LKSPAN_NATIVE_PROGRAM}
    --reader $<TARGET_FILE:regedit_reading>)
set_tests_properties(regedit_differential PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${WINE_ENV}" LABELS wine TIMEOUT 900
  RESOURCE_LOCK wine_registry)
