# Driven by ctest: see CMakeLists.txt beside this file. Nothing here sets a
# library path: installed programs and consumers find the library through
# their run path.
cmake_minimum_required(VERSION 3.20)
function(run)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(libdir ${prefix}/${LIBDIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/twxml/twxml.h include/twxml/version.h include/twxml/platform/win32.h
          ${LIBDIR}/libtwxmlv80.so.8 ${LIBDIR}/libtwxmllite.so ${LIBDIR}/pkgconfig/twxml.pc
          bin/twxml share/man/man1/twxml.1)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB_RECURSE internal ${prefix}/include/*_internal.h)
if(internal)
  message(FATAL_ERROR "internal headers installed: ${internal}")
endif()

# The installed program starts, and its streaming engine finds the module.
run(${prefix}/bin/twxml --version)
if(NOT last_output STREQUAL "twxml ${VERSION}\n")
  message(FATAL_ERROR "twxml --version printed '${last_output}'")
endif()
file(WRITE ${WORK_DIR}/sample.xml "<?xml version='1.0'?><list><item n='1'>a</item></list>\n")
run(${prefix}/bin/twxml check ${WORK_DIR}/sample.xml)
run(${prefix}/bin/twxml outline ${WORK_DIR}/sample.xml)

# Consumers compile the installed headers with strict warnings as errors.
set(warnings -Wall -Wextra -Wpedantic -Wold-style-cast -Wconversion -Werror)
separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")

# find_package
string(REPLACE ";" "\\;" warnings_arg "${warnings}")
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake-build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DTWXML_CONSUMER_WARNINGS=${warnings_arg}"
    "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/consumer)
message(STATUS "find_package consumer: ${last_output}")

# pkg-config, linked with a run path as the README says
find_program(PKG_CONFIG NAMES pkg-config pkgconf)
if(NOT PKG_CONFIG)
  message(STATUS "pkg-config not found: that half is skipped")
  cmake_language(EXIT 77)
endif()
set(ENV{PKG_CONFIG_PATH} ${libdir}/pkgconfig)
run(${PKG_CONFIG} --cflags --libs twxml)
string(STRIP "${last_output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run(${CXX} -std=c++20 ${warnings} ${extra} ${CONSUMER_DIR}/main.cpp ${pc_flags}
    -Wl,-rpath,${libdir} -o ${WORK_DIR}/pc-consumer)
run(${WORK_DIR}/pc-consumer)
message(STATUS "pkg-config consumer: ${last_output}")
