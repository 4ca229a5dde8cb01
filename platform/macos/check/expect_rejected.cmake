# Compiles one file that must not compile and checks that it fails for the stated reason, not
# for another (a missing file, a typing slip in the test itself).
#   cmake -DCOMPILER=... -DFLAGS=<flags joined with |> -DSOURCE=... -DREASON=<regex>
#         -P expect_rejected.cmake
string(REPLACE "|" ";" FLAGS "${FLAGS}")
execute_process(
  COMMAND ${COMPILER} ${FLAGS} ${SOURCE}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
)
if(status EQUAL 0)
  message(FATAL_ERROR "${SOURCE} compiled, but it must be rejected")
endif()
if(NOT output MATCHES "${REASON}")
  message(FATAL_ERROR "${SOURCE} was rejected for another reason than '${REASON}':\n${output}")
endif()
message(STATUS "rejected as expected: ${REASON}")
