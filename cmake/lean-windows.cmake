# The Windows program links only what it uses, and only what the oldest Windows it supports has.
#
# Its code throws nothing and asks no type at run time, so it is built without exceptions and
# RTTI; that keeps the C++ runtime's unwinder, its verbose terminate handler and the threads
# library (winpthread, which the -posix compilers' runtime needs) out of the image. Unused
# functions and data are dropped at link time (CMakeLists.txt strips the image).
#
# Windows XP (0x0501) is the oldest target: the Windows headers then declare only the functions
# XP has, and the image says it needs no newer Windows (XP refuses a subsystem version 6.0).
#
# Only the program's own targets get these settings; the tests and GoogleTest keep the
# compiler's defaults. lkspan_core keeps its options PRIVATE so they do not reach the tests
# that link it.
if(NOT WIN32)
  return()
endif()

set(LKSPAN_OLDEST_WINDOWS 0x0501)
math(EXPR lkspan_subsystem_major "${LKSPAN_OLDEST_WINDOWS} >> 8")
math(EXPR lkspan_subsystem_minor "${LKSPAN_OLDEST_WINDOWS} & 0xFF")

foreach(target lkspan_core lkspanreg)
  target_compile_definitions(${target} PRIVATE
    _WIN32_WINNT=${LKSPAN_OLDEST_WINDOWS} WINVER=${LKSPAN_OLDEST_WINDOWS})
  target_compile_options(${target} PRIVATE
    -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # 32-bit x86 unwinds through DWARF tables that only exceptions read; x86-64 Windows keeps
    # its unwind tables, which the system itself uses.
    target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
  endif()
endforeach()

# -no-pthread leaves winpthread off the link, so anything that needs it fails to link.
target_link_options(lkspanreg PRIVATE -no-pthread LINKER:--gc-sections)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(lkspanreg PRIVATE
    LINKER:--major-subsystem-version,${lkspan_subsystem_major}
    LINKER:--minor-subsystem-version,${lkspan_subsystem_minor})
endif()
