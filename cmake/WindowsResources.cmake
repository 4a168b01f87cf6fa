# What makes a built file a shipped Windows file: its VERSIONINFO resource, an executable's
# application manifest, debug information moved into a file of its own, and an Authenticode
# signature. Resource scripts go through CMAKE_RC_COMPILER, so any toolchain file that names a
# windres-compatible compiler builds them.
if(NOT WIN32)
  return()
endif()

option(QWUS_SEPARATE_DEBUG_INFO
  "Move the shipped files' debug information into FILE.debug beside each of them" OFF)
set(QWUS_SIGN_PKCS12 "" CACHE FILEPATH
  "Sign the shipped files and the MSI with this PKCS#12 file as they are built")
set(QWUS_SIGN_PASSWORD_FILE "" CACHE FILEPATH "The file that holds QWUS_SIGN_PKCS12's password")
set(QWUS_SIGN_TIMESTAMP "" CACHE STRING "A timestamp server's URL for the signatures")

set(QWUS_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR}/../resources)
set(QWUS_VERSION_COMMAS
  "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
set(QWUS_VERSION_DOTS
  "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")

# The packaging/sign arguments that QWUS_SIGN_* name, or nothing when the build does not sign.
set(QWUS_SIGN_COMMAND "")
if(QWUS_SIGN_PKCS12)
  set(QWUS_SIGN_COMMAND ${CMAKE_CURRENT_LIST_DIR}/../packaging/sign --pkcs12 ${QWUS_SIGN_PKCS12})
  if(QWUS_SIGN_PASSWORD_FILE)
    list(APPEND QWUS_SIGN_COMMAND --password-file ${QWUS_SIGN_PASSWORD_FILE})
  endif()
  if(QWUS_SIGN_TIMESTAMP)
    list(APPEND QWUS_SIGN_COMMAND --timestamp ${QWUS_SIGN_TIMESTAMP})
  elseif(QWUS_SEPARATE_DEBUG_INFO)
    # A signature without a countersignature is valid only while its certificate is: after that
    # the files no longer verify, and the driver package no longer installs.
    message(FATAL_ERROR "QWUS_SIGN_TIMESTAMP is not set: a signed release build "
      "(QWUS_SIGN_PKCS12 with QWUS_SEPARATE_DEBUG_INFO) needs a timestamp server's URL, so that "
      "its signatures outlive the signing certificate")
  endif()
endif()

# qwus_add_version_resource(TARGET FILENAME DESCRIPTION): gives TARGET, shipped as FILENAME, a
# VERSIONINFO resource with the project's version; an executable also gets its manifest.
function(qwus_add_version_resource target filename description)
  set(QWUS_ORIGINAL_FILENAME ${filename})
  set(QWUS_FILE_DESCRIPTION ${description})
  get_filename_component(QWUS_INTERNAL_NAME ${filename} NAME_WE)
  get_target_property(type ${target} TYPE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  if(type STREQUAL "EXECUTABLE")
    set(QWUS_FILE_TYPE VFT_APP)
    set(QWUS_MANIFEST_FILE ${dir}/${filename}.manifest)
    configure_file(${QWUS_RESOURCES_DIR}/application.manifest.in ${QWUS_MANIFEST_FILE} @ONLY)
    configure_file(${QWUS_RESOURCES_DIR}/manifest.rc.in ${dir}/manifest.rc @ONLY)
    target_sources(${target} PRIVATE ${dir}/manifest.rc)
    set_source_files_properties(${dir}/manifest.rc PROPERTIES OBJECT_DEPENDS ${QWUS_MANIFEST_FILE})
  else()
    set(QWUS_FILE_TYPE VFT_DLL)
  endif()
  configure_file(${QWUS_RESOURCES_DIR}/version.rc.in ${dir}/version.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/version.rc)
endfunction()

# qwus_finish_shipped_file(TARGET): after each link of TARGET, moves its debug information into
# FILE.debug (with QWUS_SEPARATE_DEBUG_INFO) and then signs it (with QWUS_SIGN_PKCS12), in this
# order: a signature covers the file as shipped. With GNU ld the linker also writes its map,
# BUILD/link-maps/TARGET.map, from which the notices of the runtime pieces linked in are made.
function(qwus_finish_shipped_file target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_link_options(${target} PRIVATE "LINKER:-Map=${CMAKE_BINARY_DIR}/link-maps/${target}.map")
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/link-maps)
  endif()
  set(file $<TARGET_FILE:${target}>)
  if(QWUS_SEPARATE_DEBUG_INFO)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
      COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
      COMMENT "Moving the debug information of ${target} into its .debug file"
      VERBATIM)
  endif()
  if(QWUS_SIGN_COMMAND)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${QWUS_SIGN_COMMAND} ${file}
      COMMENT "Signing ${target}"
      VERBATIM)
  endif()
endfunction()
