# qwus_add_test(NAME SOURCES ... LIBRARIES ...): one GoogleTest executable registered as one CTest test.
# Each run leaves a JUnit XML report in <build>/test-results, which scripts/test adds up.
set(QWUS_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${QWUS_TEST_RESULTS})
if(CMAKE_CROSSCOMPILING AND WIN32)
  # Under Wine the Linux file system is drive Z:, and GoogleTest wants a Windows path.
  string(REPLACE "/" "\\" QWUS_TEST_RESULTS_ARG "Z:${QWUS_TEST_RESULTS}")
else()
  set(QWUS_TEST_RESULTS_ARG ${QWUS_TEST_RESULTS})
endif()

function(qwus_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBRARIES")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gmock_main project_options)
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${QWUS_TEST_RESULTS_ARG}/${name}.xml
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>)
  if(CMAKE_CROSSCOMPILING AND WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()
