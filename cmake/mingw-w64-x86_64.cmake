# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (POSIX threads), linking the C and
# C++ runtimes statically so that a program runs without any DLL beside it.
#
# HALVORA_WINDEPS names the folder where scripts/windeps.sh installed the libraries built for
# Windows (libjpeg-turbo, libpng, GoogleTest, the nlohmann-json header).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(HALVORA_WINDEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH "${HALVORA_WINDEPS}")
  set(ENV{PKG_CONFIG_LIBDIR} "${HALVORA_WINDEPS}/lib/pkgconfig")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HALVORA_WINDEPS)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libraries only (zlib comes as both).
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
