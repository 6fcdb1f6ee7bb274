# Run by sondrel_add_gtest_suites after a build: writes `out`, which adds one CTest test per suite
# of the test program `binary`, with `properties` (a list of name value pairs) on each.
execute_process(COMMAND "${binary}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${binary} --gtest_list_tests failed (${status}):\n${listing}")
endif()
get_filename_component(program "${binary}" NAME)
set(script "# Generated from ${program} --gtest_list_tests\nset(${program}_SUITES)\n")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # A suite's line starts in the first column and ends in a dot, perhaps before a comment naming
  # a type parameter.
  if(line MATCHES "^([^ #][^ ]*)\\.( .*)?$")
    set(suite "${CMAKE_MATCH_1}")
    string(APPEND script "add_test([=[${suite}]=] [==[${binary}]==] [=[--gtest_filter=${suite}.*]=])\n"
                         "list(APPEND ${program}_SUITES [=[${suite}]=])\n")
    if(properties)
      string(APPEND script "set_tests_properties([=[${suite}]=] PROPERTIES")
      foreach(item IN LISTS properties)
        string(APPEND script " [=[${item}]=]")
      endforeach()
      string(APPEND script ")\n")
    endif()
  endif()
endforeach()
file(WRITE "${out}" "${script}")
