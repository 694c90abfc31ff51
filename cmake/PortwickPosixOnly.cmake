# Gives the tests of `target` whose names match `pattern` the label `label`
# as well, with a one-line `reason`. The label is set when ctest reads the
# discovered tests, on every platform.
function(portwick_label_tests target pattern label reason)
  get_target_property(labels ${target} PORTWICK_TEST_LABELS)
  if(NOT labels)
    set(labels "")
  endif()
  list(APPEND labels ${label})
  string(MAKE_C_IDENTIFIER "${pattern}" tag)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_${label}_${tag}.cmake")
  file(WRITE "${script}" "# ${reason}\n"
       "foreach(test IN LISTS ${target}_TESTS)\n"
       "  if(test MATCHES [=[${pattern}]=])\n"
       "    set_tests_properties(\${test} PROPERTIES LABELS [=[${labels}]=])\n"
       "  endif()\n"
       "endforeach()\n")
  # After the target's own discovered tests, which this directory includes first.
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# Label posix_only: the tests test what only POSIX systems have, and the Wine
# stage of scripts/test.sh leaves them out.
function(portwick_posix_only target pattern reason)
  portwick_label_tests(${target} "${pattern}" posix_only "${reason}")
endfunction()

# The same with the label wine_known: tests that fail under Wine for a reason
# outside our code (`reason`, one line); the Wine stage leaves them out too.
function(portwick_wine_known target pattern reason)
  portwick_label_tests(${target} "${pattern}" wine_known "${reason}")
endfunction()
