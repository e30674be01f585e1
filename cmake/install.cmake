# Install layout and the Debian package. The plug-in and the interop library
# share one folder because the plug-in finds that library through RUNPATH
# $ORIGIN alone; a lab replaces the simulator there with the maker's library.
set(KESSRA_PLUGIN_DIR lib/kessra)

install(TARGETS bvhost RUNTIME DESTINATION bin COMPONENT kessra)
# The unversioned name is what hosts and bvhost are given, so it belongs with
# the plug-in, not in a development package.
install(TARGETS kessra_plugin
  LIBRARY DESTINATION ${KESSRA_PLUGIN_DIR} COMPONENT kessra NAMELINK_COMPONENT kessra)
install(FILES ${PROJECT_SOURCE_DIR}/include/kessra_plugin.h DESTINATION include COMPONENT kessra)
# validate's stand-in of the interop library is part of bvhost, found from
# bvhost's own folder; its file name never shadows the maker's library.
install(TARGETS bvhost_interop_standin LIBRARY DESTINATION lib/bvhost COMPONENT kessra)
install(TARGETS OrvaneAPI_Interop LIBRARY DESTINATION ${KESSRA_PLUGIN_DIR} COMPONENT simulator)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kessra)
set(CPACK_PACKAGE_VENDOR "Kessra plug-in team")
set(CPACK_PACKAGE_CONTACT "Kessra plug-in team <kessra@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_COMPONENTS_ALL kessra simulator)
if(TARGET kessra_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_KESSRA_PACKAGE_NAME kessra)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME kessra-simulator)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-kessra)
set(CPACK_DEBIAN_KESSRA_PACKAGE_SECTION science)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The interop library is in neither the system nor (for the plug-in's
# package) the same package; shlibdeps must still find it to read what it
# needs in turn.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# bvhost's EDFlib and cpp-httplib are found by shlibdeps; without dpkg-shlibdeps
# (Debian dpkg-dev) they are stated by hand, with the C and C++ runtimes.
find_program(KESSRA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT KESSRA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_KESSRA_PACKAGE_DEPENDS "libedf1, libcpp-httplib0.11, libc6, libstdc++6")
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_DEPENDS "libc6, libstdc++6")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libedf1, libc6, libstdc++6")
endif()
# The module is built for one Python, whose ABI its file name carries, and
# hands its arrays to NumPy; MNE-Python is imported only by record().
if(TARGET kessra_python)
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  set(python_range "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${next_minor})")
  if(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS)
    string(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS ", ")
  endif()
  string(APPEND CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${python_range}, python3-numpy")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS python3-mne)
endif()
set(CPACK_DEBIAN_KESSRA_PACKAGE_SUGGESTS kessra-simulator)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_SIMULATOR_DEPENDS kessra)
# The plug-in a session loads by default is the kessra package's.
set(CPACK_COMPONENT_PYTHON_DEPENDS kessra)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS kessra-simulator)
# Each package's own description, its first line the one-line summary apt
# shows. No package-wide summary is set: CPack would put that one above both.
# CPack indents every further line itself, so none starts with a space here.
set(CPACK_DEBIAN_KESSRA_DESCRIPTION [=[Orvane Kessra EMG device plug-in and the bvhost recorder
libkessra_plugin.so brings the Orvane Kessra, a wireless EMG sensor system,
into a data-acquisition host. bvhost, the reference host, loads it, validates
it and records its streams to EDF+, BDF+ or CSV; kessra_plugin.h is the
header for host authors.
The plug-in needs the maker's libOrvaneAPI_Interop.so beside it in
/usr/lib/kessra; the kessra-simulator package puts a simulated one there.]=])
set(CPACK_DEBIAN_SIMULATOR_DESCRIPTION [=[Simulated Orvane base station for the Kessra plug-in
A stand-in for the maker's libOrvaneAPI_Interop.so: a simulated base station
with four paired sensors by default, installed beside the plug-in in
/usr/lib/kessra for demonstrations and tests without the hardware. A lab
with the maker's library puts that there instead of installing this package.]=])
set(CPACK_DEBIAN_PYTHON_DESCRIPTION [=[Python module for recording and streaming the Orvane Kessra EMG sensors
kessra loads the Kessra plug-in from /usr/lib/kessra and runs bvhost's
recording core: Session.record() returns MNE-Python Raw objects, one per
sampling rate, with dropouts and lost frames as annotations;
Session.stream() yields NumPy chunks as the device delivers them, for
real-time loops. For /usr/bin/python3.]=])
include(CPack)
