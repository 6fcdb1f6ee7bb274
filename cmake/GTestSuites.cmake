# One CTest test per GoogleTest suite instead of one per test: a sanitized test process costs
# about 0.4 s to start, and most tests take a fraction of that.
#
#   sondrel_add_gtest_suites(TARGET [PROPERTIES name value ...])
#
# After each build of TARGET its suites are listed into a file that CTest reads; each suite runs
# as one test named after it (for instance "EndToEndTest") with the properties given.
function(sondrel_add_gtest_suites target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PROPERTIES")
  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -D "binary=$<TARGET_FILE:${target}>" -D "out=${list_file}"
            -D "properties=${arg_PROPERTIES}" -P "${PROJECT_SOURCE_DIR}/cmake/ListGTestSuites.cmake"
    BYPRODUCTS "${list_file}"
    VERBATIM)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${list_file}")
endfunction()
