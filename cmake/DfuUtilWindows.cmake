# dfu-util.exe, the real tool that the service runs, cross-built static for Windows x64 from
# Debian's source packages of dfu-util and libusb at the versions and SHA-256 sums pinned in
# packaging/dfu-util/pinned-sources; the MSI carries it. Target dfu_util_windows.
#
# The fetched sources and the built tool are kept once per checkout in QWUS_DFU_UTIL_CACHE, in
# folders named by a key of what they are made from, so every build tree that needs them (windows,
# windows-release, a fresh tree of either) fetches and builds nothing after the first:
#   sources-KEY  fetch-sources: the verified files and the unpacked, patched sources
#                (QWUS_DFU_UTIL_SOURCES: dfu-util/ and libusb-1.0/); KEY covers the pinned
#                versions and sums and the script
#   build-KEY    build-tool: libusb's staging prefix (QWUS_DFU_UTIL_LIBUSB_STAGE) and the tool;
#                KEY adds the build script and the compiler's version, which alone decide the
#                executable's bytes (the tool is built alike whatever the tree's build type)
# Each build tree copies the tool into BUILD/dfu-util (QWUS_DFU_UTIL_EXE, with its debug file and
# QWUS_DFU_UTIL_NOTICES and its complete source, QWUS_DFU_UTIL_SOURCE_FILES, beside it) and signs
# its copy when the build signs; and the configuration that dfu-util's configure wrote into
# BUILD/dfu-util-config (QWUS_DFU_UTIL_CONFIG_DIR).
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING))
  return()
endif()

option(QWUS_DFU_UTIL "Build dfu-util.exe from Debian's pinned source packages and carry it in the MSI" ON)
if(NOT QWUS_DFU_UTIL AND QWUS_REQUIRE_EVERY_TEST)
  message(FATAL_ERROR "QWUS_DFU_UTIL is OFF: without dfu-util.exe the MSI, the Wine scenarios, the "
                      "agreement test and the tool's tests are not registered. Turn it on (the "
                      "build fetches Debian's source packages with apt; scripts/install-deps "
                      "installs dpkg-dev), or QWUS_REQUIRE_EVERY_TEST off")
elseif(NOT QWUS_DFU_UTIL)
  return()
endif()

set(QWUS_DFU_UTIL_CACHE ${PROJECT_SOURCE_DIR}/build/dfu-util-windows CACHE PATH
  "Where the fetched sources and the built dfu-util.exe are kept for every build tree")
set(QWUS_DFU_UTIL_CC x86_64-w64-mingw32-gcc-posix CACHE STRING
  "The MinGW-w64 C compiler that builds dfu-util.exe and libusb")

set(scripts ${PROJECT_SOURCE_DIR}/packaging/dfu-util)
set(pinned ${scripts}/pinned-sources)

# key OUT TEXT...: the first 16 hex digits of the SHA-256 of the texts.
function(qwus_dfu_util_key out)
  string(SHA256 sum "${ARGN}")
  string(SUBSTRING ${sum} 0 16 sum)
  set(${out} ${sum} PARENT_SCOPE)
endfunction()
# The keys are computed when the build is configured; a change of the pins, the scripts or the
# compiler configures it again at the next build, so that a new key names a new folder.
find_program(dfu_util_cc_path ${QWUS_DFU_UTIL_CC} NO_CACHE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${pinned} ${scripts}/fetch-sources ${scripts}/build-tool ${dfu_util_cc_path})
file(SHA256 ${pinned} pinned_sum)
file(SHA256 ${scripts}/fetch-sources fetch_sum)
file(SHA256 ${scripts}/build-tool build_sum)
execute_process(COMMAND ${QWUS_DFU_UTIL_CC} --version OUTPUT_VARIABLE compiler_version
  RESULT_VARIABLE compiler_status)
if(NOT compiler_status EQUAL 0)
  message(FATAL_ERROR "${QWUS_DFU_UTIL_CC} not found: scripts/install-deps installs it")
