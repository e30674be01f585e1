# The plug-in's folders include one way, from the entry points down to the
# device context, and only src/api knows the host's result records:
#  - outside api/, no file includes api/boundary.h or names PluginResult, so
#    the core cannot choose a text the host sees;
#  - no two folders include each other, so each can be read, tested and
#    changed knowing only the folders below it.
cmake_minimum_required(VERSION 3.25)

# Usage: cmake -DSOURCE_DIR=<folder holding api/, device/, ...> -P check_layers.cmake
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
if(NOT IS_DIRECTORY "${SOURCE_DIR}")
  message(FATAL_ERROR "SOURCE_DIR is not a folder: '${SOURCE_DIR}'")
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${SOURCE_DIR}"
  "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.hpp" "${SOURCE_DIR}/*.c" "${SOURCE_DIR}/*.cpp")
list(SORT files)
if(files STREQUAL "")
  message(FATAL_ERROR "no sources under ${SOURCE_DIR}")
endif()

set(problems "")
set(edges "")
foreach(file IN LISTS files)
  if(NOT file MATCHES "^([^/]+)/")
    continue()  # a file beside the folders belongs to none of them
  endif()
  set(folder "${CMAKE_MATCH_1}")
  file(READ "${SOURCE_DIR}/${file}" content)

  if(NOT folder STREQUAL "api")
    if(content MATCHES "#[ \t]*include[ \t]*[<\"]api/boundary\\.h[>\"]")
      string(APPEND problems "\n  ${file} includes api/boundary.h")
    endif()
    if(content MATCHES "(^|[^A-Za-z0-9_])PluginResult([^A-Za-z0-9_]|$)")
      string(APPEND problems "\n  ${file} names PluginResult")
    endif()
  endif()

  string(REGEX MATCHALL "#[ \t]*include[ \t]*[<\"][^>\"/]+/" includes "${content}")
  foreach(include IN LISTS includes)
    string(REGEX REPLACE ".*[<\"]([^/]+)/$" "\\1" target "${include}")
    # Only folders of this tree count; <sys/...> and the like are not ours.
    if(target STREQUAL folder OR NOT IS_DIRECTORY "${SOURCE_DIR}/${target}")
      continue()
    endif()
    if(NOT DEFINED first_of_${folder}_${target})
      set(first_of_${folder}_${target} "${file}")
      list(APPEND edges "${folder}>${target}")
    endif()
  endforeach()
endforeach()

foreach(edge IN LISTS edges)
  string(REPLACE ">" ";" ends "${edge}")
  list(GET ends 0 from)
  list(GET ends 1 to)
  # Each pair once: from the side that sorts first.
  if(from STRLESS to AND "${to}>${from}" IN_LIST edges)
    string(APPEND problems "\n  include cycle between ${from} and ${to}:"
      " ${first_of_${from}_${to}} includes ${to}/,"
      " ${first_of_${to}_${from}} includes ${from}/")
  endif()
endforeach()

if(NOT problems STREQUAL "")
  message(FATAL_ERROR "layering broken in ${SOURCE_DIR}:${problems}")
endif()
list(SORT edges)
string(REPLACE ";" ", " edges "${edges}")
message(STATUS "folders include one way: ${edges}")
