# Writes the build's version source: the project version and the git commit of the source tree,
# run at every build so that a new commit is stamped without configuring again. The file is
# rewritten only when its text changes, so an unchanged commit recompiles nothing.
#   cmake -DSOURCE_DIR=... -DTEMPLATE=... -DOUTPUT=... -DVERSION=... -DIDENTIFIER=... [-DGIT=...] -P build_stamp.cmake
set(COMMIT unknown)
if(GIT)
  # Only the source tree's own checkout: a source archive unpacked inside another repository
  # (a package build) must not take that repository's commit.
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --show-toplevel
    OUTPUT_VARIABLE top RESULT_VARIABLE top_status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(top_status EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    if(top STREQUAL source)
      execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --short HEAD
        OUTPUT_VARIABLE head RESULT_VARIABLE head_status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(head_status EQUAL 0 AND head MATCHES "^[0-9a-f]+$")
        set(COMMIT ${head})
      endif()
    endif()
  endif()
endif()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
