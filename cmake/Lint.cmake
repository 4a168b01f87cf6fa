# The lint preset: clang-tidy and cppcheck over the product's own sources, both as this host build
# compiles them (the POSIX adapters) and as clang compiles them for the MinGW target (the Win32
# adapters). Which files is read from each build's compile_commands.json (tests/lint/lint.sh), so
# a new source file is analysed as soon as a CMakeLists.txt builds it. Each analyser is one CTest
# test that prints its findings and fails on any.
if(NOT QWUS_LINT)
  return()
endif()

find_program(QWUS_RUN_CLANG_TIDY NAMES run-clang-tidy-14 run-clang-tidy REQUIRED)
find_program(QWUS_CLANG_TIDY NAMES clang-tidy-14 clang-tidy REQUIRED)
find_program(QWUS_CPPCHECK cppcheck REQUIRED)

# The Windows half is a configured (never built) tree of the windows-clang toolchain; configuring
# it again on every build of this target picks up new sources. Nothing of it is generated, so its
# compile commands are all the analysers need.
set(QWUS_LINT_WINDOWS_TREE ${CMAKE_BINARY_DIR}/windows)
add_custom_target(lint_compile_commands
  COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${QWUS_LINT_WINDOWS_TREE} -G Ninja
          --toolchain ${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-w64-clang.cmake
          -DCMAKE_BUILD_TYPE=Debug -DQWUS_LINT=OFF
  COMMENT "Configuring the Windows tree whose compile commands the lint tests read"
  VERBATIM)

set(lint ${PROJECT_SOURCE_DIR}/tests/lint/lint.sh)
set(windows ${QWUS_LINT_WINDOWS_TREE})
# clang-tidy takes the portable code once, as the Windows build compiles it; the host test takes
# what only the host build compiles (the POSIX adapters).
add_test(NAME lint_clang_tidy_windows
  COMMAND ${lint} clang-tidy ${PROJECT_SOURCE_DIR} ${windows} ${QWUS_RUN_CLANG_TIDY} ${QWUS_CLANG_TIDY})
add_test(NAME lint_clang_tidy_host
  COMMAND ${lint} clang-tidy ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${QWUS_RUN_CLANG_TIDY}
          ${QWUS_CLANG_TIDY} ${windows})
# cppcheck is quick: every file on both, with the type sizes of each (long is 32 bits on Win64).
add_test(NAME lint_cppcheck_windows
  COMMAND ${lint} cppcheck ${PROJECT_SOURCE_DIR} ${windows} ${QWUS_CPPCHECK} win64)
add_test(NAME lint_cppcheck_host
  COMMAND ${lint} cppcheck ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${QWUS_CPPCHECK} unix64)
