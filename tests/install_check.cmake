# `cmake --install` puts each tool beside tessary and each tool's manual page in man1.
# LINKS names the symbolic links among them and what each points to: tessary-doctor is tessary
# itself under another name, one file with one signature and one grant.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DEXPECTED="bin/tessary|..." [-DLINKS="bin/tessary-doctor=tessary|..."] -P install_check.cmake
string(REPLACE "|" ";" EXPECTED "${EXPECTED}")
string(REPLACE "|" ";" LINKS "${LINKS}")
file(REMOVE_RECURSE ${PREFIX})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (status ${status}):\n${output}")
endif()
foreach(path IN LISTS EXPECTED)
  if(NOT EXISTS ${PREFIX}/${path})
    message(FATAL_ERROR "cmake --install did not install ${path}:\n${output}")
  endif()
endforeach()
foreach(link IN LISTS LINKS)
  string(REPLACE "=" ";" parts "${link}")
  list(GET parts 0 path)
  list(GET parts 1 target)
  if(NOT IS_SYMLINK ${PREFIX}/${path})
    message(FATAL_ERROR "cmake --install made ${path} no symbolic link")
  endif()
  file(READ_SYMLINK ${PREFIX}/${path} pointed)
  if(NOT pointed STREQUAL target)
    message(FATAL_ERROR "cmake --install made ${path} point to ${pointed}, not to ${target}")
  endif()
endforeach()
# Installing again over the installed tree replaces the link in place.
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install over an installed tree failed (status ${status}):\n${output}")
endif()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed: ${EXPECTED}")
