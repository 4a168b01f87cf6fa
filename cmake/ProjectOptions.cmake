# Compiler settings shared by every target of the project: warnings as errors, sanitizers, Win32 defines.
add_library(project_options INTERFACE)

target_compile_options(project_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough -Werror)

if(WIN32)
  # Wide Win32 API, nothing from windows.h that clashes with the standard library.
  target_compile_definitions(project_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()

if(QWUS_SANITIZE)
  list(JOIN QWUS_SANITIZE "," sanitizers)
  add_compile_options(-fsanitize=${sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${sanitizers})
endif()

if(QWUS_BENCH OR CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  # GCC 12 at -O2 reports a null dereference inside libstdc++'s <streambuf> that cannot happen;
  # the debug builds keep the warning for the project's own code.
  target_compile_options(project_options INTERFACE -Wno-null-dereference)
endif()

if(WIN32)
  # What ships runs as LocalSystem: a canary on every function with an array or an address taken
  # (GCC's libssp, linked in statically), and the checked forms of the C library's copies where
  # sizes are known at compile time. MinGW-w64's headers honour _FORTIFY_SOURCE only with
  # optimisation, so the debug builds go without it.
  target_compile_options(project_options INTERFACE -fstack-protector-strong)
  target_link_options(project_options INTERFACE -fstack-protector-strong)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_definitions(project_options INTERFACE _FORTIFY_SOURCE=2)
  endif()
endif()
