# Cross toolchain: Windows x64 with clang, over the same MinGW-w64 pieces as the GCC build (its
# headers and import libraries, GCC's libstdc++ of the POSIX thread model, binutils and windres),
# fully static output. A second compiler for the same code; the lint preset reads its compile
# commands for the Windows half of the analysis.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(qwus_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${qwus_mingw_triple})
set(CMAKE_CXX_COMPILER_TARGET ${qwus_mingw_triple})
set(CMAKE_SYSROOT /usr/${qwus_mingw_triple})
set(CMAKE_RC_COMPILER ${qwus_mingw_triple}-windres)
find_program(CMAKE_AR ${qwus_mingw_triple}-ar REQUIRED)
find_program(CMAKE_RANLIB ${qwus_mingw_triple}-ranlib REQUIRED)
find_program(CMAKE_OBJDUMP ${qwus_mingw_triple}-objdump REQUIRED)
find_program(CMAKE_STRIP ${qwus_mingw_triple}-strip REQUIRED)

# clang does not find Debian's MinGW GCC (its folder is named "12-posix"): take libstdc++'s
# headers and the static libraries from the GCC of the GCC build, so both builds use the same ones.
execute_process(COMMAND ${qwus_mingw_triple}-g++-posix -print-file-name=libstdc++.a
  OUTPUT_VARIABLE qwus_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(qwus_mingw_gcc_dir ${qwus_libstdcxx} DIRECTORY)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${qwus_mingw_gcc_dir}/include/c++
  ${qwus_mingw_gcc_dir}/include/c++/${qwus_mingw_triple}
  ${qwus_mingw_gcc_dir}/include/c++/backward)

# GCC's ABI for this target, which the libstdc++ and libgcc archives were built with: thread-local
# variables through emutls (libstdc++'s std::call_once state is one), and type_info equality out
# of line (GCC predefines this for MinGW, clang does not).
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -femulated-tls -D__GXX_TYPEINFO_EQUALITY_INLINE=0")

set(CMAKE_FIND_ROOT_PATH /usr/${qwus_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No libstdc++, libgcc or winpthread DLL may be needed beside an executable or a DLL (one that
# Windows Installer loads finds nothing beside it). -pthread adds the
# static winpthread that GCC's libstdc++ of the POSIX thread model calls into.
# The compile flags above reach the link line too, where -nostdinc++ means nothing. GNU ld notes
# that some type_info sections of libstdc++ "differ in size" from clang's: GCC pads them to 16
# bytes, the contents are the same.
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "-static -pthread -L${qwus_mingw_gcc_dir} -Wno-unused-command-line-argument")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT}")
