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
