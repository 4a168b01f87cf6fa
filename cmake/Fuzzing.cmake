# qwus_add_fuzzer(NAME SOURCE CORPUS LIBRARIES ...): a libFuzzer target and its CTest test
# fuzz_NAME, which runs it for QWUS_FUZZ_SECONDS over a fresh copy of the checked-in seed corpus
# CORPUS, so that the inputs libFuzzer adds never land in the source tree. A crash or a failed
# check leaves its input in the build folder and fails the test. scripts/fuzz runs the same
# targets for longer.
set(QWUS_FUZZ_SECONDS 15 CACHE STRING "How long each fuzz_ test runs")

function(qwus_add_fuzzer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SOURCE;CORPUS" "LIBRARIES")
  add_executable(${name}_fuzz ${arg_SOURCE})
  target_compile_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name}_fuzz PRIVATE ${arg_LIBRARIES} project_options)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  add_test(NAME fuzz_${name}
    COMMAND sh -c "rm -rf \"$1\" && cp -r \"$2\" \"$1\" && exec \"$3\" -max_total_time=$4 \"$1\""
            fuzz ${corpus} ${arg_CORPUS} $<TARGET_FILE:${name}_fuzz> ${QWUS_FUZZ_SECONDS}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
