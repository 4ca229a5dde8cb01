# `cmake --install` puts each tool beside tessary and each tool's manual page in man1.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DEXPECTED="bin/tessary|..." -P install_check.cmake
string(REPLACE "|" ";" EXPECTED "${EXPECTED}")
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
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed: ${EXPECTED}")
