# The one package list serves two audiences: `make demo` must ask only for
# what configuring and building the recording needs, and `make test`, `make
# check` and CI for everything. A package moved to the wrong group either
# sends a newcomer through minutes of Chromium and MNE-Python or leaves CI
# without a reader its tests call. The Makefile's guard for a checkout that
# was copied or moved is checked here too, on a stand-in tree, since a real
# one would mean configuring the project twice. Needs SOURCE_DIR, STAGE_DIR.

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/run_checked.cmake)
set(script ${SOURCE_DIR}/scripts/install-packages.sh)

run_checked(${script} demo --list)
set(demo "${output}")
run_checked(${script} --list)
set(all "${output}")
run_checked(${script} all --list)
if(NOT output STREQUAL all)
  message(FATAL_ERROR "'all' and no selection list different packages:\n${output}\n---\n${all}")
endif()
string(REPLACE "\n" ";" demo "${demo}")
string(REPLACE "\n" ";" all "${all}")
foreach(package cmake ninja-build pkg-config libedf-dev libcpp-httplib-dev)
  if(NOT package IN_LIST demo)
    message(FATAL_ERROR "make demo would not install ${package}: ${demo}")
  endif()
endforeach()
foreach(package chromium python3-mne biosig-tools strace clang libbenchmark-dev dpkg-dev
    pybind11-dev python3-dev python3-pytest python3-numpy)
  if(package IN_LIST demo)
    message(FATAL_ERROR "make demo would install ${package}, which it never uses: ${demo}")
  endif()
  if(NOT package IN_LIST all)
    message(FATAL_ERROR "make test would not install ${package}: ${all}")
  endif()
endforeach()
foreach(package IN LISTS demo)
  if(NOT package IN_LIST all)
    message(FATAL_ERROR "the full set lacks the demo's ${package}: ${all}")
  endif()
endforeach()
execute_process(COMMAND ${script} --lsit RESULT_VARIABLE code OUTPUT_QUIET ERROR_QUIET)
if(NOT code EQUAL 2)
  message(FATAL_ERROR "a mistyped option was taken (${code}) rather than refused")
endif()

# Which selection each make target asks for, as make would run it.
run_checked(make -n -C ${SOURCE_DIR} demo)
if(NOT output MATCHES "install-packages\\.sh demo\n" OR output MATCHES "install-packages\\.sh\n")
  message(FATAL_ERROR "make demo does not ask for the demo's packages alone:\n${output}")
endif()
foreach(target test check package)
  run_checked(make -n -C ${SOURCE_DIR} ${target})
  if(NOT output MATCHES "install-packages\\.sh\n")
    message(FATAL_ERROR "make ${target} does not ask for every package:\n${output}")
  endif()
endforeach()
file(READ ${SOURCE_DIR}/.ci/run ci)
if(NOT ci MATCHES "\nscripts/install-packages\\.sh\n")
  message(FATAL_ERROR ".ci/run does not install every package")
endif()

# A build tree whose cache was written in another folder is configured
# afresh; one written here, or none, as usual.
file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${STAGE_DIR}/build/default)
file(COPY ${SOURCE_DIR}/Makefile DESTINATION ${STAGE_DIR})
function(configure_command cache expected what)
  if(cache)
    file(WRITE ${STAGE_DIR}/build/default/CMakeCache.txt "${cache}")
  else()
    file(REMOVE ${STAGE_DIR}/build/default/CMakeCache.txt)
  endif()
  run_checked(make -n -C ${STAGE_DIR} configure)
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "${what}:\n${output}")
  endif()
endfunction()
configure_command("CMAKE_CACHEFILE_DIR:INTERNAL=/elsewhere/build/default\n"
  "cmake --preset default --fresh\n" "a moved tree is not configured afresh")
configure_command("CMAKE_CACHEFILE_DIR:INTERNAL=${STAGE_DIR}/build/default\n"
  "cmake --preset default *\n" "the tree's own cache is configured afresh")
configure_command("" "cmake --preset default *\n" "a tree without a cache is configured afresh")
file(REMOVE_RECURSE ${STAGE_DIR})
