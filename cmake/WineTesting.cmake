# Under the Windows cross build, every test runs through Wine in a private prefix of this build folder.
# One wineserver is kept alive for the whole CTest run (fixture "wine") and stopped at its end.
if(NOT CMAKE_CROSSCOMPILING OR NOT WIN32)
  return()
endif()

find_program(QWUS_WINE wine REQUIRED)
find_program(QWUS_WINESERVER wineserver PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine REQUIRED)
set(QWUS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

add_test(NAME wine_prefix_start COMMAND ${CMAKE_BINARY_DIR}/wine-run --start)
add_test(NAME wine_prefix_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run --stop)
set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine)
