# The Windows form of the two libraries: Kasa.dll and Marlo.dll with their import libraries.
#
# Marlo.dll exports the seventeen __stdcall filters by their plain names under fixed ordinals,
# as frame/marlo.def lists them. The GCC runtime (libgcc, libstdc++ and, with the POSIX thread
# model, winpthreads) is linked statically into each DLL, so that they import nothing but
# Windows' own DLLs (and Marlo.dll imports Kasa.dll).
if(NOT MINGW)
  message(FATAL_ERROR "The Windows build expects the MinGW-w64 toolchain (cmake/i686-w64-mingw32.cmake)")
endif()

set(MARLO_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

set_target_properties(kasa PROPERTIES OUTPUT_NAME Kasa PREFIX "")
target_link_options(kasa PRIVATE ${MARLO_STATIC_RUNTIME})

set(MARLO_DEF_FILE ${CMAKE_CURRENT_SOURCE_DIR}/frame/marlo.def)
target_sources(marlo PRIVATE ${MARLO_DEF_FILE})
set_target_properties(marlo PROPERTIES OUTPUT_NAME Marlo PREFIX "" LINK_DEPENDS ${MARLO_DEF_FILE})
target_link_options(marlo PRIVATE ${MARLO_STATIC_RUNTIME} -Wl,--kill-at)

# The linker's own import library would name the plain symbols (the decoration is already
# stripped there), which callers compiled with __stdcall declarations cannot link against.
# dlltool -k makes one from the definition file instead: decorated symbols that import the
# plain names (and the two unnamed setters by ordinal).
find_program(MARLO_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${MARLO_MINGW_PREFIX}-dlltool dlltool REQUIRED)
add_custom_command(TARGET marlo POST_BUILD
  COMMAND ${MARLO_DLLTOOL} --kill-at --input-def ${MARLO_DEF_FILE} --dllname Marlo.dll
    --output-lib $<TARGET_LINKER_FILE:marlo>
  COMMENT "Writing the import library of Marlo.dll from frame/marlo.def"
  VERBATIM)
