# Installs marlo from BINARY_DIR into a fresh prefix, then builds and runs the consumer program
# against the installed package only: with find_package(Marlo), and, after the installation has
# been moved elsewhere, with the flags pkg-config gives for marlo and marlo-io there.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
run(install ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix})
# A sanitizer build of the library needs a consumer built with the same runtime.
set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()
run(configure ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/build
  -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_CXX_FLAGS=${flags})
run(build ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(consumer ${WORK_DIR}/build/consumer ${WORK_DIR}/out.pnm)
message(STATUS "find_package: ${out}")

# pkg-config, on the installation moved to another folder: every path must follow it.
set(moved ${WORK_DIR}/moved)
file(RENAME ${prefix} ${moved})
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} ${moved}/lib/pkgconfig)
set(modules marlo)
if(EXISTS ${moved}/lib/pkgconfig/marlo-io.pc)
  list(APPEND modules marlo-io)
  set(io_define -DMARLO_CONSUMER_IO)
endif()
run(pkg-config pkg-config --cflags --libs ${modules})
separate_arguments(pc_flags UNIX_COMMAND "${out}")
run(pkg-config pkg-config --variable=libdir marlo)
string(STRIP "${out}" libdir)
run(compile ${CXX} -std=c++17 ${flags} ${io_define} ${SOURCE_DIR}/tests/consumer/consumer.cpp
  ${pc_flags} -o ${WORK_DIR}/pc_consumer)
run(consumer ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir}
  ${WORK_DIR}/pc_consumer ${WORK_DIR}/out2.pnm)
message(STATUS "pkg-config (${modules}, libdir ${libdir}): ${out}")
