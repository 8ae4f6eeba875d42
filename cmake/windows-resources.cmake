# The Windows program's resources: a version resource numbered from project(VERSION), and the
# application manifest that has it run as the user who starts it on Vista up to Windows 11.
if(NOT WIN32)
  return()
endif()

enable_language(RC)

set(LKSPAN_VERSION_TWEAK "${PROJECT_VERSION_TWEAK}")
if(LKSPAN_VERSION_TWEAK STREQUAL "")
  set(LKSPAN_VERSION_TWEAK 0)
endif()
set(LKSPAN_VERSION_COMMAS
  "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${LKSPAN_VERSION_TWEAK}")
set(LKSPAN_VERSION_DOTS
  "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${LKSPAN_VERSION_TWEAK}")
set(LKSPAN_MANIFEST_FILE ${CMAKE_CURRENT_BINARY_DIR}/lkspanreg.manifest)

configure_file(src/app/windows/lkspanreg.manifest.in ${LKSPAN_MANIFEST_FILE} @ONLY)
configure_file(src/app/windows/lkspanreg.rc.in ${CMAKE_CURRENT_BINARY_DIR}/lkspanreg.rc @ONLY)
target_sources(lkspanreg PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/lkspanreg.rc)
# windres reads the manifest, which no dependency scan sees.
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/lkspanreg.rc PROPERTIES
  OBJECT_DEPENDS ${LKSPAN_MANIFEST_FILE})
