# The plug-in's folders include one way, from the entry points down to the
# device context, and only src/api knows the host's result records:
#  - outside api/, no file includes api/boundary.h or names PluginResult, so
#    the core cannot choose a text the host sees;
#  - no two folders include each other, so each can be read, tested and
#    changed knowing only the folders below it.
# Given RULES, a file naming what each folder may include (host/src's
# folders.txt says how), it also holds a tree to those rules:
#  - a folder includes only itself and the folders its line lists;
#  - a header with a line of its own is included only where that line says;
#  - a quoted include without a folder names no file of the tree, so no
#    name reaches into another folder by the include path;
#  - only the files the "top" line lists sit beside the folders.
cmake_minimum_required(VERSION 3.25)

# The rules of RULES for one file: `file`, `folder` and `content` are set;
# findings go to `problems`.
macro(check_ruled_includes)
  if(NOT folder IN_LIST ruled_folders)
    string(APPEND problems "\n  ${file} is in ${folder}/, a folder without a rule")
  endif()
  string(REGEX MATCHALL "#[ \t]*include[ \t]*[<\"][^>\"]+[>\"]" ruled_includes "${content}")
  foreach(include IN LISTS ruled_includes)
    string(REGEX REPLACE ".*[<\"]([^>\"]+)[>\"]$" "\\1" named "${include}")
    set(target "")
    if(named MATCHES "^([^/]+)/")
      set(target "${CMAKE_MATCH_1}")
    endif()
    if(NOT target STREQUAL "" AND IS_DIRECTORY "${SOURCE_DIR}/${target}")
      if(NOT target STREQUAL folder AND NOT target IN_LIST allowed_${folder})
        string(APPEND problems "\n  ${file} includes ${target}/, which ${folder}/ may not"
          " (it may include: ${shown_${folder}})")
      endif()
    elseif(named IN_LIST ruled_headers)
      if(NOT folder IN_LIST allowed_${named})
        string(APPEND problems "\n  ${file} includes ${named}, kept to: ${shown_${named}}")
      endif()
    elseif(include MATCHES "\"" AND NOT named MATCHES "/" AND named IN_LIST tree_names)
      string(APPEND problems "\n  ${file} includes \"${named}\" without its folder")
    endif()
  endforeach()
endmacro()

# Usage: cmake -DSOURCE_DIR=<folder holding api/, device/, ...> [-DRULES=<file>]
#        -P check_layers.cmake
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
set(ruled_folders "")
set(ruled_headers "")
if(DEFINED RULES)
  file(STRINGS "${RULES}" rule_lines REGEX "^[^#].*:")
  foreach(line IN LISTS rule_lines)
    string(REGEX MATCH "^([^:]+):(.*)$" _ "${line}")
    string(STRIP "${CMAKE_MATCH_1}" name)
    string(STRIP "${CMAKE_MATCH_2}" allowed)
    separate_arguments(allowed UNIX_COMMAND "${allowed}")
    set(allowed_${name} "${allowed}")
    list(JOIN allowed " " shown_${name})
    if(allowed STREQUAL "")
      set(shown_${name} "no other folder")
    endif()
    if(name MATCHES "\\.")
      list(APPEND ruled_headers "${name}")
    elseif(NOT name STREQUAL "top")
      list(APPEND ruled_folders "${name}")
    endif()
  endforeach()
  foreach(name IN LISTS files)
    get_filename_component(base "${name}" NAME)
    list(APPEND tree_names "${base}")
  endforeach()
endif()

foreach(file IN LISTS files)
  if(NOT file MATCHES "^([^/]+)/")
    # A file beside the folders belongs to none of them.
    if(DEFINED RULES AND NOT file IN_LIST allowed_top)
      string(APPEND problems "\n  ${file} sits beside the folders, where only"
        " ${shown_top} belongs")
    endif()
    continue()
  endif()
  set(folder "${CMAKE_MATCH_1}")
  file(READ "${SOURCE_DIR}/${file}" content)
  if(DEFINED RULES)
    check_ruled_includes()
  endif()

  # The plug-in's rule: a tree with an api/ folder keeps the host's records there.
  if(IS_DIRECTORY "${SOURCE_DIR}/api" AND NOT folder STREQUAL "api")
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
