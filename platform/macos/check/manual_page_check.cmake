# The manual page renders with groff's man macros and every warning enabled, and says nothing.
#   cmake -DGROFF=... -DPAGE=... -P manual_page_check.cmake
execute_process(
  COMMAND ${GROFF} -man -ww -z ${PAGE}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
)
if(NOT status EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "groff -man -ww -z ${PAGE} (status ${status}):\n${output}")
endif()
message(STATUS "${PAGE} renders without warnings")
