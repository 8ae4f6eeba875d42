# The Windows program's image depends on its sources and the tools alone: two builds of one
# commit give the same bytes, from any checkout path and at any time, so anyone can rebuild a
# shipped lkspanreg.exe and compare it (src/app/windows/reproducible_test.sh proves it).
#
# The linker would write the time of the link into the PE header (and the header checksum
# follows from it): the image says 0 instead. Paths the compiler could record (__FILE__ in an
# assertion, debug information; the stripped release image holds none today) are written
# relative to the source and build folders.
if(NOT WIN32)
  return()
endif()

foreach(target lkspan_core lkspanreg)
  target_compile_options(${target} PRIVATE
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
endforeach()
target_link_options(lkspanreg PRIVATE LINKER:--no-insert-timestamp)
