# A static Linux build against musl (Debian: musl-tools and musl-dev). g++
# compiles, with musl's headers in place of glibc's (the specs file that
# musl-gcc uses) and without libstdc++'s headers: they are configured for
# glibc, and Debian has no libstdc++ for musl. The program includes the C
# library's own headers only and uses no C++ runtime (no exceptions, no RTTI,
# no new), so it links against musl's libc.a alone.
set(CMAKE_SYSTEM_NAME Linux)
set(TOVIK_C_LIBRARY musl)  # the packaging makes a .tar.gz of this build
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(musl_specs /usr/lib/x86_64-linux-musl/musl-gcc.specs)
if(NOT EXISTS ${musl_specs})
  message(FATAL_ERROR "${musl_specs} is missing: apt-get install musl-tools musl-dev")
endif()
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-specs=${musl_specs} -nostdinc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")  # the flags above apply to linking too
# Nothing of the build machine's glibc may be found for the program.
set(CMAKE_FIND_ROOT_PATH /usr/lib/x86_64-linux-musl)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
