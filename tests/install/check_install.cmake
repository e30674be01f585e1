# Installs the build into staging prefixes and runs what was installed, as a
# lab would after `cmake --install` or the .deb: nothing from the build tree
# is on any search path, so a file left out of the install rules, or a
# plug-in that finds its interop library anywhere but beside itself, fails.
# Needs BUILD_DIR, STAGE_DIR, C_COMPILER, and PYTHON_MODULE (1 when this
# build has kessra for Python, which Debian's /usr/bin/python3 then imports
# from the prefix and which finds the installed plug-in on its own).

include(${CMAKE_CURRENT_LIST_DIR}/run_checked.cmake)

file(REMOVE_RECURSE ${STAGE_DIR})

# Everything, the simulator included: the demo layout.
set(full ${STAGE_DIR}/full)
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${full})
foreach(path bin/bvhost include/kessra_plugin.h lib/kessra/libkessra_plugin.so
    lib/kessra/libkessra_plugin.so.1 lib/kessra/libOrvaneAPI_Interop.so
    lib/bvhost/libbvhost_interop_standin.so)
  if(NOT EXISTS ${full}/${path})
    message(FATAL_ERROR "install left out ${path}")
  endif()
endforeach()
set(plugin ${full}/lib/kessra/libkessra_plugin.so)
run_checked(${full}/bin/bvhost info ${plugin})
if(NOT output_with_errors MATCHES "Orvane Kessra Sensor 1")
  message(FATAL_ERROR "installed bvhost info shows no sensor:\n${output_with_errors}")
endif()
run_checked(${full}/bin/bvhost validate ${plugin} --only "^stream$")
if(NOT output_with_errors MATCHES "1 checks? run, 1 passed")
  message(FATAL_ERROR "installed plug-in did not pass the stream check:\n${output_with_errors}")
endif()
# The device checks find bvhost's interop stand-in where it was installed.
run_checked(${full}/bin/bvhost validate ${plugin} --only "^device-calls$")
if(NOT output_with_errors MATCHES "1 checks? run, 1 passed")
  message(FATAL_ERROR "installed bvhost did not run a device check:\n${output_with_errors}")
endif()
# A host author compiles against the installed header alone.
file(WRITE ${STAGE_DIR}/uses_header.c "#include <kessra_plugin.h>\nint main(void) { return 0; }\n")
run_checked(${C_COMPILER} -std=c11 -Wall -Werror -fsyntax-only -I${full}/include ${STAGE_DIR}/uses_header.c)

if(PYTHON_MODULE)
  if(NOT EXISTS ${full}/lib/python3/dist-packages/kessra/__init__.py)
    message(FATAL_ERROR "install left out kessra for Python")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${full}/lib/python3/dist-packages
      --unset=KESSRA_PLUGIN
      /usr/bin/python3 -c "import kessra\nwith kessra.Session() as s:\n    print(s.plugin, s.sensors[0].channels[0].label)"
    WORKING_DIRECTORY ${STAGE_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0 OR NOT out STREQUAL "${plugin} S1 EMG\n")
    message(FATAL_ERROR "installed kessra for Python did not open the installed plug-in (${code}):\n${out}${err}")
  endif()
endif()

# A lab's install: the plug-in without the simulator, which the maker's
# library replaces. Until it is there, loading must fail naming it,
set(lab ${STAGE_DIR}/lab)
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${lab} --component kessra)
if(EXISTS ${lab}/lib/kessra/libOrvaneAPI_Interop.so)
  message(FATAL_ERROR "component kessra installed the simulator")
endif()
execute_process(COMMAND ${lab}/bin/bvhost info ${lab}/lib/kessra/libkessra_plugin.so
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(code EQUAL 0 OR NOT err MATCHES "libOrvaneAPI_Interop.so")
  message(FATAL_ERROR "plug-in loaded without an interop library beside it (${code}):\n${out}${err}")
endif()
# and the folder it belongs in, where the simulator then goes.
string(FIND "${err}" "libOrvaneAPI_Interop.so in ${lab}/lib/kessra/;" where)
if(where EQUAL -1 OR NOT err MATCHES "kessra-simulator")
  message(FATAL_ERROR "the failure does not say where the interop library goes:\n${err}")
endif()
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${lab} --component simulator)
run_checked(${lab}/bin/bvhost info ${lab}/lib/kessra/libkessra_plugin.so)

file(REMOVE_RECURSE ${STAGE_DIR})
