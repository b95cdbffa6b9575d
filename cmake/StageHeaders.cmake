# Stages the public headers for installation under one root, BaseComms/:
#   DeviceComms/BaseComms/X.h  ->  BaseComms/X.h
#   DeviceComms/<Dir>/X.h      ->  BaseComms/<Dir>/X.h
# The public headers are those the ROOTS include, directly or not; every
# other header stays in the source tree. Their quoted includes of each other
# ("Platform/Com.h") are rewritten to the installed names
# (<BaseComms/Platform/Com.h>), so a consumer puts only the include root on
# its path; the source tree keeps its own include style untouched.
# Script mode: cmake -DSOURCE_DIR=... -DGENERATED_DIR=... -DOUTPUT_DIR=...
#   "-DROOTS=a.h;b.h" -P StageHeaders.cmake
# A header is written only when its staged text changed.
cmake_minimum_required(VERSION 3.25)

function(installed_name path out)
  if(path MATCHES "^BaseComms/(.*)$")
    set(${out} "BaseComms/${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} "BaseComms/${path}" PARENT_SCOPE)
  endif()
endfunction()

# The file of a header named relative to the source tree or the generated one.
function(header_file path out)
  if(EXISTS "${SOURCE_DIR}/${path}")
    set(${out} "${SOURCE_DIR}/${path}" PARENT_SCOPE)
  elseif(EXISTS "${GENERATED_DIR}/${path}")
    set(${out} "${GENERATED_DIR}/${path}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

set(pending ${ROOTS})
set(staged "")
while(pending)
  list(POP_FRONT pending path)
  if(path IN_LIST staged)
    continue()
  endif()
  list(APPEND staged "${path}")
  header_file("${path}" file)
  if(NOT file)
    message(FATAL_ERROR "StageHeaders: no header ${path}")
  endif()
  file(STRINGS "${file}" lines)
  file(READ "${file}" text)
  string(REGEX MATCHALL "#include \"[^\"]+\"" includes "${text}")
  foreach(include IN LISTS includes)
    string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" included "${include}")
    header_file("${included}" includedFile)
    if(NOT includedFile)
      message(FATAL_ERROR "StageHeaders: ${path} includes ${included}, which is no library header")
    endif()
    list(APPEND pending "${included}")
    installed_name("${included}" name)
    string(REPLACE "${include}" "#include <${name}>" text "${text}")
  endforeach()
  installed_name("${path}" name)
  set(target "${OUTPUT_DIR}/${name}")
  set(old "")
  if(EXISTS "${target}")
    file(READ "${target}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${target}" "${text}")
  endif()
endwhile()
