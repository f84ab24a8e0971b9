# Driver of the install_consumers test (cmake -P; variables from
# tests/install/CMakeLists.txt). Every step that fails stops the test with its
# command and output.

function(step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(JOIN " " command ${ARGN})
    message(FATAL_ERROR "${what} failed (${status})\ncommand: ${command}\n"
                        "--- stdout:\n${out}\n--- stderr:\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()

# The library's own main would print its demonstration instead of the marker.
function(run_consumer what program marker)
  step("${what}" ${program})
  if(NOT step_output MATCHES "${marker}")
    message(FATAL_ERROR "${what}: ${program} did not print \"${marker}\"; its output:\n${step_output}")
  endif()
endfunction()

if(NOT PEL_PKG_CONFIG)
  message(FATAL_ERROR "pkg-config not found: scripts/setup.sh installs it")
endif()

# module, source, what it prints on success
set(programs pel_arm64 vector_consumer.c "vector consumer: ok")
if(PEL_WITH_EARLIER)
  list(APPEND programs pellib earlier_consumer.c "earlier consumer: ok"
                       pel_linux earlier_consumer.c "earlier consumer: ok")
endif()

# Installed in one place and used from another: anything that remembers where
# it was installed, or where it was built, fails below.
set(staging ${PEL_WORK_DIR}/staging)
set(prefix ${PEL_WORK_DIR}/prefix)
file(REMOVE_RECURSE ${PEL_WORK_DIR})
file(MAKE_DIRECTORY ${PEL_WORK_DIR})
step("cmake --install" ${CMAKE_COMMAND} --install ${PEL_BUILD_DIR} --prefix ${staging} --config ${PEL_CONFIG})
file(RENAME ${staging} ${prefix})
# Libraries, headers and their descriptions: the demonstration host is not
# installed unless asked for (--component demo).
if(EXISTS ${prefix}/bin)
  file(GLOB programs_installed ${prefix}/bin/*)
  message(FATAL_ERROR "cmake --install put programs in bin/: ${programs_installed}")
endif()
file(GLOB_RECURSE descriptions ${prefix}/*.pc ${prefix}/*.cmake)
foreach(file IN LISTS descriptions)
  file(READ ${file} text)
  foreach(tree ${PEL_SOURCE_DIR} ${PEL_BUILD_DIR} ${staging})
    string(FIND "${text}" "${tree}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} names ${tree}:\n${text}")
    endif()
  endforeach()
endforeach()

# Route 1: pkg-config and the C compiler, as a Makefile would.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${PEL_LIBDIR}/pkgconfig)
while(programs)
  list(POP_FRONT programs module source marker)
  step("pkg-config --modversion ${module}" ${PEL_PKG_CONFIG} --modversion ${module})
  string(STRIP "${step_output}" version)
  if(NOT version STREQUAL PEL_VERSION)
    message(FATAL_ERROR "${module}.pc gives version ${version}, not ${PEL_VERSION}")
  endif()
  step("pkg-config --cflags --libs ${module}" ${PEL_PKG_CONFIG} --cflags --libs ${module})
  separate_arguments(flags UNIX_COMMAND "${step_output}")
  step("pkg-config --variable=libdir ${module}" ${PEL_PKG_CONFIG} --variable=libdir ${module})
  string(STRIP "${step_output}" libdir)
  set(program ${PEL_WORK_DIR}/pkg-config/${module}_consumer)
  file(MAKE_DIRECTORY ${PEL_WORK_DIR}/pkg-config)
  step("compiling ${source} with pkg-config ${module}"
       ${PEL_C_COMPILER} -std=c99 -Wall -Wextra -Wpedantic -Werror ${PEL_TEST_DIR}/${source}
       -o ${program} ${flags} -Wl,-rpath,${libdir})
  run_consumer("${module} through pkg-config" ${program} "${marker}")
endwhile()

# Route 2: find_package(pel) from a CMake project.
set(build ${PEL_WORK_DIR}/cmake)
set(generator -G ${PEL_GENERATOR})
if(PEL_MAKE_PROGRAM)
  list(APPEND generator -DCMAKE_MAKE_PROGRAM=${PEL_MAKE_PROGRAM})
endif()
step("configuring the CMake consumer"
     ${CMAKE_COMMAND} -S ${PEL_TEST_DIR}/consumer -B ${build} ${generator}
     -DCMAKE_BUILD_TYPE=${PEL_CONFIG} -DCMAKE_C_COMPILER=${PEL_C_COMPILER}
     -DCMAKE_PREFIX_PATH=${prefix} -DPEL_PREFIX=${prefix}
     -DPEL_EXPECTED_VERSION=${PEL_VERSION} -DPEL_WITH_EARLIER=${PEL_WITH_EARLIER})
step("building the CMake consumer" ${CMAKE_COMMAND} --build ${build} --config ${PEL_CONFIG})
set(targets vector_consumer "vector consumer: ok")
if(PEL_WITH_EARLIER)
  list(APPEND targets pellib_consumer "earlier consumer: ok" pel_linux_consumer "earlier consumer: ok")
endif()
while(targets)
  list(POP_FRONT targets name marker)
  set(program ${build}/bin/${PEL_CONFIG}/${name})
  if(NOT EXISTS ${program})
    set(program ${build}/bin/${name})
  endif()
  run_consumer("${name} through find_package" ${program} "${marker}")
endwhile()
