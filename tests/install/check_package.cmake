# Builds the Debian packages from this build and reads them back: what apt
# installs is their file lists and Depends, which no install into a staging
# prefix shows. Needs BUILD_DIR, STAGE_DIR, and PYTHON_MODULE (1 when this
# build has kessra for Python, whose package python3-kessra then is made).

include(${CMAKE_CURRENT_LIST_DIR}/run_checked.cmake)

function(expect text pattern what)
  if(NOT text MATCHES "${pattern}")
    message(FATAL_ERROR "${what}:\n${text}")
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE_DIR})
run_checked(cpack --config ${BUILD_DIR}/CPackConfig.cmake -B ${STAGE_DIR})
file(GLOB plugin_deb ${STAGE_DIR}/kessra_*.deb)
file(GLOB simulator_deb ${STAGE_DIR}/kessra-simulator_*.deb)
if(NOT plugin_deb OR NOT simulator_deb)
  message(FATAL_ERROR "cpack did not make kessra and kessra-simulator .debs")
endif()

run_checked(dpkg-deb --field ${plugin_deb} Depends)
expect("${output}" "libedf1" "kessra does not depend on EDFlib's runtime")
expect("${output}" "libcpp-httplib" "kessra does not depend on cpp-httplib's runtime")
expect("${output}" "libstdc\\+\\+6" "kessra does not depend on the C++ runtime")
run_checked(dpkg-deb --contents ${plugin_deb})
foreach(path usr/bin/bvhost usr/include/kessra_plugin.h usr/lib/kessra/libkessra_plugin.so
    usr/lib/bvhost/libbvhost_interop_standin.so)
  expect("${output}" " \\./${path}( |\n)" "kessra lacks /${path}")
endforeach()
if(output MATCHES "libOrvaneAPI_Interop")
  message(FATAL_ERROR "kessra ships the simulator, which a lab replaces:\n${output}")
endif()

run_checked(dpkg-deb --field ${simulator_deb} Depends)
expect("${output}" "kessra \\(= " "kessra-simulator does not depend on the plug-in's package")
run_checked(dpkg-deb --contents ${simulator_deb})
expect("${output}" " \\./usr/lib/kessra/libOrvaneAPI_Interop\\.so\n"
  "kessra-simulator does not put the interop library beside the plug-in")

file(GLOB python_deb ${STAGE_DIR}/python3-kessra_*.deb)
if(PYTHON_MODULE AND NOT python_deb)
  message(FATAL_ERROR "cpack did not make python3-kessra")
elseif(NOT PYTHON_MODULE AND python_deb)
  message(FATAL_ERROR "cpack made python3-kessra from a build without kessra for Python")
endif()
if(python_deb)
  run_checked(dpkg-deb --field ${python_deb} Depends)
  # The plug-in it loads by default, the one Python its module is built
  # for, and NumPy, which takes its arrays.
  expect("${output}" "kessra \\(= " "python3-kessra does not depend on the plug-in's package")
  expect("${output}" "python3 \\(>= 3\\.[0-9]+\\), python3 \\(<< 3\\.[0-9]+\\)"
    "python3-kessra does not bound the Python its module is built for")
  expect("${output}" "python3-numpy" "python3-kessra does not depend on NumPy")
  run_checked(dpkg-deb --contents ${python_deb})
  foreach(path usr/lib/python3/dist-packages/kessra/__init__.py
      "usr/lib/python3/dist-packages/kessra/_core\\.cpython-[0-9]+-[^ \n]*\\.so")
    expect("${output}" " \\./${path}( |\n)" "python3-kessra lacks /${path}")
  endforeach()
  if(output MATCHES "usr/lib/kessra|usr/bin")
    message(FATAL_ERROR "python3-kessra ships what the kessra package holds:\n${output}")
  endif()
endif()

# What apt shows: each package's own one-line summary, and a long
# description whose lines carry the one space Debian's format puts before
# them, never two (which apt would show as preformatted text).
set(summaries)
foreach(deb IN ITEMS ${plugin_deb} ${simulator_deb} ${python_deb})
  run_checked(dpkg-deb --field ${deb} Description)
  string(REGEX MATCH "^[^\n]*" summary "${output}")
  if(output MATCHES "\n  " OR NOT output MATCHES "\n [^ ]")
    message(FATAL_ERROR "${deb}: a long description line starts with other than one space:\n${output}")
  endif()
  list(APPEND summaries "${summary}")
endforeach()
list(GET summaries 0 plugin_summary)
list(GET summaries 1 simulator_summary)
expect("${plugin_summary}" "plug-in" "kessra's summary does not name the plug-in")
expect("${simulator_summary}" "[Ss]imulat" "kessra-simulator's summary does not say it is a simulator")
if(plugin_summary STREQUAL simulator_summary)
  message(FATAL_ERROR "both packages have the one summary: ${plugin_summary}")
endif()
if(python_deb)
  list(GET summaries 2 python_summary)
  expect("${python_summary}" "Python" "python3-kessra's summary does not name Python")
endif()
file(REMOVE_RECURSE ${STAGE_DIR})
