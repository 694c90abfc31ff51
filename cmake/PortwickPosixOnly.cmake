# Gives the tests of `target` whose names match `pattern` the label
# posix_only as well: they test what only POSIX systems have (`reason`, one
# line), and the Wine stage of scripts/test.sh leaves them out. The label is
# set when ctest reads the discovered tests, on every platform.
function(portwick_posix_only target pattern reason)
  get_target_property(labels ${target} PORTWICK_TEST_LABELS)
  if(NOT labels)
    set(labels "")
  endif()
  list(APPEND labels posix_only)
  string(MAKE_C_IDENTIFIER "${pattern}" tag)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_posix_only_${tag}.cmake")
  file(WRITE "${script}" "# ${reason}\n"
       "foreach(test IN LISTS ${target}_TESTS)\n"
       "  if(test MATCHES [=[${pattern}]=])\n"
       "    set_tests_properties(\${test} PROPERTIES LABELS [=[${labels}]=])\n"
       "  endif()\n"
       "endforeach()\n")
  # After the target's own discovered tests, which this directory includes first.
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