endif()
qwus_dfu_util_key(sources_key ${pinned_sum} ${fetch_sum})
qwus_dfu_util_key(build_key ${sources_key} ${build_sum} ${compiler_version})

set(QWUS_DFU_UTIL_SOURCES ${QWUS_DFU_UTIL_CACHE}/sources-${sources_key})
set(build ${QWUS_DFU_UTIL_CACHE}/build-${build_key})
set(QWUS_DFU_UTIL_BUILD ${build})
# The linker's map of dfu-util.exe, from which the notices of the runtime pieces in it are made.
set(QWUS_DFU_UTIL_MAP ${build}/dfu-util.exe.map)
set(QWUS_DFU_UTIL_LIBUSB_STAGE ${build}/libusb-stage)

set(out ${CMAKE_BINARY_DIR}/dfu-util)
set(QWUS_DFU_UTIL_EXE ${out}/dfu-util.exe)
# What dfu-util's configure found for this target, for the emulated tool's build of its sources.
set(QWUS_DFU_UTIL_CONFIG_DIR ${CMAKE_BINARY_DIR}/dfu-util-config)
set(QWUS_DFU_UTIL_NOTICES
  ${out}/dfu-util-COPYING.txt ${out}/libusb-COPYING.txt ${out}/dfu-util-sources.txt)
set(files dfu-util.exe dfu-util.exe.debug dfu-util-COPYING.txt libusb-COPYING.txt dfu-util-sources.txt)
list(TRANSFORM files PREPEND ${build}/tool/ OUTPUT_VARIABLE built)
# The complete corresponding source that ships with the tool, in BUILD/dfu-util/dfu-util-source:
# the pinned Debian files, both packages' debian/copyright, the pins and the scripts.
file(STRINGS ${pinned} pinned_files REGEX "^sha256 ")
list(TRANSFORM pinned_files REPLACE "^sha256 [0-9a-f]+ " "")
set(source_names ${pinned_files} pinned-sources fetch-sources build-tool
    dfu-util-debian-copyright.txt libusb-debian-copyright.txt)
list(TRANSFORM source_names PREPEND ${build}/source/ OUTPUT_VARIABLE built_sources)
list(TRANSFORM source_names PREPEND ${out}/dfu-util-source/
     OUTPUT_VARIABLE QWUS_DFU_UTIL_SOURCE_FILES)

set(sign_tool "")
if(QWUS_SIGN_COMMAND)
  set(sign_tool COMMAND ${QWUS_SIGN_COMMAND} ${QWUS_DFU_UTIL_EXE})
endif()

add_custom_command(
  OUTPUT ${QWUS_DFU_UTIL_EXE} ${out}/dfu-util.exe.debug ${QWUS_DFU_UTIL_NOTICES}
         ${QWUS_DFU_UTIL_CONFIG_DIR}/config.h ${QWUS_DFU_UTIL_SOURCE_FILES}
  COMMAND ${scripts}/fetch-sources ${pinned} ${QWUS_DFU_UTIL_SOURCES}
  COMMAND ${scripts}/build-tool --cc ${QWUS_DFU_UTIL_CC} ${QWUS_DFU_UTIL_SOURCES} ${build}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${out} ${out}/dfu-util-source
          ${QWUS_DFU_UTIL_CONFIG_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${built} ${out}
  COMMAND ${CMAKE_COMMAND} -E copy ${built_sources} ${out}/dfu-util-source
  COMMAND ${CMAKE_COMMAND} -E copy ${build}/dfu-util-config/config.h ${QWUS_DFU_UTIL_CONFIG_DIR}
  ${sign_tool}
  DEPENDS ${pinned} ${scripts}/fetch-sources ${scripts}/build-tool ${QWUS_SIGN_PKCS12}
  COMMENT "dfu-util.exe from Debian's source packages (fetched and built once, in ${QWUS_DFU_UTIL_CACHE})"
  VERBATIM)
add_custom_target(dfu_util_windows ALL DEPENDS ${QWUS_DFU_UTIL_EXE})
